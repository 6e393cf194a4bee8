// Containers of the flooding algorithms and the progress reporters of long computations.
//
// Containers (plain single-owner objects, not synchronised, no argument checks):
//   TPriorityPixelQueue  min-heap of (level, point); its exact tie-breaks decide plateaus.
//   TPointQueue          FIFO of points in fixed blocks of 16,384 that are recycled, never moved.
//   TPointList           growable list of points carrying four side flags in spare bits.
//   TPixelSorter         bucket sort of a word bitmap by value (one linked list per level).
//   TPixelIterator       walks a sorter's lists by increasing level, reverse raster order within.
//   TRegionList          region adjacency graph; every edge carries the level where two regions meet.
// Every operation is O(1) amortised (the heap O(log n)) and allocates nothing per item. Growing a
// container past what a 32-bit count can index raises EOutOfMemory; a failed allocation too.
//
// Progress (IProgressReporter: Cancel, GetProgress):
//   TProgressReporter             splits 0..1 into consecutive actions, each optionally delegated
//                                 to a sub-reporter; locked, parent before child.
//   TIncrementalProgressReporter  counts processed units against a total; lock-free.
// Cancellation is a sticky flag that travels down the chain of active sub-reporters; worker loops
// poll their own flag. It is never an exception.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "common/CommonClasses.h"
#include "common/Objects.h"
#include "common/Types.h"
#include "core/CoreBitmaps.h"

namespace varnix {

// ---- TPriorityPixelQueue -------------------------------------------------------------------

struct TPixelQueueItem {
  int32_t Level = 0;
  TPoint Point;
};
using PPixelQueueArray = TPixelQueueItem*;

// A binary min-heap in one array: Items[(i - 1) / 2].Level <= Items[i].Level. Equal levels do not
// come out in insertion order: (5, a), (5, b), (5, c) come out a, c, b.
class TPriorityPixelQueue : public TObject {
 public:
  TPriorityPixelQueue() = default;
  ~TPriorityPixelQueue() override;

  // The capacity grows to max(2 x Capacity, 1024) when full. A new item never rises above an
  // item of equal level.
  void Add(int32_t Level, TPoint Point);
  // Removes and returns the root. REQUIRES: !Empty().
  void RetrieveMinimum(int32_t& Level, TPoint& Point);
  bool Empty() const { return FCount == 0; }
  // Releases the storage; Count and Capacity become 0.
  void Clear();

  int32_t Capacity() const { return FCapacity; }
  int32_t Count() const { return FCount; }
  PPixelQueueArray Items() const { return FItems; }

 private:
  void Grow();

