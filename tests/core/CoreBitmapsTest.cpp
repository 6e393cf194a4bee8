#include "core/CoreBitmaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace varnix {
namespace {

std::vector<TPoint> Points(const TPixelNeighbors& N) { return std::vector<TPoint>(N.Pixels, N.Pixels + N.Count); }

// The coordinates of neighbour addresses, from the buffer origin and the row layout.
template <class TNeighbors>
std::vector<TPoint> PointsOf(const TNeighbors& N, const void* Origin, ptrdiff_t RowSize, ptrdiff_t PixelSize) {
  std::vector<TPoint> R;
  for (int32_t I = 0; I < N.Count; ++I) {
    const ptrdiff_t Offset = reinterpret_cast<const uint8_t*>(N.Pixels[I]) - static_cast<const uint8_t*>(Origin);
    R.push_back(TPoint{static_cast<int32_t>(Offset % RowSize / PixelSize), static_cast<int32_t>(Offset / RowSize)});
  }
  return R;
}

std::string Text(const std::vector<TPoint>& Ps) {
  std::string S;
  for (const TPoint& P : Ps) S += "(" + std::to_string(P.X) + "," + std::to_string(P.Y) + ")";
  return S;
}

// A grayscale bitmap that counts Resized calls.
class TCountingBitmap : public TGrayscaleBitmap {
 public:
  int ResizedCalls = 0;

 protected:
  void Resized() override {
    TGrayscaleBitmap::Resized();
    ++ResizedCalls;
  }
};

// ---- Size, buffers, row layout -------------------------------------------------------------

template <class T>
class AllBitmaps : public ::testing::Test {};
using BitmapTypes = ::testing::Types<TGrayscaleBitmap, TFloatGrayscaleBitmap, TWordGrayscaleBitmap,
                                     TIntegerGrayscaleBitmap, TColorBitmap, THSLColorBitmap, TFloatColorBitmap>;
TYPED_TEST_SUITE(AllBitmaps, BitmapTypes);

TYPED_TEST(AllBitmaps, NewBitmapIsEmptyAndResizeBuildsInnerTables) {
  TypeParam B;
  EXPECT_EQ(B.Width(), 0);
  EXPECT_EQ(B.Height(), 0);
  EXPECT_EQ(B.Bits(), nullptr);
  EXPECT_FALSE(B.ContainsPoint(TPoint{0, 0}));

  B.Resize(0, 7);
  EXPECT_EQ(B.Bits(), nullptr) << "no buffer for a zero width";
  EXPECT_EQ(B.InnerRows().size(), 7u);
  EXPECT_TRUE(B.InnerColumns().empty());

  B.Resize(4, 3);
  ASSERT_NE(B.Bits(), nullptr);
  EXPECT_EQ(B.InnerColumns(), (TBooleanArray{0, 1, 1, 0}));
  EXPECT_EQ(B.InnerRows(), (TBooleanArray{0, 1, 0}));
  EXPECT_TRUE(B.ContainsPoint(TPoint{3, 2}));
  EXPECT_FALSE(B.ContainsPoint(TPoint{4, 2}));
  EXPECT_FALSE(B.ContainsPoint(TPoint{-1, 0}));
  EXPECT_FALSE(B.ContainsPoint(TPoint{0, 3}));

  B.SetWidth(2);
  EXPECT_EQ(B.Width(), 2);
  EXPECT_EQ(B.InnerColumns(), (TBooleanArray{0, 0}));
  B.SetHeight(1);
  EXPECT_EQ(B.Height(), 1);
  EXPECT_EQ(B.InnerRows(), (TBooleanArray{0}));
}

TYPED_TEST(AllBitmaps, NegativeOrUnaddressableSizeRaisesEBitmapErrorAndKeepsTheBitmap) {
  TypeParam B;
  B.Resize(3, 2);
  std::memset(static_cast<void*>(B.Bits()), 0x5A, static_cast<size_t>(B.RowSize()) * 2);
  struct Case {
    int32_t W, H;
    const char* Message;
  };
  const Case Cases[] = {
      {-1, 5, "Invalid bitmap size -1 x 5"},
      {5, -2, "Invalid bitmap size 5 x -2"},
      {2147483647, 1, "Bitmap size 2147483647 x 1 is too large"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Message);
    try {
      B.Resize(C.W, C.H);
      ADD_FAILURE() << "no exception";
    } catch (const EBitmapError& E) {
      EXPECT_EQ(E.Message(), C.Message);
      EXPECT_STREQ(E.ClassName(), "EBitmapError");
    }
    EXPECT_EQ(B.Width(), 3);
    EXPECT_EQ(B.Height(), 2);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(B.Bits())[0], 0x5A) << "the old content stays";
  }
  EXPECT_THROW(B.SetWidth(-3), EBitmapError);
}

