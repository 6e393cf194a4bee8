#include "engine/Gradient.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "EngineTestUtils.h"

namespace varnix {
namespace {

TEST(SelectionGradientTest, ComputesOnceOnFirstRequest) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(40, 30, 1);
  TSelectionGradient* Gradient = NewObject<TSelectionGradient>(Doc.get());
  InterfacePtr<ISelectionGradient> G(Gradient);
  EXPECT_EQ(Gradient->CalculationCount(), 0);
  TWordGrayscaleBitmap* First = G->GetGradient();
  EXPECT_EQ(Gradient->CalculationCount(), 1);
  EXPECT_EQ(First->Width(), 40);
  EXPECT_EQ(First->Height(), 30);
  EXPECT_EQ(G->GetGradient(), First);
  EXPECT_EQ(G->GetXGradient()->Width(), 40);
  EXPECT_EQ(G->GetYGradient()->Height(), 30);
  EXPECT_EQ(Gradient->CalculationCount(), 1);
  EXPECT_FLOAT_EQ(Gradient->GetProgress(), 1.0f);
}

TEST(SelectionGradientTest, RangeOnAFreshObjectComputes) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(8, 8, 2);
  TSelectionGradient* Gradient = NewObject<TSelectionGradient>(Doc.get());
  InterfacePtr<ISelectionGradient> G(Gradient);
  EXPECT_EQ(G->GetRange(), 65536);
  EXPECT_EQ(Gradient->CalculationCount(), 1);
}

TEST(SelectionGradientTest, SettingsChangesRecomputeOnlyWhenTheyDiffer) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(30, 20, 3);
  TSelectionGradient* Gradient = NewObject<TSelectionGradient>(Doc.get());
  InterfacePtr<ISelectionGradient> G(Gradient);
  Gradient->SetDetails(1.5f);
  Gradient->SetFilter(true);
  const std::vector<uint8_t> Default = test::Bytes(*G->GetGradient());
  EXPECT_EQ(Gradient->CalculationCount(), 1);
  Gradient->SetDetails(2.0f);
  const std::vector<uint8_t> Wider = test::Bytes(*G->GetGradient());
  EXPECT_EQ(Gradient->CalculationCount(), 2);
  EXPECT_NE(Wider, Default);
  Gradient->SetFilter(false);
  G->GetXGradient();
  EXPECT_EQ(Gradient->CalculationCount(), 3);
  G->GetYGradient();
  EXPECT_EQ(Gradient->CalculationCount(), 3);
}

TEST(SelectionGradientTest, ConcurrentFirstRequestsShareOneComputation) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(300, 200, 4);
  TSelectionGradient* Gradient = NewObject<TSelectionGradient>(Doc.get());
  InterfacePtr<ISelectionGradient> G(Gradient);
  std::vector<TWordGrayscaleBitmap*> Results(4);
  std::vector<std::thread> Threads;
  for (size_t I = 0; I < Results.size(); ++I) Threads.emplace_back([&, I] { Results[I] = G->GetGradient(); });
  for (std::thread& T : Threads) T.join();
  EXPECT_EQ(Gradient->CalculationCount(), 1);
  for (TWordGrayscaleBitmap* R : Results) EXPECT_EQ(R, Results[0]);
}

TEST(SelectionGradientTest, SettingsChangeDuringAComputationInvalidatesItsResult) {
  TOwned<TColorBitmap> Doc = test::NoiseImage(900, 700, 5);
  TSelectionGradient* Gradient = NewObject<TSelectionGradient>(Doc.get());
  InterfacePtr<ISelectionGradient> G(Gradient);
  std::thread Worker([&] { G->GetGradient(); });
  while (Gradient->GetProgress() <= 0.0f) std::this_thread::yield();
  const bool StillRunning = Gradient->GetProgress() < 1.0f;
  Gradient->SetDetails(2.0f);
  Worker.join();
  if (!StillRunning) GTEST_SKIP() << "the computation ended before the settings changed";
  EXPECT_EQ(Gradient->CalculationCount(), 1);
  G->GetGradient();
  EXPECT_EQ(Gradient->CalculationCount(), 2);
}

}  // namespace
}  // namespace varnix
