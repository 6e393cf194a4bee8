#include "engine/CoreWatershed.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "common/Numbers.h"
#include "core/CoreFilters.h"
#include "engine/ParallelLoops.h"

namespace varnix {

namespace {

// The fictitious pixel that separates distance waves in the queue.
constexpr TPoint WaveSeparator{-1, -1};

// Rows per worker below which the output pass of the region watershed is not split.
constexpr int32_t MinOutputRowsPerWorker = 64;

// The unordered pairs of regions connected so far. Each pair is kept with its smaller region, in
// a list of four per region (16 bytes: the whole table stays small enough to be mostly cached); a
// region with more partners keeps the rest in an open-addressing hash set.
class TPairSet {
 public:
  TPairSet() { Rehash(1 << 12); }
  // Fetches the partner list of the pair {A, B} ahead of an Insert.
  void Prefetch(int32_t A, int32_t B) const {
    const size_t Smaller = static_cast<size_t>(std::min(A, B));
    if (Smaller < FPartners.size()) __builtin_prefetch(&FPartners[Smaller]);
  }
  // Adds {A, B}; answers whether it was new.
  bool Insert(int32_t A, int32_t B) {
    if (A > B) std::swap(A, B);
    if (static_cast<size_t>(A) >= FPartners.size())
      GuardAllocation([&] { FPartners.resize(std::max<size_t>(2 * FPartners.size(), static_cast<size_t>(A) + 4096)); });
    TPartners& List = FPartners[static_cast<size_t>(A)];
    for (int32_t I = 0; I < TPartners::Capacity; ++I) {
      if (List.Partner[I] == B) return false;
      if (List.Partner[I] == -1) {
        List.Partner[I] = B;
        return true;
      }
    }
    const uint64_t Key = static_cast<uint64_t>(static_cast<uint32_t>(A)) << 32 | static_cast<uint32_t>(B);
    for (size_t I = Slot(Key);; I = (I + 1) & FMask) {
      if (FSlots[I] == Key) return false;
      if (FSlots[I] == Empty) {
        FSlots[I] = Key;
        if (++FCount * 2 > FSlots.size()) Rehash(2 * FSlots.size());
        return true;
      }
    }
  }

