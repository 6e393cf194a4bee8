// The colour gradient of one document, computed lazily on the first request and then shared.
//
// The computation: opening-closing filter (when the filter setting is on), conversion to
// L*a*b*, Gaussian gradient with Sigma = the details setting (defaults: filter on, 1.5). A
// settings change invalidates the stored gradient; a change that arrives while a computation
// runs lets that computation finish with the old settings but leaves the result invalid, so the
// next request recomputes.
//
// Thread safety: any thread may request the gradient. Requests that find it not computed wait
// for one computation (only the first computes); settings may change at any time. The bitmaps
// handed out stay owned by this object; callers only read them, and only while no settings
// change forces a recomputation.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/CommonClasses.h"
#include "common/Objects.h"
#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"
#include "engine/CoreGeneral.h"

namespace varnix {

class TSelectionGradient : public TInterfacedObject, public ISelectionGradient, public IProgressReporter {
 public:
  // Bitmap is the document; it must outlive this object and must not change.
  explicit TSelectionGradient(const TColorBitmap* Bitmap);
  ~TSelectionGradient() override;

  TWordGrayscaleBitmap* GetGradient() override;
  int32_t GetRange() override;
  TWordGrayscaleBitmap* GetXGradient() override;
  TWordGrayscaleBitmap* GetYGradient() override;

  // The details scale (Sigma of the Gaussian) and the filter switch; a different value makes
  // the next request recompute.
  void SetDetails(float Value);
  void SetFilter(bool Value);

  void Cancel() override { FProgress.Cancel(); }
  float GetProgress() override { return FProgress.GetProgress(); }

  // How many computations have run (for diagnostics and tests).
  int32_t CalculationCount() const { return FCalculationCount.load(std::memory_order_relaxed); }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;

 private:
  // Counts a request and, for the first of overlapping requests, takes the snapshot of the
  // settings and of the validity.
  void Lock();
  // Ends a request; the last one commits the result as valid when the settings did not change
  // meanwhile.
  void Unlock();
  // Computes the gradient when the snapshot is not calculated; concurrent callers wait for one
  // computation.
  void EnsureCalculated();
  void CalculateGradient();

  // Runs Read between Lock and Unlock, after making sure the gradient exists.
  template <class F>
  auto Request(F&& Read) {
    Lock();
    struct TUnlock {
      TSelectionGradient* Self;
      ~TUnlock() { Self->Unlock(); }
    } Unlocker{this};
    EnsureCalculated();
    return Read();
  }

  float FDetails = 0;
  bool FFilter = false;
  std::atomic<bool> FCalculated{false};
  float FRequestedDetails = 1.5f;
  const TColorBitmap* FBitmap;
  bool FRequestedFilter = true;
  TOwned<TWordGrayscaleBitmap> FGradient;
  int32_t FLockCount = 0;
  TProgressReporter FProgress;
  int32_t FRange = 0;
  TLockedObject FCriticalSection;
  bool FValid = false;
  TOwned<TWordGrayscaleBitmap> FXGradient;
  TOwned<TWordGrayscaleBitmap> FYGradient;
  // Held while CalculateGradient runs, so that concurrent first requests wait for one result.
  std::mutex FCalculation;
  std::atomic<int32_t> FCalculationCount{0};
};

}  // namespace varnix
