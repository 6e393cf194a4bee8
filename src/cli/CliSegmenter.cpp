#include "cli/CliSegmenter.h"

#include <chrono>

namespace varnix {

namespace {

void QuietTrace(Exception&) {}

}  // namespace

void InstallQuietExceptionTrace() { SetCalculateExceptionHook(QuietTrace); }

TCliSegmenter::TCliSegmenter(TColorBitmap* Document)
    : FRegionManager(NewObject<TSoilleRegionManager>()), FManager(FRegionManager) {
  FManager->Initialize(Document);
}

void TCliSegmenter::Finish(TCalculateThread& Thread, const char* What) {
  Thread.WaitFor();
  if (Thread.Failed()) throw Exception(std::string(What) + " failed: " + Thread.ErrorMessage());
  if (Thread.GetStatus() != csReady) throw Exception(std::string(What) + " ended without a result");
}

void TCliSegmenter::Preprocess() {
  TOwned<TCalculateThread> Thread(NewObject<TCalculateThread>(FManager, nullptr, gaNone));
  Finish(*Thread, "the preprocessing");
}

InterfacePtr<ICalculateSelection> TCliSegmenter::CreateSelector(const std::vector<TCliMarker>& Markers) {
  InterfacePtr<ICalculateSelection> Selector = FManager->CreateSelector();
  for (const TCliMarker& M : Markers) Selector->DefineMarker(M.Position, M.Label);
  return Selector;
}

double TCliSegmenter::Select(const std::vector<TCliMarker>& Markers, TGaussianAntiAliasingMethod Method,
                             TGrayscaleBitmap& Selection, TPointList& Edges) {
  InterfacePtr<ICalculateSelection> Selector = CreateSelector(Markers);
  const auto Start = std::chrono::steady_clock::now();
  TOwned<TCalculateThread> Thread(NewObject<TCalculateThread>(FManager, Selector, Method));
  Finish(*Thread, "the selection run");
  const double Milliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count();
  Selection.Assign(Thread->Selection());
  Edges.Assign(Thread->Edges());
  return Milliseconds;
}

void TCliSegmenter::Intermediates(const std::vector<TCliMarker>& Markers, TGaussianAntiAliasingMethod Method,
                                  TGrayscaleBitmap& Hard, TPointList& Boundary, TGrayscaleBitmap& EdgeMask) {
  InterfacePtr<ICalculateSelection> Selector = CreateSelector(Markers);
  Boundary.Clear();
  Selector->SetEdgePointList(&Boundary);
  Selector->CalculateSelection(&Hard);
  TOwned<TGaussianAntiAliasing> AntiAliasing(NewObject<TGaussianAntiAliasing>(Method));
  InterfacePtr<ISelectionGradient> Gradient = FManager->GetGradient();
  AntiAliasing->AntialiasEdges(&Hard, Gradient.Get(), &Boundary);
  EdgeMask.Assign(AntiAliasing->EdgeMask());
}

}  // namespace varnix