 private:
  // Up to four partners, in insertion order; -1 marks a free place.
  struct TPartners {
    static constexpr int32_t Capacity = 4;
    int32_t Partner[Capacity] = {-1, -1, -1, -1};
  };
  static constexpr uint64_t Empty = ~uint64_t(0);
  size_t Slot(uint64_t Key) const { return static_cast<size_t>((Key * 0x9E3779B97F4A7C15ull) >> 20) & FMask; }
  void Rehash(size_t Size) {
    std::vector<uint64_t> Old = GuardAllocation([&] { return std::vector<uint64_t>(Size, Empty); });
    Old.swap(FSlots);
    FMask = Size - 1;
    for (uint64_t Key : Old)
      if (Key != Empty) {
        size_t I = Slot(Key);
        while (FSlots[I] != Empty) I = (I + 1) & FMask;
        FSlots[I] = Key;
      }
  }
  std::vector<TPartners> FPartners;
  std::vector<uint64_t> FSlots;
  size_t FMask = 0;
  size_t FCount = 0;
};

// The point Ahead places behind the head of a queue, if the queue holds that many.
inline bool PeekQueue(const TPointQueue& Queue, int32_t Ahead, TPoint& Point) {
  const int32_t Position = Queue.Head() + Ahead;
  if (Position >= Queue.Tail()) return false;
  Point = (*Queue.Blocks()[static_cast<size_t>(Position / PointQueueBlockSize)])[Position % PointQueueBlockSize];
  return true;
}

// The pixel indices of a word bitmap ordered as a TPixelIterator on its sort delivers them: by
// increasing level and, within a level, from the highest index to the lowest. First[v] is the
// position of level v's first pixel in Order, First[v + 1] the end. A counting sort reads the
// bitmap in sequence instead of following the sorter's per-pixel links, so the pixels of a level
// come out of one array and their neighbourhoods can be fetched ahead.
void SortByLevel(const TWordGrayscaleBitmap* Gradient, std::unique_ptr<int32_t[]>& Order, std::vector<int32_t>& First) {
  const int32_t Width = Gradient->Width();
  const int32_t Height = Gradient->Height();
  const size_t N = static_cast<size_t>(Width) * Height;
  GuardAllocation([&] {
    Order.reset(new int32_t[N]);
    First.assign(65537, 0);
  });
  const uint16_t* G = Gradient->Bits();
  for (size_t I = 0; I < N; ++I) ++First[G[I] + 1];
  for (size_t V = 1; V < First.size(); ++V) First[V] += First[V - 1];
  std::vector<int32_t> Next(First.begin(), First.end() - 1);
  for (size_t I = N; I-- > 0;) Order[static_cast<size_t>(Next[G[I]]++)] = static_cast<int32_t>(I);
}

}  // namespace

// ---- TSoilleWatershed ----------------------------------------------------------------------

TSoilleWatershed::TSoilleWatershed() : FQueue(NewObject<TPointQueue>()) {}

TSoilleWatershed::~TSoilleWatershed() = default;

namespace {

// The working cell of a pixel during the over-segmentation: its label plus 3 in bits 0-27
// (LabelMask 0, LabelInit 1, region r r + 3) and its wave flag in bits 28-29. Label and flag
// share one word so that every neighbour costs one memory access.
constexpr int32_t CellLabelBits = 0x0FFFFFFF;
constexpr int32_t CellFlagShift = 28;
constexpr int32_t CellMask = 0;  // LabelMask, no flag
constexpr int32_t CellInit = 1;  // LabelInit, no flag
constexpr int32_t MaxCellPixels = CellLabelBits - 3;

inline int32_t CellLabel(int32_t Cell) { return (Cell & CellLabelBits) - 3; }
inline int32_t CellFlag(int32_t Cell) { return Cell >> CellFlagShift; }
inline int32_t MakeCell(int32_t Label, int32_t Flag) { return (Label + 3) | (Flag << CellFlagShift); }

}  // namespace

void TSoilleWatershed::Initialize() {
  std::fill_n(FLabels->Bits(), static_cast<size_t>(FLabels->Width()) * FLabels->Height(), CellInit);
}

void TSoilleWatershed::CalculateWatershed(const TWordGrayscaleBitmap* Gradient, TPixelIterator* Iterator,
                                          TIntegerGrayscaleBitmap* Labels, TRegionList* Regions) {
  Regions->Clear();
  Labels->Resize(Gradient->Width(), Gradient->Height());
  const int32_t Width = Labels->Width();
  const int32_t Height = Labels->Height();
  const int64_t PixelCount = static_cast<int64_t>(Width) * Height;
  if (PixelCount == 0) return;
  if (PixelCount > MaxCellPixels)
    throw EBitmapError("An image of " + std::to_string(Width) + " x " + std::to_string(Height) +
                       " pixels is too large to segment");
  FLabels = Labels;
  Initialize();
  Start(static_cast<int32_t>(PixelCount));

  // The pixels in the order the iterator delivers them (Iterator walks a sort of Gradient). Both
  // passes over a level read this order; the iterator is left where the level-by-level walk
  // would leave it.
  std::unique_ptr<int32_t[]> Order;
  std::vector<int32_t> First;
  SortByLevel(Gradient, Order, First);

  // The cells live in the label image (pixel index Y x Width + X) and become labels at the end.
  int32_t* const C = Labels->Bits();
  TPointQueue& Queue = *FQueue;
  TPairSet Connected;
  constexpr int32_t PrefetchDistance = 16;

  int32_t H = 0;
  for (; H < 65536 && !Cancelled(); ++H) {
    const int32_t LevelBegin = First[H];
    const int32_t LevelEnd = First[H + 1];
    if (LevelBegin == LevelEnd) continue;
    int32_t Labelled = 0;

    // Phase 1: mask the level; pixels next to an existing basin form the first wave.
    for (int32_t K = LevelBegin; K < LevelEnd; ++K) {
      if (K + PrefetchDistance < LevelEnd) {
        const int32_t Ahead = Order[static_cast<size_t>(K + PrefetchDistance)];
        __builtin_prefetch(C + Ahead, 1);
        if (Ahead >= Width) __builtin_prefetch(C + Ahead - Width, 1);
        if (Ahead + Width < PixelCount) __builtin_prefetch(C + Ahead + Width, 1);
      }
      const int32_t I = Order[static_cast<size_t>(K)];
      const TPoint P{I % Width, I / Width};
      const bool Touches = (P.Y > 0 && CellLabel(C[I - Width]) >= 0) || (P.X > 0 && CellLabel(C[I - 1]) >= 0) ||
                           (P.X < Width - 1 && CellLabel(C[I + 1]) >= 0) ||
                           (P.Y < Height - 1 && CellLabel(C[I + Width]) >= 0);
      C[I] = MakeCell(LabelMask, Touches ? 1 : 0);
      if (Touches) Queue.Add(P);
    }

    // Phase 2: grow the basins into the level one distance wave at a time. Pixels of the current
    // wave are no source, so a pixel takes its region only from pixels strictly nearer to the
    // region's older pixels.
    int32_t Current = 1;
    int32_t Next = 2;
    Queue.Add(WaveSeparator);
    for (;;) {
      TPoint P = Queue.RetrieveFirst();
      if (P.X < 0) {
        if (Queue.Empty()) break;
        Queue.Add(WaveSeparator);
        Current = Next;
        Next = Current % 3 + 1;
        P = Queue.RetrieveFirst();
      }
      // Fetch ahead along the queue: the cells around a pixel a few places back, and, for a
      // pixel nearer the head whose cells have arrived, the partner list of the two regions it
      // is likely to join.
      TPoint Ahead;
      if (PeekQueue(Queue, 2 * PrefetchDistance, Ahead) && Ahead.X >= 0) {
        const int32_t A = Ahead.Y * Width + Ahead.X;
        __builtin_prefetch(C + A, 1);
        if (Ahead.Y > 0) __builtin_prefetch(C + A - Width, 1);
        if (Ahead.Y < Height - 1) __builtin_prefetch(C + A + Width, 1);
      }
      if (PeekQueue(Queue, PrefetchDistance, Ahead) && Ahead.X >= 0) {
        const int32_t A = Ahead.Y * Width + Ahead.X;
        int32_t Low = INT32_MAX, High = -1;
        auto Seen = [&](int32_t Cell) {
          const int32_t L = CellLabel(Cell);
          if (L >= 0) Low = std::min(Low, L), High = std::max(High, L);
        };
        if (Ahead.Y > 0) Seen(C[A - Width]);
        if (Ahead.X > 0) Seen(C[A - 1]);
        if (Ahead.X < Width - 1) Seen(C[A + 1]);
        if (Ahead.Y < Height - 1) Seen(C[A + Width]);
        if (High > Low) Connected.Prefetch(Low, High);
      }
      const int32_t I = P.Y * Width + P.X;
      int32_t Lab = CellLabel(C[I]);
      auto Visit = [&](int32_t QI, TPoint Q) {
        const int32_t Cell = C[QI];
        const int32_t FQ = CellFlag(Cell);
        const int32_t LQ = CellLabel(Cell);
        if (FQ != Current && FQ != Next && LQ >= 0) {
          if (Lab == LabelMask) {
            Lab = LQ;
          } else if (Lab != LQ) {
            // Connect(Lab, LQ, H) for a pair not connected before: both directed connections.
            if (Connected.Insert(Lab, LQ)) {
              Regions->AddConnection(Lab, LQ, H);
              Regions->AddConnection(LQ, Lab, H);
            }
            Lab = std::min(Lab, LQ);
          }
        } else if (LQ == LabelMask && FQ == 0) {
          C[QI] = MakeCell(LabelMask, Next);
          Queue.Add(Q);
        }
      };
      // The neighbours above, left, right, below.
      if (P.Y > 0) Visit(I - Width, TPoint{P.X, P.Y - 1});
      if (P.X > 0) Visit(I - 1, TPoint{P.X - 1, P.Y});
      if (P.X < Width - 1) Visit(I + 1, TPoint{P.X + 1, P.Y});
      if (P.Y < Height - 1) Visit(I + Width, TPoint{P.X, P.Y + 1});
      // The flag stays until phase 3.
      C[I] = MakeCell(Lab, CellFlag(C[I]));
      ++Labelled;
    }

    // Phase 3: clear the level's flags; every plateau of the level that no basin reached
    // becomes one new region.
    for (int32_t K = LevelBegin; K < LevelEnd; ++K) {
      if (K + PrefetchDistance < LevelEnd) __builtin_prefetch(C + Order[static_cast<size_t>(K + PrefetchDistance)], 1);
      const int32_t I = Order[static_cast<size_t>(K)];
      C[I] &= CellLabelBits;
      if (C[I] != CellMask) continue;
      const int32_t R = Regions->AddRegion();
      C[I] = MakeCell(R, 0);
      ++Labelled;
      Queue.Add(TPoint{I % Width, I / Width});
      while (!Queue.Empty()) {
        const TPoint Q0 = Queue.RetrieveFirst();
        const int32_t J = Q0.Y * Width + Q0.X;
        // Masked neighbours keep their flags; the walk clears them when it gets there.
        auto Claim = [&](int32_t QI, TPoint Q) {
          if ((C[QI] & CellLabelBits) != CellMask) return;
          Queue.Add(Q);
          C[QI] = MakeCell(R, CellFlag(C[QI]));
          ++Labelled;
        };
        if (Q0.Y > 0) Claim(J - Width, TPoint{Q0.X, Q0.Y - 1});
        if (Q0.X > 0) Claim(J - 1, TPoint{Q0.X - 1, Q0.Y});
        if (Q0.X < Width - 1) Claim(J + 1, TPoint{Q0.X + 1, Q0.Y});
        if (Q0.Y < Height - 1) Claim(J + Width, TPoint{Q0.X, Q0.Y + 1});
      }
    }
    // Counted once per level: the progress moves level by level.
    Process(Labelled);
  }

  // Cells into labels; pixels of levels not processed (after a cancel) read LabelInit.
  ParallelSlices(Height, 256, [&](int32_t, int32_t Begin, int32_t End) {
    int32_t* Row = C + static_cast<size_t>(Begin) * Width;
    for (int64_t I = 0, N = static_cast<int64_t>(End - Begin) * Width; I < N; ++I) Row[I] = CellLabel(Row[I]);
  });
  // Where the walk over the levels stopped: at the end, or at the first level not processed.
  Iterator->Reset(H);
}

// ---- TCompactRegionGraph -------------------------------------------------------------------

void TCompactRegionGraph::Build(const TRegionList& Regions) {
  const int32_t N = Regions.RegionCount();
  const int32_t Count = Regions.ConnectionCount();
  const TRegionConnection* C = Regions.Connections().data();
  const int32_t* FirstConnection = Regions.FirstConnections().data();
  std::vector<int32_t> Owner;
  GuardAllocation([&] {
    Owner.assign(static_cast<size_t>(Count), -1);
    FFirst.assign(static_cast<size_t>(N) + 1, 0);
    FConnections.resize(static_cast<size_t>(Count));
  });
  // A list's head belongs to its region, and a connection's successor to the same region; a
  // successor always has a smaller index, so one pass downwards finds every owner.
  for (int32_t R = 0; R < N; ++R)
    if (FirstConnection[R] != -1) Owner[static_cast<size_t>(FirstConnection[R])] = R;
  for (int32_t I = Count - 1; I >= 0; --I)
    if (C[I].Next != -1) Owner[static_cast<size_t>(C[I].Next)] = Owner[static_cast<size_t>(I)];
  for (int32_t I = 0; I < Count; ++I) ++FFirst[static_cast<size_t>(Owner[static_cast<size_t>(I)]) + 1];
  for (int32_t R = 0; R < N; ++R) FFirst[static_cast<size_t>(R) + 1] += FFirst[static_cast<size_t>(R)];
  // Newest first within each block, as the lists run.
  std::vector<int32_t> Fill(FFirst.begin(), FFirst.end() - 1);
  for (int32_t I = Count - 1; I >= 0; --I)
    FConnections[static_cast<size_t>(Fill[static_cast<size_t>(Owner[static_cast<size_t>(I)])]++)] =
        TConnection{C[I].Level, C[I].Region};
}

// ---- TRegionWatershed ----------------------------------------------------------------------

namespace {
constexpr int32_t NotQueued = 0x7FFFFFFF;
constexpr int32_t Done = -1;
}  // namespace

TRegionWatershed::TRegionWatershed()
    : FPixelQueue(NewObject<TPointQueue>()), FQueue(NewObject<TPriorityPixelQueue>()) {}

TRegionWatershed::~TRegionWatershed() = default;

void TRegionWatershed::DefineMarker(TPoint Point, uint8_t Label) {
  GuardAllocation([&] { FMarkers.emplace_back(NewObject<TWatershedMarker>(Point, Label)); });
}

int32_t TRegionWatershed::GetLabelRegion(uint8_t Label) const { return Label == 0 ? FRegionCount : FRegionCount + 1; }

void TRegionWatershed::AddToQueue(int32_t Level, int32_t FromRegion, int32_t Region) {
  if (FRegionLevels[Region] > Level) {
    FQueue->Add(Level, TPoint{FromRegion, Region});
    FRegionLevels[Region] = Level;
  }
}

TPoint TRegionWatershed::ClampedPosition(const TWatershedMarker& Marker) const {
  return TPoint{CoreFilters::Limit(Marker.Point.X, 0, FRegionBitmap->Width() - 1),
                CoreFilters::Limit(Marker.Point.Y, 0, FRegionBitmap->Height() - 1)};
}

void TRegionWatershed::AddMarkerToQueue(int32_t Index) {
  const TWatershedMarker& M = *FMarkers[static_cast<size_t>(Index)];
  const int32_t R = FRegionBitmap->GetValue(ClampedPosition(M));
  if (FRegionLevels[R] == 0 && FRegionLabels[R] != M.Label) {
    // Already seeded at level 0 with the other label: split the region pixel by pixel.
    ResolveCollision(R);
  } else {
    if (FRegionLabels[R] != CollisionLabel) FRegionLabels[R] = M.Label;
    AddToQueue(0, GetLabelRegion(M.Label), R);
  }
}

void TRegionWatershed::ResolveCollision(int32_t Region) {
  if (!FMaskFilled) {
    FMask->FillRect(TRect{0, 0, FMask->Width(), FMask->Height()}, CollisionLabel);
    FMaskFilled = true;
  }
  FRegionLevels[Region] = Done;
  FRegionLabels[Region] = CollisionLabel;
  // Every marker of the region takes part, also those whose own turn has not come yet.
  for (const TOwned<TWatershedMarker>& M : FMarkers) {
    const TPoint P = ClampedPosition(*M);
    if (FRegionBitmap->GetValue(P) == Region) {
      FMask->SetValue(P, M->Label);
      FPixelQueue->Add(P);
    }
  }
  // Breadth-first split: each pixel takes the label of the marker nearest in 4-connected steps
  // inside the region; each neighbouring region is queued from the first border pixel that
  // offers the lowest level.
  const int32_t Width = FMask->Width();
  const int32_t Height = FMask->Height();
  while (!FPixelQueue->Empty()) {
    const TPoint P = FPixelQueue->RetrieveFirst();
    const uint8_t Lab = FMask->GetValue(P);
    const TPoint Neighbors[4] = {{P.X, P.Y - 1}, {P.X - 1, P.Y}, {P.X + 1, P.Y}, {P.X, P.Y + 1}};
    const bool Inside[4] = {P.Y > 0, P.X > 0, P.X < Width - 1, P.Y < Height - 1};
    for (int32_t N = 0; N < 4; ++N) {
      if (!Inside[N]) continue;
      const TPoint Q = Neighbors[N];
      const int32_t R2 = FRegionBitmap->GetValue(Q);
      if (R2 == Region) {
        if (FMask->GetValue(Q) == CollisionLabel) {
          FMask->SetValue(Q, Lab);
          FPixelQueue->Add(Q);
        }
      } else {
        AddToQueue(FGradient->GetValue(P), GetLabelRegion(Lab), R2);
      }
    }
  }
}

void TRegionWatershed::CalculateWatershed(const TIntegerGrayscaleBitmap* RegionBitmap, const TWordGrayscaleBitmap* Gradient,
                                          const TRegionList* Regions, TGrayscaleBitmap* Mask, TPointList* EdgePoints) {
  FRegionBitmap = RegionBitmap;
  FGradient = Gradient;
  FRegions = Regions;
  FMask = Mask;
  FMaskFilled = false;

  const int32_t N = Regions->RegionCount();
  FRegionCount = N;
  GuardAllocation([&] {
    FRegionLabels.assign(static_cast<size_t>(N) + 2, 0);
    FRegionLevels.assign(static_cast<size_t>(N), NotQueued);
  });
  Mask->Resize(RegionBitmap->Width(), RegionBitmap->Height());
  const int32_t Height = RegionBitmap->Height();
  // An empty image has no rows to weigh (and no pixel a marker could stand on).
  const int32_t PerRow = Height > 0 ? Round(0.2 * N / Height) : 0;
  Start(Height * PerRow + N);
  FRegionLabels[static_cast<size_t>(N)] = 0;
  FRegionLabels[static_cast<size_t>(N) + 1] = 255;

  const bool HasPixels = RegionBitmap->Width() > 0 && Height > 0;
  if (HasPixels)
    for (int32_t I = 0; I < static_cast<int32_t>(FMarkers.size()); ++I) AddMarkerToQueue(I);

  TOwned<TCompactRegionGraph> OwnGraph;
  const TCompactRegionGraph* Graph = FCompactGraph;
  if (!Graph) {
    OwnGraph.reset(NewObject<TCompactRegionGraph>());
    OwnGraph->Build(*Regions);
    Graph = OwnGraph.get();
  }

  // Flood: a region is settled when it first leaves the queue; stale items are skipped.
  while (!FQueue->Empty() && !Cancelled()) {
    int32_t Level;
    TPoint Item;
    FQueue->RetrieveMinimum(Level, Item);
    // The next item is at the root: fetch what it will need while this one is processed.
    if (!FQueue->Empty()) {
      const int32_t NextRegion = FQueue->Items()[0].Point.Y;
      __builtin_prefetch(&FRegionLevels[static_cast<size_t>(NextRegion)]);
      __builtin_prefetch(Graph->Begin(NextRegion));
    }
    const int32_t From = Item.X;
    const int32_t R = Item.Y;
    if (FRegionLevels[R] < 0) continue;
    Process(1);
    FRegionLevels[R] = Done;
    FRegionLabels[R] = FRegionLabels[From];
    // The region's connections in list order (newest first).
    const TCompactRegionGraph::TConnection* const Begin = Graph->Begin(R);
    const TCompactRegionGraph::TConnection* const End = Graph->End(R);
    for (const TCompactRegionGraph::TConnection* C = Begin; C != End; ++C)
      __builtin_prefetch(&FRegionLevels[static_cast<size_t>(C->Region)]);
    for (const TCompactRegionGraph::TConnection* C = Begin; C != End; ++C)
      AddToQueue(std::max(C->Level, Level), R, C->Region);
  }

  EdgePoints->Clear();
  if (!HasPixels) return;
  WriteOutput(EdgePoints, PerRow);
}

void TRegionWatershed::WriteOutput(TPointList* EdgePoints, int32_t PerRow) {
  const int32_t Width = FMask->Width();
  const int32_t Height = FMask->Height();
  const uint8_t* const Labels = FRegionLabels.data();
  const TIntegerGrayscaleBitmap* const Regions = FRegionBitmap;
  TGrayscaleBitmap* const Mask = FMask;

  // Row bands are independent: the pass reads Mask only at pixels of collision regions, whose
  // values it never changes, and writes Mask only at the other pixels.
  std::vector<std::vector<TPoint>> BandEdges(MaxEngineThreads);
  std::vector<int32_t> BandRows(MaxEngineThreads, 0);
  ParallelSlices(Height, MinOutputRowsPerWorker, [&](int32_t Worker, int32_t Begin, int32_t End) {
    std::vector<TPoint>& Edges = BandEdges[static_cast<size_t>(Worker)];
    auto LabelAt = [&](int32_t Region, const uint8_t* MaskPixel) {
      const uint8_t Lab = Labels[Region];
      return Lab == CollisionLabel ? *MaskPixel : Lab;
    };
    for (int32_t Y = Begin; Y < End; ++Y) {
      const int32_t* R = Regions->Address(0, Y);
      const int32_t* RUp = Y > 0 ? Regions->Address(0, Y - 1) : nullptr;
      const int32_t* RDown = Y < Height - 1 ? Regions->Address(0, Y + 1) : nullptr;
      uint8_t* M = Mask->Address(0, Y);
      const uint8_t* MUp = Y > 0 ? Mask->Address(0, Y - 1) : nullptr;
      const uint8_t* MDown = Y < Height - 1 ? Mask->Address(0, Y + 1) : nullptr;
      for (int32_t X = 0; X < Width; ++X) {
        const int32_t Region = R[X];
        const bool Collision = Labels[Region] == CollisionLabel;
        const uint8_t Lab = Collision ? M[X] : Labels[Region];
        // The neighbours above, left, right, below; the first with a higher label makes this
        // pixel an edge pixel.
        if ((RUp && LabelAt(RUp[X], MUp + X) > Lab) || (X > 0 && LabelAt(R[X - 1], M + X - 1) > Lab) ||
            (X < Width - 1 && LabelAt(R[X + 1], M + X + 1) > Lab) || (RDown && LabelAt(RDown[X], MDown + X) > Lab))
          GuardAllocation([&] { Edges.push_back(TPoint{X, Y}); });
        if (!Collision) M[X] = Lab;
      }
      ++BandRows[static_cast<size_t>(Worker)];
      if (Worker == 0) Process(PerRow);
      if (Cancelled()) return;
    }
  });
  // The other bands' rows are counted once they are done.
  for (int32_t W = 1; W < MaxEngineThreads; ++W) Process(PerRow * BandRows[static_cast<size_t>(W)]);
  for (const std::vector<TPoint>& Edges : BandEdges)
    for (const TPoint& P : Edges) EdgePoints->Add(P);
}

// ---- TWatershedBase ------------------------------------------------------------------------

TWatershedBase::TWatershedBase() = default;

TWatershedBase::~TWatershedBase() = default;

bool TWatershedBase::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<IWatershed>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
}

