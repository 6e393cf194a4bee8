// The watershed algorithms of the engine.
//
//   TSoilleWatershed   immersion watershed that over-segments the gradient into small regions and
//                      builds the region adjacency graph (once per document).
//   TRegionWatershed   marker-controlled flood over that region graph; regions holding markers of
//                      both labels are split pixel by pixel (once per set of markers).
//   TSimpleWatershed,  marker-controlled floods over the pixels themselves (priority queue, and
//   TFastWatershed     one pass in gradient order with a union of basins), behind IWatershed.
//
// The flood orders, tie-breaks and neighbour orders below decide which label wins a plateau;
// they are part of the results' definition. Every output mask holds 255 for the object and 0 for
// the background; edge lists hold background-side pixels along the outline in a fixed order.
#pragma once

#include <cstdint>
#include <vector>

#include "common/Objects.h"
#include "common/Types.h"
#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"
#include "engine/CoreGeneral.h"

namespace varnix {

// ---- Soille over-segmentation --------------------------------------------------------------

// Processes the pixels level by level in increasing gradient order and grows the existing
// basins into each level by breadth-first distance, one wave at a time; a pixel reached by
// several basins joins the one with the smallest number (no watershed lines), and every meeting
// of two basins is recorded as a connection at the level where it happens. Plateaus that no
// basin reaches become new regions, numbered in creation order.
//
// Progress counts labelled pixels; cancellation is polled once per level and leaves the labels
// of the unprocessed levels at LabelInit. Images of more than 2^28 - 4 pixels are refused with
// EBitmapError.
class TSoilleWatershed : public TIncrementalProgressReporter {
 public:
  static constexpr int32_t LabelInit = -2;  // not processed yet
  static constexpr int32_t LabelMask = -3;  // on the level being processed, no region yet

  TSoilleWatershed();
  ~TSoilleWatershed() override;

  // Labels takes Gradient's size and the region number of every pixel; Regions gets one region
  // per number and the adjacencies found. REQUIRES: Iterator walks a pixel sort of Gradient; the
  // pixels are processed in its order, and it is left after the last level processed.
  void CalculateWatershed(const TWordGrayscaleBitmap* Gradient, TPixelIterator* Iterator, TIntegerGrayscaleBitmap* Labels,
                          TRegionList* Regions);

 private:
  void Initialize();

  // The label image; while the watershed runs it also carries each pixel's wave flag (0 none,
  // 1 ... 3 the rotating wave marks) beside its label.
  TIntegerGrayscaleBitmap* FLabels = nullptr;
  TOwned<TPointQueue> FQueue;
};

// ---- Markers -------------------------------------------------------------------------------

class TWatershedMarker : public TObject {
 public:
  TWatershedMarker(TPoint APoint, uint8_t ALabel)
      : Label(ALabel), Rect{APoint.X, APoint.Y, APoint.X + 1, APoint.Y + 1}, Point(APoint) {}

  uint8_t Label;  // 255 object, 0 background
  TRect Rect;     // the one-pixel rectangle of the marker
  TPoint Point;   // document coordinates
};

using TWatershedMarkerList = std::vector<TOwned<TWatershedMarker>>;

// ---- Region watershed ----------------------------------------------------------------------

// A region graph with each region's connections in one contiguous block, in the order of the
// region's list in the TRegionList (newest first). The flood walks whole lists; in a TRegionList
// they are chains through one large array, one memory access after another.
class TCompactRegionGraph : public TObject {
 public:
  struct TConnection {
    int32_t Level;
    int32_t Region;
  };

  // Copies Regions' lists. Reads the connection array in index order.
  void Build(const TRegionList& Regions);

  int32_t RegionCount() const { return static_cast<int32_t>(FFirst.size()) - 1; }
  // The connections of Region: [Begin(Region), End(Region)).
  const TConnection* Begin(int32_t Region) const { return FConnections.data() + FFirst[static_cast<size_t>(Region)]; }
  const TConnection* End(int32_t Region) const { return FConnections.data() + FFirst[static_cast<size_t>(Region) + 1]; }

 private:
  std::vector<int32_t> FFirst{0};
  std::vector<TConnection> FConnections;
};

// Floods the region graph from the regions that hold markers, by increasing level: every region
// takes the label of the marker that reaches it over the lowest pass. A region with markers of
// both labels is split by a breadth-first flood from its markers inside the region, and its
// neighbours are queued from the border pixels of each part. The output pass writes the mask and
// lists, in raster order, every pixel that has a 4-neighbour with a higher label (the background
// side of the outline). Unreached regions stay background; markers outside the image act at the
// nearest edge pixel.
//
// Progress: one unit per region taken from the queue plus about a sixth for the output rows.
// Cancellation is polled before every queue item and after every output row. The output pass is
// split into row bands between the engine's workers; their edge lists are joined in row order.
class TRegionWatershed : public TIncrementalProgressReporter {
 public:
  static constexpr uint8_t CollisionLabel = 128;  // a region whose pixels carry their own labels in Mask

  TRegionWatershed();
  ~TRegionWatershed() override;

