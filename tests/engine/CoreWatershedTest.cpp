#include "engine/CoreWatershed.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestUtils.h"

namespace varnix {
namespace {

using test::MaskRow;
using test::Points;
using test::WordRow;

// The over-segmentation of a gradient, with the sort it needs.
struct TSegmentation {
  TOwned<TPixelSorter> Sorter{NewObject<TPixelSorter>()};
  TOwned<TPixelIterator> Iterator;
  TOwned<TIntegerGrayscaleBitmap> Labels{NewObject<TIntegerGrayscaleBitmap>()};
  TOwned<TRegionList> Regions{NewObject<TRegionList>()};
  TOwned<TSoilleWatershed> Watershed{NewObject<TSoilleWatershed>()};

  explicit TSegmentation(const TWordGrayscaleBitmap& Gradient) {
    Sorter->Sort(&Gradient, 65536);
    Iterator.reset(NewObject<TPixelIterator>(Sorter.get()));
    Watershed->CalculateWatershed(&Gradient, Iterator.get(), Labels.get(), Regions.get());
  }

  std::vector<int32_t> Row(int32_t Y = 0) const {
    std::vector<int32_t> R;
    for (int32_t X = 0; X < Labels->Width(); ++X) R.push_back(Labels->GetPixel(X, Y));
    return R;
  }