TYPED_TEST(AllBitmaps, FailedAllocationRaisesEOutOfMemoryAndLeavesAnEmptyBitmap) {
  // More than the 47-bit user address space of x86-64, so no overcommit policy can grant it.
  TypeParam B;
  B.Resize(2, 2);
  EXPECT_THROW(B.Resize(16000000, 16000000), EOutOfMemory);
  EXPECT_EQ(B.Width(), 0);
  EXPECT_EQ(B.Height(), 0);
  EXPECT_EQ(B.Bits(), nullptr);
  EXPECT_TRUE(B.InnerColumns().empty());
  B.Resize(3, 3);
  EXPECT_NE(B.Bits(), nullptr) << "the bitmap is usable again";
}

TEST(Bitmaps, RowSizesFollowEachClassLayout) {
  struct Case {
    int32_t Width, Gray, Color;
  };
  const Case Cases[] = {{1, 4, 16}, {3, 4, 16}, {4, 4, 16}, {5, 8, 32}, {8, 8, 32}, {9, 12, 48}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Width);
    TGrayscaleBitmap G;
    G.Resize(C.Width, 3);
    EXPECT_EQ(G.RowSize(), C.Gray);
    TColorBitmap Col;
    Col.Resize(C.Width, 3);
    EXPECT_EQ(Col.RowSize(), C.Color);
    EXPECT_EQ(Col.Bitmap()->RowBytes(), C.Color);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(Col.Bits()) % 16, 0u);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(Col.Address(0, 2)) - reinterpret_cast<uint8_t*>(Col.Bits()), 2 * C.Color);
    TWordGrayscaleBitmap W;
    W.Resize(C.Width, 3);
    TIntegerGrayscaleBitmap I;
    I.Resize(C.Width, 3);
    TFloatColorBitmap F;
    F.Resize(C.Width, 3);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(W.Address(0, 1)) - reinterpret_cast<uint8_t*>(W.Bits()), 2 * C.Width);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(I.Address(0, 1)) - reinterpret_cast<uint8_t*>(I.Bits()), 4 * C.Width);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(F.Address(0, 1)) - reinterpret_cast<uint8_t*>(F.Bits()), 12 * C.Width);
    for (int32_t Y = 0; Y < 3; ++Y) {
      EXPECT_EQ(G.Rows()[Y], G.Bits() + Y * C.Gray);
      EXPECT_EQ(W.Rows()[Y], W.Bits() + Y * C.Width);
      EXPECT_EQ(I.Rows()[Y], I.Bits() + Y * C.Width);
    }
  }
}

TEST(Bitmaps, ResizeToTheSameSizeKeepsPixelsAndSkipsResized) {
  TCountingBitmap B;
  B.Resize(5, 3);
  EXPECT_EQ(B.ResizedCalls, 1);
  B.SetPixel(4, 2, 77);
  B.Resize(5, 3);
  EXPECT_EQ(B.ResizedCalls, 1);
  EXPECT_EQ(B.GetPixel(4, 2), 77);
  B.Resize(5, 4);
  EXPECT_EQ(B.ResizedCalls, 2);
  EXPECT_EQ(B.Rows().size(), 4u);
  B.Resize(0, 7);
  EXPECT_EQ(B.ResizedCalls, 3) << "Resized runs for an empty bitmap too";
  EXPECT_EQ(B.Rows().size(), 7u);

  // The colour bitmap is zero-filled on every real resize, so the loss is visible.
  TColorBitmap C;
  C.Resize(5, 3);
  C.SetPixel(1, 1, TColorPixel{1, 2, 3, 4});
  C.Resize(5, 3);
  EXPECT_EQ(C.GetPixel(1, 1), (TColorPixel{1, 2, 3, 4}));
  C.Resize(5, 4);
  EXPECT_EQ(C.GetPixel(1, 1), (TColorPixel{0, 0, 0, 0}));
}

