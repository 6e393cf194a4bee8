// Splitting independent passes of the engine between the machine's cores.
//
// Only passes whose result cannot depend on how they are split use these helpers: every pixel,
// row or column is computed by exactly the same sequence of operations whichever worker runs it,
// and results that are concatenated (edge lists) are joined in index order. A serial run
// (SetEngineThreadCount(1)) and a parallel run therefore give the same bytes.
//
// The workers are plain threads started per call and joined before the call returns; the calling
// thread is worker 0. An exception thrown by the body in any worker is rethrown in the caller
// after every worker has stopped (the lowest-numbered worker's exception wins).
#pragma once

#include <cstdint>
#include <functional>

namespace varnix {

// The most workers a pass ever uses; per-worker arrays of this size are always large enough.
inline constexpr int32_t MaxEngineThreads = 16;

// How many workers a parallel pass may use: the value set with SetEngineThreadCount, or, by
// default, the number of hardware threads; 1 ... MaxEngineThreads.
int32_t EngineThreadCount();
// Count <= 0 restores the default; larger counts than MaxEngineThreads are cut to it. Affects
// passes started afterwards.
void SetEngineThreadCount(int32_t Count);

// Calls Body(Worker, Begin, End) on consecutive slices [Begin, End) of [0, Count), one slice per
// worker (Worker < MaxEngineThreads), slice k before slice k + 1 in index order. Fewer workers are used when a slice would
// hold fewer than MinSlice items; Count <= 0 calls nothing.
void ParallelSlices(int32_t Count, int32_t MinSlice,
                    const std::function<void(int32_t Worker, int32_t Begin, int32_t End)>& Body);

// Calls Body(Worker, Index) once for every Index of [0, Count) (Worker < MaxEngineThreads); the
// workers take the next index
// from a shared counter, so uneven items balance. A body that returns false stops every worker
// from taking further indices (used for cancellation).
void ParallelIndices(int32_t Count, const std::function<bool(int32_t Worker, int32_t Index)>& Body);

}  // namespace varnix