void TWatershedBase::DefineMarker(TPoint Point, uint8_t Label) {
  GuardAllocation([&] { FMarkers.emplace_back(NewObject<TWatershedMarker>(Point, Label)); });
}

void TWatershedBase::CalculateWatershed(TWordGrayscaleBitmap* Gradient, TPixelIterator* Iterator, TGrayscaleBitmap* Mask) {
  FGradient = Gradient;
  FMask = Mask;
  Mask->Resize(Gradient->Width(), Gradient->Height());
  FEdgePoints->Clear();
  FIterator = Iterator;
  DoCalculate();
}

// ---- TSimpleWatershed ----------------------------------------------------------------------

namespace {
enum : uint8_t { StateUntouched = 0, StateQueued = 1, StateDone = 2, StateEdge = 3 };
}  // namespace

TSimpleWatershed::TSimpleWatershed() : FState(NewObject<TGrayscaleBitmap>()), FQueue(NewObject<TPriorityPixelQueue>()) {}

TSimpleWatershed::~TSimpleWatershed() = default;

void TSimpleWatershed::AddToQueue(TPoint Point, int32_t Level, uint8_t Label) {
  if (FState->GetValue(Point) != StateUntouched) return;
  FState->SetValue(Point, StateQueued);
  // The label is decided when the pixel is queued, by the first flood that reaches it.
  FMask->SetValue(Point, Label);
  FQueue->Add(std::max<int32_t>(FGradient->GetValue(Point), Level), Point);
}

