#include "engine/Algorithms.h"

#include <gtest/gtest.h>

#include <vector>

#include "EngineTestUtils.h"
#include "engine/Gradient.h"

namespace varnix {
namespace {

using test::TThreadCountScope;

struct TRun {
  std::vector<uint8_t> Mask;
  std::vector<TPoint> Edges;
};

TRun Select(ISelectionManager& Manager, const std::vector<std::pair<TPoint, uint8_t>>& Markers) {
  InterfacePtr<ICalculateSelection> Selector = Manager.CreateSelector();
  for (const auto& M : Markers) Selector->DefineMarker(M.first, M.second);
  TOwned<TPointList> Edges(NewObject<TPointList>());
  TOwned<TGrayscaleBitmap> Mask(NewObject<TGrayscaleBitmap>());
  Selector->SetEdgePointList(Edges.get());
  Selector->CalculateSelection(Mask.get());
  return TRun{test::Bytes(*Mask), test::Points(*Edges)};
}

const std::vector<std::pair<TPoint, uint8_t>> DiscMarkers = {
    {{60, 50}, 255}, {{64, 52}, 255}, {{5, 5}, 0}, {{115, 95}, 0}, {{5, 95}, 0},
    // Two markers of both kinds a pixel apart, most likely inside one region: the split path.
    {{30, 50}, 255}, {{31, 50}, 0}};

TEST(SoilleRegionManagerTest, InitializeCreatesTheGradientWithoutComputingIt) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(20, 10, 1);
  InterfacePtr<ISelectionManager> Manager(NewObject<TSoilleRegionManager>());
  Manager->Initialize(Doc.get());
  InterfacePtr<ISelectionGradient> G = Manager->GetGradient();
  ASSERT_TRUE(G);
  EXPECT_EQ(static_cast<TSelectionGradient*>(G.Get())->CalculationCount(), 0);
  EXPECT_EQ(G->GetGradient()->Width(), 20);
}

TEST(SoilleRegionManagerTest, PreprocessBuildsRegionsForEveryPixel) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(120, 100, 2);
  TSoilleRegionManager* Regions = NewObject<TSoilleRegionManager>();
  InterfacePtr<ISelectionManager> Manager(Regions);
  Manager->Initialize(Doc.get());
  Manager->Preprocess();
  EXPECT_FLOAT_EQ(Regions->GetProgress(), 1.0f);
  const TIntegerGrayscaleBitmap* Bitmap = Regions->RegionBitmap();
  ASSERT_EQ(Bitmap->Width(), 120);
  ASSERT_EQ(Bitmap->Height(), 100);
  EXPECT_GT(Regions->Regions()->RegionCount(), 1);
  for (int32_t Y = 0; Y < 100; ++Y)
    for (int32_t X = 0; X < 120; ++X) ASSERT_GE(Bitmap->GetPixel(X, Y), 0);
}

TEST(SoilleRegionManagerTest, SelectorsOfOneManagerAreIndependent) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(120, 100, 3);
  InterfacePtr<ISelectionManager> Manager(NewObject<TSoilleRegionManager>());
  Manager->Initialize(Doc.get());
  Manager->Preprocess();
  const TRun Disc = Select(*Manager, DiscMarkers);
  const TRun Inverted = Select(*Manager, {{{60, 50}, 0}, {{5, 5}, 255}});
  const TRun DiscAgain = Select(*Manager, DiscMarkers);
  EXPECT_EQ(Disc.Mask, DiscAgain.Mask);
  EXPECT_EQ(Disc.Edges, DiscAgain.Edges);
  EXPECT_NE(Disc.Mask, Inverted.Mask);
  // The disc is selected, the corners are not.
  EXPECT_EQ(Disc.Mask[50 * 120 + 60], 255);
  EXPECT_EQ(Disc.Mask[5 * 120 + 5], 0);
  EXPECT_EQ(Disc.Mask[50 * 120 + 30], 255);
  EXPECT_EQ(Disc.Mask[50 * 120 + 31], 0);
  EXPECT_FALSE(Disc.Edges.empty());
}

TEST(SoilleRegionManagerTest, ParallelAndSerialPipelinesGiveTheSameBytes) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(240, 200, 4);
  auto Run = [&](int32_t Threads) {
    TThreadCountScope Scope(Threads);
    TSoilleRegionManager* Regions = NewObject<TSoilleRegionManager>();
    InterfacePtr<ISelectionManager> Manager(Regions);
    Manager->Initialize(Doc.get());
    Manager->Preprocess();
    std::vector<std::pair<TPoint, uint8_t>> Markers;
    for (const auto& M : DiscMarkers) Markers.push_back({{M.first.X * 2, M.first.Y * 2}, M.second});
    TRun R = Select(*Manager, Markers);
    R.Mask.insert(R.Mask.end(), Manager->GetGradient()->GetGradient()->Bits(),
                  Manager->GetGradient()->GetGradient()->Bits() + 240 * 200);
    return R;
  };
  const TRun Serial = Run(1);
  const TRun Parallel = Run(2);
  EXPECT_EQ(Serial.Mask, Parallel.Mask);
  EXPECT_EQ(Serial.Edges, Parallel.Edges);
}

TEST(SoilleRegionManagerTest, CancelledPreprocessingStopsAndStaysCancelled) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(50, 40, 5);
  TSoilleRegionManager* Regions = NewObject<TSoilleRegionManager>();
  InterfacePtr<ISelectionManager> Manager(Regions);
  Manager->Initialize(Doc.get());
  Regions->Cancel();
  Manager->Preprocess();
  // The gradient's conversion stopped at once, so nothing was labelled.
  const TIntegerGrayscaleBitmap* Bitmap = Regions->RegionBitmap();
  int32_t Labelled = 0;
  for (int32_t Y = 0; Y < Bitmap->Height(); ++Y)
    for (int32_t X = 0; X < Bitmap->Width(); ++X) Labelled += Bitmap->GetPixel(X, Y) >= 0;
  EXPECT_LT(Labelled, 50 * 40);
}

TEST(AlternativeManagersTest, QueueAndMergeSelectorsSeparateTheDisc) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(120, 100, 6);
  InterfacePtr<ISelectionManager> Queue(NewObject<TQueueManager>());
  InterfacePtr<ISelectionManager> Merge(NewObject<TSoilleMergeManager>());
  for (ISelectionManager* M : {Queue.Get(), Merge.Get()}) {
    M->Initialize(Doc.get());
    M->Preprocess();
    const TRun R = Select(*M, {{{60, 50}, 255}, {{5, 5}, 0}, {{115, 95}, 0}});
    ASSERT_EQ(R.Mask.size(), 120u * 100u);
    EXPECT_EQ(R.Mask[50 * 120 + 60], 255);
    EXPECT_EQ(R.Mask[5 * 120 + 5], 0);
    EXPECT_FALSE(R.Edges.empty());
    // The alternative selectors report no progress of their own.
    InterfacePtr<ICalculateSelection> S = M->CreateSelector();
    EXPECT_FALSE(Supports<IProgressReporter>(S));
  }
}

}  // namespace
}  // namespace varnix
