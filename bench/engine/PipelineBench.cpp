// Timing of every stage of the segmentation pipeline on the bundled sample photo and on a
// 4000 x 3000 enlargement of it (12 megapixels): the preprocessing stages one by one (filter,
// Lab, gradient, sort, Soille watershed), the whole preprocessing through the manager, and one
// selection run per anti-aliasing method through the calculation thread with ten of the
// sample's markers (five object, five background; scaled for the large image). Counters give the
// region and connection (directed) counts.
//
//   bench_engine [benchmark options]    Google Benchmark; medians via --benchmark_repetitions
//   bench_engine --peak-memory=sample|12mp
//                                       one whole run (load, preprocess, Soft selection) in this
//                                       process, then prints its peak resident memory
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "BenchImage.h"
#include "common/Numbers.h"
#include "core/CoreConverters.h"
#include "core/CoreFilters.h"
#include "engine/Algorithms.h"
#include "engine/CoreGaussian.h"
#include "engine/CoreWatershed.h"
#include "engine/MemoryHints.h"
#include "refine/Calculate.h"

namespace varnix::bench {
namespace {

const std::string SampleDir = VARNIX_SAMPLE_DIR;

// Everything one image needs, computed once and shared by the benchmarks of that image.
struct TContext {
  TOwned<TColorBitmap> Doc;
  std::vector<TBenchMarker> Markers;
  TOwned<TColorBitmap> Filtered{NewObject<TColorBitmap>()};
  TOwned<TFloatColorBitmap> Lab{NewObject<TFloatColorBitmap>()};
  TOwned<TWordGrayscaleBitmap> Gradient{NewObject<TWordGrayscaleBitmap>()};
  TOwned<TWordGrayscaleBitmap> XGradient{NewObject<TWordGrayscaleBitmap>()};
  TOwned<TWordGrayscaleBitmap> YGradient{NewObject<TWordGrayscaleBitmap>()};
  TOwned<TPixelSorter> Sorter{NewObject<TPixelSorter>()};
  TSoilleRegionManager* Regions = nullptr;
  InterfacePtr<ISelectionManager> Manager;
};

// Five object and five background markers of the sample, scaled to the image.
std::vector<TBenchMarker> TenMarkers(const std::vector<TBenchMarker>& All, int32_t Width, int32_t Height) {
  std::vector<TBenchMarker> R;
  int32_t Objects = 0, Backgrounds = 0;
  for (const TBenchMarker& M : All) {
    int32_t& N = M.Label == 255 ? Objects : Backgrounds;
    if (N == 5) continue;
    ++N;
    R.push_back({TPoint{MulDiv(M.Point.X, Width, 600), MulDiv(M.Point.Y, Height, 400)}, M.Label});
  }
  return R;
}

TContext& Context(const std::string& Name) {
  static std::map<std::string, std::unique_ptr<TContext>> Contexts;
  std::unique_ptr<TContext>& C = Contexts[Name];
  if (C) return *C;
  C = std::make_unique<TContext>();
  TOwned<TColorBitmap> Sample = LoadRgbPng(SampleDir + "/coffee.png");
  C->Doc = Name == "sample" ? std::move(Sample) : ScaleBilinear(*Sample, 4000, 3000);
  C->Markers = TenMarkers(LoadMarkers(SampleDir + "/coffee.vnx"), C->Doc->Width(), C->Doc->Height());
  InterfacePtr<IColorFilter>(NewObject<TOpeningClosingFilter>())->Filter(C->Doc.get(), C->Filtered.get());
  InterfacePtr<IColorToUniformConverter>(NewObject<TLabConverter>())->Convert(C->Filtered.get(), C->Lab.get());
  InterfacePtr<IColorToGradientConverter>(NewObject<TGaussianGradientConverter>(1.5f))
      ->Convert(C->Lab.get(), C->Gradient.get(), C->XGradient.get(), C->YGradient.get());
  C->Sorter->Sort(C->Gradient.get(), 65536);
  C->Regions = NewObject<TSoilleRegionManager>();
  C->Manager = C->Regions;
  C->Manager->Initialize(C->Doc.get());
  C->Manager->Preprocess();
  return *C;
}

void SetCounts(benchmark::State& State, TContext& C) {
  State.counters["regions"] = C.Regions->Regions()->RegionCount();
  State.counters["connections"] = C.Regions->Regions()->ConnectionCount();
  State.counters["megapixels"] = C.Doc->Width() * static_cast<double>(C.Doc->Height()) / 1e6;
}

void Filter(benchmark::State& State, const std::string& Image) {
  TContext& C = Context(Image);
  TOwned<TColorBitmap> Out(NewObject<TColorBitmap>());
  for (auto _ : State) InterfacePtr<IColorFilter>(NewObject<TOpeningClosingFilter>())->Filter(C.Doc.get(), Out.get());
  SetCounts(State, C);
}

void Lab(benchmark::State& State, const std::string& Image) {
  TContext& C = Context(Image);
  TOwned<TFloatColorBitmap> Out(NewObject<TFloatColorBitmap>());
  for (auto _ : State) InterfacePtr<IColorToUniformConverter>(NewObject<TLabConverter>())->Convert(C.Filtered.get(), Out.get());
  SetCounts(State, C);
}

void Gradient(benchmark::State& State, const std::string& Image) {
  TContext& C = Context(Image);
  TOwned<TWordGrayscaleBitmap> G(NewObject<TWordGrayscaleBitmap>()), GX(NewObject<TWordGrayscaleBitmap>()),
      GY(NewObject<TWordGrayscaleBitmap>());
  for (auto _ : State)
    InterfacePtr<IColorToGradientConverter>(NewObject<TGaussianGradientConverter>(1.5f))
        ->Convert(C.Lab.get(), G.get(), GX.get(), GY.get());
  SetCounts(State, C);
}

void Sort(benchmark::State& State, const std::string& Image) {
  TContext& C = Context(Image);
  TOwned<TPixelSorter> Sorter(NewObject<TPixelSorter>());
  for (auto _ : State) Sorter->Sort(C.Gradient.get(), 65536);
  SetCounts(State, C);
}

void Soille(benchmark::State& State, const std::string& Image) {
  TContext& C = Context(Image);
  for (auto _ : State) {
    // A fresh label image and graph, as every preprocessing run has.
    TOwned<TIntegerGrayscaleBitmap> Labels(NewObject<TIntegerGrayscaleBitmap>());
    TOwned<TRegionList> Regions(NewObject<TRegionList>());
    TOwned<TPixelIterator> Iterator(NewObject<TPixelIterator>(C.Sorter.get()));
    TOwned<TSoilleWatershed> W(NewObject<TSoilleWatershed>());
    W->CalculateWatershed(C.Gradient.get(), Iterator.get(), Labels.get(), Regions.get());
  }
  SetCounts(State, C);
}

void WaitReady(TCalculateThread& T) {
  while (T.GetStatus() != csReady && !T.Failed()) std::this_thread::sleep_for(std::chrono::microseconds(100));
  if (T.Failed()) throw Exception("calculation failed: " + T.ErrorMessage());
}

void Preprocess(benchmark::State& State, const std::string& Image) {
  TContext& C = Context(Image);
  for (auto _ : State) {
    InterfacePtr<ISelectionManager> M(NewObject<TSoilleRegionManager>());
    M->Initialize(C.Doc.get());
    TOwned<TCalculateThread> T(NewObject<TCalculateThread>(M, nullptr, gaNone));
    WaitReady(*T);
  }
  SetCounts(State, C);
}

void Selection(benchmark::State& State, const std::string& Image, TGaussianAntiAliasingMethod Method) {
  TContext& C = Context(Image);
  for (auto _ : State) {
    InterfacePtr<ICalculateSelection> S = C.Manager->CreateSelector();
    for (const TBenchMarker& M : C.Markers) S->DefineMarker(M.Point, M.Label);
    TOwned<TCalculateThread> T(NewObject<TCalculateThread>(C.Manager, S, Method));
    WaitReady(*T);
    State.counters["edge_points"] = T->BoundaryPoints()->Count();
  }
  SetCounts(State, C);
}

void Register() {
  const char* MethodNames[] = {"None", "Sharp", "Medium", "Soft", "VerySoft"};
  for (const std::string Image : {"sample", "12mp"}) {
    const bool Large = Image == "12mp";
    auto Setup = [&](benchmark::internal::Benchmark* B, bool Heavy) {
      B->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
      if (Large && Heavy) B->Iterations(1);
    };
    Setup(benchmark::RegisterBenchmark(("Filter/" + Image).c_str(), Filter, Image), true);
    Setup(benchmark::RegisterBenchmark(("Lab/" + Image).c_str(), Lab, Image), true);
    Setup(benchmark::RegisterBenchmark(("Gradient/" + Image).c_str(), Gradient, Image), true);
    Setup(benchmark::RegisterBenchmark(("Sort/" + Image).c_str(), Sort, Image), true);
    Setup(benchmark::RegisterBenchmark(("Soille/" + Image).c_str(), Soille, Image), true);
    Setup(benchmark::RegisterBenchmark(("Preprocess/" + Image).c_str(), Preprocess, Image), true);
    for (int32_t M = gaNone; M <= gaVerySoft; ++M)
      Setup(benchmark::RegisterBenchmark(("Selection" + std::string(MethodNames[M]) + "/" + Image).c_str(), Selection, Image,
                                         static_cast<TGaussianAntiAliasingMethod>(M)),
            false);
  }
}

int PeakMemory(const std::string& Image) {
  TOwned<TColorBitmap> Sample = LoadRgbPng(SampleDir + "/coffee.png");
  TOwned<TColorBitmap> Doc = Image == "sample" ? std::move(Sample) : ScaleBilinear(*Sample, 4000, 3000);
  Sample.reset();
  const std::vector<TBenchMarker> Markers = TenMarkers(LoadMarkers(SampleDir + "/coffee.vnx"), Doc->Width(), Doc->Height());
  InterfacePtr<ISelectionManager> M(NewObject<TSoilleRegionManager>());
  M->Initialize(Doc.get());
  {
    TOwned<TCalculateThread> T(NewObject<TCalculateThread>(M, nullptr, gaNone));
    WaitReady(*T);
  }
  InterfacePtr<ICalculateSelection> S = M->CreateSelector();
  for (const TBenchMarker& Marker : Markers) S->DefineMarker(Marker.Point, Marker.Label);
  TOwned<TCalculateThread> T(NewObject<TCalculateThread>(M, S, gaSoft));
  WaitReady(*T);
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  std::printf("peak_rss_mb %.1f\n", Usage.ru_maxrss / 1024.0);
  return 0;
}

}  // namespace
}  // namespace varnix::bench

int main(int argc, char** argv) {
  varnix::RetainFreedMemory();
  for (int I = 1; I < argc; ++I)
    if (std::strncmp(argv[I], "--peak-memory=", 14) == 0) return varnix::bench::PeakMemory(argv[I] + 14);
  varnix::bench::Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
