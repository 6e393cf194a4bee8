#include "refine/CoreAntiAliasing.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "common/Numbers.h"
#include "core/CoreFilters.h"
#include "engine/ParallelLoops.h"
#include "engine/VectorMath.h"

namespace varnix {

namespace {

constexpr int32_t CellSize = 16;

// A value stored into a byte pixel is the low byte of the rounded value.
inline uint8_t RoundByte(float Value) { return static_cast<uint8_t>(Round(Value)); }

// Whether the N bytes from P all equal V; eight at a time.
bool AllBytesEqual(const uint8_t* P, int32_t N, uint8_t V) {
  const uint64_t Pattern = 0x0101010101010101ull * V;
  int32_t I = 0;
  for (; I + 8 <= N; I += 8) {
    uint64_t Word;
    std::memcpy(&Word, P + I, sizeof(Word));
    if (Word != Pattern) return false;
  }
  for (; I < N; ++I)
    if (P[I] != V) return false;
  return true;
}

void StoreRounded4(uint8_t* D, TFloat4 Sum) {
  float Values[4];
  Store4(Values, Sum);
  for (int32_t I = 0; I < 4; ++I) D[I] = RoundByte(Values[I]);
}

}  // namespace

// ---- TGaussianAntiAliasing -----------------------------------------------------------------

TGaussianAntiAliasing::TGaussianAntiAliasing(TGaussianAntiAliasingMethod Method)
    : FCells(NewObject<TGrayscaleBitmap>()),
      FMethod(Method),
      FEdgeMask(NewObject<TGrayscaleBitmap>()),
      FSigmaX(NewObject<TGrayscaleBitmap>()),
      FSigmaY(NewObject<TGrayscaleBitmap>()),
      FTemp(NewObject<TGrayscaleBitmap>()) {}

TGaussianAntiAliasing::~TGaussianAntiAliasing() = default;

bool TGaussianAntiAliasing::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<IAntiAliasing, IProgressReporter>(this, IID, Obj) || TOwnedObject::GetInterface(IID, Obj);
}

float TGaussianAntiAliasing::GetSigmaScaling() const {
  switch (FMethod) {
    case gaMedium:
      return 0.5f;
    case gaVerySoft:
      return 2.0f;
    default:
      return 1.0f;
  }
}

TGaussianDistribution TGaussianAntiAliasing::EstimateDistribution(const TGrayscaleBitmap* Mask,
                                                                  const TWordGrayscaleBitmap* Gradient, int32_t X,
                                                                  int32_t Y, int32_t DX, int32_t DY) {
  TGaussianDistribution Result;
  auto M = [&](int32_t K) { return Mask->GetClippedValue(TPoint{X + K * DX, Y + K * DY}); };
  auto G = [&](int32_t K) { return static_cast<double>(Gradient->GetClippedFloatValue(X + K * DX, Y + K * DY)); };
  const uint8_t A = M(-1);
  const uint8_t B = M(1);
  if (A == B) return Result;  // no edge across the pixel along this axis

  // The long window when the mask is constant on both sides over it, else the short one.
  int32_t Index = 1;
  bool Consistent = true;
  for (int32_t K = 2; K <= EstimationSizes[1] && Consistent; ++K) Consistent = M(-K) == A && M(K) == B;
  if (!Consistent) {
    Index = 0;
    Consistent = M(-2) == A && M(2) == B;
  }
  const int32_t N = EstimationSizes[Index];

  // First moment of the gradient profile, each side made non-increasing away from the pixel by
  // a running minimum.
  const double Center = G(0);
  double L = Center, R = Center, S = Center, M1 = 0;
  for (int32_t K = 1; K <= N; ++K) {
    L = std::min(L, G(-K));
    R = std::min(R, G(K));
    M1 = M1 + K * (R - L);
    S = S + L + R;
  }
  if (S <= 0) return Result;
  Result.Mean = static_cast<float>(M1 / S);
  if (Consistent) {
    L = Center;
    R = Center;
    double M2 = 0;
    for (int32_t K = 1; K <= N; ++K) {
      L = std::min(L, G(-K));
      R = std::min(R, G(K));
      M2 = M2 + static_cast<double>(K * K) * (L + R);
    }
    Result.Sigma = static_cast<float>(M2 / S);
  }
  CorrectDistribution(Index, Result);
  Result.Sigma = std::clamp(Result.Sigma, 0.0f, 8.0f);
  Result.Mean = std::clamp(Result.Mean, -0.5f, 0.5f);
  Result.Valid = true;
  return Result;
}