// ---- Neighbour orders ----------------------------------------------------------------------

enum TNeighborFunction { nf4, nf8, nf8Minus4 };

TEST(Bitmaps, NeighbourOrdersAtInteriorAndBorder) {
  struct Case {
    const char* Name;
    int32_t W, H, X, Y;
    TNeighborFunction Fn;
    std::vector<TPoint> Expected;
  };
  const Case Cases[] = {
      {"1x1 4", 1, 1, 0, 0, nf4, {}},
      {"1x1 8", 1, 1, 0, 0, nf8, {}},
      {"1x1 diagonals", 1, 1, 0, 0, nf8Minus4, {}},
      {"2x2 corner 8", 2, 2, 0, 0, nf8, {{1, 0}, {0, 1}, {1, 1}}},
      {"2x2 corner 4", 2, 2, 1, 1, nf4, {{1, 0}, {0, 1}}},
      {"2x2 corner diagonals", 2, 2, 1, 0, nf8Minus4, {{0, 1}}},
      {"3x3 interior 8 is raster order", 3, 3, 1, 1, nf8,
       {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}}},
      {"3x3 top edge 8", 3, 3, 1, 0, nf8, {{0, 0}, {2, 0}, {1, 1}, {0, 1}, {2, 1}}},
      {"4x3 bottom edge 8: vertical leads its row", 4, 3, 1, 2, nf8, {{1, 1}, {0, 1}, {2, 1}, {0, 2}, {2, 2}}},
      {"3x4 left edge 8", 3, 4, 0, 1, nf8, {{0, 0}, {1, 0}, {1, 1}, {0, 2}, {1, 2}}},
      {"3x3 interior 4", 3, 3, 1, 1, nf4, {{1, 0}, {0, 1}, {2, 1}, {1, 2}}},
      {"3x3 corner 4", 3, 3, 2, 2, nf4, {{2, 1}, {1, 2}}},
      {"1x3 column 4", 1, 3, 0, 1, nf4, {{0, 0}, {0, 2}}},
      {"3x3 interior diagonals", 3, 3, 1, 1, nf8Minus4, {{0, 0}, {2, 0}, {0, 2}, {2, 2}}},
      {"3x3 right edge diagonals", 3, 3, 2, 1, nf8Minus4, {{1, 0}, {1, 2}}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TGrayscaleBitmap B;
    B.Resize(C.W, C.H);
    const TPixelNeighbors N = C.Fn == nf4   ? B.Get4ConnectedPixels(C.X, C.Y)
                              : C.Fn == nf8 ? B.Get8ConnectedPixels(C.X, C.Y)
                                            : B.Get8Minus4ConnectedPixels(C.X, C.Y);
    EXPECT_EQ(Text(Points(N)), Text(C.Expected));
  }
}

