#include "core/CoreClasses.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace varnix {

namespace {

constexpr int32_t MaxCount = std::numeric_limits<int32_t>::max();

// The doubled length of a growing array, at least Minimum; EOutOfMemory when a 32-bit count
// cannot index it any more.
int32_t DoubledLength(int32_t Length, int32_t Minimum) {
  if (Length > MaxCount / 2) {
    if (Length == MaxCount) throw EOutOfMemory("Container capacity exhausted");
    return MaxCount;
  }
  return std::max(2 * Length, Minimum);
}

// Reallocates a block of trivially copyable items, keeping its content.
template <class T>
T* Reallocate(T* Items, int32_t Capacity) {
  void* P = std::realloc(Items, static_cast<size_t>(Capacity) * sizeof(T));
  if (!P) throw EOutOfMemory();
  return static_cast<T*>(P);
}

}  // namespace

// ---- TPriorityPixelQueue -------------------------------------------------------------------

TPriorityPixelQueue::~TPriorityPixelQueue() { Clear(); }

void TPriorityPixelQueue::Grow() {
  const int32_t NewCapacity = DoubledLength(FCapacity, 1024);
  FItems = Reallocate(FItems, NewCapacity);
  FCapacity = NewCapacity;
}

void TPriorityPixelQueue::Clear() {
  std::free(FItems);
  FItems = nullptr;
  FCount = 0;
  FCapacity = 0;
}

// ---- TPointList ----------------------------------------------------------------------------

TPointList::~TPointList() { std::free(FItems); }

void TPointList::Grow() {
  // Growth is linear, 1024 entries a step, until a 32-bit count cannot grow further.
  if (FCapacity > MaxCount - 1024) throw EOutOfMemory("Point list capacity exhausted");
  const int32_t NewCapacity = FCapacity + 1024;
  FItems = Reallocate(FItems, NewCapacity);
  FCapacity = NewCapacity;
}

void TPointList::Assign(const TPointList* Source) {
  if (Source == this) return;
  PPointArray Items = nullptr;
  if (Source->FCapacity > 0) {
    Items = Reallocate<TPoint>(nullptr, Source->FCapacity);
    std::memcpy(Items, Source->FItems, static_cast<size_t>(Source->FCount) * sizeof(TPoint));
  }
  std::free(FItems);
  FItems = Items;
  FCapacity = Source->FCapacity;
  FCount = Source->FCount;
}

void TPointList::Clear() {
  std::free(FItems);
  FItems = nullptr;
  FCount = 0;
  FCapacity = 0;
}

// ---- TPointQueue ---------------------------------------------------------------------------

TPointQueue::~TPointQueue() {
  for (int32_t I = 0; I < FBlockCount; ++I) std::free(FBlocks[I]);
}

void TPointQueue::AddBlock() {
  // Positions are 32-bit: one more block must still be reachable by Tail.
  if (FBlockCount >= MaxCount / PointQueueBlockSize) throw EOutOfMemory("Point queue capacity exhausted");
  if (static_cast<int32_t>(FBlocks.size()) == FBlockCount)
    GuardAllocation([&] { FBlocks.resize(static_cast<size_t>(std::max(2 * FBlockCount, 16)), nullptr); });
  void* Block = std::malloc(sizeof(TPointQueueBlock));
  if (!Block) throw EOutOfMemory();
  FBlocks[FBlockCount] = static_cast<PPointQueueBlock>(Block);
  ++FBlockCount;
}

void TPointQueue::RotateBlocks() {
  // The emptied first block moves behind the others, where later additions reuse it.
  FHead = 0;
  FTail -= PointQueueBlockSize;
  std::rotate(FBlocks.begin(), FBlocks.begin() + 1, FBlocks.begin() + FBlockCount);
}

// ---- TPixelSorter --------------------------------------------------------------------------

