#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/CoreClasses.h"

namespace varnix {
namespace {

// A reference-counted sub-reporter with a fixed progress that records cancellation and its end.
class TFixedReporter : public TInterfacedObject, public IProgressReporter {
 public:
  TFixedReporter(float Progress, bool* Destroyed = nullptr) : FProgress(Progress), FDestroyed(Destroyed) {}
  ~TFixedReporter() override {
    if (FDestroyed) *FDestroyed = true;
  }
  void Cancel() override { Cancelled.store(true); }
  float GetProgress() override { return FProgress; }
  std::atomic<bool> Cancelled{false};

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override {
    return FindInterface<IProgressReporter>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
  }

 private:
  float FProgress;
  bool* FDestroyed;
};

TEST(ProgressReporter, ActionsScaleTheirSubProgressIntoConsecutiveRanges) {
  TProgressReporter P;
  EXPECT_EQ(P.GetProgress(), 0.0f);
  InterfacePtr<IProgressReporter> Half(new TFixedReporter(0.5f));
  P.StartAction(0.6f, Half);
  EXPECT_FLOAT_EQ(P.GetProgress(), 0.3f);
  P.StartAction(1.0f, nullptr);
  EXPECT_FLOAT_EQ(P.GetProgress(), 0.6f) << "a new action starts at its position 0";
  P.Report(0.25f);
  EXPECT_FLOAT_EQ(P.GetProgress(), 0.7f);
  P.Finish();
  EXPECT_EQ(P.GetProgress(), 1.0f);
  // The first action after Finish starts at 0 again.
  P.StartAction(0.5f, nullptr);
  P.Report(0.5f);
  EXPECT_FLOAT_EQ(P.GetProgress(), 0.25f);
  // Without an action end, Report gives the value itself.
  TProgressReporter Plain;
  Plain.Report(0.4f);
  EXPECT_FLOAT_EQ(Plain.GetProgress(), 0.4f);
}

TEST(ProgressReporter, NestedChainReportsThroughEveryLevel) {
  // Owner-managed reporters: each child outlives the parent that still refers to it.
  TIncrementalProgressReporter Watershed;
  TProgressReporter Manager, Thread;
  Thread.StartAction(1.0f, &Manager);
  Manager.StartAction(0.6f, nullptr);
  Manager.Report(0.5f);
  EXPECT_FLOAT_EQ(Thread.GetProgress(), 0.3f);
  Manager.StartAction(1.0f, &Watershed);
  Watershed.Start(200);
  Watershed.Process(100);
  EXPECT_FLOAT_EQ(Thread.GetProgress(), 0.8f);
  Manager.Finish();
  EXPECT_EQ(Thread.GetProgress(), 1.0f);
}

TEST(ProgressReporter, CancelReachesTheCurrentAndEveryLaterSubReporter) {
  TProgressReporter P;
  InterfacePtr<TFixedReporter> First(new TFixedReporter(0));
  P.StartAction(0.5f, First.Get());
  EXPECT_FALSE(P.Cancelled());
  P.Cancel();
  EXPECT_TRUE(P.Cancelled());
  EXPECT_TRUE(First->Cancelled.load());

  InterfacePtr<TFixedReporter> Later(new TFixedReporter(0));
  P.StartAction(1.0f, Later.Get());
  EXPECT_TRUE(Later->Cancelled.load()) << "a cancelled reporter cancels each new sub-reporter at once";
  P.Finish();
  EXPECT_TRUE(P.Cancelled()) << "sticky";

  // Down a chain of reporters: the thread cancels the manager, which cancels the watershed.
  TIncrementalProgressReporter Watershed;
  TProgressReporter Manager, Thread;
  Thread.StartAction(1.0f, &Manager);
  Manager.StartAction(1.0f, &Watershed);
  Watershed.Start(10);
  Thread.Cancel();
  EXPECT_TRUE(Manager.Cancelled());
  EXPECT_TRUE(Watershed.Cancelled());
}

TEST(ProgressReporter, HoldsACountedSubReporterUntilTheNextActionOrFinish) {
  TProgressReporter P;
  bool FirstGone = false, SecondGone = false;
  P.StartAction(0.5f, new TFixedReporter(0.5f, &FirstGone));
  EXPECT_FALSE(FirstGone);
  EXPECT_FLOAT_EQ(P.GetProgress(), 0.25f);
  P.StartAction(1.0f, new TFixedReporter(1.0f, &SecondGone));
  EXPECT_TRUE(FirstGone);
  EXPECT_FALSE(SecondGone);
  P.Finish();
  EXPECT_TRUE(SecondGone);
}

TEST(IncrementalProgressReporter, CountsAgainstTheTotalAndStartClearsCancel) {
  TIncrementalProgressReporter R;
  EXPECT_EQ(R.GetProgress(), 0.0f);
  R.Start(0);
  R.Process(5);
  EXPECT_EQ(R.GetProgress(), 0.0f) << "no total, no progress";
  R.Start(200);
  R.Process(50);
  EXPECT_FLOAT_EQ(R.GetProgress(), 0.25f);
  R.Process(150);
  EXPECT_EQ(R.GetProgress(), 1.0f);
  R.Cancel();
  EXPECT_TRUE(R.Cancelled());
  R.Start(10);
  EXPECT_FALSE(R.Cancelled()) << "a cancel before the run is dropped";
  EXPECT_EQ(R.Processed(), 0);
  EXPECT_EQ(R.Total(), 10);
  // Reached through the interface, as the owners query it.
  InterfacePtr<IProgressReporter> Intf = As<IProgressReporter>(static_cast<IUnknown*>(&R));
  Intf->Cancel();
  EXPECT_TRUE(R.Cancelled());
}

// The UI thread polls GetProgress while the worker starts and finishes actions. Each consistent
// state gives one of four values; a read that mixed the fields of two actions would give another.
TEST(ProgressReporter, GetProgressFromAnotherThreadSeesWholeActions) {
  TProgressReporter P;
  InterfacePtr<IProgressReporter> A(new TFixedReporter(0.5f));
  InterfacePtr<IProgressReporter> B(new TFixedReporter(0.25f));
  std::atomic<bool> Stop{false};
  std::atomic<int> Reads{0};
  std::atomic<int> Mixed{0};
  std::thread Reader([&] {
    while (!Stop.load()) {
      const float V = P.GetProgress();
      // 0 before the first action, 0.25 in (0, 0.5, A), 0.625 in (0.5, 1, B), 1 after Finish.
      if (V != 0.0f && V != 0.25f && V != 0.625f && V != 1.0f) Mixed.fetch_add(1);
      Reads.fetch_add(1);
    }
  });
  for (int I = 0; I < 20000 || Reads.load() < 1000; ++I) {
    P.StartAction(0.5f, A);
    P.StartAction(1.0f, B);
    P.Finish();
  }
  // Cancelling from the other side while the worker keeps starting actions.
  std::thread Canceller([&] { P.Cancel(); });
  for (int I = 0; I < 1000; ++I) {
    P.StartAction(0.5f, A);
    P.Finish();
  }
  Canceller.join();
  Stop.store(true);
  Reader.join();
  EXPECT_EQ(Mixed.load(), 0);
  EXPECT_GT(Reads.load(), 0);
  EXPECT_TRUE(P.Cancelled());
}

}  // namespace
}  // namespace varnix
