#include "engine/CoreGaussian.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/Numbers.h"
#include "core/CoreFilters.h"
#include "engine/ParallelLoops.h"
#include "engine/VectorMath.h"

namespace varnix {

namespace {

// Rows per worker below which a pass is not worth splitting.
constexpr int32_t MinRowsPerWorker = 32;

// Dest[i] := sum over k = -Radius ... Radius of Kernel[k] x Line[i + k], accumulated in single
// precision in increasing k (a correlation). Line must be readable from -Radius to
// Count - 1 + Radius. Eight outputs at a time (two vectors): each lane performs the same sequence of
// operations as the scalar loop.
void ConvolveLine(const float* Line, int32_t Count, const float* Kernel, int32_t Radius, float* Dest) {
  int32_t I = 0;
  for (; I + 8 <= Count; I += 8) {
    TFloat4 S0 = {}, S1 = {};
    for (int32_t K = -Radius; K <= Radius; ++K) {
      const TFloat4 Tap = Broadcast4(Kernel[K]);
      S0 = S0 + Tap * Load4(Line + I + K);
      S1 = S1 + Tap * Load4(Line + I + 4 + K);
    }
    Store4(Dest + I, S0);
    Store4(Dest + I + 4, S1);
  }
  for (; I < Count; ++I) {
    float S = 0;
    for (int32_t K = -Radius; K <= Radius; ++K) S = S + Kernel[K] * Line[I + K];
    Dest[I] = S;
  }
}

// For one output row: S[x] := sum over k of Kernel[k] x Rows[k][x] (Rows[k] being the source row
// at offset k, clamped into the image), then Dest[x] := Dest[x] + S[x]^2. Per pixel this is the
// column-wise correlation of a vertical pass with the edge rows repeated outward.
void ConvolveRowSqrAdd(const float* const* Rows, int32_t Width, const float* Kernel, int32_t Radius, float* Dest) {
  int32_t X = 0;
  for (; X + 8 <= Width; X += 8) {
    TFloat4 S0 = {}, S1 = {};
    for (int32_t K = -Radius; K <= Radius; ++K) {
      const TFloat4 Tap = Broadcast4(Kernel[K]);
      S0 = S0 + Tap * Load4(Rows[K] + X);
      S1 = S1 + Tap * Load4(Rows[K] + X + 4);
    }
    Store4(Dest + X, Load4(Dest + X) + S0 * S0);
    Store4(Dest + X + 4, Load4(Dest + X + 4) + S1 * S1);
  }
  for (; X < Width; ++X) {
    float S = 0;
    for (int32_t K = -Radius; K <= Radius; ++K) S = S + Kernel[K] * Rows[K][X];
    Dest[X] = Dest[X] + S * S;
  }
}

// Reports the progress of a pass split between workers: every worker counts its finished lines,
// and worker 0 (the calling thread, the only one that may write the reporter) reports the total.
class TPassProgress {
 public:
  TPassProgress(TProgressReporter& Progress, int32_t Lines, float Start, float Span)
      : FProgress(Progress), FLines(Lines), FStart(Start), FSpan(Span) {}

  // Called after each line; answers false once the pass should stop.
  bool LineDone(int32_t Worker) {
    const int32_t Done = FDone.fetch_add(1, std::memory_order_relaxed) + 1;
    if (Worker == 0) FProgress.Report(static_cast<float>(Done) * FSpan / static_cast<float>(FLines) + FStart);
    return !FProgress.Cancelled();
  }
  void Complete() { FProgress.Report(FSpan + FStart); }

 private:
  TProgressReporter& FProgress;
  std::atomic<int32_t> FDone{0};
  const int32_t FLines;
  const float FStart;
  const float FSpan;
};

}  // namespace

TGaussianGradientConverter::TGaussianGradientConverter(float Sigma) : FSigma(Sigma) {}

TGaussianGradientConverter::~TGaussianGradientConverter() = default;

bool TGaussianGradientConverter::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<IColorToGradientConverter, IProgressReporter>(this, IID, Obj) ||
         TInterfacedObject::GetInterface(IID, Obj);
}

