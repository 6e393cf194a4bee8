// The background calculation thread: one object per unit of segmentation work, never reused.
//
//   Preprocessing run (no selector): the manager's Preprocess (gradient, pixel sort,
//     over-segmentation).
//   Selection run: the selector's hard selection and boundary pixels, then the Gaussian
//     anti-aliasing of the edge; the outline (Edges) is published after the edge correction,
//     the soft mask (Selection) at the end.
//
// Owner's protocol: create the thread with NewObject<TCalculateThread>(...) (it starts at once),
// poll GetStatus and GetProgress, copy Edges once the status has left csSelecting and Selection
// once it is csReady, then free the thread with Free. To abandon a run: Cancel, then Free (which
// waits for the worker). A run that ends in an exception never reaches csReady; it reports the
// exception through the exception trace hook and then sets Failed, which the owner polls
// alongside the status so it never waits for csReady in vain.
//
// Status is the only handshake: the worker writes it by atomic exchange after everything the new
// value announces is complete, and no longer writes the announced objects afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/CommonClasses.h"
#include "common/Objects.h"
#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"
#include "engine/CoreGeneral.h"
#include "refine/CoreAntiAliasing.h"

namespace varnix {

enum TCalculateStatus : int32_t { csPreprocessing, csSelecting, csAntiAliasing, csReady };

// Reports an exception that escaped a calculation run. The plug-in installs the host bridge's
// trace; the default writes the two trace lines ("EXCEPTION at address XXXXXXXX with message:"
// and the message) to standard output.
using TExceptionTraceHook = void (*)(Exception& E);
void DefaultExceptionTrace(Exception& E);
// Installs Hook for the runs that fail afterwards; nullptr restores the default. Thread-safe.
void SetCalculateExceptionHook(TExceptionTraceHook Hook);
TExceptionTraceHook CalculateExceptionHook();

class TCalculateThread : public TCommonThread {
 public:
  // Selector null means a preprocessing run. The thread keeps references to both interfaces.
  TCalculateThread(InterfacePtr<ISelectionManager> Manager, InterfacePtr<ICalculateSelection> Selector,
                   TGaussianAntiAliasingMethod Method);
  ~TCalculateThread() override;

  // Callable from any thread.
  TCalculateStatus GetStatus() const { return static_cast<TCalculateStatus>(FStatus.load(std::memory_order_acquire)); }
  float GetProgress() { return FProgress.GetProgress(); }
  void Cancel() { FProgress.Cancel(); }
  // True once a run has ended in an exception (after the exception was reported); the status
  // then stays where the run was, and the results are incomplete.
  bool Failed() const { return FFailed.load(std::memory_order_acquire); }
  // The failed run's exception message; valid once Failed is true.
  std::string ErrorMessage() const;

  // Complete once the status has left csSelecting; not written afterwards.
  const TPointList* Edges() const { return FEdges.get(); }
  // The soft mask (0 x 0 until a selection run writes it); complete once the status is csReady.
  const TGrayscaleBitmap* Selection() const { return FSelection.get(); }
  // The hard selection's boundary pixels, filled by the selector.
  const TPointList* BoundaryPoints() const { return FBoundaryPoints.get(); }
  TGaussianAntiAliasingMethod AntiAliasingMethod() const { return FAntiAliasingMethod; }
  bool Cancelled() const { return FProgress.Cancelled(); }

 protected:
  void Execute() override;
  void HandleException(Exception& E) override;

  void PerformAntialiasing(TGrayscaleBitmap* Mask, TGaussianAntiAliasing* AntiAliasing);
  // Builds Edges from the edge-corrected mask (inside: value >= 128): the inside 8-neighbours of
  // every boundary point that touch the outside, with the sides on which they do, then the
  // inside pixels along the document border.
  void CalculateEdges(const TGrayscaleBitmap* Mask);

 private:
  void SetStatus(TCalculateStatus Status) { FStatus.exchange(Status, std::memory_order_seq_cst); }
  void RunSelection();
  void RunPreprocessing();

  TGaussianAntiAliasingMethod FAntiAliasingMethod;
  TOwned<TPointList> FBoundaryPoints;
  InterfacePtr<ISelectionManager> FManager;
  TProgressReporter FProgress;
  TOwned<TGrayscaleBitmap> FSelection;
  TOwned<TPointList> FEdges;
  InterfacePtr<ICalculateSelection> FSelector;
  std::atomic<int32_t> FStatus{csPreprocessing};
  std::atomic<bool> FFailed{false};
  mutable std::mutex FErrorLock;
  std::string FErrorMessage;
};

}  // namespace varnix