  int32_t FCapacity = 0;
  int32_t FCount = 0;
  PPixelQueueArray FItems = nullptr;
};

inline void TPriorityPixelQueue::Add(int32_t Level, TPoint Point) {
  if (FCount == FCapacity) Grow();
  int32_t I = FCount++;
  while (I > 0) {
    const int32_t Parent = (I - 1) / 2;
    if (FItems[Parent].Level <= Level) break;
    FItems[I] = FItems[Parent];
    I = Parent;
  }
  FItems[I] = TPixelQueueItem{Level, Point};
}

inline void TPriorityPixelQueue::RetrieveMinimum(int32_t& Level, TPoint& Point) {
  Level = FItems[0].Level;
  Point = FItems[0].Point;
  --FCount;
  if (FCount > 0) {
    const TPixelQueueItem Last = FItems[FCount];
    int32_t I = 0;
    for (;;) {
      int32_t Child = 2 * I + 1;
      if (Child >= FCount) break;
      // The right child wins only when strictly smaller; this and the >= below are the
      // tie-breaks the flooding algorithms rely on.
      // Written as an addition of two flags so that this unpredictable choice compiles without
      // a branch. Items[Child + 1] may be read unguarded: Child + 1 <= Count, and Items[Count]
      // is the slot just vacated, still inside the storage.
      Child += static_cast<int32_t>((Child + 1 < FCount) & (FItems[Child + 1].Level < FItems[Child].Level));
      if (FItems[Child].Level >= Last.Level) break;
      FItems[I] = FItems[Child];
      I = Child;
    }
    FItems[I] = Last;
  }
}

// ---- TPointList ----------------------------------------------------------------------------

enum TPointSide { psLeft, psRight, psTop, psBottom };

// A set of TPointSide (bit n for the side with ordinal n).
class TPointSides {
 public:
  constexpr TPointSides() = default;
  constexpr TPointSides(std::initializer_list<TPointSide> Sides) {
    for (TPointSide S : Sides) FBits |= static_cast<uint8_t>(1u << S);
  }
  static constexpr TPointSides FromBits(uint8_t Bits) {
    TPointSides R;
    R.FBits = Bits & 0x0F;
    return R;
  }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool Contains(TPointSide S) const { return (FBits >> S) & 1u; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr TPointSides& Include(TPointSide S) {
    FBits |= static_cast<uint8_t>(1u << S);
    return *this;
  }
  constexpr TPointSides& Exclude(TPointSide S) {
    FBits &= static_cast<uint8_t>(~(1u << S));
    return *this;
  }
  friend constexpr TPointSides operator+(TPointSides A, TPointSides B) { return FromBits(A.FBits | B.FBits); }
  friend constexpr TPointSides operator*(TPointSides A, TPointSides B) { return FromBits(A.FBits & B.FBits); }
  friend constexpr TPointSides operator-(TPointSides A, TPointSides B) { return FromBits(A.FBits & ~B.FBits); }
  friend constexpr bool operator==(TPointSides, TPointSides) = default;

 private:
  uint8_t FBits = 0;
};

// Each entry is two 32-bit words. A coordinate keeps bits 0-27 and 31; the sides use bits 30 and
// 29 (psLeft, psRight in the X word; psTop, psBottom in the Y word); bit 28 is always 0.
using PPointArray = TPoint*;

// REQUIRES of every stored coordinate: 0 <= X, Y <= 2^28 - 1.
class TPointList : public TObject {
 public:
  static constexpr uint32_t CoordinateMask = 0x8FFFFFFFu;
  static constexpr uint32_t FirstFlag = 1u << 30;   // psLeft (X word), psTop (Y word)
  static constexpr uint32_t SecondFlag = 1u << 29;  // psRight (X word), psBottom (Y word)

  TPointList() = default;
  ~TPointList() override;

  // The capacity grows by 1024 entries when full.
  void Add(TPoint Point, TPointSides Sides = {});
  TPoint GetPoint(int32_t Index) const {
    const TPoint P = FItems[Index];
    return TPoint{static_cast<int32_t>(static_cast<uint32_t>(P.X) & CoordinateMask),
                  static_cast<int32_t>(static_cast<uint32_t>(P.Y) & CoordinateMask)};
  }
  TPointSides GetSides(int32_t Index) const;
  // Count and Capacity become Source's; Count entries are copied.
  void Assign(const TPointList* Source);
  // Count and Capacity become 0 and the storage is released.
  void Clear();

  int32_t Count() const { return FCount; }
  int32_t Capacity() const { return FCapacity; }
  PPointArray Items() const { return FItems; }

 private:
  void Grow();

