#include "engine/Gradient.h"

#include "core/CoreConverters.h"
#include "core/CoreFilters.h"
#include "engine/CoreGaussian.h"

namespace varnix {

TSelectionGradient::TSelectionGradient(const TColorBitmap* Bitmap)
    : FBitmap(Bitmap),
      FGradient(NewObject<TWordGrayscaleBitmap>()),
      FXGradient(NewObject<TWordGrayscaleBitmap>()),
      FYGradient(NewObject<TWordGrayscaleBitmap>()) {}

TSelectionGradient::~TSelectionGradient() = default;

bool TSelectionGradient::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<ISelectionGradient, IProgressReporter>(this, IID, Obj) ||
         TInterfacedObject::GetInterface(IID, Obj);
}

TWordGrayscaleBitmap* TSelectionGradient::GetGradient() {
  return Request([this] { return FGradient.get(); });
}

int32_t TSelectionGradient::GetRange() {
  return Request([this] { return FRange; });
}

TWordGrayscaleBitmap* TSelectionGradient::GetXGradient() {
  return Request([this] { return FXGradient.get(); });
}

TWordGrayscaleBitmap* TSelectionGradient::GetYGradient() {
  return Request([this] { return FYGradient.get(); });
}

void TSelectionGradient::SetDetails(float Value) {
  TLockGuard<TLockedObject> Guard(FCriticalSection);
  if (Value != FRequestedDetails) {
    FRequestedDetails = Value;
    FValid = false;
  }
}

void TSelectionGradient::SetFilter(bool Value) {
  TLockGuard<TLockedObject> Guard(FCriticalSection);
  if (Value != FRequestedFilter) {
    FRequestedFilter = Value;
    FValid = false;
  }
}

void TSelectionGradient::Lock() {
  TLockGuard<TLockedObject> Guard(FCriticalSection);
  if (++FLockCount == 1) {
    FDetails = FRequestedDetails;
    FFilter = FRequestedFilter;
    FCalculated.store(FValid, std::memory_order_relaxed);
  }
}

void TSelectionGradient::Unlock() {
  TLockGuard<TLockedObject> Guard(FCriticalSection);
  if (--FLockCount == 0 && FDetails == FRequestedDetails && FFilter == FRequestedFilter)
    FValid = FCalculated.load(std::memory_order_relaxed);
}

void TSelectionGradient::EnsureCalculated() {
  std::lock_guard<std::mutex> Guard(FCalculation);
  // A request that waited here finds the result of the computation it waited for.
  if (!FCalculated.load(std::memory_order_relaxed)) CalculateGradient();
}

void TSelectionGradient::CalculateGradient() {
  TOwned<TFloatColorBitmap> Lab(NewObject<TFloatColorBitmap>());
  {
    TOwned<TColorBitmap> Filtered(NewObject<TColorBitmap>());
    const TColorBitmap* Source = FBitmap;
    if (FFilter) {
      InterfacePtr<IColorFilter> Filter(NewObject<TOpeningClosingFilter>());
      Filter->Filter(FBitmap, Filtered.get());
      Source = Filtered.get();
    }
    InterfacePtr<IColorToUniformConverter> Converter(NewObject<TLabConverter>());
    Converter->Convert(Source, Lab.get());
  }
  InterfacePtr<IColorToGradientConverter> Converter(NewObject<TGaussianGradientConverter>(FDetails));
  FProgress.StartAction(1.0f, As<IProgressReporter>(Converter));
  Converter->Convert(Lab.get(), FGradient.get(), FXGradient.get(), FYGradient.get());
  FProgress.Finish();
  Lab.reset();
  FRange = Converter->GetRange();
  FCalculationCount.fetch_add(1, std::memory_order_relaxed);
  FCalculated.store(true, std::memory_order_relaxed);
}

}  // namespace varnix