void TGaussianAntiAliasing::CorrectDistribution(int32_t SizeIndex, TGaussianDistribution& Distribution) {
  const double* C = CalculatedSigmaValues[SizeIndex];
  const double* A = ActualSigmaValues;
  const double* F = MeanCorrectionValues[SizeIndex];
  const double Measured = Distribution.Sigma;
  int32_t I;
  double T;
  if (C[0] >= Measured) {
    I = 1;
    T = 0;
  } else {
    I = 10;
    T = 1;
    for (int32_t J = 1; J <= 10; ++J)
      if (C[J] > Measured) {
        I = J;
        T = (Measured - C[J - 1]) / (C[J] - C[J - 1]);
        break;
      }
  }
  Distribution.Sigma = static_cast<float>(A[I - 1] + (A[I] - A[I - 1]) * T);
  Distribution.Mean = static_cast<float>(Distribution.Mean * (F[I - 1] + (F[I] - F[I - 1]) * T));
}

int32_t TGaussianAntiAliasing::CalculateCenterValue(const TGrayscaleBitmap* Bitmap, TPoint P, float Offset, int32_t DX,
                                                    int32_t DY) {
  const int32_t A = Bitmap->GetClippedValue(TPoint{P.X - DX, P.Y - DY});
  const int32_t B = Bitmap->GetClippedValue(TPoint{P.X + DX, P.Y + DY});
  return A + Round(static_cast<float>(B - A) * Offset);
}

void TGaussianAntiAliasing::SetSigmaValues(TGrayscaleBitmap* Bitmap, TPoint P, float Sigma, int32_t DX, int32_t DY) {
  const int32_t R = Round(3.0f * Sigma);
  const uint8_t V = static_cast<uint8_t>(Round(Sigma * 31.875f));
  for (int32_t K = -R; K <= R; ++K) {
    const TPoint Q{P.X + K * DX, P.Y + K * DY};
    if (!Bitmap->ContainsPoint(Q)) continue;
    uint8_t* Pixel = Bitmap->Address(Q.X, Q.Y);
    if (*Pixel < V) *Pixel = V;
  }
}

void TGaussianAntiAliasing::CalculateKernel(float Sigma, TGaussianKernel& Kernel, int32_t& Radius) {
  const float S = std::min(Sigma, 8.0f);
  Radius = Round(3.0f * S);
  const double Width = std::max(static_cast<double>(S), 0.01);
  const double C = -0.5 / (Width * Width);
  double Sum = 0;
  for (int32_t K = -Radius; K <= Radius; ++K) {
    Kernel[K] = static_cast<float>(std::exp(static_cast<double>(K * K) * C));
    Sum += Kernel[K];
  }
  const double Scale = 1 / Sum;
  for (int32_t K = -Radius; K <= Radius; ++K) Kernel[K] = static_cast<float>(Kernel[K] * Scale);
}

void TGaussianAntiAliasing::TouchCells(TPoint P) {
  const int32_t CX = P.X / CellSize;
  const int32_t CY = P.Y / CellSize;
  FCells->FillRect(TRect{CX - 1, CY - 1, CX + 2, CY + 2}, 1);
}