void TSimpleWatershed::AddMarkerToQueue(TPoint Point) {
  const uint8_t Lab = FMask->GetValue(Point);
  const TPixelNeighbors N = FMask->Get8ConnectedPixels(Point.X, Point.Y);
  for (int32_t I = 0; I < N.Count; ++I) AddToQueue(N.Pixels[I], 0, Lab);
}

void TSimpleWatershed::Initialize() {
  const TRect Bounds{0, 0, FMask->Width(), FMask->Height()};
  for (const TOwned<TWatershedMarker>& M : FMarkers) {
    FMask->FillRect(M->Rect, M->Label);
    FState->FillRect(M->Rect, StateDone);
  }
  for (const TOwned<TWatershedMarker>& M : FMarkers) {
    const TRect R = IntersectRect(M->Rect, Bounds);
    if (R.IsEmpty()) continue;
    // The pixels on the border of the rectangle, each once.
    for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
      for (int32_t X = R.Left; X < R.Right; ++X)
        if (Y == R.Top || Y == R.Bottom - 1 || X == R.Left || X == R.Right - 1) AddMarkerToQueue(TPoint{X, Y});
  }
}

void TSimpleWatershed::DoCalculate() {
  FState->Resize(FGradient->Width(), FGradient->Height());
  FState->Clear();
  FQueue->Clear();
  // Pixels that no flood reaches (only without markers or behind closed edge lines) are
  // background rather than whatever the mask held.
  FMask->Clear();
  Initialize();
  while (!FQueue->Empty()) {
    int32_t Level;
    TPoint P;
    FQueue->RetrieveMinimum(Level, P);
    const uint8_t Lab = FMask->GetValue(P);
    const TPixelNeighbors N4 = FMask->Get4ConnectedPixels(P.X, P.Y);
    bool Edge = false;
    for (int32_t I = 0; I < N4.Count && !Edge; ++I)
      Edge = FState->GetValue(N4.Pixels[I]) == StateDone && FMask->GetValue(N4.Pixels[I]) != Lab;
    if (Edge) {
      FState->SetValue(P, StateEdge);
      FEdgePoints->Add(P);
      continue;
    }
    FState->SetValue(P, StateDone);
    const TPixelNeighbors N8 = FMask->Get8ConnectedPixels(P.X, P.Y);
    for (int32_t I = 0; I < N8.Count; ++I) AddToQueue(N8.Pixels[I], Level, Lab);
  }
}

