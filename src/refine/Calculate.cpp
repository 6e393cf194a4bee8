#include "refine/Calculate.h"

#include <cinttypes>
#include <cstdio>
#include <exception>
#include <new>

namespace varnix {

namespace {

std::atomic<TExceptionTraceHook> GExceptionHook{nullptr};

// Turns what escapes a run into the system's exception types, so that the thread procedure
// hands it to HandleException rather than letting it end the process.
template <class F>
void TranslateExceptions(F&& Run) {
  try {
    Run();
  } catch (Exception&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  } catch (const std::exception& E) {
    throw Exception(E.what());
  }
}

}  // namespace

void DefaultExceptionTrace(Exception& E) {
  std::printf("EXCEPTION at address %08" PRIXPTR " with message:\n%s\n", reinterpret_cast<uintptr_t>(E.ExceptAddr()),
              E.Message().c_str());
  std::fflush(stdout);
}

void SetCalculateExceptionHook(TExceptionTraceHook Hook) { GExceptionHook.store(Hook, std::memory_order_release); }

TExceptionTraceHook CalculateExceptionHook() {
  const TExceptionTraceHook Hook = GExceptionHook.load(std::memory_order_acquire);
  return Hook ? Hook : &DefaultExceptionTrace;
}

TCalculateThread::TCalculateThread(InterfacePtr<ISelectionManager> Manager, InterfacePtr<ICalculateSelection> Selector,
                                   TGaussianAntiAliasingMethod Method)
    : TCommonThread(false),
      FAntiAliasingMethod(Method),
      FBoundaryPoints(NewObject<TPointList>()),
      FManager(std::move(Manager)),
      FSelection(NewObject<TGrayscaleBitmap>()),
      FEdges(NewObject<TPointList>()),
      FSelector(std::move(Selector)) {
  SetPriority(tpLower);
  FStatus.store(FSelector ? csSelecting : csPreprocessing, std::memory_order_release);
}

// The worker has been waited for in BeforeDestruction (Free), before any member goes away.
TCalculateThread::~TCalculateThread() = default;

std::string TCalculateThread::ErrorMessage() const {
  std::lock_guard<std::mutex> Guard(FErrorLock);
  return FErrorMessage;
}

void TCalculateThread::Execute() {
  TranslateExceptions([this] {
    if (FSelector)
      RunSelection();
    else
      RunPreprocessing();
  });
}

void TCalculateThread::HandleException(Exception& E) {
  {
    std::lock_guard<std::mutex> Guard(FErrorLock);
    FErrorMessage = E.Message();
  }
  // The trace comes first: an owner that sees Failed may free the thread at once.
  try {
    CalculateExceptionHook()(E);
  } catch (...) {
    // A failing trace must not take the process down; the failure is still flagged below.
  }
  FFailed.store(true, std::memory_order_release);
}

void TCalculateThread::RunPreprocessing() {
  FProgress.StartAction(1.0f, As<IProgressReporter>(FManager));
  FManager->Preprocess();
  FProgress.Finish();
  SetStatus(csReady);
}

void TCalculateThread::RunSelection() {
  TOwned<TGrayscaleBitmap> Mask(NewObject<TGrayscaleBitmap>());
  const float SelectorShare = FAntiAliasingMethod == gaNone || FAntiAliasingMethod == gaSharp ? 1.0f : 0.7f;
  // Selectors without progress of their own (the alternative ones) run as an action without a
  // sub-reporter.
  FProgress.StartAction(SelectorShare, Supports<IProgressReporter>(FSelector));
  FSelector->SetEdgePointList(FBoundaryPoints.get());
  FSelector->CalculateSelection(Mask.get());
  if (!FProgress.Cancelled()) {
    TOwned<TGaussianAntiAliasing> AntiAliasing(NewObject<TGaussianAntiAliasing>(FAntiAliasingMethod));
    try {
      PerformAntialiasing(Mask.get(), AntiAliasing.get());
    } catch (...) {
      // The progress must not keep referring to the anti-aliasing once it is freed.
      FProgress.Finish();
      throw;
    }
  }
  Mask.reset();
  SetStatus(csReady);
}

void TCalculateThread::PerformAntialiasing(TGrayscaleBitmap* Mask, TGaussianAntiAliasing* AntiAliasing) {
  const InterfacePtr<ISelectionGradient> Gradient = FManager->GetGradient();
  AntiAliasing->AntialiasEdges(Mask, Gradient.Get(), FBoundaryPoints.get());
  CalculateEdges(AntiAliasing->EdgeMask());
  SetStatus(csAntiAliasing);
  FProgress.StartAction(1.0f, InterfacePtr<IProgressReporter>(AntiAliasing));
  AntiAliasing->SoftenEdges(FSelection.get());
  FProgress.Finish();
}

void TCalculateThread::CalculateEdges(const TGrayscaleBitmap* Mask) {
  TPointList& Edges = *FEdges;
  Edges.Clear();
  const int32_t Width = Mask->Width();
  const int32_t Height = Mask->Height();
  auto Inside = [Mask](int32_t X, int32_t Y) { return Mask->GetPixel(X, Y) >= 128; };
  for (int32_t I = 0; I < FBoundaryPoints->Count(); ++I) {
    const TPoint P = FBoundaryPoints->GetPoint(I);
    const TPixelNeighbors NP = Mask->Get8ConnectedPixels(P.X, P.Y);
    for (int32_t J = 0; J < NP.Count; ++J) {
      const TPoint Q = NP.Pixels[J];
      if (!Inside(Q.X, Q.Y)) continue;
      const TPixelNeighbors NQ = Mask->Get8ConnectedPixels(Q.X, Q.Y);
      for (int32_t K = 0; K < NQ.Count; ++K) {
        if (Inside(NQ.Pixels[K].X, NQ.Pixels[K].Y)) continue;
        TPointSides Sides;
        if (Q.X > 0 && !Inside(Q.X - 1, Q.Y)) Sides.Include(psLeft);
        if (Q.X < Width - 1 && !Inside(Q.X + 1, Q.Y)) Sides.Include(psRight);
        if (Q.Y > 0 && !Inside(Q.X, Q.Y - 1)) Sides.Include(psTop);
        if (Q.Y < Height - 1 && !Inside(Q.X, Q.Y + 1)) Sides.Include(psBottom);
        Edges.Add(Q, Sides);
        break;
      }
    }
  }
  // Close the outline along the document border.
  for (int32_t X = 0; X < Width; ++X) {
    if (Inside(X, 0)) Edges.Add(TPoint{X, 0}, {psTop});
    if (Inside(X, Height - 1)) Edges.Add(TPoint{X, Height - 1}, {psBottom});
  }
  for (int32_t Y = 0; Y < Height; ++Y) {
    if (Inside(0, Y)) Edges.Add(TPoint{0, Y}, {psLeft});
    if (Inside(Width - 1, Y)) Edges.Add(TPoint{Width - 1, Y}, {psRight});
  }
}

}  // namespace varnix