void TGaussianAntiAliasing::InitializeBitmaps(const TGrayscaleBitmap* Mask, const TWordGrayscaleBitmap* XGradient,
                                              const TWordGrayscaleBitmap* YGradient, const TPointList* Points) {
  FCells->Resize((Mask->Width() + CellSize - 1) / CellSize, (Mask->Height() + CellSize - 1) / CellSize);
  FCells->Clear();
  FEdgeMask->Assign(Mask);
  FSigmaX->Resize(Mask->Width(), Mask->Height());
  FSigmaX->Clear();
  FSigmaY->Resize(Mask->Width(), Mask->Height());
  FSigmaY->Clear();
  const bool Soften = FMethod >= gaMedium;
  // Every read goes to Mask, never to EdgeMask, so the order of the points does not matter.
  for (int32_t I = 0; I < Points->Count(); ++I) {
    const TPoint P = Points->GetPoint(I);
    const TGaussianDistribution DX = EstimateDistribution(Mask, XGradient, P.X, P.Y, 1, 0);
    const TGaussianDistribution DY = EstimateDistribution(Mask, YGradient, P.X, P.Y, 0, 1);
    const float GX = DX.Valid ? XGradient->GetFloatValue(P.X, P.Y) : 0.0f;
    const float GY = DY.Valid ? YGradient->GetFloatValue(P.X, P.Y) : 0.0f;
    float WX = 0, WY = 0;
    if (GX + GY > 0) {
      WX = GX / (GX + GY);
      WY = GY / (GX + GY);
    }
    const int32_t CX = CalculateCenterValue(Mask, P, 0.5f - DX.Mean, 1, 0);
    const int32_t CY = CalculateCenterValue(Mask, P, 0.5f - DY.Mean, 0, 1);
    int32_t V = Round(static_cast<float>(CX) * WX + static_cast<float>(CY) * WY);
    if (FMethod == gaNone) V = V < 128 ? 0 : 255;
    FEdgeMask->SetValue(P, static_cast<uint8_t>(V));
    if (Soften) {
      SetSigmaValues(FSigmaX.get(), P, WX * DX.Sigma, 1, 0);
      SetSigmaValues(FSigmaY.get(), P, WY * DY.Sigma, 0, 1);
      TouchCells(P);
    }
  }
}

void TGaussianAntiAliasing::AntialiasEdges(const TGrayscaleBitmap* Mask, ISelectionGradient* Gradient,
                                           const TPointList* Points) {
  InitializeBitmaps(Mask, Gradient->GetXGradient(), Gradient->GetYGradient(), Points);
}

void TGaussianAntiAliasing::SoftenEdges(TGrayscaleBitmap* Result) {
  if (FMethod == gaNone || FMethod == gaSharp) {
    Result->Assign(FEdgeMask.get());
    return;
  }
  BlurSigmaBitmap(FSigmaX.get(), 0);
  BlurSigmaBitmap(FSigmaY.get(), 1);
  FProgress.StartAction(1.0f, nullptr);
  BlurSelection(Result);
  FProgress.Finish();
}

void TGaussianAntiAliasing::AntiAlias(const TGrayscaleBitmap* Mask, ISelectionGradient* Gradient, TGrayscaleBitmap* Result,
                                      const TPointList* Points) {
  AntialiasEdges(Mask, Gradient, Points);
  SoftenEdges(Result);
}

void TGaussianAntiAliasing::ConvolveTouchedCells(TGaussianConvolveProc Proc) {
  const int32_t Columns = FCells->Width();
  const int32_t Rows = FCells->Height();
  const int32_t Width = FCurrent->Width();
  const int32_t Height = FCurrent->Height();
  // Cell rows are independent (each pass reads one bitmap and writes another, or writes only
  // pixels it never reads), so the workers take them in any order; only worker 0 reports.
  std::atomic<int32_t> RowsDone{0};
  ParallelIndices(Rows, [&](int32_t Worker, int32_t CY) {
    const uint8_t* Cell = FCells->Address(0, CY);
    for (int32_t CX = 0; CX < Columns; ++CX)
      if (Cell[CX] == 1)
        (this->*Proc)(TRect{CellSize * CX, CellSize * CY, std::min(CellSize * CX + CellSize, Width),
                            std::min(CellSize * CY + CellSize, Height)});
    const int32_t Done = RowsDone.fetch_add(1, std::memory_order_relaxed) + 1;
    if (Worker == 0) FProgress.Report(static_cast<float>(Done) / static_cast<float>(Rows));
    return !FProgress.Cancelled();
  });
  if (Rows > 0) FProgress.Report(static_cast<float>(RowsDone.load()) / static_cast<float>(Rows));
}

