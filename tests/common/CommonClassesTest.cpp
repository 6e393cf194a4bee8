#include "common/CommonClasses.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace varnix {
namespace {

// Records whether Execute saw the derived constructor's work.
class TProbeThread : public TCommonThread {
 public:
  TProbeThread(bool Suspended, std::atomic<int>* Runs) : TCommonThread(Suspended), FRuns(Runs) {
    // Give a worker that started too early every chance to run before construction ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    FConstructed.store(true);
  }
  std::atomic<bool> SawConstructed{false};

 protected:
  void Execute() override {
    SawConstructed.store(FConstructed.load());
    FRuns->fetch_add(1);
  }

 private:
  std::atomic<int>* FRuns;
  std::atomic<bool> FConstructed{false};
};

TEST(CommonThread, StartsOnlyAfterTheMostDerivedConstructor) {
  std::atomic<int> Runs{0};
  TProbeThread* T = NewObject<TProbeThread>(false, &Runs);
  T->WaitFor();
  EXPECT_EQ(Runs.load(), 1);
  EXPECT_TRUE(T->SawConstructed.load());
  EXPECT_TRUE(T->Finished());
  Free(T);
}

TEST(CommonThread, SuspendedThreadWaitsForResume) {
  std::atomic<int> Runs{0};
  TProbeThread* T = NewObject<TProbeThread>(true, &Runs);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(Runs.load(), 0);
  EXPECT_EQ(T->SuspendCount(), 1);
  T->Resume();
  T->WaitFor();
  EXPECT_EQ(Runs.load(), 1);
  Free(T);
}

TEST(CommonThread, FreeingANeverStartedThreadDoesNotRunExecute) {
  std::atomic<int> Runs{0};
  Free(NewObject<TProbeThread>(true, &Runs));
  EXPECT_EQ(Runs.load(), 0);
}

class TLoopThread : public TCommonThread {
 public:
  TLoopThread() : TCommonThread(false) {}

 protected:
  void Execute() override {
    while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
};

TEST(CommonThread, FreeingARunningThreadTerminatesAndWaits) {
  TLoopThread* T = NewObject<TLoopThread>();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(T->Finished());
  Free(T);  // would hang if Terminate were not called
}

class TRaisingThread : public TCommonThread {
 public:
  explicit TRaisingThread(bool Handle) : TCommonThread(false), FHandle(Handle) {}
  std::string Seen;

 protected:
  void Execute() override { throw Exception("failed in Execute"); }
  void HandleException(Exception& E) override {
    if (FHandle) Seen = E.Message();
  }

 private:
  bool FHandle;
};

TEST(CommonThread, ExceptionInExecuteReachesHandleExceptionAndFinishes) {
  for (bool Handle : {true, false}) {
    SCOPED_TRACE(Handle ? "overridden handler" : "ignoring handler");
    TRaisingThread* T = NewObject<TRaisingThread>(Handle);
    EXPECT_EQ(T->WaitFor(), 0u);
    EXPECT_TRUE(T->Finished());
    EXPECT_EQ(T->Seen, Handle ? "failed in Execute" : "");
    Free(T);
  }
}

TEST(CommonThread, FreeOnTerminateFreesItself) {
  static std::atomic<bool> Destroyed;
  Destroyed = false;
  class TSelfFreeing : public TCommonThread {
   public:
    TSelfFreeing() : TCommonThread(true) { FreeOnTerminate = true; }
    ~TSelfFreeing() override { Destroyed = true; }

   protected:
    void Execute() override {}
  };
  NewObject<TSelfFreeing>()->Resume();
  for (int i = 0; i < 2000 && !Destroyed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(Destroyed);
}

TEST(CommonThread, PriorityMapping) {
  std::atomic<int> Runs{0};
  TProbeThread* T = NewObject<TProbeThread>(false, &Runs);
  T->SetPriority(tpLower);
  EXPECT_EQ(T->GetPriority(), tpNormal) << "POSIX threads report level 0";
  Free(T);
  EXPECT_EQ(PriorityFromLevel(-15), tpIdle);
  EXPECT_EQ(PriorityFromLevel(-1), tpLower);
  EXPECT_EQ(PriorityFromLevel(15), tpTimeCritical);
  EXPECT_EQ(PriorityFromLevel(7), tpNormal);
}

TEST(CommonEvent, ManualStaysOpenAutoResetsOnWait) {
  TCommonEvent Manual(etManualReset), Auto(etAutoReset);
  EXPECT_EQ(Manual.WaitFor(0), wrTimeout);
  Manual.SetEvent();
  EXPECT_EQ(Manual.WaitFor(0), wrSignaled);
  EXPECT_EQ(Manual.WaitFor(0), wrSignaled);
  Manual.ResetEvent();
  EXPECT_EQ(Manual.WaitFor(0), wrTimeout);
  Auto.SetEvent();
  EXPECT_EQ(Auto.WaitFor(0), wrSignaled);
  EXPECT_EQ(Auto.WaitFor(0), wrTimeout);
}

class TCountingUpdated : public TUpdatedObject {
 public:
  int Changes = 0;
  void Modify() { ProcessChange(); }

 protected:
  void Change() override {
    ++Changes;
    TUpdatedObject::Change();
  }
};

TEST(UpdatedObject, NestedBracketsFoldIntoOneChange) {
  TCountingUpdated U;
  for (int i = 0; i < 3; ++i) U.BeginUpdate();
  for (int i = 0; i < 5; ++i) U.Modify();
  U.EndUpdate();
  U.EndUpdate();
  EXPECT_EQ(U.Changes, 0);
  U.EndUpdate();
  EXPECT_EQ(U.Changes, 1);
  U.EndUpdate();  // unmatched: ignored
  EXPECT_EQ(U.UpdateCount(), 0);
  EXPECT_EQ(U.Changes, 1);
}

TEST(UpdatedObject, ChangeFromHandlerIsDroppedAndExceptionClearsInChange) {
  TCountingUpdated U;
  int Calls = 0;
  U.OnChange = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &U);
    ++Calls;
    U.Modify();
  };
  U.Modify();
  EXPECT_EQ(Calls, 1);
  U.OnChange = [&](TObject*) { throw Exception("handler failed"); };
  EXPECT_THROW(U.Modify(), Exception);
  U.OnChange = [&](TObject*) { ++Calls; };
  U.Modify();
  EXPECT_EQ(Calls, 2) << "InChange was cleared by the exception";
}

TEST(LockedObject, SameThreadLocksTwiceAndOthersWait) {
  TLockedObject L;
  L.Lock();
  L.Lock();
  std::atomic<bool> Entered{false};
  std::thread Other([&] {
    L.Lock();
    Entered = true;
    L.Unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  L.Unlock();
  EXPECT_FALSE(Entered.load()) << "one Unlock must not release a twice-locked section";
  L.Unlock();
  Other.join();
  EXPECT_TRUE(Entered.load());
  TOwnedLockedObject O;
  EXPECT_EQ(O._AddRef(), -1);
  O.Lock();
  O.Lock();
  O.Unlock();
  O.Unlock();
}

TEST(IntervalTimer, DifferenceSurvivesWrapAround) {
  EXPECT_EQ(TIntervalTimer::Difference(5, 4294967291u), 10u);
  EXPECT_EQ(TIntervalTimer::Difference(100, 40), 60u);
  TIntervalTimer T;
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  const uint32_t I = T.GetInterval();
  EXPECT_GE(I, 15u);
  EXPECT_LT(I, 60000u);
}

}  // namespace
}  // namespace varnix
