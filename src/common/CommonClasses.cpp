#include "common/CommonClasses.h"

#include <chrono>

namespace varnix {

TThreadPriority PriorityFromLevel(int32_t Level) {
  for (int P = tpIdle; P <= tpTimeCritical; ++P)
    if (Priorities[P] == Level) return static_cast<TThreadPriority>(P);
  return tpNormal;
}

// --- TCommonEvent ---

TCommonEvent::TCommonEvent(TCommonEventType EventType) : FManualReset(EventType == etManualReset) {}

void TCommonEvent::SetEvent() {
  // Notify while holding the mutex: a released waiter may free the event (a thread that frees
  // itself on termination does) as soon as it can take the mutex.
  std::lock_guard<std::mutex> Guard(FMutex);
  FSignaled = true;
  if (FManualReset)
    FCondition.notify_all();
  else
    FCondition.notify_one();
}

void TCommonEvent::ResetEvent() {
  std::lock_guard<std::mutex> Guard(FMutex);
  FSignaled = false;
}

TWaitResult TCommonEvent::WaitFor(uint32_t Timeout) {
  std::unique_lock<std::mutex> Guard(FMutex);
  if (Timeout == INFINITE) {
    FCondition.wait(Guard, [this] { return FSignaled; });
  } else if (!FCondition.wait_for(Guard, std::chrono::milliseconds(Timeout), [this] { return FSignaled; })) {
    return wrTimeout;
  }
  if (!FManualReset) FSignaled = false;
  return wrSignaled;
}

// --- TCommonThread ---

TCommonThread::TCommonThread(bool CreateSuspended) : FCreateSuspended(CreateSuspended) {
  FHandle = GuardAllocation([this] { return std::thread(&TCommonThread::ThreadProc, this); });
  FThreadID = FHandle.get_id();
}

void TCommonThread::BeforeDestruction() {
  TObject::BeforeDestruction();
  if (std::this_thread::get_id() == FThreadID) return;  // FreeOnTerminate: the worker frees itself
  if (!Finished() && FStarted) {
    // Also after Resume followed by Suspend: a started worker cannot be stopped, so it is waited for.
    Terminate();
    WaitFor();
  } else if (!Finished()) {
    // Never started: the worker still waits on the gate. Let it leave without running Execute.
    FAbandoned.store(true, std::memory_order_release);
    FStartEvent.SetEvent();
  }
  if (FHandle.joinable()) FHandle.join();
}

TCommonThread::~TCommonThread() {
  if (std::this_thread::get_id() == FThreadID) {
    FHandle.detach();
    return;
  }
  // Freed with a bare delete: the worker must still not outlive the object.
  if (!Finished() && !FStarted) {
    FAbandoned.store(true, std::memory_order_release);
    FStartEvent.SetEvent();
  }
  if (FHandle.joinable()) FHandle.join();
}

void TCommonThread::AfterConstruction() {
  TObject::AfterConstruction();
  if (!FCreateSuspended) Resume();
}

void TCommonThread::Resume() {
  --FSuspendCount;
  // POSIX threads have no resume request; opening the gate is what starts the work.
  FStarted = true;
  FStartEvent.SetEvent();
}

void TCommonThread::Suspend() { ++FSuspendCount; }

void TCommonThread::Terminate() { FTerminated.store(true, std::memory_order_release); }

uint32_t TCommonThread::WaitFor() {
  if (FHandle.joinable() && std::this_thread::get_id() != FThreadID) FHandle.join();
  return static_cast<uint32_t>(FExitCode.load(std::memory_order_acquire));
}

TThreadPriority TCommonThread::GetPriority() const {
  // POSIX threads of the default scheduling policy report level 0 whatever was requested.
  return PriorityFromLevel(0);
}

void TCommonThread::SetPriority(TThreadPriority Priority) {
  // The request has no effect with the default POSIX scheduling policy; failures are ignored.
  (void)Priorities[Priority];
}

void TCommonThread::HandleException(Exception&) {}

int32_t TCommonThread::ThreadProc(TCommonThread* Thread) {
  Thread->FStartEvent.WaitFor();
  if (Thread->FAbandoned.load(std::memory_order_acquire)) return 0;
  try {
    Thread->Execute();
  } catch (Exception& E) {
    Thread->HandleException(E);
  }
  const bool FreeThread = Thread->FreeOnTerminate;
  const int32_t Result = Thread->ReturnValue;
  Thread->FExitCode.store(Result, std::memory_order_relaxed);
  // After this store the worker no longer touches the object: the owner may free it at once.
  Thread->FFinished.store(true, std::memory_order_release);
  if (FreeThread) Free(Thread);
  return Result;
}

// --- TUpdatedObject ---

void TUpdatedObject::BeginUpdate() { ++FUpdateCount; }

void TUpdatedObject::EndUpdate() {
  if (FUpdateCount <= 0) return;
  --FUpdateCount;
  if (FUpdateCount == 0 && FChangePending) {
    FChangePending = false;
    ProcessChange();
  }
}

void TUpdatedObject::ProcessChange() {
  if (FUpdateCount != 0) {
    FChangePending = true;
    return;
  }
  // A change made by a change handler is dropped, not queued.
  if (FInChange) return;
  FInChange = true;
  try {
    Change();
  } catch (...) {
    FInChange = false;
    throw;
  }
  FInChange = false;
}

void TUpdatedObject::Change() {
  if (OnChange) OnChange(this);
}

// --- TIntervalTimer ---

uint32_t TIntervalTimer::GetTime() {
  const auto Micro =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
  return static_cast<uint32_t>(static_cast<uint64_t>(Micro) / 1000u);
}

}  // namespace varnix
