// Timings of the image core's innermost operations on a 12-megapixel photo-like image, reported
// per megapixel (time_per_MP).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"
#include "core/CoreConverters.h"
#include "core/CoreFilters.h"

namespace varnix {
namespace {

constexpr int32_t ImageWidth = 4000;
constexpr int32_t ImageHeight = 3000;
constexpr double MegaPixels = ImageWidth * static_cast<double>(ImageHeight) / 1e6;

uint8_t Clamp(double V) { return static_cast<uint8_t>(V < 0 ? 0 : (V > 255 ? 255 : V)); }

// Smooth colour waves, a few hard-edged discs and a little sensor noise; the same every run.
const TColorBitmap& Photo() {
  static TColorBitmap* Bitmap = [] {
    auto* B = new TColorBitmap;
    B->Resize(ImageWidth, ImageHeight);
    std::mt19937 Random(20240611);
    std::normal_distribution<double> Noise(0.0, 4.0);
    struct Disc {
      double X, Y, R;
      uint8_t C[3];
    };
    const Disc Discs[] = {{1200, 900, 400, {220, 40, 30}}, {2900, 1800, 650, {30, 90, 200}},
                          {800, 2300, 300, {240, 230, 60}}, {3300, 600, 250, {20, 20, 20}}};
    for (int32_t Y = 0; Y < ImageHeight; ++Y) {
      TColorPixel* Row = B->Address(0, Y);
      for (int32_t X = 0; X < ImageWidth; ++X) {
        double C[3] = {128 + 90 * std::sin(X / 310.0) * std::cos(Y / 190.0), 120 + 70 * std::cos((X + Y) / 420.0),
                       110 + 80 * std::sin(Y / 260.0 + X / 900.0)};
        for (const Disc& D : Discs)
          if ((X - D.X) * (X - D.X) + (Y - D.Y) * (Y - D.Y) < D.R * D.R)
            for (int I = 0; I < 3; ++I) C[I] = D.C[I] + 25 * std::sin((X + 3 * I) / 37.0);
        Row[X] = TColorPixel{Clamp(C[0] + Noise(Random)), Clamp(C[1] + Noise(Random)), Clamp(C[2] + Noise(Random)), 255};
      }
    }
    return B;
  }();
  return *Bitmap;
}

// A 16-bit gradient of the photo: squared central differences of the luminance, scaled so the
// strongest value is 65535. Most pixels sit at low levels, edges at high ones, as in the engine.
const TWordGrayscaleBitmap& Gradient() {
  static TWordGrayscaleBitmap* Bitmap = [] {
    const TColorBitmap& P = Photo();
    std::vector<double> Magnitude(static_cast<size_t>(ImageWidth) * ImageHeight);
    auto Luma = [&](int32_t X, int32_t Y) {
      const TColorPixel C = P.GetPixel(X < 0 ? 0 : (X >= ImageWidth ? ImageWidth - 1 : X),
                                       Y < 0 ? 0 : (Y >= ImageHeight ? ImageHeight - 1 : Y));
      return 0.299 * C.R + 0.587 * C.G + 0.114 * C.B;
    };
    double Strongest = 0;
    for (int32_t Y = 0; Y < ImageHeight; ++Y)
      for (int32_t X = 0; X < ImageWidth; ++X) {
        const double DX = Luma(X + 1, Y) - Luma(X - 1, Y), DY = Luma(X, Y + 1) - Luma(X, Y - 1);
        const double M = DX * DX + DY * DY;
        Magnitude[static_cast<size_t>(Y) * ImageWidth + X] = M;
        if (M > Strongest) Strongest = M;
      }
    auto* B = new TWordGrayscaleBitmap;
    B->Resize(ImageWidth, ImageHeight);
    for (int32_t Y = 0; Y < ImageHeight; ++Y)
      for (int32_t X = 0; X < ImageWidth; ++X)
        B->SetPixel(X, Y, static_cast<uint16_t>(std::lround(Magnitude[static_cast<size_t>(Y) * ImageWidth + X] / Strongest * 65535)));
    return B;
  }();
  return *Bitmap;
}

// Each benchmark runs its operation once untimed first, so that buffers exist and have been
// touched: the timings are those of the steady state of the pipeline, not of first page faults.
void SetPerMegapixel(benchmark::State& State) {
  // The inverted rate of megapixels: seconds per megapixel, printed with its unit (e.g. "15ms").
  State.counters["time_per_MP"] =
      benchmark::Counter(MegaPixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  State.SetItemsProcessed(State.iterations() * static_cast<int64_t>(ImageWidth) * ImageHeight);
}

void BM_LabConversion(benchmark::State& State) {
  const TColorBitmap& Source = Photo();
  TFloatColorBitmap Dest;
  TLabConverter Converter;
  Converter.Convert(&Source, &Dest);
  for (auto _ : State) {
    Converter.Convert(&Source, &Dest);
    benchmark::DoNotOptimize(Dest.Bits());
    benchmark::ClobberMemory();
  }
  SetPerMegapixel(State);
}
BENCHMARK(BM_LabConversion)->Unit(benchmark::kMillisecond);

void BM_OpeningClosingFilter(benchmark::State& State) {
  const TColorBitmap& Source = Photo();
  TColorBitmap Dest;
  TOpeningClosingFilter Filter;
  Filter.Filter(&Source, &Dest);
  for (auto _ : State) {
    Filter.Filter(&Source, &Dest);
    benchmark::DoNotOptimize(Dest.Bits());
    benchmark::ClobberMemory();
  }
  SetPerMegapixel(State);
}
BENCHMARK(BM_OpeningClosingFilter)->Unit(benchmark::kMillisecond);

// Sort of the gradient into 65536 levels, then one pass of the iterator over every pixel.
void BM_PixelSortAndIterate(benchmark::State& State) {
  const TWordGrayscaleBitmap& G = Gradient();
  TPixelSorter Sorter;
  Sorter.Sort(&G, 65536);
  for (auto _ : State) {
    Sorter.Sort(&G, 65536);
    TPixelIterator It(&Sorter);
    int64_t Sum = 0;
    while (!It.Done()) {
      Sum += It.Position().X + It.Level();
      It.Advance();
    }
    benchmark::DoNotOptimize(Sum);
  }
  SetPerMegapixel(State);
}
BENCHMARK(BM_PixelSortAndIterate)->Unit(benchmark::kMillisecond);

// A priority flood over the gradient from a grid of seeds, as the marker watersheds run it: every
// pixel is added once at its gradient level (raised to the level it was reached from) and
// retrieved once. Answers the number of pixels retrieved.
int64_t Flood(const TWordGrayscaleBitmap& G, TGrayscaleBitmap& Queued, TPriorityPixelQueue& Queue) {
  Queued.Clear();
  Queue.Clear();
  for (int32_t Y = 150; Y < ImageHeight; Y += 300)
    for (int32_t X = 200; X < ImageWidth; X += 400) {
      Queue.Add(G.GetPixel(X, Y), TPoint{X, Y});
      Queued.SetPixel(X, Y, 1);
    }
  int64_t Retrieved = 0;
  while (!Queue.Empty()) {
    int32_t Level;
    TPoint P;
    Queue.RetrieveMinimum(Level, P);
    ++Retrieved;
    const TPixelNeighbors N = G.Get4ConnectedPixels(P.X, P.Y);
    for (int32_t I = 0; I < N.Count; ++I) {
      const TPoint Q = N.Pixels[I];
      if (Queued.GetValue(Q)) continue;
      Queued.SetValue(Q, 1);
      const int32_t L = G.GetValue(Q);
      Queue.Add(L > Level ? L : Level, Q);
    }
  }
  return Retrieved;
}

void BM_PriorityQueueFlood(benchmark::State& State) {
  const TWordGrayscaleBitmap& G = Gradient();
  TGrayscaleBitmap Queued;
  Queued.Resize(ImageWidth, ImageHeight);
  TPriorityPixelQueue Queue;
  Flood(G, Queued, Queue);
  for (auto _ : State)
    if (Flood(G, Queued, Queue) != static_cast<int64_t>(ImageWidth) * ImageHeight)
      State.SkipWithError("the flood missed pixels");
  SetPerMegapixel(State);
}
BENCHMARK(BM_PriorityQueueFlood)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnix

BENCHMARK_MAIN();
