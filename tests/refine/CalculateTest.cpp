#include "refine/Calculate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "RefineTestUtils.h"
#include "engine/Algorithms.h"

namespace varnix {
namespace {

using namespace std::chrono_literals;
using test::MakeMask;
using test::TFixedGradient;

// Waits (at most ten seconds) until Condition holds.
bool WaitUntil(const std::function<bool()>& Condition) {
  const auto End = std::chrono::steady_clock::now() + 10s;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > End) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A gate a fake stage waits at until the test opens it (or the stage is cancelled).
struct TGate {
  std::atomic<bool> Open{false};
  std::atomic<bool> Waiting{false};
  void Wait(const std::atomic<bool>& Cancelled) {
    Waiting = true;
    while (!Open && !Cancelled) std::this_thread::sleep_for(1ms);
  }
};

class TFakeManager : public TInterfacedObject, public ISelectionManager, public IProgressReporter {
 public:
  TFakeManager(int32_t W, int32_t H) : Gradient(NewObject<TFixedGradient>(W, H)) {}
  InterfacePtr<ICalculateSelection> CreateSelector() override { return nullptr; }
  void Initialize(TColorBitmap*) override {}
  InterfacePtr<ISelectionGradient> GetGradient() override { return Gradient; }
  void Preprocess() override {
    Progress = 0.5f;
    Gate.Wait(CancelRequested);
  }
  void Cancel() override { CancelRequested = true; }
  float GetProgress() override { return Progress; }

  InterfacePtr<ISelectionGradient> Gradient;
  TGate Gate;
  std::atomic<float> Progress{0};
  std::atomic<bool> CancelRequested{false};

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override {
    return FindInterface<ISelectionManager, IProgressReporter>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
  }
};

// Writes a given mask and boundary list; may wait at its gate, or throw.
class TFakeSelector : public TInterfacedObject, public ICalculateSelection, public IProgressReporter {
 public:
  explicit TFakeSelector(const TGrayscaleBitmap& AMask) : Mask(NewObject<TGrayscaleBitmap>()) { Mask->Assign(&AMask); }
  void CalculateSelection(TGrayscaleBitmap* Out) override {
    Progress = 0.5f;
    if (UseGate) Gate.Wait(CancelRequested);
    if (CancelRequested) std::this_thread::sleep_for(50ms);  // a stage that takes a while to stop
    if (Throw) Throw();
    Out->Assign(Mask.get());
    for (const TPoint& P : Boundary) Edges->Add(P);
    Progress = 1.0f;
    Finished = true;
  }
  void DefineMarker(TPoint, uint8_t) override {}
  void SetEdgePointList(TPointList* List) override { Edges = List; }
  void Cancel() override { CancelRequested = true; }
  float GetProgress() override { return Progress; }