void TPixelSorter::Sort(const TWordGrayscaleBitmap* Bitmap, int32_t LevelCount) {
  const int32_t Width = Bitmap->Width();
  const int32_t Height = Bitmap->Height();
  const int64_t PixelCount = static_cast<int64_t>(Width) * Height;
  if (PixelCount > MaxCount)
    throw EBitmapError("Bitmap size " + std::to_string(Width) + " x " + std::to_string(Height) +
                       " is too large to sort");
  FBitmap = Bitmap;
  FLevelCount = LevelCount;
  GuardAllocation([&] {
    FFirstPixel.assign(static_cast<size_t>(LevelCount), -1);
    FNextPixel.resize(static_cast<size_t>(PixelCount));
  });
  // Prepending in raster order leaves each level's list in reverse raster order.
  int32_t* First = FFirstPixel.data();
  int32_t* Next = FNextPixel.data();
  int32_t I = 0;
  for (int32_t Y = 0; Y < Height; ++Y) {
    const uint16_t* Row = Bitmap->Rows()[Y];
    for (int32_t X = 0; X < Width; ++X, ++I) {
      const uint16_t V = Row[X];
      Next[I] = First[V];
      First[V] = I;
    }
  }
}

// ---- TPixelIterator ------------------------------------------------------------------------

TPixelIterator::TPixelIterator(const TPixelSorter* Sorter)
    : FSorter(Sorter), FWidth(Sorter->Bitmap() ? Sorter->Bitmap()->Width() : 0) {
  Reset(0);
}

void TPixelIterator::Reset(int32_t StartLevel) {
  FCurrent = -1;
  FNextLevel = StartLevel;
  Advance();
}

// ---- TRegionList ---------------------------------------------------------------------------

int32_t TRegionList::AddRegion() {
  if (static_cast<int32_t>(FFirstConnections.size()) == FRegionCount) {
    const int32_t NewLength = DoubledLength(FRegionCount, 16384);
    GuardAllocation([&] { FFirstConnections.resize(static_cast<size_t>(NewLength)); });
  }
  FFirstConnections[FRegionCount] = -1;
  return FRegionCount++;
}

void TRegionList::AddConnection(int32_t FromRegion, int32_t ToRegion, int32_t Level) {
  if (static_cast<int32_t>(FConnections.size()) == FConnectionCount) {
    const int32_t NewLength = DoubledLength(FConnectionCount, 65536);
    GuardAllocation([&] { FConnections.resize(static_cast<size_t>(NewLength)); });
  }
  FConnections[FConnectionCount] = TRegionConnection{Level, ToRegion, FFirstConnections[FromRegion]};
  FFirstConnections[FromRegion] = FConnectionCount;
  ++FConnectionCount;
}

void TRegionList::Clear() {
  FRegionCount = 0;
  FConnectionCount = 0;
}

// ---- TProgressReporter ---------------------------------------------------------------------

bool TProgressReporter::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<IProgressReporter>(this, IID, Obj) || TOwnedLockedObject::GetInterface(IID, Obj);
}

void TProgressReporter::StartAction(float EndProgress, InterfacePtr<IProgressReporter> Reporter) {
  TLockGuard<TProgressReporter> Guard(*this);
  FActionStart = FActionEnd;
  FActionEnd = EndProgress;
  FPosition.store(0, std::memory_order_relaxed);
  FSubReporter = std::move(Reporter);
  // A cancel that arrived before this action reaches its sub-reporter at once.
  if (FCancelled.load(std::memory_order_relaxed) && FSubReporter) FSubReporter->Cancel();
}

void TProgressReporter::Finish() {
  TLockGuard<TProgressReporter> Guard(*this);
  FSubReporter = nullptr;
  FActionEnd = 0;
  FPosition.store(1.0f, std::memory_order_relaxed);
}

void TProgressReporter::Cancel() {
  TLockGuard<TProgressReporter> Guard(*this);
  FCancelled.store(true, std::memory_order_relaxed);
  if (FSubReporter) FSubReporter->Cancel();
}

float TProgressReporter::GetProgress() {
  TLockGuard<TProgressReporter> Guard(*this);
  const float P = FSubReporter ? FSubReporter->GetProgress() : FPosition.load(std::memory_order_relaxed);
  if (FActionEnd > 0) return FActionStart + (FActionEnd - FActionStart) * P;
  return P;
}

// ---- TIncrementalProgressReporter ----------------------------------------------------------

bool TIncrementalProgressReporter::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<IProgressReporter>(this, IID, Obj) || TOwnedObject::GetInterface(IID, Obj);
}

void TIncrementalProgressReporter::Cancel() { FCancelled.store(true, std::memory_order_relaxed); }

float TIncrementalProgressReporter::GetProgress() {
  const int32_t T = FTotal.load(std::memory_order_relaxed);
  if (T <= 0) return 0;
  return static_cast<float>(static_cast<long double>(FProcessed.load(std::memory_order_relaxed)) / T);
}

}  // namespace varnix