// Every pixel of small bitmaps against neighbours listed independently: the coordinate functions
// give exactly the neighbours inside, the pointer variants address the same pixels in N, W, E, S
// and (8-connected, everywhere) N, NW, NE, W, E, S, SW, SE order.
TEST(Bitmaps, NeighbourFunctionsCoverExactlyTheNeighboursInside) {
  const TSize Sizes[] = {{1, 1}, {2, 2}, {3, 3}, {5, 4}, {1, 4}, {4, 1}};
  for (const TSize& Size : Sizes) {
    TGrayscaleBitmap G;
    G.Resize(Size.cx, Size.cy);
    TIntegerGrayscaleBitmap I;
    I.Resize(Size.cx, Size.cy);
    TColorBitmap C;
    C.Resize(Size.cx, Size.cy);
    for (int32_t Y = 0; Y < Size.cy; ++Y)
      for (int32_t X = 0; X < Size.cx; ++X) {
        SCOPED_TRACE(std::to_string(Size.cx) + "x" + std::to_string(Size.cy) + " at " + Text({{X, Y}}));
        std::vector<TPoint> Four, Diagonal, Border8;
        for (int DY = -1; DY <= 1; ++DY)
          for (int DX = -1; DX <= 1; ++DX) {
            const TPoint P{X + DX, Y + DY};
            if ((DX == 0 && DY == 0) || !G.ContainsPoint(P)) continue;
            (DX == 0 || DY == 0 ? Four : Diagonal).push_back(P);
          }
        // N, W, E, S is raster order with the horizontal pair in the middle.
        std::vector<TPoint> Eight = Four;
        Eight.insert(Eight.end(), Diagonal.begin(), Diagonal.end());
        auto Less = [](TPoint A, TPoint B) { return A.Y != B.Y ? A.Y < B.Y : A.X < B.X; };
        std::sort(Eight.begin(), Eight.end(), Less);
        for (int DY = -1; DY <= 1; ++DY) {
          // Each row: the vertical neighbour first, then left, then right.
          const int DXs[3] = {DY == 0 ? -1 : 0, DY == 0 ? 1 : -1, DY == 0 ? 99 : 1};
          for (int DX : DXs) {
            const TPoint P{X + DX, Y + DY};
            if (DX != 99 && G.ContainsPoint(P) && !(DX == 0 && DY == 0)) Border8.push_back(P);
          }
        }
        const bool Interior = X > 0 && Y > 0 && X < Size.cx - 1 && Y < Size.cy - 1;
        EXPECT_EQ(Text(Points(G.Get4ConnectedPixels(X, Y))), Text(Four));
        EXPECT_EQ(Text(Points(G.Get8Minus4ConnectedPixels(X, Y))), Text(Diagonal));
        EXPECT_EQ(Text(Points(G.Get8ConnectedPixels(X, Y))), Text(Interior ? Eight : Border8));

        EXPECT_EQ(Text(PointsOf(G.Get4ConnectedNeighbors(X, Y), G.Bits(), G.RowSize(), 1)), Text(Four));
        EXPECT_EQ(Text(PointsOf(G.Get8ConnectedNeighbors(X, Y), G.Bits(), G.RowSize(), 1)), Text(Border8));
        EXPECT_EQ(Text(PointsOf(I.Get4ConnectedNeighbors(X, Y), I.Bits(), I.RowSize(), 4)), Text(Four));
        EXPECT_EQ(Text(PointsOf(C.Get4ConnectedNeighbors(X, Y), C.Bits(), C.RowSize(), 4)), Text(Four));
      }
  }
}

// ---- Accessors -----------------------------------------------------------------------------

template <class T>
class GrayscaleBitmaps : public ::testing::Test {};
using GrayscaleTypes =
    ::testing::Types<TGrayscaleBitmap, TFloatGrayscaleBitmap, TWordGrayscaleBitmap, TIntegerGrayscaleBitmap>;
TYPED_TEST_SUITE(GrayscaleBitmaps, GrayscaleTypes);

TYPED_TEST(GrayscaleBitmaps, ClippedAccessorsRepeatTheEdgeOutward) {
  TypeParam B;
  B.Resize(4, 3);
  for (int32_t Y = 0; Y < 3; ++Y)
    for (int32_t X = 0; X < 4; ++X) B.SetPixel(X, Y, static_cast<decltype(B.GetPixel(0, 0))>(10 * Y + X + 1));
  EXPECT_EQ(B.GetClippedValue(TPoint{-3, 2}), B.GetValue(TPoint{0, 2}));
  EXPECT_EQ(B.GetClippedValue(TPoint{9, -4}), B.GetPixel(3, 0));
  EXPECT_EQ(B.GetClippedValue(TPoint{2, 1}), B.GetPixel(2, 1));
  EXPECT_EQ(B.GetClippedFloatValue(B.Width() + 10, B.Height() + 10), 24.0f);
  EXPECT_EQ(B.GetClippedFloatValue(-1, 1), 11.0f);
  const TAbstractGrayscaleBitmap& Abstract = B;
  EXPECT_EQ(Abstract.GetFloatValue(1, 2), 22.0f);
  EXPECT_EQ(Abstract.GetClippedFloatValue(B.Width() + 10, B.Height() + 10), 24.0f);
  EXPECT_EQ(Abstract.GetClippedFloatValue(2, -5), 3.0f);
  B.SetValue(TPoint{1, 1}, 5);
  EXPECT_EQ(*B.Address(1, 1), 5);
}