  // "r: n@level ..." per region, connections in list order.
  std::string Graph() const {
    std::string S;
    for (int32_t R = 0; R < Regions->RegionCount(); ++R) {
      S += std::to_string(R) + ":";
      for (int32_t C = Regions->GetFirstConnection(R); C != -1;) {
        const TRegionConnection Conn = Regions->GetConnection(C);
        S += " " + std::to_string(Conn.Region) + "@" + std::to_string(Conn.Level);
        C = Conn.Next;
      }
      S += "\n";
    }
    return S;
  }
};

TEST(SoilleWatershedTest, OneRowCases) {
  struct {
    const char* Name;
    std::initializer_list<uint16_t> Gradient;
    std::vector<int32_t> Labels;
    const char* Graph;
  } const Cases[] = {
      // The iterator meets x 3 before x 0; both level-1 pixels are in the first wave.
      {"4x1", {0, 1, 1, 0}, {1, 1, 0, 0}, "0:\n1:\n"},
      // The middle pixel is reached in the second wave from both sides and joins region 0.
      {"5x1", {0, 1, 1, 1, 0}, {1, 1, 0, 0, 0}, "0: 1@1\n1: 0@1\n"},
      {"constant", {4, 4, 4, 4}, {0, 0, 0, 0}, "0:\n"},
      {"1x1", {9}, {0}, "0:\n"},
      {"two basins", {0, 5, 9, 5, 0, 3, 7, 3, 0}, {2, 2, 1, 1, 1, 1, 0, 0, 0}, "0: 1@7\n1: 2@9 0@7\n2: 1@9\n"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    TOwned<TWordGrayscaleBitmap> G = WordRow(C.Gradient);
    TSegmentation S(*G);
    EXPECT_EQ(S.Row(), C.Labels);
    EXPECT_EQ(S.Graph(), C.Graph);
    EXPECT_FLOAT_EQ(S.Watershed->GetProgress(), 1.0f);
  }
}

TEST(SoilleWatershedTest, EmptyGradientGivesEmptyResult) {
  TOwned<TWordGrayscaleBitmap> G(NewObject<TWordGrayscaleBitmap>());
  TSegmentation S(*G);
  EXPECT_EQ(S.Labels->Width(), 0);
  EXPECT_EQ(S.Labels->Height(), 0);
  EXPECT_EQ(S.Regions->RegionCount(), 0);
}

TEST(SoilleWatershedTest, NoisyImageLabelsEveryPixelWithConnectedRegions) {
  TOwned<TWordGrayscaleBitmap> G(NewObject<TWordGrayscaleBitmap>());
  G->Resize(61, 47);
  std::mt19937 Random(5);
  for (int32_t Y = 0; Y < 47; ++Y)
    for (int32_t X = 0; X < 61; ++X) G->SetPixel(X, Y, static_cast<uint16_t>(Random() % 40));
  TSegmentation S(*G);
  EXPECT_EQ(S.Watershed->Processed(), 61 * 47);
  std::vector<int32_t> Size(static_cast<size_t>(S.Regions->RegionCount()));
  for (int32_t Y = 0; Y < 47; ++Y)
    for (int32_t X = 0; X < 61; ++X) {
      const int32_t L = S.Labels->GetPixel(X, Y);
      ASSERT_GE(L, 0);
      ASSERT_LT(L, S.Regions->RegionCount());
      ++Size[static_cast<size_t>(L)];
    }
  for (int32_t R = 0; R < S.Regions->RegionCount(); ++R) ASSERT_GT(Size[static_cast<size_t>(R)], 0) << R;
  // Every adjacency is stored in both lists with the same level.
  for (int32_t R = 0; R < S.Regions->RegionCount(); ++R)
    for (int32_t C = S.Regions->GetFirstConnection(R); C != -1;) {
      const TRegionConnection Conn = S.Regions->GetConnection(C);
      bool Back = false;
      for (int32_t D = S.Regions->GetFirstConnection(Conn.Region); D != -1;) {
        const TRegionConnection B = S.Regions->GetConnection(D);
        Back = Back || (B.Region == R && B.Level == Conn.Level);
        D = B.Next;
      }
      ASSERT_TRUE(Back) << R << " -> " << Conn.Region;
      C = Conn.Next;
    }
}

// The over-segmentation written out as the level-by-level walk of the iterator, with Connect for
// every meeting: what the optimised implementation must reproduce, labels and lists alike.
TSegmentation ReferenceSegmentation(const TWordGrayscaleBitmap& Gradient, std::vector<int32_t>& Labels) {
  TSegmentation S(Gradient);  // only its sorter, iterator and region list are reused
  const int32_t W = Gradient.Width(), H = Gradient.Height();
  TRegionList& Regions = *S.Regions;
  Regions.Clear();
  Labels.assign(static_cast<size_t>(W) * H, -2);
  std::vector<uint8_t> Flags(Labels.size(), 0);
  TPointQueue Queue;
  auto At = [&](TPoint P) -> int32_t& { return Labels[static_cast<size_t>(P.Y) * W + P.X]; };
  auto FlagAt = [&](TPoint P) -> uint8_t& { return Flags[static_cast<size_t>(P.Y) * W + P.X]; };
  TPixelIterator& It = *S.Iterator;
  It.Reset(0);
  while (!It.Done()) {
    const int32_t Level = It.Level();
    while (!It.Done() && It.Level() == Level) {
      const TPoint P = It.Position();
      At(P) = -3;
      const TPixelNeighbors N = Gradient.Get4ConnectedPixels(P.X, P.Y);
      for (int32_t I = 0; I < N.Count; ++I)
        if (At(N.Pixels[I]) >= 0) {
          FlagAt(P) = 1;
          Queue.Add(P);
          break;
        }
      It.Advance();
    }
    uint8_t Current = 1, Next = 2;
    Queue.Add(TPoint{-1, -1});
    for (;;) {
      TPoint P = Queue.RetrieveFirst();
      if (P.X == -1) {
        if (Queue.Empty()) break;
        Queue.Add(TPoint{-1, -1});
        Current = Next;
        Next = static_cast<uint8_t>(Current % 3 + 1);
        P = Queue.RetrieveFirst();
      }
      int32_t L = At(P);
      const TPixelNeighbors N = Gradient.Get4ConnectedPixels(P.X, P.Y);
      for (int32_t I = 0; I < N.Count; ++I) {
        const TPoint Q = N.Pixels[I];
        const uint8_t F = FlagAt(Q);
        const int32_t LQ = At(Q);
        if (F != Current && F != Next && LQ >= 0) {
          if (L == -3) {
            L = LQ;
          } else if (L != LQ) {
            Regions.Connect(L, LQ, Level);
            L = std::min(L, LQ);
          }
        } else if (LQ == -3 && F == 0) {
          FlagAt(Q) = Next;
          Queue.Add(Q);
        }
      }
      At(P) = L;
    }
    It.Reset(Level);
    while (!It.Done() && It.Level() == Level) {
      const TPoint P = It.Position();
      FlagAt(P) = 0;
      if (At(P) == -3) {
        const int32_t R = Regions.AddRegion();
        At(P) = R;
        Queue.Add(P);
        while (!Queue.Empty()) {
          const TPoint Q0 = Queue.RetrieveFirst();
          const TPixelNeighbors N = Gradient.Get4ConnectedPixels(Q0.X, Q0.Y);
          for (int32_t I = 0; I < N.Count; ++I)
            if (At(N.Pixels[I]) == -3) {
              Queue.Add(N.Pixels[I]);
              At(N.Pixels[I]) = R;
            }
        }
      }
      It.Advance();
    }
  }
  return S;
}

TEST(SoilleWatershedTest, MatchesTheLevelByLevelWalk) {
  // Noise over few levels makes plateaus, ties and many meetings; the second image is smoother.
  struct {
    int32_t W, H, Levels;
  } const Cases[] = {{61, 47, 6}, {80, 50, 300}, {1, 30, 3}, {30, 1, 3}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.W << " x " << C.H << ", " << C.Levels << " levels");
    TOwned<TWordGrayscaleBitmap> G(NewObject<TWordGrayscaleBitmap>());
    G->Resize(C.W, C.H);
    std::mt19937 Random(C.Levels);
    for (int32_t Y = 0; Y < C.H; ++Y)
      for (int32_t X = 0; X < C.W; ++X)
        G->SetPixel(X, Y, static_cast<uint16_t>((Random() % C.Levels) * 200 + (X * Y) % 7));
    std::vector<int32_t> Expected;
    const TSegmentation Reference = ReferenceSegmentation(*G, Expected);
    const TSegmentation S(*G);
    std::vector<int32_t> Actual;
    for (int32_t Y = 0; Y < C.H; ++Y)
      for (int32_t V : S.Row(Y)) Actual.push_back(V);
    EXPECT_EQ(Actual, Expected);
    EXPECT_EQ(S.Graph(), Reference.Graph());
    EXPECT_TRUE(S.Iterator->Done());
  }
}

TEST(CompactRegionGraphTest, CopiesEveryListInOrder) {
  TOwned<TRegionList> Regions(NewObject<TRegionList>());
  for (int32_t R = 0; R < 40; ++R) Regions->AddRegion();
  std::mt19937 Random(2);
  for (int32_t I = 0; I < 300; ++I) {
    const int32_t A = static_cast<int32_t>(Random() % 40), B = static_cast<int32_t>(Random() % 40);
    // Mostly symmetric adjacencies, now and then a one-way connection.
    if (I % 17 == 0)
      Regions->AddConnection(A, B, I);
    else
      Regions->Connect(A, B, I);
  }
  TOwned<TCompactRegionGraph> Graph(NewObject<TCompactRegionGraph>());
  Graph->Build(*Regions);
  ASSERT_EQ(Graph->RegionCount(), 40);
  for (int32_t R = 0; R < 40; ++R) {
    std::vector<std::pair<int32_t, int32_t>> Expected, Actual;
    for (int32_t C = Regions->GetFirstConnection(R); C != -1;) {
      const TRegionConnection Conn = Regions->GetConnection(C);
      Expected.push_back({Conn.Region, Conn.Level});
      C = Conn.Next;
    }
    for (const auto* C = Graph->Begin(R); C != Graph->End(R); ++C) Actual.push_back({C->Region, C->Level});
    EXPECT_EQ(Actual, Expected) << "region " << R;
  }
}

// ---- Region watershed ----------------------------------------------------------------------

struct TMarker {
  int32_t X, Y;
  uint8_t Label;
};

struct TRegionResult {
  std::vector<uint8_t> Mask;
  std::vector<TPoint> Edges;
};

TRegionResult RunRegionWatershed(const TWordGrayscaleBitmap& Gradient, std::initializer_list<TMarker> Markers) {
  TSegmentation S(Gradient);
  TOwned<TRegionWatershed> W(NewObject<TRegionWatershed>());
  for (const TMarker& M : Markers) W->DefineMarker(TPoint{M.X, M.Y}, M.Label);
  TOwned<TGrayscaleBitmap> Mask(NewObject<TGrayscaleBitmap>());
  TOwned<TPointList> Edges(NewObject<TPointList>());
  W->CalculateWatershed(S.Labels.get(), &Gradient, S.Regions.get(), Mask.get(), Edges.get());
  // Unreached and split regions are never taken from the queue, so the count may stay short.
  EXPECT_LE(W->Processed(), W->Total());
  TRegionResult R;
  for (int32_t Y = 0; Y < Mask->Height(); ++Y)
    for (uint8_t V : MaskRow(*Mask, Y)) R.Mask.push_back(V);
  R.Edges = Points(*Edges);
  return R;
}

TEST(RegionWatershedTest, OneRowCases) {
  const std::initializer_list<uint16_t> TwoBasins = {0, 5, 9, 5, 0, 3, 7, 3, 0};
  struct {
    const char* Name;
    std::initializer_list<uint16_t> Gradient;
    std::initializer_list<TMarker> Markers;
    std::vector<uint8_t> Mask;
    std::vector<TPoint> Edges;
  } const Cases[] = {
      // Region 1 is reached from the background over level 7 before the object reaches it
      // over level 9.
      {"object left, background right", TwoBasins, {{0, 0, 255}, {8, 0, 0}}, {255, 255, 0, 0, 0, 0, 0, 0, 0}, {{2, 0}}},
      // Both markers in region 2: split pixel by pixel; the neighbour region is queued from the
      // background pixel at its gradient 5.
      {"collision", TwoBasins, {{0, 0, 255}, {1, 0, 0}}, {255, 0, 0, 0, 0, 0, 0, 0, 0}, {{1, 0}}},
      {"two object markers in one region", TwoBasins, {{0, 0, 255}, {1, 0, 255}, {8, 0, 0}},
       {255, 255, 0, 0, 0, 0, 0, 0, 0}, {{2, 0}}},
      {"only object markers", TwoBasins, {{4, 0, 255}}, {255, 255, 255, 255, 255, 255, 255, 255, 255}, {}},
      // The two regions of (0, 1, 1, 0) are not connected: the right one is never reached.
      {"unconnected region", {0, 1, 1, 0}, {{0, 0, 255}}, {255, 255, 0, 0}, {{2, 0}}},
      {"marker outside the image", TwoBasins, {{-10, 0, 255}, {30, 5, 0}}, {255, 255, 0, 0, 0, 0, 0, 0, 0}, {{2, 0}}},
      {"no markers", TwoBasins, {}, {0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    TOwned<TWordGrayscaleBitmap> G = WordRow(C.Gradient);
    const TRegionResult R = RunRegionWatershed(*G, C.Markers);
    EXPECT_EQ(R.Mask, C.Mask);
    EXPECT_EQ(R.Edges, C.Edges);
  }
}

TEST(RegionWatershedTest, ClampedMarkerActsAtTheNearestEdgePixel) {
  // Two vertical basins; a background marker at (-10, 5) is a marker at (0, 5).
  TOwned<TWordGrayscaleBitmap> G(NewObject<TWordGrayscaleBitmap>());
  G->Resize(5, 6);
  const uint16_t Row[5] = {0, 4, 9, 4, 0};
  for (int32_t Y = 0; Y < 6; ++Y)
    for (int32_t X = 0; X < 5; ++X) G->SetPixel(X, Y, Row[X]);
  const TRegionResult Outside = RunRegionWatershed(*G, {{4, 0, 255}, {-10, 5, 0}});
  const TRegionResult Inside = RunRegionWatershed(*G, {{4, 0, 255}, {0, 5, 0}});
  EXPECT_EQ(Outside.Mask, Inside.Mask);
  EXPECT_EQ(Outside.Edges, Inside.Edges);
  EXPECT_EQ(Outside.Mask[0], 0);
  EXPECT_EQ(Outside.Mask[4], 255);
}

TEST(RegionWatershedTest, EmptyImageWithMarkersDoesNothing) {
  TOwned<TWordGrayscaleBitmap> G(NewObject<TWordGrayscaleBitmap>());
  const TRegionResult R = RunRegionWatershed(*G, {{0, 0, 255}, {3, 3, 0}});
  EXPECT_TRUE(R.Mask.empty());
  EXPECT_TRUE(R.Edges.empty());
}

// ---- Pixel watersheds ----------------------------------------------------------------------

template <class TWatershed>
TRegionResult RunPixelWatershed(const TWordGrayscaleBitmap& Gradient, std::initializer_list<TMarker> Markers) {
  TOwned<TPixelSorter> Sorter(NewObject<TPixelSorter>());
  Sorter->Sort(&Gradient, 65536);
  TOwned<TPixelIterator> Iterator(NewObject<TPixelIterator>(Sorter.get()));
  InterfacePtr<IWatershed> W(NewObject<TWatershed>());
  for (const TMarker& M : Markers) W->DefineMarker(TPoint{M.X, M.Y}, M.Label);
  TOwned<TGrayscaleBitmap> Mask(NewObject<TGrayscaleBitmap>());
  TOwned<TPointList> Edges(NewObject<TPointList>());
  W->SetEdgePointList(Edges.get());
  W->CalculateWatershed(const_cast<TWordGrayscaleBitmap*>(&Gradient), Iterator.get(), Mask.get());
  TRegionResult R;
  for (int32_t Y = 0; Y < Mask->Height(); ++Y)
    for (uint8_t V : MaskRow(*Mask, Y)) R.Mask.push_back(V);
  R.Edges = Points(*Edges);
  return R;
}

TEST(PixelWatershedTest, OneRowCases) {
  struct {
    const char* Name;
    std::initializer_list<uint16_t> Gradient;
    std::vector<uint8_t> Simple;
    std::vector<TPoint> SimpleEdges;
    std::vector<uint8_t> Fast;
    std::vector<TPoint> FastEdges;
  } const Cases[] = {
      // The simple flood's edge keeps the label of the side that queued it first; the fast
      // watershed's edge is always background.
      {"two basins", {0, 5, 9, 5, 0, 3, 7, 3, 0}, {255, 255, 255, 0, 0, 0, 0, 0, 0}, {{2, 0}}, {255, 255, 0, 0, 0, 0, 0, 0, 0}, {{2, 0}}},
      {"ridge", {1, 2, 3, 4, 5, 4, 3, 2, 1}, {255, 255, 255, 255, 255, 0, 0, 0, 0}, {{4, 0}}, {255, 255, 255, 255, 0, 0, 0, 0, 0}, {{4, 0}}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    TOwned<TWordGrayscaleBitmap> G = WordRow(C.Gradient);
    const TRegionResult S = RunPixelWatershed<TSimpleWatershed>(*G, {{0, 0, 255}, {8, 0, 0}});
    EXPECT_EQ(S.Mask, C.Simple);
    EXPECT_EQ(S.Edges, C.SimpleEdges);
    const TRegionResult F = RunPixelWatershed<TFastWatershed>(*G, {{0, 0, 255}, {8, 0, 0}});
    EXPECT_EQ(F.Mask, C.Fast);
    EXPECT_EQ(F.Edges, C.FastEdges);
  }
}

TEST(PixelWatershedTest, FastWatershedWithObjectMarkersOnlySelectsEverything) {
  TOwned<TWordGrayscaleBitmap> G(NewObject<TWordGrayscaleBitmap>());
  G->Resize(7, 5);
  std::mt19937 Random(11);
  for (int32_t Y = 0; Y < 5; ++Y)
    for (int32_t X = 0; X < 7; ++X) G->SetPixel(X, Y, static_cast<uint16_t>(Random() % 50));
  const TRegionResult F = RunPixelWatershed<TFastWatershed>(*G, {{3, 2, 255}});
  EXPECT_EQ(F.Mask, std::vector<uint8_t>(35, 255));
  EXPECT_TRUE(F.Edges.empty());
}

TEST(PixelWatershedTest, SimpleWatershedLeavesUnreachedPixelsBackground) {
  // Without markers nothing floods; the mask is cleared rather than left as it was.
  TOwned<TWordGrayscaleBitmap> G = WordRow({3, 1, 4, 1, 5});
  const TRegionResult S = RunPixelWatershed<TSimpleWatershed>(*G, {});
  EXPECT_EQ(S.Mask, std::vector<uint8_t>(5, 0));
  // A marker outside the image seeds nothing.
  const TRegionResult Outside = RunPixelWatershed<TSimpleWatershed>(*G, {{9, 0, 255}});
  EXPECT_EQ(Outside.Mask, std::vector<uint8_t>(5, 0));
}

}  // namespace
}  // namespace varnix