  void DefineMarker(TPoint Point, uint8_t Label);
  // The compact copy of the region graph to flood (it must copy the Regions passed to
  // CalculateWatershed); without one, CalculateWatershed builds its own. Not owned.
  void SetCompactGraph(const TCompactRegionGraph* Graph) { FCompactGraph = Graph; }
  // RegionBitmap and Regions come from TSoilleWatershed and must be complete. Mask is resized to
  // RegionBitmap's size; EdgePoints is cleared and filled.
  void CalculateWatershed(const TIntegerGrayscaleBitmap* RegionBitmap, const TWordGrayscaleBitmap* Gradient,
                          const TRegionList* Regions, TGrayscaleBitmap* Mask, TPointList* EdgePoints);

  const TWatershedMarkerList& Markers() const { return FMarkers; }

 private:
  void AddMarkerToQueue(int32_t Index);
  void AddToQueue(int32_t Level, int32_t FromRegion, int32_t Region);
  int32_t GetLabelRegion(uint8_t Label) const;
  void ResolveCollision(int32_t Region);
  void WriteOutput(TPointList* EdgePoints, int32_t PerRow);
  TPoint ClampedPosition(const TWatershedMarker& Marker) const;

  bool FMaskFilled = false;
  TOwned<TPointQueue> FPixelQueue;
  TGrayscaleBitmap* FMask = nullptr;
  const TWordGrayscaleBitmap* FGradient = nullptr;
  std::vector<uint8_t> FRegionLabels;  // label per region, then the background and object label regions
  TWatershedMarkerList FMarkers;
  const TRegionList* FRegions = nullptr;
  TOwned<TPriorityPixelQueue> FQueue;  // items carry (source region, target region) as their point
  std::vector<int32_t> FRegionLevels;  // lowest level queued: NotQueued, or Done
  const TIntegerGrayscaleBitmap* FRegionBitmap = nullptr;
  int32_t FRegionCount = 0;
  const TCompactRegionGraph* FCompactGraph = nullptr;
};

// ---- Pixel watersheds ----------------------------------------------------------------------

// Shared part of the pixel watersheds: the markers, the borrowed inputs and outputs.
class TWatershedBase : public TInterfacedObject, public IWatershed {
 public:
  TWatershedBase();
  ~TWatershedBase() override;

  // Remembers the arguments, resizes Mask to Gradient's size, clears the edge list and runs
  // DoCalculate. REQUIRES: SetEdgePointList has been called.
  void CalculateWatershed(TWordGrayscaleBitmap* Gradient, TPixelIterator* Iterator, TGrayscaleBitmap* Mask) override;
  void DefineMarker(TPoint Point, uint8_t Label) override;
  void SetEdgePointList(TPointList* List) override { FEdgePoints = List; }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;
  virtual void DoCalculate() = 0;

  TGrayscaleBitmap* FMask = nullptr;
  TPointList* FEdgePoints = nullptr;
  TPixelIterator* FIterator = nullptr;
  TWatershedMarkerList FMarkers;
  TWordGrayscaleBitmap* FGradient = nullptr;
};

// A priority-queue flood from the markers over the 8-connected pixels. A pixel's label is
// decided by the first flood that queues it; a pixel taken from the queue that touches (4-
// connected) a finished pixel of the other label becomes an edge pixel and stops its flood. The
// mask is cleared to 0 first, so pixels that no flood reaches are background.
class TSimpleWatershed : public TWatershedBase {
 public:
  TSimpleWatershed();
  ~TSimpleWatershed() override;

 protected:
  void DoCalculate() override;

 private:
  void Initialize();
  void AddMarkerToQueue(TPoint Point);
  void AddToQueue(TPoint Point, int32_t Level, uint8_t Label);

  TOwned<TGrayscaleBitmap> FState;  // per pixel: 0 untouched, 1 queued, 2 done, 3 edge
  TOwned<TPriorityPixelQueue> FQueue;
};

// One region of TFastWatershed's union structure.
struct TWatershedRegion {
  int32_t Root = 0;   // the representative region of its set
  int32_t Next = -1;  // the next region of the same set, -1 at the end
};

// One pass over the pixels in gradient order (the manager's pixel sort): a pixel joins the basin
// of its labelled 4-neighbours (merging their sets) or, failing those, of its diagonal
// neighbours, or starts a new basin; a pixel between the two marker sets (0 background, 1
// object) becomes an edge pixel. Basins that never join a marker set count as object.
class TFastWatershed : public TWatershedBase {
 public:
  static constexpr int32_t LabelUnvisited = -1;
  static constexpr int32_t LabelEdge = -3;

  TFastWatershed();
  ~TFastWatershed() override;

 protected:
  void DoCalculate() override;

 private:
  void Initialize();
  int32_t AllocateRegion();
  // Splices B's whole set into A's set, right after A. REQUIRES: different sets.
  void MergeRegions(int32_t A, int32_t B);
  void ExamineNeighbors(const TPixelNeighbors& Neighbors, bool Merge, int32_t& Region, int32_t& Root, bool& Collision);

  TOwned<TIntegerGrayscaleBitmap> FLabels;  // region per pixel, LabelUnvisited, or LabelEdge
  int32_t FRegionCount = 0;
  std::vector<TWatershedRegion> FRegions;
};

// Exchanges two integers.
inline void SwapIntegers(int32_t& A, int32_t& B) {
  const int32_t T = A;
  A = B;
  B = T;
}

}  // namespace varnix