TEST(Bitmaps, FloatValuesAndChannels) {
  TIntegerGrayscaleBitmap I;
  I.Resize(1, 1);
  I.SetPixel(0, 0, -7);
  EXPECT_EQ(I.GetFloatValue(0, 0), -7.0f);
  TWordGrayscaleBitmap W;
  W.Resize(1, 1);
  W.SetPixel(0, 0, 65535);
  EXPECT_EQ(W.GetFloatValue(0, 0), 65535.0f);

  TColorBitmap C;
  C.Resize(2, 1);
  C.SetPixel(1, 0, TColorPixel{10, 20, 30, 40});
  EXPECT_EQ(C.GetFloatColor(1, 0), (TFloatColorPixel{10, 20, 30}));
  const float ColorChannels[4] = {10, 20, 30, 40};
  for (int32_t Ch = 0; Ch < 4; ++Ch) EXPECT_EQ(C.GetFloatColorChannel(1, 0, Ch), ColorChannels[Ch]);

  THSLColorBitmap H;
  H.Resize(2, 2);
  H.SetPixel(1, 1, THSLColorPixel{300, 128, 64});
  EXPECT_EQ(H.GetFloatColor(1, 1), (TFloatColorPixel{300, 128, 64}));
  const TAbstractColorBitmap& AbstractH = H;
  EXPECT_EQ(AbstractH.GetFloatColorChannel(1, 1, 0), 300.0f);
  EXPECT_EQ(AbstractH.GetFloatColorChannel(1, 1, 1), 128.0f);
  EXPECT_EQ(AbstractH.GetFloatColorChannel(1, 1, 2), 64.0f);
  EXPECT_EQ(AbstractH.GetFloatColorChannel(1, 1, 7), 64.0f) << "every other channel is L";

  TFloatColorBitmap F;
  F.Resize(3, 2);
  F.SetPixel(2, 1, TFloatColorPixel{1.5f, -2.5f, 3.25f});
  EXPECT_EQ(F.GetFloatColor(2, 1), (TFloatColorPixel{1.5f, -2.5f, 3.25f}));
  EXPECT_EQ(F.GetFloatColorChannel(2, 1, 1), -2.5f);
  EXPECT_EQ(F.GetFloatColorChannel(2, 1, 2), 3.25f);
}

// ---- Whole-image operations ----------------------------------------------------------------

std::vector<std::string> Picture(const TGrayscaleBitmap& B) {
  std::vector<std::string> Rows;
  for (int32_t Y = 0; Y < B.Height(); ++Y) {
    std::string Row;
    for (int32_t X = 0; X < B.Width(); ++X) Row += B.GetPixel(X, Y) ? '#' : '.';
    Rows.push_back(Row);
  }
  return Rows;
}

