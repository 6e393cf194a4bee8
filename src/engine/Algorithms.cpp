#include "engine/Algorithms.h"

#include <exception>

#include "engine/Gradient.h"

namespace varnix {

namespace {

// Drops a progress reporter's sub-reporter when a stage fails, before the owner-managed object
// that served as sub-reporter is freed: a later GetProgress must not reach a freed object.
class TFinishOnFailure {
 public:
  explicit TFinishOnFailure(TProgressReporter& Progress) : FProgress(Progress), FExceptions(std::uncaught_exceptions()) {}
  ~TFinishOnFailure() {
    if (std::uncaught_exceptions() > FExceptions) FProgress.Finish();
  }

 private:
  TProgressReporter& FProgress;
  const int FExceptions;
};

}  // namespace

// ---- TSelectionManager ---------------------------------------------------------------------

TSelectionManager::~TSelectionManager() = default;

bool TSelectionManager::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<ISelectionManager, IProgressReporter>(this, IID, Obj) ||
         TInterfacedObject::GetInterface(IID, Obj);
}

void TSelectionManager::Initialize(TColorBitmap* Bitmap) { FGradient = NewObject<TSelectionGradient>(Bitmap); }

void TSelectionManager::CalculateGradient() { FGradient->GetGradient(); }

void TSelectionManager::Preprocess() {
  FProgress.StartAction(1.0f, As<IProgressReporter>(FGradient));
  CalculateGradient();
  FProgress.Finish();
}

// ---- TQueueManager, TSoilleMergeManager ----------------------------------------------------

InterfacePtr<ICalculateSelection> TQueueManager::CreateSelector() { return NewObject<TQueueSelector>(this); }

TSoilleMergeManager::TSoilleMergeManager() : FSorter(NewObject<TPixelSorter>()) {}

TSoilleMergeManager::~TSoilleMergeManager() = default;

void TSoilleMergeManager::CalculateGradient() {
  TSelectionManager::CalculateGradient();
  FSorter->Sort(FGradient->GetGradient(), FGradient->GetRange());
  FIterator.reset();
  FIterator.reset(NewObject<TPixelIterator>(FSorter.get()));
}

InterfacePtr<ICalculateSelection> TSoilleMergeManager::CreateSelector() { return NewObject<TSoilleMergeSelector>(this); }

// ---- TSoilleRegionManager ------------------------------------------------------------------

TSoilleRegionManager::TSoilleRegionManager()
    : FRegions(NewObject<TRegionList>()),
      FRegionBitmap(NewObject<TIntegerGrayscaleBitmap>()),
      FCompactRegions(NewObject<TCompactRegionGraph>()) {}

TSoilleRegionManager::~TSoilleRegionManager() = default;

InterfacePtr<ICalculateSelection> TSoilleRegionManager::CreateSelector() { return NewObject<TSoilleRegionSelector>(this); }

void TSoilleRegionManager::Preprocess() {
  FProgress.StartAction(0.6f, As<IProgressReporter>(FGradient));
  TSoilleMergeManager::CalculateGradient();
  TOwned<TSoilleWatershed> Watershed(NewObject<TSoilleWatershed>());
  TFinishOnFailure Guard(FProgress);
  FProgress.StartAction(1.0f, InterfacePtr<IProgressReporter>(Watershed.get()));
  Watershed->CalculateWatershed(FGradient->GetGradient(), Iterator(), FRegionBitmap.get(), FRegions.get());
  FCompactRegions->Build(*FRegions);
  FProgress.Finish();
}

// ---- Selectors -----------------------------------------------------------------------------

TSoilleRegionSelector::TSoilleRegionSelector(TSoilleRegionManager* Manager)
    : FManager(Manager), FWatershed(NewObject<TRegionWatershed>()) {}

TSoilleRegionSelector::~TSoilleRegionSelector() = default;

bool TSoilleRegionSelector::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<ICalculateSelection, IProgressReporter>(this, IID, Obj) ||
         TInterfacedObject::GetInterface(IID, Obj);
}

void TSoilleRegionSelector::DefineMarker(TPoint Point, uint8_t Label) { FWatershed->DefineMarker(Point, Label); }

void TSoilleRegionSelector::CalculateSelection(TGrayscaleBitmap* Mask) {
  FProgress.StartAction(1.0f, InterfacePtr<IProgressReporter>(FWatershed.get()));
  FWatershed->SetCompactGraph(FManager->CompactRegions());
  FWatershed->CalculateWatershed(FManager->RegionBitmap(), FManager->GetGradient()->GetGradient(), FManager->Regions(), Mask,
                                 FEdgePoints);
  FProgress.Finish();
}

TQueueSelector::TQueueSelector(TQueueManager* Manager) : FManager(Manager), FWatershed(NewObject<TSimpleWatershed>()) {}

bool TQueueSelector::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<ICalculateSelection>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
}

void TQueueSelector::CalculateSelection(TGrayscaleBitmap* Mask) {
  FWatershed->CalculateWatershed(FManager->GetGradient()->GetGradient(), nullptr, Mask);
}

TSoilleMergeSelector::TSoilleMergeSelector(TSoilleMergeManager* Manager)
    : FManager(Manager), FWatershed(NewObject<TFastWatershed>()) {}

bool TSoilleMergeSelector::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<ICalculateSelection>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
}

void TSoilleMergeSelector::CalculateSelection(TGrayscaleBitmap* Mask) {
  FWatershed->CalculateWatershed(FManager->GetGradient()->GetGradient(), FManager->Iterator(), Mask);
}

}  // namespace varnix