void TGaussianAntiAliasing::BlurSigmaBitmap(TGrayscaleBitmap* Bitmap, int32_t Index) {
  CalculateKernel(2.0f, FKernel, FKernelRadius);
  FCurrent = Bitmap;
  // The horizontal pass writes Temp inside the touched cells; the vertical pass reads Temp there
  // and the map itself elsewhere, and writes the map inside the touched cells only. That gives
  // the same values as copying the map into Temp before the horizontal pass and Temp back into
  // the map after it, without the two whole-image copies.
  FTemp->Resize(Bitmap->Width(), Bitmap->Height());
  FProgress.StartAction((static_cast<float>(Index) + 0.5f) * 0.3f, nullptr);
  ConvolveTouchedCells(&TGaussianAntiAliasing::ConvolveHor);
  // Temp is complete in every touched cell only when the pass was not cancelled.
  if (FProgress.Cancelled()) return;
  FProgress.StartAction(static_cast<float>(Index + 1) * 0.3f, nullptr);
  ConvolveTouchedCells(&TGaussianAntiAliasing::ConvolveVer);
}

void TGaussianAntiAliasing::ConvolveHor(const TRect& R) {
  const int32_t Width = FCurrent->Width();
  const int32_t KR = FKernelRadius;
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
    const uint8_t* S = FCurrent->Address(0, Y);
    uint8_t* D = FTemp->Address(0, Y);
    int32_t X = R.Left;
    while (X < R.Right) {
      if (X - KR >= 0 && X + 3 + KR <= Width - 1 && X + 4 <= R.Right) {
        // Four pixels whose taps need no clamping.
        if (AllBytesEqual(S + X - KR, 2 * KR + 4, 0)) {
          std::memset(D + X, 0, 4);
        } else {
          TFloat4 Sum = {};
          for (int32_t K = -KR; K <= KR; ++K) Sum = Sum + LoadBytes4(S + X + K) * Broadcast4(FKernel[K]);
          StoreRounded4(D + X, Sum);
        }
        X += 4;
        continue;
      }
      float Sum = 0;
      for (int32_t K = -KR; K <= KR; ++K)
        Sum = Sum + static_cast<float>(S[CoreFilters::Limit(X + K, 0, Width - 1)]) * FKernel[K];
      D[X] = RoundByte(Sum);
      ++X;
    }
  }
}

void TGaussianAntiAliasing::ConvolveVer(const TRect& R) {
  const int32_t Height = FCurrent->Height();
  const int32_t KR = FKernelRadius;
  const uint8_t* Rows[2 * TGaussianKernel::MaxRadius + 1];
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
    // Inside touched cells the horizontally smoothed values are in Temp; elsewhere the map
    // itself still holds them unchanged.
    for (int32_t K = -KR; K <= KR; ++K) {
      const int32_t Row = CoreFilters::Limit(Y + K, 0, Height - 1);
      Rows[K + KR] = CellTouched(R.Left, Row) ? FTemp->Address(0, Row) : FCurrent->Address(0, Row);
    }
    uint8_t* D = FCurrent->Address(0, Y);
    int32_t X = R.Left;
    for (; X + 4 <= R.Right; X += 4) {
      uint32_t Any = 0;
      for (int32_t K = 0; K <= 2 * KR; ++K) {
        uint32_t Word;
        std::memcpy(&Word, Rows[K] + X, sizeof(Word));
        Any |= Word;
      }
      if (Any == 0) {
        std::memset(D + X, 0, 4);
        continue;
      }
      TFloat4 Sum = {};
      for (int32_t K = -KR; K <= KR; ++K) Sum = Sum + LoadBytes4(Rows[K + KR] + X) * Broadcast4(FKernel[K]);
      StoreRounded4(D + X, Sum);
    }
    for (; X < R.Right; ++X) {
      float Sum = 0;
      for (int32_t K = -KR; K <= KR; ++K) Sum = Sum + static_cast<float>(Rows[K + KR][X]) * FKernel[K];
      D[X] = RoundByte(Sum);
    }
  }
}