TEST(GrayscaleBitmap, FillRectClipsToTheBitmap) {
  struct Case {
    TRect Rect;
    std::vector<std::string> Expected;
  };
  const Case Cases[] = {
      {Rect(-5, -5, 2, 2), {"##...", "##...", ".....", "....."}},
      {Rect(3, 2, 99, 99), {".....", ".....", "...##", "...##"}},
      {Rect(1, 1, 4, 2), {".....", ".###.", ".....", "....."}},
      {Rect(2, 2, 2, 4), {".....", ".....", ".....", "....."}},
      {Rect(5, 0, 9, 4), {".....", ".....", ".....", "....."}},
      {Rect(-9, -9, -1, -1), {".....", ".....", ".....", "....."}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(::testing::PrintToString(C.Expected));
    TGrayscaleBitmap B;
    B.Resize(5, 4);
    B.Clear();
    B.FillRect(C.Rect, 200);
    EXPECT_EQ(Picture(B), C.Expected);
    for (int32_t Y = 0; Y < 4; ++Y)
      for (int32_t X = 0; X < 5; ++X) EXPECT_TRUE(B.GetPixel(X, Y) == 0 || B.GetPixel(X, Y) == 200);
  }
}

TEST(GrayscaleBitmap, ClearAndAssignCopyTheWholeBuffer) {
  TGrayscaleBitmap A;
  A.Resize(5, 3);
  std::memset(A.Bits(), 0xEE, static_cast<size_t>(A.RowSize()) * 3);
  A.Clear();
  for (int32_t I = 0; I < A.RowSize() * 3; ++I) ASSERT_EQ(A.Bits()[I], 0) << I;
  for (int32_t I = 0; I < A.RowSize() * 3; ++I) A.Bits()[I] = static_cast<uint8_t>(I * 7);

  TGrayscaleBitmap B;
  B.Resize(2, 9);
  B.Assign(&A);
  EXPECT_EQ(B.Width(), 5);
  EXPECT_EQ(B.Height(), 3);
  EXPECT_EQ(std::memcmp(A.Bits(), B.Bits(), static_cast<size_t>(A.RowSize()) * 3), 0);
  B.Assign(&B);
  EXPECT_EQ(B.GetPixel(4, 2), A.GetPixel(4, 2));

  TGrayscaleBitmap Empty;
  B.Assign(&Empty);
  EXPECT_EQ(B.Width(), 0);
  EXPECT_EQ(B.Bits(), nullptr);

  TFloatGrayscaleBitmap F;
  F.Resize(3, 2);
  F.SetPixel(2, 1, 4.5f);
  F.Clear();
  EXPECT_EQ(F.GetPixel(2, 1), 0.0f);
}

TEST(ColorBitmap, AssignTakesSizeAndContent) {
  TColorBitmap A;
  A.Resize(3, 2);
  A.SetPixel(2, 1, TColorPixel{1, 2, 3, 4});
  TColorBitmap B;
  B.Assign(&A);
  EXPECT_EQ(B.Width(), 3);
  EXPECT_EQ(B.Height(), 2);
  EXPECT_EQ(B.GetPixel(2, 1), (TColorPixel{1, 2, 3, 4}));
  EXPECT_NE(B.Bits(), A.Bits());
  EXPECT_EQ(B.Bitmap()->Width(), 3);
  EXPECT_EQ(B.Bitmap()->PixelFormat(), pf32bit);
  EXPECT_EQ(B.Bitmap()->AlphaFormat(), afPremultiplied);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(B.Bits()), B.Bitmap()->ScanLine(0));
}

