// The whole pipeline on the bundled sample photo and its markers, as the editor runs it:
// preprocessing in one calculation thread, then one selection run per anti-aliasing method.
// Set VARNIX_PIPELINE_OUT to a folder to get the masks as PNG files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "SamplePng.h"
#include "engine/Algorithms.h"
#include "refine/Calculate.h"

namespace varnix {
namespace {

TOwned<TCalculateThread> RunToEnd(TCalculateThread* Thread) {
  TOwned<TCalculateThread> T(Thread);
  while (T->GetStatus() != csReady && !T->Failed()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return T;
}

TEST(PipelineTest, SampleMarkersGiveAPlausibleMask) {
  const std::string Samples = std::string(VARNIX_SOURCE_DIR) + "/samples/";
  TOwned<TColorBitmap> Doc = test::LoadRgbPng(Samples + "coffee.png");
  const std::vector<test::TSampleMarker> Markers = test::LoadMarkers(Samples + "coffee.vnx");
  ASSERT_EQ(Doc->Width(), 600);
  ASSERT_FALSE(Markers.empty());

  TSoilleRegionManager* Regions = NewObject<TSoilleRegionManager>();
  InterfacePtr<ISelectionManager> Manager(Regions);
  Manager->Initialize(Doc.get());
  {
    TOwned<TCalculateThread> Pre = RunToEnd(NewObject<TCalculateThread>(Manager, nullptr, gaNone));
    ASSERT_FALSE(Pre->Failed());
  }
  EXPECT_GT(Regions->Regions()->RegionCount(), 100);

  const char* OutDir = std::getenv("VARNIX_PIPELINE_OUT");
  const char* Names[] = {"none", "sharp", "medium", "soft", "very-soft"};
  for (int32_t Method = gaNone; Method <= gaVerySoft; ++Method) {
    SCOPED_TRACE(Names[Method]);
    InterfacePtr<ICalculateSelection> Selector = Manager->CreateSelector();
    for (const test::TSampleMarker& M : Markers) Selector->DefineMarker(M.Point, M.Label);
    TOwned<TCalculateThread> T =
        RunToEnd(NewObject<TCalculateThread>(Manager, Selector, static_cast<TGaussianAntiAliasingMethod>(Method)));
    ASSERT_FALSE(T->Failed());
    const TGrayscaleBitmap* Mask = T->Selection();
    ASSERT_EQ(Mask->Width(), 600);
    ASSERT_EQ(Mask->Height(), 400);
    // Every marker keeps its own label.
    for (const test::TSampleMarker& M : Markers) EXPECT_EQ(Mask->GetValue(M.Point), M.Label) << M.Point.X << "," << M.Point.Y;
    int64_t Selected = 0;
    for (int32_t Y = 0; Y < 400; ++Y)
      for (int32_t X = 0; X < 600; ++X) Selected += Mask->GetPixel(X, Y);
    const double Fraction = Selected / (255.0 * 600 * 400);
    EXPECT_GT(Fraction, 0.1);
    EXPECT_LT(Fraction, 0.9);
    EXPECT_GT(T->Edges()->Count(), 0);
    if (OutDir) test::WriteGrayPng(std::string(OutDir) + "/coffee-" + Names[Method] + ".png", *Mask);
  }
}

TEST(PipelineTest, TinyAndEmptyDocumentsRunToTheEnd) {
  struct {
    int32_t W, H;
  } const Sizes[] = {{0, 0}, {1, 1}, {7, 1}, {1, 7}, {2, 2}};
  for (const auto& Size : Sizes) {
    SCOPED_TRACE(testing::Message() << Size.W << " x " << Size.H);
    TOwned<TColorBitmap> Doc(NewObject<TColorBitmap>());
    Doc->Resize(Size.W, Size.H);
    for (int32_t Y = 0; Y < Size.H; ++Y)
      for (int32_t X = 0; X < Size.W; ++X) Doc->SetPixel(X, Y, TColorPixel{uint8_t(40 * X), uint8_t(30 * Y), 90, 255});
    InterfacePtr<ISelectionManager> Manager(NewObject<TSoilleRegionManager>());
    Manager->Initialize(Doc.get());
    {
      TOwned<TCalculateThread> Pre = RunToEnd(NewObject<TCalculateThread>(Manager, nullptr, gaNone));
      ASSERT_FALSE(Pre->Failed()) << Pre->ErrorMessage();
      EXPECT_FLOAT_EQ(Pre->GetProgress(), 1.0f);
    }
    for (const TGaussianAntiAliasingMethod Method : {gaSharp, gaVerySoft}) {
      InterfacePtr<ICalculateSelection> Selector = Manager->CreateSelector();
      Selector->DefineMarker(TPoint{0, 0}, 255);
      Selector->DefineMarker(TPoint{6, 6}, 0);
      TOwned<TCalculateThread> T = RunToEnd(NewObject<TCalculateThread>(Manager, Selector, Method));
      ASSERT_FALSE(T->Failed()) << T->ErrorMessage();
      EXPECT_EQ(T->GetStatus(), csReady);
      EXPECT_EQ(T->Selection()->Width(), Size.W);
      EXPECT_EQ(T->Selection()->Height(), Size.H);
    }
  }
}

}  // namespace
}  // namespace varnix