// ---- TFastWatershed ------------------------------------------------------------------------

TFastWatershed::TFastWatershed() : FLabels(NewObject<TIntegerGrayscaleBitmap>()) {}

TFastWatershed::~TFastWatershed() = default;

int32_t TFastWatershed::AllocateRegion() {
  if (FRegionCount == static_cast<int32_t>(FRegions.size()))
    GuardAllocation([&] { FRegions.resize(static_cast<size_t>(std::max(2 * FRegionCount, 1024))); });
  const int32_t N = FRegionCount;
  FRegions[static_cast<size_t>(N)] = TWatershedRegion{N, -1};
  FRegionCount = N + 1;
  return N;
}

void TFastWatershed::MergeRegions(int32_t A, int32_t B) {
  const int32_t RootA = FRegions[static_cast<size_t>(A)].Root;
  const int32_t RootB = FRegions[static_cast<size_t>(B)].Root;
  int32_t Last = RootB;
  for (;;) {
    TWatershedRegion& Member = FRegions[static_cast<size_t>(Last)];
    Member.Root = RootA;
    if (Member.Next == -1) break;
    Last = Member.Next;
  }
  FRegions[static_cast<size_t>(Last)].Next = FRegions[static_cast<size_t>(A)].Next;
  FRegions[static_cast<size_t>(A)].Next = RootB;
}

