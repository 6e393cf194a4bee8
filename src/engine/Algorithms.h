// Selection managers and selectors: how the rest of the system runs the engine.
//
// Protocol: create a manager, Initialize it with the document, run Preprocess once (in the
// calculation thread); then for every set of markers: CreateSelector, DefineMarker for each
// marker (object 255, background 0), SetEdgePointList, CalculateSelection. Cancel through the
// manager's IProgressReporter (during preprocessing) or the selector's (during a calculation)
// stops the running stage at its next poll; a cancelled manager stays cancelled and is
// discarded by its owner.
//
//   TSoilleRegionManager / TSoilleRegionSelector   gradient, pixel sort and Soille
//       over-segmentation once; region watershed per selection. This is the editor's pair.
//   TQueueManager / TQueueSelector                 gradient once; priority-queue pixel flood.
//   TSoilleMergeManager / TSoilleMergeSelector     gradient and pixel sort once; one-pass pixel
//       watershed in gradient order.
//
// A selector refers to its manager by a plain pointer: the manager must outlive its selectors.
// The manager's region bitmap, region graph, sort and gradient are written only by Preprocess and
// are read-only afterwards.
#pragma once

#include <cstdint>

#include "common/Objects.h"
#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"
#include "engine/CoreGeneral.h"
#include "engine/CoreWatershed.h"

namespace varnix {

class TSelectionManager : public TInterfacedObject, public ISelectionManager, public IProgressReporter {
 public:
  TSelectionManager() = default;
  ~TSelectionManager() override;

  void Initialize(TColorBitmap* Bitmap) override;
  InterfacePtr<ISelectionGradient> GetGradient() override { return FGradient; }
  InterfacePtr<ICalculateSelection> CreateSelector() override = 0;
  // Computes the gradient.
  void Preprocess() override;

  void Cancel() override { FProgress.Cancel(); }
  float GetProgress() override { return FProgress.GetProgress(); }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;
  // Requests the gradient, which computes it if needed.
  virtual void CalculateGradient();

  InterfacePtr<ISelectionGradient> FGradient;
  TProgressReporter FProgress;
};

class TQueueManager : public TSelectionManager {
 public:
  InterfacePtr<ICalculateSelection> CreateSelector() override;
};

class TSoilleMergeManager : public TSelectionManager {
 public:
  TSoilleMergeManager();
  ~TSoilleMergeManager() override;

  InterfacePtr<ICalculateSelection> CreateSelector() override;

  // Valid after preprocessing.
  TPixelIterator* Iterator() const { return FIterator.get(); }
  const TPixelSorter* Sorter() const { return FSorter.get(); }

 protected:
  // The gradient, then its pixel sort into the gradient's levels and a new iterator on it.
  void CalculateGradient() override;

 private:
  TOwned<TPixelIterator> FIterator;
  TOwned<TPixelSorter> FSorter;
};

class TSoilleRegionManager : public TSoilleMergeManager {
 public:
  TSoilleRegionManager();
  ~TSoilleRegionManager() override;

  InterfacePtr<ICalculateSelection> CreateSelector() override;
  // Gradient and sort (the first 60 % of the progress), then the over-segmentation.
  void Preprocess() override;

  // Valid after preprocessing: the region number of every pixel and the region graph.
  const TRegionList* Regions() const { return FRegions.get(); }
  const TIntegerGrayscaleBitmap* RegionBitmap() const { return FRegionBitmap.get(); }
  // The region graph laid out for the flood of every selection.
  const TCompactRegionGraph* CompactRegions() const { return FCompactRegions.get(); }

 private:
  TOwned<TRegionList> FRegions;
  TOwned<TIntegerGrayscaleBitmap> FRegionBitmap;
  TOwned<TCompactRegionGraph> FCompactRegions;
};

class TSoilleRegionSelector : public TInterfacedObject, public ICalculateSelection, public IProgressReporter {
 public:
  explicit TSoilleRegionSelector(TSoilleRegionManager* Manager);
  ~TSoilleRegionSelector() override;

  void CalculateSelection(TGrayscaleBitmap* Mask) override;
  void DefineMarker(TPoint Point, uint8_t Label) override;
  void SetEdgePointList(TPointList* List) override { FEdgePoints = List; }

  void Cancel() override { FProgress.Cancel(); }
  float GetProgress() override { return FProgress.GetProgress(); }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;

 private:
  TPointList* FEdgePoints = nullptr;
  TSoilleRegionManager* FManager;
  TProgressReporter FProgress;
  TOwned<TRegionWatershed> FWatershed;
};

class TQueueSelector : public TInterfacedObject, public ICalculateSelection {
 public:
  explicit TQueueSelector(TQueueManager* Manager);

  void CalculateSelection(TGrayscaleBitmap* Mask) override;
  void DefineMarker(TPoint Point, uint8_t Label) override { FWatershed->DefineMarker(Point, Label); }
  void SetEdgePointList(TPointList* List) override { FWatershed->SetEdgePointList(List); }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;

 private:
  TQueueManager* FManager;
  InterfacePtr<IWatershed> FWatershed;
};

class TSoilleMergeSelector : public TInterfacedObject, public ICalculateSelection {
 public:
  explicit TSoilleMergeSelector(TSoilleMergeManager* Manager);

  void CalculateSelection(TGrayscaleBitmap* Mask) override;
  void DefineMarker(TPoint Point, uint8_t Label) override { FWatershed->DefineMarker(Point, Label); }
  void SetEdgePointList(TPointList* List) override { FWatershed->SetEdgePointList(List); }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;

 private:
  TSoilleMergeManager* FManager;
  InterfacePtr<IWatershed> FWatershed;
};

}  // namespace varnix