void TGaussianGradientConverter::GenerateKernels(TGaussianDerivative Derivative) {
  // 3 x Sigma in single precision, rounded with halves to even: Sigma 1.5 gives 4.
  FRadius = CoreFilters::Limit(Round(3.0f * FSigma), 1, MaxGaussianRadius);
  const double Sigma = FSigma;
  TGaussianKernel G;
  double Sum = 0;
  for (int32_t I = -FRadius; I <= FRadius; ++I) {
    G[I] = static_cast<float>(std::exp(-static_cast<double>(I) * I / (2 * Sigma * Sigma)));
    Sum += G[I];
  }
  const double Scale = 1 / Sum;
  for (int32_t I = -FRadius; I <= FRadius; ++I) G[I] = static_cast<float>(G[I] * Scale);
  TGaussianKernel D;
  const double Factor = -1 / (Sigma * Sigma);
  for (int32_t I = -FRadius; I <= FRadius; ++I) D[I] = static_cast<float>(I * Factor * G[I]);
  if (Derivative == gdX) {
    FHorizontalKernel = D;
    FVerticalKernel = G;
  } else {
    FHorizontalKernel = G;
    FVerticalKernel = D;
  }
}

void TGaussianGradientConverter::ConvolveChannel(const TAbstractColorBitmap* Source, int32_t Channel,
                                                 TFloatGrayscaleBitmap* Dest) {
  const int32_t Width = Source->Width();
  const int32_t Height = Source->Height();
  FIntermediate->Resize(Width, Height);
  const int32_t Radius = FRadius;
  const float* HKernel = FHorizontalKernel.Center();
  const float* VKernel = FVerticalKernel.Center();
  // The usual source is a L*a*b* float image, read directly; any other goes through its
  // channel accessor.
  const TFloatColorBitmap* FloatSource = dynamic_cast<const TFloatColorBitmap*>(Source);
  TFloatGrayscaleBitmap* Intermediate = FIntermediate;

  // Horizontal pass: each row is copied into a line buffer whose edge values repeat Radius times
  // outward, so the inner loop needs no border tests.
  {
    TPassProgress Pass(FProgress, Height, 0.0f, 0.5f);
    ParallelSlices(Height, MinRowsPerWorker, [&](int32_t Worker, int32_t Begin, int32_t End) {
      std::vector<float> Buffer = GuardAllocation([&] { return std::vector<float>(static_cast<size_t>(Width) + 2 * MaxGaussianRadius); });
      float* Line = Buffer.data() + MaxGaussianRadius;
      for (int32_t Y = Begin; Y < End; ++Y) {
        if (FloatSource) {
          const float* S = reinterpret_cast<const float*>(FloatSource->Address(0, Y)) + Channel;
          for (int32_t X = 0; X < Width; ++X) Line[X] = S[3 * X];
        } else {
          for (int32_t X = 0; X < Width; ++X) Line[X] = Source->GetFloatColorChannel(X, Y, Channel);
        }
        for (int32_t J = 1; J <= Radius; ++J) {
          Line[-J] = Line[0];
          Line[Width - 1 + J] = Line[Width - 1];
        }
        ConvolveLine(Line, Width, HKernel, Radius, Intermediate->Address(0, Y));
        if (!Pass.LineDone(Worker)) return;
      }
    });
    if (FProgress.Cancelled()) return;
    Pass.Complete();
  }

  // Vertical pass: row by row, each pixel's taps taken from the rows above and below with the
  // edge rows repeated, which is the column-wise correlation over a padded column.
  {
    TPassProgress Pass(FProgress, Height, 0.5f, 0.5f);
    ParallelSlices(Height, MinRowsPerWorker, [&](int32_t Worker, int32_t Begin, int32_t End) {
      const float* Rows[2 * MaxGaussianRadius + 1];
      for (int32_t Y = Begin; Y < End; ++Y) {
        for (int32_t K = -Radius; K <= Radius; ++K)
          Rows[K + Radius] = Intermediate->Address(0, CoreFilters::Limit(Y + K, 0, Height - 1));
        ConvolveRowSqrAdd(Rows + Radius, Width, VKernel, Radius, Dest->Address(0, Y));
        if (!Pass.LineDone(Worker)) return;
      }
    });
    if (FProgress.Cancelled()) return;
    Pass.Complete();
  }
}

void TGaussianGradientConverter::Convolve(const TAbstractColorBitmap* Source, TFloatGrayscaleBitmap* Dest,
                                          float StartProgress, float EndProgress) {
  Dest->Resize(Source->Width(), Source->Height());
  Dest->Clear();
  for (int32_t C = 0; C < 3; ++C) {
    FProgress.StartAction(StartProgress + (EndProgress - StartProgress) * static_cast<float>(C + 1) / 3, nullptr);
    ConvolveChannel(Source, C, Dest);
    if (FProgress.Cancelled()) return;
  }
}