void TGaussianAntiAliasing::BlurSelection(TGrayscaleBitmap* Result) {
  Result->Assign(FEdgeMask.get());
  FCurrent = Result;
  // The widths are bytes, so ConvolveSelection needs at most 256 different kernels.
  const float Scaling = GetSigmaScaling();
  GuardAllocation([&] { FSelectionKernels.assign(256, TSelectionKernel{}); });
  for (int32_t B = 0; B < 256; ++B) {
    TSelectionKernel& K = FSelectionKernels[static_cast<size_t>(B)];
    CalculateKernel(static_cast<float>(B) * Scaling * 8.0f / 255.0f, K.Kernel, K.Radius);
    float Sum = 0;
    for (int32_t I = -K.Radius; I <= K.Radius; ++I) Sum = Sum + K.Kernel[I] * 255.0f;
    K.FullSum = Sum;
  }
  ConvolveTouchedCells(&TGaussianAntiAliasing::ConvolveSelection);
}

float TGaussianAntiAliasing::SelectionInnerSum(int32_t X, int32_t Row, const TSelectionKernel& K) const {
  const uint8_t* E = FEdgeMask->Address(0, Row);
  const int32_t Width = FEdgeMask->Width();
  const int32_t R = K.Radius;
  float Sum = 0;
  if (X - R >= 0 && X + R < Width) {
    // A segment of one value sums to exactly what the loop would give: 0 for 0, the kernel's
    // precomputed sum for 255.
    const uint8_t First = E[X - R];
    if ((First == 0 || First == 255) && AllBytesEqual(E + X - R, 2 * R + 1, First)) return First == 0 ? 0.0f : K.FullSum;
    for (int32_t I = -R; I <= R; ++I) Sum = Sum + K.Kernel[I] * static_cast<float>(E[X + I]);
    return Sum;
  }
  for (int32_t I = -R; I <= R; ++I) Sum = Sum + K.Kernel[I] * static_cast<float>(E[CoreFilters::Limit(X + I, 0, Width - 1)]);
  return Sum;
}

void TGaussianAntiAliasing::ConvolveSelection(const TRect& R) {
  const int32_t Height = FEdgeMask->Height();
  constexpr int32_t MaxRadius = TGaussianKernel::MaxRadius;
  // The inner (horizontal) sums of one column, by row, for one kernel: neighbouring pixels of a
  // column with the same X width share them. Rows reach MaxRadius beyond the cell on each side.
  constexpr int32_t MemoSize = CellSize + 2 * MaxRadius;
  float Memo[MemoSize];
  bool Known[MemoSize];
  const int32_t Base = std::max(0, R.Top - MaxRadius);
  for (int32_t X = R.Left; X < R.Right; ++X) {
    int32_t MemoWidth = -1;
    for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
      const uint8_t BX = FSigmaX->GetPixel(X, Y);
      const uint8_t BY = FSigmaY->GetPixel(X, Y);
      // Two widths of 0 are the single tap 1: the pixel keeps its EdgeMask value, which Result
      // already holds.
      if (BX == 0 && BY == 0) continue;
      const TSelectionKernel& KX = FSelectionKernels[BX];
      const TSelectionKernel& KY = FSelectionKernels[BY];
      if (BX != MemoWidth) {
        MemoWidth = BX;
        std::fill_n(Known, MemoSize, false);
      }
      float Sum = 0;
      for (int32_t J = -KY.Radius; J <= KY.Radius; ++J) {
        const int32_t Row = CoreFilters::Limit(Y + J, 0, Height - 1);
        const int32_t M = Row - Base;
        if (!Known[M]) {
          Memo[M] = SelectionInnerSum(X, Row, KX);
          Known[M] = true;
        }
        Sum = Sum + KY.Kernel[J] * Memo[M];
      }
      FCurrent->SetPixel(X, Y, RoundByte(Sum));
    }
  }
}