void TFastWatershed::ExamineNeighbors(const TPixelNeighbors& Neighbors, bool Merge, int32_t& Region, int32_t& Root,
                                      bool& Collision) {
  Region = -1;
  Root = 0;
  Collision = false;
  for (int32_t I = 0; I < Neighbors.Count; ++I) {
    int32_t R = FLabels->GetValue(Neighbors.Pixels[I]);
    if (R < 0) continue;
    int32_t RR = FRegions[static_cast<size_t>(R)].Root;
    if (Region == -1 || RR == Root) {
      Region = R;
      Root = RR;
      continue;
    }
    // Two different sets: keep the smaller root in Root.
    if (RR < Root) {
      SwapIntegers(R, Region);
      SwapIntegers(RR, Root);
    }
    if (RR < 2) {
      // The two marker sets meet here.
      Collision = true;
      return;
    }
    if (Merge) MergeRegions(Root, R);
  }
}

void TFastWatershed::Initialize() {
  FRegionCount = 0;
  FLabels->Resize(FGradient->Width(), FGradient->Height());
  std::fill_n(FLabels->Bits(), static_cast<size_t>(FLabels->Width()) * FLabels->Height(), LabelUnvisited);
  AllocateRegion();
  AllocateRegion();
  const TRect Bounds{0, 0, FLabels->Width(), FLabels->Height()};
  for (const TOwned<TWatershedMarker>& M : FMarkers) {
    const TRect R = IntersectRect(M->Rect, Bounds);
    if (R.IsEmpty()) continue;
    const int32_t Label = M->Label > 0 ? 1 : 0;
    for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
      for (int32_t X = R.Left; X < R.Right; ++X)
        if (Y == R.Top || Y == R.Bottom - 1 || X == R.Left || X == R.Right - 1) FLabels->SetPixel(X, Y, Label);
  }
}

