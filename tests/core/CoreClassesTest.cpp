#include "core/CoreClasses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace varnix {
namespace {

// ---- TPriorityPixelQueue -------------------------------------------------------------------

// Points carry the item's name in X.
std::string Drain(TPriorityPixelQueue& Q) {
  std::string Out;
  while (!Q.Empty()) {
    int32_t Level;
    TPoint P;
    Q.RetrieveMinimum(Level, P);
    Out += static_cast<char>(P.X);
  }
  return Out;
}

TEST(PriorityPixelQueue, EqualLevelsComeOutInHeapOrderNotInsertionOrder) {
  struct Case {
    std::vector<std::pair<int32_t, char>> Items;
    const char* Expected;
  };
  const Case Cases[] = {
      {{{5, 'a'}, {5, 'b'}, {5, 'c'}}, "acb"},
      {{{5, 'a'}, {3, 'b'}, {5, 'c'}, {1, 'd'}}, "dbca"},
      {{{1, 'a'}}, "a"},
      {{{2, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}, {2, 'e'}}, "bdace"},
      {{{0, 'a'}, {0, 'b'}, {0, 'c'}, {0, 'd'}, {0, 'e'}, {0, 'f'}}, "afedcb"},
      // Equal children: the left one moves up unless the right one is strictly smaller.
      {{{0, 'a'}, {1, 'b'}, {1, 'c'}, {2, 'd'}}, "abcd"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Expected);
    TPriorityPixelQueue Q;
    for (auto [Level, Name] : C.Items) Q.Add(Level, TPoint{Name, 0});
    EXPECT_EQ(Drain(Q), C.Expected);
  }
}

TEST(PriorityPixelQueue, ManyItemsComeOutByLevelWithTheirPoints) {
  std::mt19937 Random(12345);
  TPriorityPixelQueue Q;
  std::vector<std::pair<int32_t, int32_t>> Added;
  int32_t Id = 0;
  // Interleave additions and removals, as a flood does.
  std::vector<std::pair<int32_t, int32_t>> Removed;
  for (int Round = 0; Round < 50; ++Round) {
    for (int I = 0; I < 200; ++I) {
      const int32_t Level = static_cast<int32_t>(Random() % 64);
      Q.Add(Level, TPoint{Id, Level * 3});
      Added.emplace_back(Level, Id++);
    }
    int32_t Previous = -1;
    for (int I = 0; I < 150; ++I) {
      int32_t Level;
      TPoint P;
      Q.RetrieveMinimum(Level, P);
      EXPECT_EQ(P.Y, Level * 3) << "the point travels with its level";
      EXPECT_GE(Level, Previous);
      Previous = Level;
      Removed.emplace_back(Level, P.X);
    }
  }
  while (!Q.Empty()) {
    int32_t Level;
    TPoint P;
    Q.RetrieveMinimum(Level, P);
    Removed.emplace_back(Level, P.X);
  }
  std::sort(Added.begin(), Added.end());
  std::sort(Removed.begin(), Removed.end());
  EXPECT_EQ(Added, Removed);
}

TEST(PriorityPixelQueue, CapacityDoublesFrom1024AndClearReleases) {
  TPriorityPixelQueue Q;
  EXPECT_EQ(Q.Capacity(), 0);
  EXPECT_TRUE(Q.Empty());
  Q.Add(7, TPoint{1, 1});
  EXPECT_EQ(Q.Capacity(), 1024);
  for (int32_t I = 1; I < 1024; ++I) Q.Add(I % 13, TPoint{I, 0});
  EXPECT_EQ(Q.Capacity(), 1024);
  Q.Add(0, TPoint{});
  EXPECT_EQ(Q.Capacity(), 2048);
  EXPECT_EQ(Q.Count(), 1025);
  for (int32_t I = 0; I < 1024 + 1; ++I) Q.Add(1, TPoint{});
  EXPECT_EQ(Q.Capacity(), 4096);
  Q.Clear();
  EXPECT_EQ(Q.Capacity(), 0);
  EXPECT_EQ(Q.Count(), 0);
  EXPECT_EQ(Q.Items(), nullptr);
  Q.Add(3, TPoint{4, 5});
  int32_t Level;
  TPoint P;
  Q.RetrieveMinimum(Level, P);
  EXPECT_EQ(Level, 3);
  EXPECT_EQ(P, (TPoint{4, 5}));
}

// ---- TPointList ----------------------------------------------------------------------------

TEST(PointList, PointsAndSidesRoundTripThroughThePackedWords) {
  TPointList L;
  L.Add(TPoint{5, 7}, {psLeft, psBottom});
  L.Add(TPoint{268435455, 0});
  EXPECT_EQ(L.GetPoint(0), (TPoint{5, 7}));
  EXPECT_EQ(L.GetSides(0), (TPointSides{psLeft, psBottom}));
  EXPECT_EQ(L.GetPoint(1), (TPoint{268435455, 0}));
  EXPECT_TRUE(L.GetSides(1).Empty());
  EXPECT_EQ(static_cast<uint32_t>(L.Items()[0].X), 5u | (1u << 30));
  EXPECT_EQ(static_cast<uint32_t>(L.Items()[0].Y), 7u | (1u << 29));

  // Every combination of sides on the largest coordinates.
  TPointList All;
  for (uint8_t Bits = 0; Bits < 16; ++Bits) All.Add(TPoint{268435455 - Bits, 268435455}, TPointSides::FromBits(Bits));
  for (uint8_t Bits = 0; Bits < 16; ++Bits) {
    SCOPED_TRACE(static_cast<int>(Bits));
    EXPECT_EQ(All.GetPoint(Bits), (TPoint{268435455 - Bits, 268435455}));
    EXPECT_EQ(All.GetSides(Bits).Bits(), Bits);
    EXPECT_EQ(static_cast<uint32_t>(All.Items()[Bits].X) & (1u << 28), 0u);
    EXPECT_EQ(static_cast<uint32_t>(All.Items()[Bits].Y) & (1u << 28), 0u);
  }
}

TEST(PointList, GrowsBy1024AndAssignCopiesCountAndCapacity) {
  TPointList L;
  EXPECT_EQ(L.Capacity(), 0);
  L.Add(TPoint{0, 0}, {psTop});
  EXPECT_EQ(L.Capacity(), 1024);
  for (int32_t I = 1; I < 1024; ++I) L.Add(TPoint{I, I * 2}, {psRight});
  EXPECT_EQ(L.Capacity(), 1024);
  L.Add(TPoint{1024, 1});
  EXPECT_EQ(L.Capacity(), 2048);
  for (int32_t I = 1025; I < 2049; ++I) L.Add(TPoint{I, 1});
  EXPECT_EQ(L.Capacity(), 3072) << "linear growth";

  TPointList Copy;
  Copy.Add(TPoint{9, 9});
  Copy.Assign(&L);
  EXPECT_EQ(Copy.Count(), L.Count());
  EXPECT_EQ(Copy.Capacity(), L.Capacity());
  EXPECT_NE(Copy.Items(), L.Items());
  EXPECT_EQ(Copy.GetPoint(0), (TPoint{0, 0}));
  EXPECT_EQ(Copy.GetSides(0), (TPointSides{psTop}));
  EXPECT_EQ(Copy.GetPoint(1000), (TPoint{1000, 2000}));
  EXPECT_EQ(Copy.GetSides(1000), (TPointSides{psRight}));
  Copy.Add(TPoint{3, 3});
  EXPECT_EQ(Copy.GetPoint(L.Count()), (TPoint{3, 3}));

  Copy.Assign(&Copy);
  EXPECT_EQ(Copy.GetPoint(1000), (TPoint{1000, 2000}));
  TPointList Empty;
  Copy.Assign(&Empty);
  EXPECT_EQ(Copy.Count(), 0);
  EXPECT_EQ(Copy.Capacity(), 0);
  L.Clear();
  EXPECT_EQ(L.Count(), 0);
  EXPECT_EQ(L.Capacity(), 0);
  EXPECT_EQ(L.Items(), nullptr);
}

// ---- TPointQueue ---------------------------------------------------------------------------

TEST(PointQueue, FirstInFirstOutAcrossBlocksWithRotation) {
  TPointQueue Q;
  EXPECT_TRUE(Q.Empty());
  for (int32_t I = 0; I <= 16384; ++I) Q.Add(TPoint{I, -I});
  EXPECT_EQ(Q.BlockCount(), 2);
  const PPointQueueBlock FirstBlock = Q.Blocks()[0];
  const PPointQueueBlock SecondBlock = Q.Blocks()[1];
  for (int32_t I = 0; I < 16384; ++I) ASSERT_EQ(Q.RetrieveFirst(), (TPoint{I, -I})) << I;
  EXPECT_EQ(Q.Head(), 0);
  EXPECT_EQ(Q.Tail(), 1);
  EXPECT_EQ(Q.Blocks()[0], SecondBlock);
  EXPECT_EQ(Q.Blocks()[1], FirstBlock) << "the emptied block moves to the end";
  EXPECT_EQ(Q.RetrieveFirst(), (TPoint{16384, -16384}));
  EXPECT_TRUE(Q.Empty());

  // Empty in the middle of a block: later points continue from there, in the recycled block.
  Q.Add(TPoint{1, 2});
  Q.Add(TPoint{3, 4});
  EXPECT_EQ(Q.Head(), 1);
  EXPECT_EQ(Q.Tail(), 3);
  EXPECT_EQ(Q.RetrieveFirst(), (TPoint{1, 2}));
  EXPECT_EQ(Q.RetrieveFirst(), (TPoint{3, 4}));
  EXPECT_EQ(Q.BlockCount(), 2);
}

TEST(PointQueue, BlockArrayGrowsFrom16To32AndBlocksAreRecycled) {
  TPointQueue Q;
  Q.Add(TPoint{});
  EXPECT_EQ(Q.Blocks().size(), 16u);
  for (int32_t I = 1; I < 16 * 16384; ++I) Q.Add(TPoint{I, 0});
  EXPECT_EQ(Q.BlockCount(), 16);
  EXPECT_EQ(Q.Blocks().size(), 16u);
  Q.Add(TPoint{16 * 16384, 0});
  EXPECT_EQ(Q.BlockCount(), 17);
  EXPECT_EQ(Q.Blocks().size(), 32u);
  for (int32_t I = 0; I <= 16 * 16384; ++I) ASSERT_EQ(Q.RetrieveFirst().X, I);
  EXPECT_TRUE(Q.Empty());

  // A queue that never holds more than a few points keeps cycling through two blocks.
  TPointQueue Small;
  for (int32_t I = 0; I < 100000; ++I) {
    Small.Add(TPoint{I, 0});
    Small.Add(TPoint{I, 1});
    ASSERT_EQ(Small.RetrieveFirst(), (TPoint{I, 0}));
    ASSERT_EQ(Small.RetrieveFirst(), (TPoint{I, 1}));
  }
  EXPECT_LE(Small.BlockCount(), 2);
}

// ---- TPixelSorter and TPixelIterator -------------------------------------------------------

struct TVisit {
  TPoint Position;
  int32_t Level;
  friend bool operator==(const TVisit&, const TVisit&) = default;
};

std::vector<TVisit> Walk(TPixelIterator& It) {
  std::vector<TVisit> R;
  while (!It.Done()) {
    R.push_back(TVisit{It.Position(), It.Level()});
    It.Advance();
  }
  EXPECT_EQ(It.Level(), -1);
  return R;
}

void PrintTo(const TVisit& V, std::ostream* Os) {
  *Os << "(" << V.Position.X << "," << V.Position.Y << ")@" << V.Level;
}

TEST(PixelSorter, LevelsAscendAndPixelsRunInReverseRasterOrder) {
  TWordGrayscaleBitmap B;
  B.Resize(3, 1);
  B.SetPixel(0, 0, 2);
  B.SetPixel(1, 0, 0);
  B.SetPixel(2, 0, 2);
  TPixelSorter S;
  S.Sort(&B, 3);
  EXPECT_EQ(S.FirstPixel(), (std::vector<int32_t>{1, -1, 2}));
  EXPECT_EQ(S.NextPixel(), (std::vector<int32_t>{-1, -1, 0}));
  TPixelIterator It(&S);
  EXPECT_EQ(Walk(It), (std::vector<TVisit>{{{1, 0}, 0}, {{2, 0}, 2}, {{0, 0}, 2}}));
  It.Reset(1);
  EXPECT_EQ(Walk(It), (std::vector<TVisit>{{{2, 0}, 2}, {{0, 0}, 2}}));
  It.Reset(3);
  EXPECT_TRUE(It.Done());
  EXPECT_EQ(It.Level(), -1);
  It.Reset(0);
  EXPECT_FALSE(It.Done());
  EXPECT_EQ(It.Position(), (TPoint{1, 0}));
}

TEST(PixelSorter, UniformImageStartsAtTheBottomRightAndSortIsReusable) {
  TWordGrayscaleBitmap B;
  B.Resize(4, 3);
  for (int32_t Y = 0; Y < 3; ++Y)
    for (int32_t X = 0; X < 4; ++X) B.SetPixel(X, Y, 0);
  TPixelSorter S;
  S.Sort(&B, 65536);
  {
    TPixelIterator It(&S);
    std::vector<TVisit> Expected;
    for (int32_t Y = 2; Y >= 0; --Y)
      for (int32_t X = 3; X >= 0; --X) Expected.push_back(TVisit{{X, Y}, 0});
    EXPECT_EQ(Walk(It), Expected);
  }

  // Sorting again reuses the arrays and forgets the previous lists.
  TWordGrayscaleBitmap C;
  C.Resize(2, 2);
  C.SetPixel(0, 0, 3);
  C.SetPixel(1, 0, 1);
  C.SetPixel(0, 1, 3);
  C.SetPixel(1, 1, 0);
  S.Sort(&C, 4);
  EXPECT_EQ(S.Bitmap(), &C);
  EXPECT_EQ(S.LevelCount(), 4);
  TPixelIterator It(&S);
  EXPECT_EQ(Walk(It), (std::vector<TVisit>{{{1, 1}, 0}, {{1, 0}, 1}, {{0, 1}, 3}, {{0, 0}, 3}}));

  TWordGrayscaleBitmap Empty;
  S.Sort(&Empty, 10);
  TPixelIterator None(&S);
  EXPECT_TRUE(None.Done());
}

// The second-pass pattern of the watershed: process a level, Reset to it, process it again.
TEST(PixelIterator, ResetToTheCurrentLevelRepeatsIt) {
  TWordGrayscaleBitmap B;
  B.Resize(3, 2);
  const uint16_t Values[6] = {1, 4, 1, 4, 1, 7};
  for (int32_t I = 0; I < 6; ++I) B.SetPixel(I % 3, I / 3, Values[I]);
  TPixelSorter S;
  S.Sort(&B, 8);
  TPixelIterator It(&S);
  std::vector<int32_t> Passes;
  while (!It.Done()) {
    const int32_t Level = It.Level();
    int32_t N = 0;
    while (!It.Done() && It.Level() == Level) ++N, It.Advance();
    It.Reset(Level);
    int32_t M = 0;
    while (!It.Done() && It.Level() == Level) ++M, It.Advance();
    EXPECT_EQ(N, M);
    Passes.push_back(Level * 10 + N);
  }
  EXPECT_EQ(Passes, (std::vector<int32_t>{13, 42, 71}));
}

// ---- TRegionList ---------------------------------------------------------------------------

std::vector<std::pair<int32_t, int32_t>> Neighbours(const TRegionList& L, int32_t Region) {
  std::vector<std::pair<int32_t, int32_t>> R;
  for (int32_t C = L.GetFirstConnection(Region); C != -1;) {
    const TRegionConnection Conn = L.GetConnection(C);
    R.emplace_back(Conn.Region, Conn.Level);
    C = Conn.Next;
  }
  return R;
}

TEST(RegionList, ConnectRecordsEachPairOnceInBothListsNewestFirst) {
  TRegionList L;
  for (int32_t I = 0; I < 5; ++I) EXPECT_EQ(L.AddRegion(), I);
  EXPECT_EQ(L.GetFirstConnection(4), -1);

  L.Connect(1, 2, 10);
  L.Connect(2, 1, 5);
  L.Connect(1, 2, 3);
  EXPECT_EQ(L.ConnectionCount(), 2);
  EXPECT_EQ(Neighbours(L, 1), (std::vector<std::pair<int32_t, int32_t>>{{2, 10}}));
  EXPECT_EQ(Neighbours(L, 2), (std::vector<std::pair<int32_t, int32_t>>{{1, 10}}));

  L.Connect(3, 3, 7);
  EXPECT_EQ(L.ConnectionCount(), 2);
  EXPECT_EQ(L.GetFirstConnection(3), -1);

  L.Connect(0, 1, 4);
  L.Connect(0, 2, 5);
  L.Connect(0, 3, 6);
  EXPECT_EQ(Neighbours(L, 0), (std::vector<std::pair<int32_t, int32_t>>{{3, 6}, {2, 5}, {1, 4}}));
  EXPECT_EQ(Neighbours(L, 1), (std::vector<std::pair<int32_t, int32_t>>{{0, 4}, {2, 10}}));
  EXPECT_EQ(L.ConnectionCount(), 8);
}

TEST(RegionList, StorageGrowsByDoublingAndClearKeepsIt) {
  TRegionList L;
  L.AddRegion();
  EXPECT_EQ(L.FirstConnections().size(), 16384u);
  for (int32_t I = 1; I < 16384; ++I) L.AddRegion();
  EXPECT_EQ(L.FirstConnections().size(), 16384u);
  EXPECT_EQ(L.AddRegion(), 16384);
  EXPECT_EQ(L.FirstConnections().size(), 32768u);
  EXPECT_EQ(L.GetFirstConnection(16384), -1);

  L.AddConnection(0, 1, 2);
  EXPECT_EQ(L.Connections().size(), 65536u);
  for (int32_t I = 1; I <= 65536; ++I) L.AddConnection(I % 100, (I + 1) % 100, I);
  EXPECT_EQ(L.Connections().size(), 131072u);
  EXPECT_EQ(L.ConnectionCount(), 65537);

  L.Clear();
  EXPECT_EQ(L.RegionCount(), 0);
  EXPECT_EQ(L.ConnectionCount(), 0);
  EXPECT_EQ(L.FirstConnections().size(), 32768u);
  EXPECT_EQ(L.Connections().size(), 131072u);
  EXPECT_EQ(L.AddRegion(), 0);
  EXPECT_EQ(L.GetFirstConnection(0), -1) << "a reused region starts without connections";
  L.AddRegion();
  L.Connect(0, 1, 9);
  EXPECT_EQ(Neighbours(L, 0), (std::vector<std::pair<int32_t, int32_t>>{{1, 9}}));
}

}  // namespace
}  // namespace varnix
