// Threads, events, locked objects, owner-managed interface objects, change notification and an
// interval timer: the base classes on which the engine's background work and shared state rest.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "common/Objects.h"

namespace varnix {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Platform priority level per TThreadPriority.
inline constexpr int32_t Priorities[7] = {-15, -2, -1, 0, 1, 2, 15};

// The first priority whose level is Level, searching from tpIdle; tpNormal when none matches.
TThreadPriority PriorityFromLevel(int32_t Level);

enum TCommonEventType { etManualReset, etAutoReset };
enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// An event object, manual- or auto-reset, initially not signalled. Thread-safe.
class TCommonEvent : public TObject {
 public:
  static constexpr uint32_t INFINITE = 0xFFFFFFFFu;

  explicit TCommonEvent(TCommonEventType EventType);

  void SetEvent();
  void ResetEvent();
  // Waits until the event is signalled, at most Timeout milliseconds (INFINITE: no limit). An
  // auto-reset event is reset by the wait that it releases.
  TWaitResult WaitFor(uint32_t Timeout);
  // Waits without a time limit.
  TWaitResult WaitFor() { return WaitFor(INFINITE); }

 private:
  const bool FManualReset;
  bool FSignaled = false;
  std::mutex FMutex;
  std::condition_variable FCondition;
};

// A worker thread with a start gate. The platform thread starts in the constructor and waits on
// the gate until Resume opens it; create threads with NewObject<T>(...) so that AfterConstruction
// opens the gate (when not created suspended) only after the most derived constructor returned.
//
// The owner frees the object with Free (or TOwned<>), never with a bare delete: freeing a started
// thread that has not finished calls Terminate and waits for it in BeforeDestruction, while the
// derived parts of the object still exist. Freeing a thread that was never started lets its
// worker end without running Execute.
class TCommonThread : public TObject {
 public:
  explicit TCommonThread(bool CreateSuspended);
  ~TCommonThread() override;

  void AfterConstruction() override;
  void BeforeDestruction() override;

  // Opens the start gate (decrements SuspendCount).
  void Resume();
  // Increments SuspendCount; a started thread keeps running (POSIX threads cannot be suspended).
  void Suspend();
  // A cooperative stop request that Execute may poll through Terminated().
  virtual void Terminate();
  // Waits without a time limit until the thread has ended; returns its exit code.
  uint32_t WaitFor();

  TThreadPriority GetPriority() const;
  void SetPriority(TThreadPriority Priority);

  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
  bool Finished() const { return FFinished.load(std::memory_order_acquire); }
  int32_t SuspendCount() const { return FSuspendCount; }
  std::thread::id ThreadID() const { return FThreadID; }

  bool FreeOnTerminate = false;
  int32_t ReturnValue = 0;

 protected:
  // The work of the thread.
  virtual void Execute() = 0;
  // Receives an Exception that escaped Execute; the base ignores it.
  virtual void HandleException(Exception& E);

 private:
  static int32_t ThreadProc(TCommonThread* Thread);

  const bool FCreateSuspended;
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FTerminated{false};
  // Set by the destructor of a never-started thread: the worker leaves without running Execute.
  std::atomic<bool> FAbandoned{false};
  std::atomic<int32_t> FExitCode{0};
  int32_t FSuspendCount = 1;
  bool FStarted = false;  // the gate has been opened (owner thread only)
  TCommonEvent FStartEvent{etManualReset};
  std::thread FHandle;
  std::thread::id FThreadID;
};

// An interface object with reference counting switched off: _AddRef and _Release answer -1 and
// the creator frees the object explicitly, after every interface reference to it is gone.
class TOwnedObject : public TInterfaceBase {
 public:
  int32_t _AddRef() override { return -1; }
  int32_t _Release() override { return -1; }
};

// Change notification with nested update brackets. Not thread-safe.
class TUpdatedObject : public TOwnedObject {
 public:
  void BeginUpdate();
  void EndUpdate();
  // Called by derived classes after each modification.
  void ProcessChange();

  TNotifyEvent OnChange;
  int32_t UpdateCount() const { return FUpdateCount; }

 protected:
  // Calls OnChange with this object as sender.
  virtual void Change();

 private:
  bool FInChange = false;
  bool FChangePending = false;
  int32_t FUpdateCount = 0;
};

// An object with one re-entrant critical section.
class TLockedObject : public TObject {
 public:
  void Lock() { FSection.lock(); }
  void Unlock() { FSection.unlock(); }

 private:
  std::recursive_mutex FSection;
};

// A reference-counted interface object with one re-entrant critical section.
class TInterfacedLockedObject : public TInterfacedObject {
 public:
  void Lock() { FSection.lock(); }
  void Unlock() { FSection.unlock(); }

 private:
  std::recursive_mutex FSection;
};

// An owner-managed interface object with one re-entrant critical section.
class TOwnedLockedObject : public TOwnedObject {
 public:
  void Lock() { FSection.lock(); }
  void Unlock() { FSection.unlock(); }

 private:
  std::recursive_mutex FSection;
};

// Holds a lock of any of the locked classes for a scope.
template <class T>
class TLockGuard {
 public:
  explicit TLockGuard(T& Obj) : FObj(Obj) { FObj.Lock(); }
  ~TLockGuard() { FObj.Unlock(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  T& FObj;
};

// Milliseconds on a monotonic clock, wrapping after 2^32 ms. Not thread-safe.
class TIntervalTimer : public TObject {
 public:
  TIntervalTimer() { Start(); }

  void Start() { FStartTime = GetTime(); }
  // Milliseconds since Start.
  uint32_t GetInterval() const { return Difference(GetTime(), FStartTime); }
  // The low 32 bits of the milliseconds since an arbitrary fixed origin.
  static uint32_t GetTime();
  // A − B in 32-bit unsigned arithmetic, so one wrap of the counter is harmless.
  static constexpr uint32_t Difference(uint32_t A, uint32_t B) { return A - B; }
  uint32_t StartTime() const { return FStartTime; }

 private:
  uint32_t FStartTime = 0;
};

}  // namespace varnix