  int32_t FCapacity = 0;
  int32_t FCount = 0;
  PPointArray FItems = nullptr;
};

inline void TPointList::Add(TPoint Point, TPointSides Sides) {
  if (FCount == FCapacity) Grow();
  uint32_t X = static_cast<uint32_t>(Point.X) & CoordinateMask;
  uint32_t Y = static_cast<uint32_t>(Point.Y) & CoordinateMask;
  if (Sides.Contains(psLeft)) X |= FirstFlag;
  if (Sides.Contains(psRight)) X |= SecondFlag;
  if (Sides.Contains(psTop)) Y |= FirstFlag;
  if (Sides.Contains(psBottom)) Y |= SecondFlag;
  FItems[FCount] = TPoint{static_cast<int32_t>(X), static_cast<int32_t>(Y)};
  ++FCount;
}

inline TPointSides TPointList::GetSides(int32_t Index) const {
  const uint32_t X = static_cast<uint32_t>(FItems[Index].X);
  const uint32_t Y = static_cast<uint32_t>(FItems[Index].Y);
  TPointSides S;
  if (X & FirstFlag) S.Include(psLeft);
  if (X & SecondFlag) S.Include(psRight);
  if (Y & FirstFlag) S.Include(psTop);
  if (Y & SecondFlag) S.Include(psBottom);
  return S;
}

// ---- TPointQueue ---------------------------------------------------------------------------

inline constexpr int32_t PointQueueBlockSize = 16384;
using TPointQueueBlock = std::array<TPoint, PointQueueBlockSize>;
using PPointQueueBlock = TPointQueueBlock*;

// Points at positions Head .. Tail - 1, position p in Blocks[p / 16384][p % 16384]. When the
// first block is used up it moves to the end of the block array and is filled again later, so a
// queue that never holds more than n points allocates about n / 16384 blocks in all.
class TPointQueue : public TObject {
 public:
  TPointQueue() = default;
  ~TPointQueue() override;

  void Add(TPoint Point);
  // REQUIRES: !Empty().
  TPoint RetrieveFirst();
  bool Empty() const { return FHead == FTail; }

  int32_t Head() const { return FHead; }
  int32_t Tail() const { return FTail; }
  int32_t BlockCount() const { return FBlockCount; }
  // The block pointers; only the first BlockCount entries are blocks.
  const std::vector<PPointQueueBlock>& Blocks() const { return FBlocks; }

 private:
  void AddBlock();
  void RotateBlocks();

  int32_t FHead = 0;
  int32_t FBlockCount = 0;
  std::vector<PPointQueueBlock> FBlocks;
  int32_t FTail = 0;
};

inline void TPointQueue::Add(TPoint Point) {
  const int32_t B = FTail / PointQueueBlockSize;
  if (B == FBlockCount) AddBlock();
  (*FBlocks[B])[FTail % PointQueueBlockSize] = Point;
  ++FTail;
}

inline TPoint TPointQueue::RetrieveFirst() {
  const TPoint Result = (*FBlocks[0])[FHead];
  if (++FHead == PointQueueBlockSize) RotateBlocks();
  return Result;
}

// ---- TPixelSorter and TPixelIterator -------------------------------------------------------

// A pixel index is Y x Width + X.
class TPixelSorter : public TObject {
 public:
  TPixelSorter() = default;

  // Builds one list per level; within a level the list runs from the highest pixel index to the
  // lowest. The arrays are reused by the next Sort. The bitmap is not owned and must outlive
  // every use of the lists.
  // REQUIRES: every pixel value < LevelCount. Raises EBitmapError when the bitmap has more pixels
  // than a 32-bit index can number.
  void Sort(const TWordGrayscaleBitmap* Bitmap, int32_t LevelCount);

  const TWordGrayscaleBitmap* Bitmap() const { return FBitmap; }
  // Per level: the first pixel index of its list, -1 for an empty level.
  const std::vector<int32_t>& FirstPixel() const { return FFirstPixel; }
  // Per pixel index: the next pixel of the same level, -1 at the end.
  const std::vector<int32_t>& NextPixel() const { return FNextPixel; }
  int32_t LevelCount() const { return FLevelCount; }

 private:
  const TWordGrayscaleBitmap* FBitmap = nullptr;
  std::vector<int32_t> FFirstPixel;
  std::vector<int32_t> FNextPixel;
  int32_t FLevelCount = 0;
};

// Delivers every pixel of a sorted bitmap once, by increasing level and, within a level, in
// reverse raster order. The usual pattern: remember Level(), process and Advance while Level() is
// unchanged, then Reset to that level for a second pass over it.
// The sorter and its bitmap must outlive the iterator and stay unchanged while it is used.
class TPixelIterator : public TObject {
 public:
  // REQUIRES: Sorter has been sorted. Takes the bitmap's width and positions on the first pixel.
  explicit TPixelIterator(const TPixelSorter* Sorter);