TEST(ColorBitmap, MaskFadesOnlyTheOverlap) {
  TColorBitmap C;
  C.Resize(3, 3);
  for (int32_t Y = 0; Y < 3; ++Y)
    for (int32_t X = 0; X < 3; ++X) C.SetPixel(X, Y, TColorPixel{200, 100, 255, 200});
  TGrayscaleBitmap M;
  M.Resize(2, 2);
  M.SetPixel(0, 0, 128);
  M.SetPixel(1, 0, 255);
  M.SetPixel(0, 1, 0);
  M.SetPixel(1, 1, 1);
  C.Mask(&M);
  EXPECT_EQ(C.GetPixel(0, 0), (TColorPixel{100, 50, 128, 100})) << "128 weighs 129 / 256";
  EXPECT_EQ(C.GetPixel(1, 0), (TColorPixel{200, 100, 255, 200})) << "255 keeps the pixel";
  EXPECT_EQ(C.GetPixel(0, 1), (TColorPixel{0, 0, 0, 0})) << "0 makes it transparent black";
  EXPECT_EQ(C.GetPixel(1, 1), (TColorPixel{0, 0, 0, 0}));
  for (int32_t I = 0; I < 3; ++I) {
    EXPECT_EQ(C.GetPixel(2, I), (TColorPixel{200, 100, 255, 200}));
    EXPECT_EQ(C.GetPixel(I, 2), (TColorPixel{200, 100, 255, 200}));
  }
  // A mask larger than the bitmap touches nothing outside it.
  TColorBitmap Small;
  Small.Resize(1, 1);
  Small.SetPixel(0, 0, TColorPixel{200, 200, 200, 200});
  Small.Mask(&M);
  EXPECT_EQ(Small.GetPixel(0, 0), (TColorPixel{100, 100, 100, 100}));
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

// The colour at (X, Y) of a UI-library bitmap, as (R, G, B, A).
TColorPixel TargetPixel(const TBitmap& B, int32_t X, int32_t Y) {
  const uint8_t* P = B.ScanLine(Y) + 4 * X;
  return TColorPixel{P[0], P[1], P[2], P[3]};
}

TEST(BitmapDrawing, ColorBitmapDrawsScaledAndByOffset) {
  TColorBitmap Source;
  Source.Resize(2, 2);
  Source.SetPixel(0, 0, {255, 0, 0, 255});
  Source.SetPixel(1, 0, {0, 255, 0, 255});
  Source.SetPixel(0, 1, {0, 0, 255, 255});
  Source.SetPixel(1, 1, {0, 0, 0, 0});  // transparent: the target shows through
  TBitmap Target;
  Target.SetSize(6, 4);
  Target.Fill(clWhite);
  Source.Draw(Target.DeviceContext(), Rect(0, 0, 2, 2), Rect(2, 0, 6, 4), bsLinearInterpolation);
  EXPECT_EQ(TargetPixel(Target, 1, 1), (TColorPixel{255, 255, 255, 255})) << "outside the destination";
  EXPECT_EQ(TargetPixel(Target, 2, 0), (TColorPixel{255, 0, 0, 255}));
  EXPECT_EQ(TargetPixel(Target, 3, 1), (TColorPixel{255, 0, 0, 255}));
  EXPECT_EQ(TargetPixel(Target, 5, 0), (TColorPixel{0, 255, 0, 255}));
  EXPECT_EQ(TargetPixel(Target, 2, 3), (TColorPixel{0, 0, 255, 255}));
  EXPECT_EQ(TargetPixel(Target, 5, 3), (TColorPixel{255, 255, 255, 255}));

  // The part whose top-left corner is (1, 0), unscaled, into a 1 x 2 rectangle.
  Target.Fill(clWhite);
  Source.Draw(Target.DeviceContext(), Rect(0, 0, 1, 2), 1, 0);
  EXPECT_EQ(TargetPixel(Target, 0, 0), (TColorPixel{0, 255, 0, 255}));
  EXPECT_EQ(TargetPixel(Target, 0, 1), (TColorPixel{255, 255, 255, 255}));

  // Changes through Bits show in the next drawing.
  Source.SetPixel(0, 0, {10, 20, 30, 255});
  Source.Draw(Target.DeviceContext());
  EXPECT_EQ(TargetPixel(Target, 0, 0), (TColorPixel{10, 20, 30, 255}));

  TColorBitmap Empty;
  Empty.Draw(Target.DeviceContext());  // draws nothing, touches nothing
}

TEST(BitmapDrawing, GrayscaleBitmapDrawsAsOpaqueGray) {
  TGrayscaleBitmap Mask;
  Mask.Resize(2, 1);
  Mask.SetPixel(0, 0, 0);
  Mask.SetPixel(1, 0, 200);
  TBitmap Target;
  Target.SetSize(4, 2);
  Target.Fill(clRed);
  Mask.Draw(Target.DeviceContext(), Rect(0, 0, 2, 1), Rect(0, 0, 4, 2));
  EXPECT_EQ(TargetPixel(Target, 1, 1), (TColorPixel{0, 0, 0, 255}));
  EXPECT_EQ(TargetPixel(Target, 2, 0), (TColorPixel{200, 200, 200, 255}));
  // A source rectangle reaching outside the mask leaves that part of the target alone.
  Target.Fill(clRed);
  Mask.Draw(Target.DeviceContext(), Rect(1, 0, 3, 1), Rect(0, 0, 4, 1));
  EXPECT_EQ(TargetPixel(Target, 0, 0), (TColorPixel{200, 200, 200, 255}));
  EXPECT_EQ(TargetPixel(Target, 3, 0), (TColorPixel{255, 0, 0, 255}));
}

}  // namespace
}  // namespace varnix