// ---- TSimpleAntiAliasing -------------------------------------------------------------------

bool TSimpleAntiAliasing::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<IAntiAliasing>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
}

uint8_t TSimpleAntiAliasing::CalculateSqValue(const TGrayscaleBitmap* Mask, const TWordGrayscaleBitmap* Gradient, TPoint A,
                                              TPoint P, TPoint B) {
  const double GA = Gradient->GetValue(A);
  const double GP = Gradient->GetValue(P);
  const double GB = Gradient->GetValue(B);
  const int32_t MA = Mask->GetValue(A);
  const int32_t MB = Mask->GetValue(B);
  // The parabola through the three samples, A at -1, P at 0, B at +1.
  const double Curvature = (GA + GB) * 0.5 - GP;
  const double Slope = (GB - GA) * 0.5;
  if (Curvature == 0) return static_cast<uint8_t>((MA + MB) / 2);
  const double T = -Slope / (2 * Curvature);
  if (T <= -0.5) return static_cast<uint8_t>(MB);
  if (T >= 0.5) return static_cast<uint8_t>(MA);
  return static_cast<uint8_t>(Round(MA * (0.5 + T) + MB * (0.5 - T)));
}

void TSimpleAntiAliasing::AntiAlias(const TGrayscaleBitmap* Mask, ISelectionGradient* Gradient, TGrayscaleBitmap* Result,
                                    const TPointList* Points) {
  Result->Assign(Mask);
  const TWordGrayscaleBitmap* G = Gradient->GetGradient();
  const int32_t Width = Mask->Width();
  const int32_t Height = Mask->Height();
  for (int32_t I = 0; I < Points->Count(); ++I) {
    const TPoint P = Points->GetPoint(I);
    const bool InnerX = P.X > 0 && P.X < Width - 1;
    const bool InnerY = P.Y > 0 && P.Y < Height - 1;
    const TPoint L = InnerX ? TPoint{P.X - 1, P.Y} : P;
    const TPoint R = InnerX ? TPoint{P.X + 1, P.Y} : P;
    const TPoint T = InnerY ? TPoint{P.X, P.Y - 1} : P;
    const TPoint B = InnerY ? TPoint{P.X, P.Y + 1} : P;
    const int32_t ML = Mask->GetValue(L), MR = Mask->GetValue(R), MT = Mask->GetValue(T), MB = Mask->GetValue(B);
    if (MT == MB && ML == MR) {
      Result->SetValue(P, static_cast<uint8_t>((MT + ML) / 2));
      continue;
    }
    bool Horizontal;
    if (MT == MB) {
      Horizontal = true;
    } else if (ML == MR) {
      Horizontal = false;
    } else {
      const int32_t GP = G->GetValue(P), GL = G->GetValue(L), GR = G->GetValue(R), GT = G->GetValue(T),
                    GB = G->GetValue(B);
      const bool RidgeH = GL < GP && GR < GP;
      const bool RidgeV = GT < GP && GB < GP;
      if (RidgeH && RidgeV) {
        const int32_t DH = std::abs(GL - GP) + std::abs(GR - GP);
        const int32_t DV = std::abs(GT - GP) + std::abs(GB - GP);
        Horizontal = DH > DV;
      } else {
        Horizontal = RidgeH;
      }
    }
    Result->SetValue(P, Horizontal ? CalculateSqValue(Mask, G, L, P, R) : CalculateSqValue(Mask, G, T, P, B));
  }
}

}  // namespace varnix