  // Positions on the first pixel of StartLevel or of the first non-empty level above it.
  // REQUIRES: StartLevel >= 0.
  void Reset(int32_t StartLevel);
  void Advance();

  // The level of the current pixel, -1 when done.
  int32_t Level() const { return FLevel; }
  bool Done() const { return FDone; }
  TPoint Position() const { return FPosition; }

 private:
  int32_t FLevel = -1;
  bool FDone = true;
  int32_t FCurrent = -1;  // the pixel the next Advance delivers; -1 when the level's list is used up
  int32_t FNextLevel = 0;  // the level whose list is consulted next
  TPoint FPosition;
  const TPixelSorter* FSorter;
  int32_t FWidth;
};

inline void TPixelIterator::Advance() {
  const int32_t LevelCount = FSorter->LevelCount();
  const int32_t* First = FSorter->FirstPixel().data();
  while (FCurrent == -1 && FNextLevel < LevelCount) FCurrent = First[FNextLevel++];
  if (FCurrent != -1) {
    FDone = false;
    FLevel = FNextLevel - 1;
    FPosition = TPoint{FCurrent % FWidth, FCurrent / FWidth};
    FCurrent = FSorter->NextPixel()[FCurrent];
  } else {
    FLevel = -1;
    FDone = true;
  }
}

// ---- TRegionList ---------------------------------------------------------------------------

struct TRegionConnection {
  int32_t Level = 0;   // where the two regions meet
  int32_t Region = 0;  // the neighbouring region
  int32_t Next = -1;   // the next connection of the same region, -1 at the end
};

// Regions are numbered 0, 1, 2, ... in creation order. Each region's connections form a list
// inside one flat array, newest first; every adjacency is stored once in each region's list.
// Walking a region's neighbours:
//   for (int32_t C = List.GetFirstConnection(R); C != -1;) {
//     const TRegionConnection Conn = List.GetConnection(C);  ... Conn.Region, Conn.Level ...
//     C = Conn.Next;
//   }
class TRegionList : public TObject {
 public:
  TRegionList() = default;

  // A new region without connections; returns its number.
  int32_t AddRegion();
  // Records an adjacency in both lists; nothing when A = B or when A already lists B (the first
  // level recorded for a pair stays). Costs O(degree of A).
  void Connect(int32_t RegionA, int32_t RegionB, int32_t Level);
  // Prepends one directed connection to FromRegion's list.
  void AddConnection(int32_t FromRegion, int32_t ToRegion, int32_t Level);
  int32_t GetFirstConnection(int32_t Region) const { return FFirstConnections[Region]; }
  TRegionConnection GetConnection(int32_t Index) const { return FConnections[Index]; }
  // Forgets every region and connection; the storage is kept for reuse.
  void Clear();

  int32_t RegionCount() const { return FRegionCount; }
  int32_t ConnectionCount() const { return FConnectionCount; }
  // The storage; its lengths may exceed the counts.
  const std::vector<TRegionConnection>& Connections() const { return FConnections; }
  const std::vector<int32_t>& FirstConnections() const { return FFirstConnections; }

