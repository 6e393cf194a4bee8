// The engine as the command-line tool drives it, exactly as the editor does: one
// TSoilleRegionManager per document, preprocessed once by a TCalculateThread without selector;
// then per selection a fresh TSoilleRegionSelector with the markers defined in order (object 255,
// background 0) run by a TCalculateThread with the chosen anti-aliasing method.
#pragma once

#include <vector>

#include "cli/CliDocument.h"
#include "engine/Algorithms.h"
#include "refine/Calculate.h"

namespace varnix {

class TCliSegmenter {
 public:
  // Document must outlive the segmenter and stay unchanged.
  explicit TCliSegmenter(TColorBitmap* Document);

  // Runs the preprocessing in a calculation thread and waits for it. Raises Exception when the
  // run fails.
  void Preprocess();

  // One selection run in a calculation thread; Selection receives the soft mask and Edges the
  // outline. Answers the milliseconds from the start of the thread to its end. Raises Exception
  // when the run fails. REQUIRES: Preprocess has succeeded; Markers is not empty.
  double Select(const std::vector<TCliMarker>& Markers, TGaussianAntiAliasingMethod Method,
                TGrayscaleBitmap& Selection, TPointList& Edges);

  // The intermediate results of the same selection run, computed again on the calling thread
  // with the same steps: the region watershed's hard mask and boundary points, and the
  // anti-aliasing's corrected edge mask.
  void Intermediates(const std::vector<TCliMarker>& Markers, TGaussianAntiAliasingMethod Method,
                     TGrayscaleBitmap& Hard, TPointList& Boundary, TGrayscaleBitmap& EdgeMask);

  ISelectionManager* Manager() const { return FManager.Get(); }
  // Valid after Preprocess.
  const TIntegerGrayscaleBitmap& RegionBitmap() const { return *FRegionManager->RegionBitmap(); }
  const TRegionList& Regions() const { return *FRegionManager->Regions(); }

 private:
  InterfacePtr<ICalculateSelection> CreateSelector(const std::vector<TCliMarker>& Markers);
  // Waits for Thread and raises when the run did not end in csReady.
  void Finish(TCalculateThread& Thread, const char* What);

  TSoilleRegionManager* FRegionManager;  // owned through FManager
  InterfacePtr<ISelectionManager> FManager;
};

// Keeps failed calculation runs from writing the exception trace to standard output (which
// carries the answers of "serve"); the segmenter reports the failure itself. Call once at start.
void InstallQuietExceptionTrace();

}  // namespace varnix