void TGaussianGradientConverter::Convert(const TAbstractColorBitmap* Source, TWordGrayscaleBitmap* Gradient,
                                         TWordGrayscaleBitmap* XGradient, TWordGrayscaleBitmap* YGradient) {
  const int32_t Width = Source->Width();
  const int32_t Height = Source->Height();
  TOwned<TFloatGrayscaleBitmap> SqX(NewObject<TFloatGrayscaleBitmap>());
  TOwned<TFloatGrayscaleBitmap> SqY(NewObject<TFloatGrayscaleBitmap>());
  {
    TOwned<TFloatGrayscaleBitmap> Intermediate(NewObject<TFloatGrayscaleBitmap>());
    FIntermediate = Intermediate.get();
    struct TForget {
      TFloatGrayscaleBitmap*& Field;
      ~TForget() { Field = nullptr; }
    } Forget{FIntermediate};
    GenerateKernels(gdX);
    Convolve(Source, SqX.get(), 0.0f, 0.4f);
    if (FProgress.Cancelled()) return;
    GenerateKernels(gdY);
    Convolve(Source, SqY.get(), 0.4f, 0.8f);
  }
  if (FProgress.Cancelled()) return;

  // The three maxima, each replaced only by a strictly greater value; maxima of slices combine
  // into the same values whatever the split.
  struct TMaxima {
    float X = 0, Y = 0, Sum = 0;
  };
  std::vector<TMaxima> Partial(MaxEngineThreads);
  ParallelSlices(Height, MinRowsPerWorker, [&](int32_t Worker, int32_t Begin, int32_t End) {
    TMaxima M;
    for (int32_t Y = Begin; Y < End; ++Y) {
      const float* PX = SqX->Address(0, Y);
      const float* PY = SqY->Address(0, Y);
      for (int32_t X = 0; X < Width; ++X) {
        if (PX[X] > M.X) M.X = PX[X];
        if (PY[X] > M.Y) M.Y = PY[X];
        const float S = PX[X] + PY[X];
        if (S > M.Sum) M.Sum = S;
      }
    }
    Partial[static_cast<size_t>(Worker)] = M;
  });
  TMaxima Max;
  for (const TMaxima& M : Partial) {
    if (M.X > Max.X) Max.X = M.X;
    if (M.Y > Max.Y) Max.Y = M.Y;
    if (M.Sum > Max.Sum) Max.Sum = M.Sum;
  }

  FProgress.StartAction(1.0f, nullptr);
  // A maximum of 0 means that every value of that output is 0; the scale 0 writes zeros.
  const float Top = static_cast<float>(FRange - 1);
  const float ScaleX = Max.X > 0 ? Top / std::sqrt(Max.X) : 0.0f;
  const float ScaleY = Max.Y > 0 ? Top / std::sqrt(Max.Y) : 0.0f;
  const float ScaleSum = Max.Sum > 0 ? Top / std::sqrt(Max.Sum) : 0.0f;
  Gradient->Resize(Width, Height);
  XGradient->Resize(Width, Height);
  YGradient->Resize(Width, Height);

  TPassProgress Pass(FProgress, Height, 0.0f, 1.0f);
  ParallelSlices(Height, MinRowsPerWorker, [&](int32_t Worker, int32_t Begin, int32_t End) {
    for (int32_t Y = Begin; Y < End; ++Y) {
      const float* PX = SqX->Address(0, Y);
      const float* PY = SqY->Address(0, Y);
      uint16_t* G = Gradient->Address(0, Y);
      uint16_t* GX = XGradient->Address(0, Y);
      uint16_t* GY = YGradient->Address(0, Y);
      for (int32_t X = 0; X < Width; ++X) {
        GX[X] = static_cast<uint16_t>(Round(std::sqrt(PX[X]) * ScaleX));
        GY[X] = static_cast<uint16_t>(Round(std::sqrt(PY[X]) * ScaleY));
        G[X] = static_cast<uint16_t>(Round(std::sqrt(PX[X] + PY[X]) * ScaleSum));
      }
      if (!Pass.LineDone(Worker)) return;
    }
  });
}

}  // namespace varnix