  TOwned<TGrayscaleBitmap> Mask;
  std::vector<TPoint> Boundary;
  TPointList* Edges = nullptr;
  bool UseGate = false;
  std::function<void()> Throw;
  TGate Gate;
  std::atomic<float> Progress{0};
  std::atomic<bool> CancelRequested{false};
  std::atomic<bool> Finished{false};

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override {
    return FindInterface<ICalculateSelection, IProgressReporter>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
  }
};

struct TEdgeEntry {
  TPoint P;
  TPointSides Sides;
  friend bool operator==(const TEdgeEntry&, const TEdgeEntry&) = default;
};

std::vector<TEdgeEntry> EdgeEntries(const TPointList& L) {
  std::vector<TEdgeEntry> R;
  for (int32_t I = 0; I < L.Count(); ++I) R.push_back({L.GetPoint(I), L.GetSides(I)});
  return R;
}

TOwned<TCalculateThread> Start(InterfacePtr<ISelectionManager> Manager, InterfacePtr<ICalculateSelection> Selector,
                               TGaussianAntiAliasingMethod Method) {
  return TOwned<TCalculateThread>(NewObject<TCalculateThread>(std::move(Manager), std::move(Selector), Method));
}

TEST(CalculateThreadTest, PreprocessingReportsItsStatusUntilTheManagerIsDone) {
  TFakeManager* Manager = NewObject<TFakeManager>(4, 4);
  InterfacePtr<ISelectionManager> M(Manager);
  TOwned<TCalculateThread> T = Start(M, nullptr, gaNone);
  EXPECT_EQ(T->GetStatus(), csPreprocessing);
  ASSERT_TRUE(WaitUntil([&] { return Manager->Gate.Waiting.load(); }));
  EXPECT_EQ(T->GetStatus(), csPreprocessing);
  EXPECT_FLOAT_EQ(T->GetProgress(), 0.5f);
  Manager->Gate.Open = true;
  ASSERT_TRUE(WaitUntil([&] { return T->GetStatus() == csReady; }));
  EXPECT_FLOAT_EQ(T->GetProgress(), 1.0f);
  EXPECT_FALSE(T->Failed());
}

TEST(CalculateThreadTest, SelectorShareOfTheProgressDependsOnTheMethod) {
  struct {
    TGaussianAntiAliasingMethod Method;
    float WhileSelecting;
  } const Cases[] = {{gaNone, 0.5f}, {gaSharp, 0.5f}, {gaMedium, 0.35f}, {gaSoft, 0.35f}, {gaVerySoft, 0.35f}};
  auto Mask = MakeMask(30, 30, [](int32_t X, int32_t Y) { return X > 10 && Y > 10; });
  for (const auto& C : Cases) {
    SCOPED_TRACE(int(C.Method));
    InterfacePtr<ISelectionManager> M(NewObject<TFakeManager>(30, 30));
    TFakeSelector* Selector = NewObject<TFakeSelector>(*Mask);
    InterfacePtr<ICalculateSelection> S(Selector);
    Selector->UseGate = true;
    TOwned<TCalculateThread> T = Start(M, S, C.Method);
    EXPECT_EQ(T->GetStatus(), csSelecting);
    ASSERT_TRUE(WaitUntil([&] { return Selector->Gate.Waiting.load(); }));
    EXPECT_EQ(T->GetStatus(), csSelecting);
    EXPECT_FLOAT_EQ(T->GetProgress(), C.WhileSelecting);
    Selector->Gate.Open = true;
    ASSERT_TRUE(WaitUntil([&] { return T->GetStatus() == csReady; }));
    EXPECT_FLOAT_EQ(T->GetProgress(), 1.0f);
    EXPECT_EQ(T->Selection()->Width(), 30);
    EXPECT_GT(T->Edges()->Count(), 0);
  }
}

TEST(CalculateThreadTest, CancelDuringTheSelectionEndsReadyWithoutResults) {
  auto Mask = MakeMask(30, 30, [](int32_t X, int32_t) { return X > 10; });
  InterfacePtr<ISelectionManager> M(NewObject<TFakeManager>(30, 30));
  TFakeSelector* Selector = NewObject<TFakeSelector>(*Mask);
  InterfacePtr<ICalculateSelection> S(Selector);
  Selector->UseGate = true;
  TOwned<TCalculateThread> T = Start(M, S, gaSoft);
  ASSERT_TRUE(WaitUntil([&] { return Selector->Gate.Waiting.load(); }));
  T->Cancel();
  EXPECT_TRUE(Selector->CancelRequested);
  std::vector<TCalculateStatus> Seen;
  ASSERT_TRUE(WaitUntil([&] {
    Seen.push_back(T->GetStatus());
    return Seen.back() == csReady;
  }));
  for (TCalculateStatus St : Seen) EXPECT_NE(St, csAntiAliasing);
  EXPECT_EQ(T->Edges()->Count(), 0);
  EXPECT_EQ(T->Selection()->Width(), 0);
  EXPECT_EQ(T->Selection()->Height(), 0);
}

TEST(CalculateThreadTest, FreeingAfterCancelWaitsForTheRunToEnd) {
  auto Mask = MakeMask(10, 10, [](int32_t X, int32_t) { return X > 4; });
  InterfacePtr<ISelectionManager> M(NewObject<TFakeManager>(10, 10));
  TFakeSelector* Selector = NewObject<TFakeSelector>(*Mask);
  InterfacePtr<ICalculateSelection> S(Selector);
  Selector->UseGate = true;
  TOwned<TCalculateThread> T = Start(M, S, gaSharp);
  ASSERT_TRUE(WaitUntil([&] { return Selector->Gate.Waiting.load(); }));
  T->Cancel();
  T.reset();
  EXPECT_TRUE(Selector->Finished);
}

// Runs a selection whose hard mask is Mask and whose boundary list is Boundary, with a gradient
// of zeros (so the edge correction leaves every boundary pixel outside), and returns the outline.
std::vector<TEdgeEntry> OutlineOf(const TGrayscaleBitmap& Mask, std::vector<TPoint> Boundary) {
  InterfacePtr<ISelectionManager> M(NewObject<TFakeManager>(Mask.Width(), Mask.Height()));
  TFakeSelector* Selector = NewObject<TFakeSelector>(Mask);
  InterfacePtr<ICalculateSelection> S(Selector);
  Selector->Boundary = std::move(Boundary);
  TOwned<TCalculateThread> T = Start(M, S, gaSharp);
  EXPECT_TRUE(WaitUntil([&] { return T->GetStatus() == csReady; }));
  EXPECT_EQ(test::Bytes(*T->Selection()), test::Bytes(Mask));
  return EdgeEntries(*T->Edges());
}

TEST(CalculateThreadTest, OutlineOfAWholeDocumentSelectionRunsAlongTheBorder) {
  auto All = MakeMask(3, 2, [](int32_t, int32_t) { return true; });
  const std::vector<TEdgeEntry> Expected = {
      {{0, 0}, {psTop}}, {{0, 1}, {psBottom}}, {{1, 0}, {psTop}},  {{1, 1}, {psBottom}},
      {{2, 0}, {psTop}}, {{2, 1}, {psBottom}}, {{0, 0}, {psLeft}}, {{2, 0}, {psRight}},
      {{0, 1}, {psLeft}}, {{2, 1}, {psRight}}};
  EXPECT_EQ(OutlineOf(*All, {}), Expected);
}

TEST(CalculateThreadTest, OutlineListsAPixelOncePerBoundaryPoint) {
  auto Single = MakeMask(5, 5, [](int32_t X, int32_t Y) { return X == 2 && Y == 2; });
  const TEdgeEntry Entry{{2, 2}, {psLeft, psRight, psTop, psBottom}};
  EXPECT_EQ(OutlineOf(*Single, {{2, 1}, {1, 2}, {3, 2}, {2, 3}}), std::vector<TEdgeEntry>(4, Entry));
}

TEST(CalculateThreadTest, OutlineEntryWithOnlyADiagonalOutsideNeighbourHasNoSides) {
  auto Corner = MakeMask(4, 4, [](int32_t X, int32_t Y) { return X + Y > 0; });
  const std::vector<TEdgeEntry> Outline = OutlineOf(*Corner, {{0, 0}});
  ASSERT_GE(Outline.size(), 3u);
  EXPECT_EQ(Outline[0], (TEdgeEntry{{1, 0}, {psLeft}}));
  EXPECT_EQ(Outline[1], (TEdgeEntry{{0, 1}, {psTop}}));
  EXPECT_EQ(Outline[2], (TEdgeEntry{{1, 1}, {}}));
  // Then the border entries: three top, four bottom, three left, four right.
  EXPECT_EQ(Outline.size(), 3u + 3 + 4 + 3 + 4);
}

std::atomic<int> GHookCalls{0};
std::string GHookMessage;
void RecordingHook(Exception& E) {
  GHookMessage = E.Message();
  ++GHookCalls;
}

struct THookScope {
  THookScope() {
    GHookCalls = 0;
    SetCalculateExceptionHook(&RecordingHook);
  }
  ~THookScope() { SetCalculateExceptionHook(nullptr); }
};

TEST(CalculateThreadTest, AFailedRunIsFlaggedAndReportedOnce) {
  struct {
    const char* Name;
    std::function<void()> Throw;
    const char* Message;
  } const Cases[] = {
      {"engine exception", [] { throw Exception("region graph broken"); }, "region graph broken"},
      {"out of memory", [] { throw std::bad_alloc(); }, "Out of memory"},
      {"standard exception", [] { throw std::runtime_error("bad input"); }, "bad input"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    THookScope Hook;
    auto Mask = MakeMask(8, 8, [](int32_t X, int32_t) { return X > 3; });
    InterfacePtr<ISelectionManager> M(NewObject<TFakeManager>(8, 8));
    TFakeSelector* Selector = NewObject<TFakeSelector>(*Mask);
    InterfacePtr<ICalculateSelection> S(Selector);
    Selector->Throw = C.Throw;
    TOwned<TCalculateThread> T = Start(M, S, gaSoft);
    ASSERT_TRUE(WaitUntil([&] { return T->Failed(); }));
    EXPECT_EQ(GHookCalls, 1);
    EXPECT_EQ(GHookMessage, C.Message);
    EXPECT_EQ(T->ErrorMessage(), C.Message);
    EXPECT_EQ(T->GetStatus(), csSelecting);
    EXPECT_LE(T->GetProgress(), 0.7f);
  }
}

TEST(CalculateThreadTest, DefaultTraceWritesTwoLines) {
  testing::internal::CaptureStdout();
  Exception E("something failed");
  DefaultExceptionTrace(E);
  const std::string Out = testing::internal::GetCapturedStdout();
  EXPECT_THAT(Out, testing::MatchesRegex("EXCEPTION at address [0-9A-F]{8,16} with message:\nsomething failed\n"));
}

TEST(CalculateThreadTest, RealRunProgressStaysWithinEachPhase) {
  // A document with a disc, preprocessed and selected through the real engine; the status and
  // progress are sampled while the run goes on.
  TOwned<TColorBitmap> Doc(NewObject<TColorBitmap>());
  Doc->Resize(400, 300);
  for (int32_t Y = 0; Y < 300; ++Y)
    for (int32_t X = 0; X < 400; ++X) {
      const bool In = (X - 200) * (X - 200) + (Y - 150) * (Y - 150) < 90 * 90;
      Doc->SetPixel(X, Y, In ? TColorPixel{220, 180, 40, 255} : TColorPixel{30, 60, 120, 255});
    }
  InterfacePtr<ISelectionManager> M(NewObject<TSoilleRegionManager>());
  M->Initialize(Doc.get());
  {
    TOwned<TCalculateThread> Pre = Start(M, nullptr, gaNone);
    ASSERT_TRUE(WaitUntil([&] { return Pre->GetStatus() == csReady; }));
  }
  InterfacePtr<ICalculateSelection> S = M->CreateSelector();
  S->DefineMarker(TPoint{200, 150}, 255);
  S->DefineMarker(TPoint{10, 10}, 0);
  S->DefineMarker(TPoint{390, 290}, 0);
  TOwned<TCalculateThread> T = Start(M, S, gaVerySoft);
  float Last = 0;
  ASSERT_TRUE(WaitUntil([&] {
    const TCalculateStatus St = T->GetStatus();
    const float P = T->GetProgress();
    if (St == csSelecting) {
      EXPECT_LE(P, 0.7f);
    }
    if (St == csAntiAliasing) {
      EXPECT_GE(P, 0.7f - 1e-6f);
    }
    EXPECT_GE(P, Last - 1e-6f);
    Last = P;
    return St == csReady;
  }));
  EXPECT_FLOAT_EQ(T->GetProgress(), 1.0f);
  const TGrayscaleBitmap* Sel = T->Selection();
  ASSERT_EQ(Sel->Width(), 400);
  EXPECT_EQ(Sel->GetPixel(200, 150), 255);
  EXPECT_EQ(Sel->GetPixel(10, 10), 0);
  // The edge is soft: some pixels lie strictly between.
  int32_t Partial = 0;
  for (int32_t X = 0; X < 400; ++X) Partial += Sel->GetPixel(X, 150) > 0 && Sel->GetPixel(X, 150) < 255;
  EXPECT_GT(Partial, 0);
}

}  // namespace
}  // namespace varnix