void TFastWatershed::DoCalculate() {
  Initialize();
  const int32_t Width = FLabels->Width();
  const int32_t Height = FLabels->Height();
  if (Width > 0 && Height > 0) {
    for (FIterator->Reset(0); !FIterator->Done(); FIterator->Advance()) {
      const TPoint P = FIterator->Position();
      if (FLabels->GetValue(P) != LabelUnvisited) continue;
      int32_t Region, Root;
      bool Collision;
      ExamineNeighbors(FLabels->Get4ConnectedPixels(P.X, P.Y), true, Region, Root, Collision);
      if (Region == -1) ExamineNeighbors(FLabels->Get8Minus4ConnectedPixels(P.X, P.Y), false, Region, Root, Collision);
      if (Collision) {
        FLabels->SetValue(P, Root - 3);
        FEdgePoints->Add(P);
        continue;
      }
      if (Region == -1) Region = AllocateRegion();
      FLabels->SetValue(P, Region);
    }
  }
  for (int32_t Y = 0; Y < Height; ++Y) {
    const int32_t* L = FLabels->Address(0, Y);
    uint8_t* M = FMask->Address(0, Y);
    for (int32_t X = 0; X < Width; ++X) {
      const int32_t R = L[X];
      if (R >= 0)
        M[X] = FRegions[static_cast<size_t>(R)].Root != 0 ? 255 : 0;
      else
        M[X] = R == LabelEdge ? 0 : 255;
    }
  }
}

}  // namespace varnix