 private:
  int32_t FConnectionCount = 0;
  std::vector<TRegionConnection> FConnections;
  int32_t FRegionCount = 0;
  std::vector<int32_t> FFirstConnections;
};

inline void TRegionList::Connect(int32_t RegionA, int32_t RegionB, int32_t Level) {
  if (RegionA == RegionB) return;
  for (int32_t C = FFirstConnections[RegionA]; C != -1; C = FConnections[C].Next)
    if (FConnections[C].Region == RegionB) return;
  AddConnection(RegionA, RegionB, Level);
  AddConnection(RegionB, RegionA, Level);
}

// ---- Progress reporting --------------------------------------------------------------------

struct IProgressReporter : virtual IUnknown {
  // {6F1C2A80-3B4D-4E5F-9A0B-1C2D3E4F5061}
  static constexpr TGUID IID = {0x6F1C2A80, 0x3B4D, 0x4E5F, {0x9A, 0x0B, 0x1C, 0x2D, 0x3E, 0x4F, 0x50, 0x61}};

  // Requests cancellation of the computation this reporter belongs to.
  virtual void Cancel() = 0;
  // The fraction done, 0.0 ... 1.0.
  virtual float GetProgress() = 0;
};

// A hierarchical reporter: the range 0..1 is split into consecutive actions, each ending at the
// value given to StartAction and optionally delegated to a sub-reporter. Before the first action
// and after Finish the reported value is Position itself (0 at first, 1 after Finish).
//
// The worker thread calls StartAction, Report and Finish; any thread may call GetProgress and
// Cancel. Everything but Report and Cancelled runs under the object's lock, and the sub-reporter
// is called while it is held; chains run parent to child only, so locks are always taken in that
// order. The owner frees the object (reference counting is switched off).
class TProgressReporter : public TOwnedLockedObject, public IProgressReporter {
 public:
  TProgressReporter() = default;

  // Begins the next action, covering the previous action's end .. EndProgress. Reporter (may be
  // empty) supplies the action's own progress and is kept referenced until the next StartAction
  // or Finish. If this reporter has already been cancelled, Reporter is cancelled at once.
  void StartAction(float EndProgress, InterfacePtr<IProgressReporter> Reporter);
  // Sets the progress within the current action (for actions without a sub-reporter). One
  // store, no lock.
  void Report(float Value) { FPosition.store(Value, std::memory_order_relaxed); }
  // Ends the sequence of actions: the progress becomes 1.0 and the sub-reporter is dropped.
  void Finish();

  void Cancel() override;
  float GetProgress() override;

  // Set by Cancel and never cleared; worker loops poll it without locking.
  bool Cancelled() const { return FCancelled.load(std::memory_order_relaxed); }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;

 private:
  std::atomic<bool> FCancelled{false};
  float FActionEnd = 0;  // 0 when no action runs
  std::atomic<float> FPosition{0};
  InterfacePtr<IProgressReporter> FSubReporter;
  float FActionStart = 0;
};

// Counts processed units against a total; the base of the watershed algorithms, which call
// Start once per run and Process inside their loops and poll Cancelled(). Process costs one
// addition: the counters have a single writer and a reader may see a slightly stale value.
// The owner frees the object (reference counting is switched off).
class TIncrementalProgressReporter : public TOwnedObject, public IProgressReporter {
 public:
  TIncrementalProgressReporter() = default;

  // Begins a run: clears Cancelled, so a cancel that arrived before the run is dropped.
  void Start(int32_t Total) {
    FCancelled.store(false, std::memory_order_relaxed);
    FProcessed.store(0, std::memory_order_relaxed);
    FTotal.store(Total, std::memory_order_relaxed);
  }
  // Adds Count units.
  void Process(int32_t Count) {
    FProcessed.store(FProcessed.load(std::memory_order_relaxed) + Count, std::memory_order_relaxed);
  }

  void Cancel() override;
  // Processed / Total, or 0 while Total is not positive.
  float GetProgress() override;

  bool Cancelled() const { return FCancelled.load(std::memory_order_relaxed); }
  int32_t Processed() const { return FProcessed.load(std::memory_order_relaxed); }
  int32_t Total() const { return FTotal.load(std::memory_order_relaxed); }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;

 private:
  std::atomic<bool> FCancelled{false};
  std::atomic<int32_t> FProcessed{0};
  std::atomic<int32_t> FTotal{0};
};

}  // namespace varnix
