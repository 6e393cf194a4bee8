#include "engine/ParallelLoops.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "common/Objects.h"

namespace varnix {

namespace {

std::atomic<int32_t> GThreadCount{0};

int32_t DefaultThreadCount() {
  const unsigned Hardware = std::thread::hardware_concurrency();
  return static_cast<int32_t>(std::clamp<unsigned>(Hardware, 1, MaxEngineThreads));
}

// Runs Work(Worker) on Workers workers (the caller being worker 0) and rethrows the first
// exception in worker order once all have finished.
void RunWorkers(int32_t Workers, const std::function<void(int32_t)>& Work) {
  if (Workers <= 1) {
    Work(0);
    return;
  }
  std::vector<std::exception_ptr> Errors(static_cast<size_t>(Workers));
  std::vector<std::thread> Threads;
  Threads.reserve(static_cast<size_t>(Workers - 1));
  auto Guarded = [&](int32_t Worker) {
    try {
      Work(Worker);
    } catch (...) {
      Errors[static_cast<size_t>(Worker)] = std::current_exception();
    }
  };
  try {
    for (int32_t W = 1; W < Workers; ++W) Threads.emplace_back(Guarded, W);
  } catch (const std::system_error&) {
    // No more threads to be had: the workers already started and this one share the work.
  }
  Guarded(0);
  // Shares of workers that could not be started run here, after our own.
  for (int32_t W = static_cast<int32_t>(Threads.size()) + 1; W < Workers; ++W) Guarded(W);
  for (std::thread& T : Threads) T.join();
  for (const std::exception_ptr& E : Errors)
    if (E) std::rethrow_exception(E);
}

}  // namespace

int32_t EngineThreadCount() {
  const int32_t Count = GThreadCount.load(std::memory_order_relaxed);
  return Count > 0 ? Count : DefaultThreadCount();
}

void SetEngineThreadCount(int32_t Count) {
  GThreadCount.store(std::clamp<int32_t>(Count, 0, MaxEngineThreads), std::memory_order_relaxed);
}

void ParallelSlices(int32_t Count, int32_t MinSlice,
                    const std::function<void(int32_t Worker, int32_t Begin, int32_t End)>& Body) {
  if (Count <= 0) return;
  int32_t Workers = EngineThreadCount();
  if (MinSlice > 1) Workers = std::min<int32_t>(Workers, std::max<int32_t>(1, Count / MinSlice));
  Workers = std::min(Workers, Count);
  RunWorkers(Workers, [&](int32_t Worker) {
    const int32_t Begin = static_cast<int32_t>(static_cast<int64_t>(Count) * Worker / Workers);
    const int32_t End = static_cast<int32_t>(static_cast<int64_t>(Count) * (Worker + 1) / Workers);
    if (Begin < End) Body(Worker, Begin, End);
  });
}

void ParallelIndices(int32_t Count, const std::function<bool(int32_t Worker, int32_t Index)>& Body) {
  if (Count <= 0) return;
  const int32_t Workers = std::min(EngineThreadCount(), Count);
  std::atomic<int32_t> Next{0};
  std::atomic<bool> Stop{false};
  RunWorkers(Workers, [&](int32_t Worker) {
    while (!Stop.load(std::memory_order_relaxed)) {
      const int32_t Index = Next.fetch_add(1, std::memory_order_relaxed);
      if (Index >= Count) break;
      bool Continue = false;
      try {
        Continue = Body(Worker, Index);
      } catch (...) {
        Stop.store(true, std::memory_order_relaxed);
        throw;
      }
      if (!Continue) Stop.store(true, std::memory_order_relaxed);
    }
  });
}

}  // namespace varnix
