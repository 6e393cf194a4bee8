#include "refine/CoreAntiAliasing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "RefineTestUtils.h"
#include "common/Numbers.h"

namespace varnix {
namespace {

using test::BoundaryOf;
using test::Bytes;
using test::MakeMask;
using test::TFixedGradient;
using TKernel = TGaussianAntiAliasing::TGaussianKernel;

TEST(GaussianAntiAliasingTest, CorrectDistributionMapsMomentsOntoWidths) {
  struct {
    int32_t Index;
    float Moment, Mean;
    double Sigma, Factor;
  } const Cases[] = {
      {0, 1.0f, 0.2f, 0.0, 1.531956615},   // below the first entry: width 0, first factor
      {1, 20.0f, 0.1f, 7.0, 6.631299735},  // beyond the last entry: width 7, last factor
      // Half way between the first two entries of window 0.
      {0, static_cast<float>((1.45985 + 1.53622) / 2), 0.3f, 0.25, (1.531956615 + 1.731241993) / 2},
      {1, 4.0252589f, 0.4f, 1.5, 1.063829787},  // on an entry
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << "index " << C.Index << " moment " << C.Moment);
    TGaussianDistribution D{C.Mean, C.Moment, true};
    TGaussianAntiAliasing::CorrectDistribution(C.Index, D);
    EXPECT_NEAR(D.Sigma, C.Sigma, 1e-5);
    EXPECT_NEAR(D.Mean, C.Mean * C.Factor, 1e-5);
  }
}

TEST(GaussianAntiAliasingTest, CalculateKernelRadiiAndNormalisation) {
  struct {
    float Sigma;
    int32_t Radius;
  } const Cases[] = {{0.0f, 0}, {2.0f, 6}, {10.0f, 24}, {8.0f, 24}, {0.5f, 2}, {0.1f, 0}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Sigma);
    TKernel K;
    int32_t Radius = -1;
    TGaussianAntiAliasing::CalculateKernel(C.Sigma, K, Radius);
    EXPECT_EQ(Radius, C.Radius);
    double Sum = 0;
    for (int32_t I = -Radius; I <= Radius; ++I) Sum += K[I];
    EXPECT_NEAR(Sum, 1.0, 1e-6);
    for (int32_t I = 1; I <= Radius; ++I) EXPECT_EQ(K[I], K[-I]);
  }
  TKernel K;
  int32_t Radius;
  TGaussianAntiAliasing::CalculateKernel(0.0f, K, Radius);
  EXPECT_EQ(K[0], 1.0f);
}

TEST(GaussianAntiAliasingTest, SetSigmaValuesRaisesAlongTheAxisInsideTheBitmap) {
  TOwned<TGrayscaleBitmap> B(NewObject<TGrayscaleBitmap>());
  B->Resize(60, 3);
  B->Clear();
  TGaussianAntiAliasing::SetSigmaValues(B.get(), TPoint{30, 1}, 8.0f, 1, 0);
  for (int32_t X = 0; X < 60; ++X) EXPECT_EQ(B->GetPixel(X, 1), X >= 6 && X <= 54 ? 255 : 0) << X;
  EXPECT_EQ(B->GetPixel(30, 0), 0);
  // Near the border the pixels beyond the bitmap are skipped; smaller values do not lower.
  TGaussianAntiAliasing::SetSigmaValues(B.get(), TPoint{2, 1}, 1.0f, 1, 0);
  EXPECT_EQ(B->GetPixel(0, 1), Round(31.875));
  EXPECT_EQ(B->GetPixel(6, 1), 255);
}

TEST(GaussianAntiAliasingTest, StraightEdgeBoundaryPixelStaysOutside) {
  // X gradient g at the boundary pixel and at its inside neighbour, 0 elsewhere.
  for (const bool InsideRight : {true, false}) {
    SCOPED_TRACE(InsideRight ? "inside to the right" : "inside to the left");
    auto M = MakeMask(20, 12, [&](int32_t X, int32_t) { return InsideRight ? X >= 10 : X <= 9; });
    const int32_t P = InsideRight ? 9 : 10, Inner = InsideRight ? 10 : 9;
    TFixedGradient* G = NewObject<TFixedGradient>(20, 12);
    InterfacePtr<ISelectionGradient> Keep(G);
    for (int32_t Y = 0; Y < 12; ++Y) {
      G->XGradient->SetPixel(P, Y, 1000);
      G->XGradient->SetPixel(Inner, Y, 1000);
    }
    const TGaussianDistribution D = TGaussianAntiAliasing::EstimateDistribution(M.get(), G->XGradient.get(), P, 6, 1, 0);
    ASSERT_TRUE(D.Valid);
    EXPECT_FLOAT_EQ(D.Mean, InsideRight ? 0.5f : -0.5f);
    EXPECT_FALSE(TGaussianAntiAliasing::EstimateDistribution(M.get(), G->YGradient.get(), P, 6, 0, 1).Valid);
    TOwned<TGaussianAntiAliasing> AA(NewObject<TGaussianAntiAliasing>(gaSharp));
    TOwned<TPointList> Points = BoundaryOf(*M);
    AA->AntialiasEdges(M.get(), G, Points.get());
    for (int32_t Y = 0; Y < 12; ++Y) EXPECT_EQ(AA->EdgeMask()->GetPixel(P, Y), 0);
  }
}

TEST(GaussianAntiAliasingTest, HoleInsideTheSelectionGetsZero) {
  auto M = MakeMask(9, 9, [](int32_t X, int32_t Y) { return !(X == 4 && Y == 4); });
  TFixedGradient* G = NewObject<TFixedGradient>(9, 9);
  InterfacePtr<ISelectionGradient> Keep(G);
  std::fill_n(G->XGradient->Bits(), 81, 500);
  std::fill_n(G->YGradient->Bits(), 81, 500);
  TOwned<TGaussianAntiAliasing> AA(NewObject<TGaussianAntiAliasing>(gaSharp));
  TOwned<TPointList> Points = BoundaryOf(*M);
  ASSERT_EQ(Points->Count(), 1);
  AA->AntialiasEdges(M.get(), G, Points.get());
  EXPECT_EQ(AA->EdgeMask()->GetPixel(4, 4), 0);
}

// A blob touching the left border and a block in the bottom-right corner, with random
// gradients, so that widths, offsets and clamped reads of every kind occur.
struct TFixture {
  TOwned<TGrayscaleBitmap> Mask;
  TFixedGradient* Gradient;
  InterfacePtr<ISelectionGradient> Keep;
  TOwned<TPointList> Points;

  TFixture(int32_t W, int32_t H, uint32_t Seed) {
    Mask = MakeMask(W, H, [&](int32_t X, int32_t Y) {
      const double DX = (X - W * 0.2) / (W * 0.3), DY = (Y - H * 0.45) / (H * 0.3);
      return DX * DX + DY * DY < 1.0 || (X > W * 0.7 && Y > H * 0.75) || (X == Y && X < W / 2);
    });
    Gradient = NewObject<TFixedGradient>(W, H);
    Keep = Gradient;
    std::mt19937 Random(Seed);
    for (TWordGrayscaleBitmap* B : {Gradient->XGradient.get(), Gradient->YGradient.get(), Gradient->Magnitude.get()})
      for (int32_t I = 0; I < W * H; ++I) B->Bits()[I] = static_cast<uint16_t>(Random() % 65536);
    Points = BoundaryOf(*Mask);
  }
};

TEST(GaussianAntiAliasingTest, NoneThresholdsAndSharpHandsOutTheEdgeMask) {
  TFixture F(70, 50, 1);
  TOwned<TGaussianAntiAliasing> None(NewObject<TGaussianAntiAliasing>(gaNone));
  TOwned<TGrayscaleBitmap> Result(NewObject<TGrayscaleBitmap>());
  None->AntiAlias(F.Mask.get(), F.Gradient, Result.get(), F.Points.get());
  for (uint8_t V : Bytes(*Result)) ASSERT_TRUE(V == 0 || V == 255);

  TOwned<TGaussianAntiAliasing> Sharp(NewObject<TGaussianAntiAliasing>(gaSharp));
  Sharp->AntialiasEdges(F.Mask.get(), F.Gradient, F.Points.get());
  Sharp->SoftenEdges(Result.get());
  EXPECT_EQ(Bytes(*Result), Bytes(*Sharp->EdgeMask()));
  bool Partial = false;
  for (int32_t I = 0; I < F.Points->Count(); ++I) {
    const uint8_t V = Result->GetValue(F.Points->GetPoint(I));
    Partial = Partial || (V > 0 && V < 255);
    // The thresholded value is the sharp value cut at 128.
    EXPECT_EQ(Bytes(*Result).size(), Bytes(*None->EdgeMask()).size());
    EXPECT_EQ(None->EdgeMask()->GetValue(F.Points->GetPoint(I)), V < 128 ? 0 : 255);
  }
  EXPECT_TRUE(Partial);
  for (const TGrayscaleBitmap* B : {Sharp->Cells(), Sharp->SigmaX(), Sharp->SigmaY()})
    for (uint8_t V : Bytes(*B)) ASSERT_EQ(V, 0);
  EXPECT_EQ(Sharp->GetProgress(), 0.0f);
}

TEST(GaussianAntiAliasingTest, CellsCoverTheDocumentInSixteenPixelBlocks) {
  auto M = MakeMask(40, 40, [](int32_t X, int32_t Y) { return X == 3 && Y == 2; });
  TFixedGradient* G = NewObject<TFixedGradient>(40, 40);
  InterfacePtr<ISelectionGradient> Keep(G);
  TOwned<TPointList> Points(NewObject<TPointList>());
  Points->Add(TPoint{2, 2});
  TOwned<TGaussianAntiAliasing> AA(NewObject<TGaussianAntiAliasing>(gaSoft));
  AA->AntialiasEdges(M.get(), G, Points.get());
  ASSERT_EQ(AA->Cells()->Width(), 3);
  ASSERT_EQ(AA->Cells()->Height(), 3);
  // Only the 2 x 2 cells of the 3 x 3 block around the top-left cell exist.
  EXPECT_EQ(Bytes(*AA->Cells()), (std::vector<uint8_t>{1, 1, 0, 1, 1, 0, 0, 0, 0}));

  auto Wide = MakeMask(33, 5, [](int32_t, int32_t) { return false; });
  TOwned<TGaussianAntiAliasing> Narrow(NewObject<TGaussianAntiAliasing>(gaSoft));
  TOwned<TPointList> None(NewObject<TPointList>());
  TFixedGradient* G2 = NewObject<TFixedGradient>(33, 5);
  InterfacePtr<ISelectionGradient> Keep2(G2);
  Narrow->AntialiasEdges(Wide.get(), G2, None.get());
  EXPECT_EQ(Narrow->Cells()->Width(), 3);
  EXPECT_EQ(Narrow->Cells()->Height(), 1);
}

// ---- The softening written out step by step ------------------------------------------------

struct TPlain {
  int32_t W, H;
  std::vector<uint8_t> V;
  uint8_t& At(int32_t X, int32_t Y) { return V[static_cast<size_t>(Y) * W + X]; }
  uint8_t Clamped(int32_t X, int32_t Y) { return At(std::clamp(X, 0, W - 1), std::clamp(Y, 0, H - 1)); }
};

TPlain Plain(const TGrayscaleBitmap& B) { return TPlain{B.Width(), B.Height(), Bytes(B)}; }

template <class F>
void ForTouchedCells(TPlain& Cells, int32_t W, int32_t H, F&& Body) {
  for (int32_t CY = 0; CY < Cells.H; ++CY)
    for (int32_t CX = 0; CX < Cells.W; ++CX)
      if (Cells.At(CX, CY) == 1)
        for (int32_t Y = 16 * CY; Y < std::min(16 * CY + 16, H); ++Y)
          for (int32_t X = 16 * CX; X < std::min(16 * CX + 16, W); ++X) Body(X, Y);
}

void ReferenceBlurSigma(TPlain& Map, TPlain& Cells) {
  TKernel K;
  int32_t R;
  TGaussianAntiAliasing::CalculateKernel(2.0f, K, R);
  TPlain Temp = Map;
  ForTouchedCells(Cells, Map.W, Map.H, [&](int32_t X, int32_t Y) {
    float S = 0;
    for (int32_t I = -R; I <= R; ++I) S = S + static_cast<float>(Map.Clamped(X + I, Y)) * K[I];
    Temp.At(X, Y) = static_cast<uint8_t>(Round(S));
  });
  Map = Temp;
  ForTouchedCells(Cells, Map.W, Map.H, [&](int32_t X, int32_t Y) {
    float S = 0;
    for (int32_t I = -R; I <= R; ++I) S = S + static_cast<float>(Temp.Clamped(X, Y + I)) * K[I];
    Map.At(X, Y) = static_cast<uint8_t>(Round(S));
  });
}

TPlain ReferenceBlurSelection(TPlain& Edge, TPlain& SX, TPlain& SY, TPlain& Cells, float Scaling) {
  TPlain Result = Edge;
  ForTouchedCells(Cells, Edge.W, Edge.H, [&](int32_t X, int32_t Y) {
    const float SigmaX = static_cast<float>(SX.At(X, Y)) * Scaling * 8 / 255;
    const float SigmaY = static_cast<float>(SY.At(X, Y)) * Scaling * 8 / 255;
    TKernel KX, KY;
    int32_t RX, RY;
    TGaussianAntiAliasing::CalculateKernel(SigmaX, KX, RX);
    TGaussianAntiAliasing::CalculateKernel(SigmaY, KY, RY);
    float Sum = 0;
    for (int32_t J = -RY; J <= RY; ++J) {
      float Inner = 0;
      for (int32_t I = -RX; I <= RX; ++I) Inner = Inner + KX[I] * static_cast<float>(Edge.Clamped(X + I, Y + J));
      Sum = Sum + KY[J] * Inner;
    }
    Result.At(X, Y) = static_cast<uint8_t>(Round(Sum));
  });
  return Result;
}

TEST(GaussianAntiAliasingTest, SofteningMatchesTheStepByStepComputation) {
  struct {
    TGaussianAntiAliasingMethod Method;
    float Scaling;
    int32_t W, H;
  } const Cases[] = {{gaMedium, 0.5f, 90, 70}, {gaSoft, 1.0f, 90, 70}, {gaVerySoft, 2.0f, 90, 70}, {gaSoft, 1.0f, 33, 17}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << "method " << int(C.Method) << " size " << C.W << " x " << C.H);
    TFixture F(C.W, C.H, 3);
    TOwned<TGaussianAntiAliasing> AA(NewObject<TGaussianAntiAliasing>(C.Method));
    AA->AntialiasEdges(F.Mask.get(), F.Gradient, F.Points.get());
    TPlain Edge = Plain(*AA->EdgeMask()), SX = Plain(*AA->SigmaX()), SY = Plain(*AA->SigmaY()), Cells = Plain(*AA->Cells());
    ASSERT_GT(*std::max_element(SX.V.begin(), SX.V.end()), 100);
    TOwned<TGrayscaleBitmap> Result(NewObject<TGrayscaleBitmap>());
    AA->SoftenEdges(Result.get());
    EXPECT_FLOAT_EQ(AA->GetProgress(), 1.0f);

    ReferenceBlurSigma(SX, Cells);
    ReferenceBlurSigma(SY, Cells);
    EXPECT_EQ(Bytes(*AA->SigmaX()), SX.V);
    EXPECT_EQ(Bytes(*AA->SigmaY()), SY.V);
    const TPlain Expected = ReferenceBlurSelection(Edge, SX, SY, Cells, C.Scaling);
    EXPECT_EQ(Bytes(*Result), Expected.V);
    EXPECT_NE(Bytes(*Result), Edge.V);
  }
}

TEST(GaussianAntiAliasingTest, ParallelAndSerialSofteningGiveTheSameBytes) {
  TFixture F(200, 150, 9);
  std::vector<uint8_t> Out[2];
  for (int32_t Threads : {1, 2}) {
    test::TThreadCountScope Scope(Threads);
    TOwned<TGaussianAntiAliasing> AA(NewObject<TGaussianAntiAliasing>(gaVerySoft));
    TOwned<TGrayscaleBitmap> Result(NewObject<TGrayscaleBitmap>());
    AA->AntiAlias(F.Mask.get(), F.Gradient, Result.get(), F.Points.get());
    Out[Threads - 1] = Bytes(*Result);
  }
  EXPECT_EQ(Out[0], Out[1]);
}

TEST(GaussianAntiAliasingTest, CancelledSofteningEndsEarly) {
  TFixture F(90, 70, 4);
  TOwned<TGrayscaleBitmap> Full(NewObject<TGrayscaleBitmap>());
  TOwned<TGaussianAntiAliasing> Complete(NewObject<TGaussianAntiAliasing>(gaSoft));
  Complete->AntiAlias(F.Mask.get(), F.Gradient, Full.get(), F.Points.get());

  TOwned<TGaussianAntiAliasing> AA(NewObject<TGaussianAntiAliasing>(gaSoft));
  AA->AntialiasEdges(F.Mask.get(), F.Gradient, F.Points.get());
  AA->Cancel();
  TOwned<TGrayscaleBitmap> Result(NewObject<TGrayscaleBitmap>());
  AA->SoftenEdges(Result.get());
  // The passes stopped after their first row of cells: only part of the edge is softened.
  ASSERT_EQ(Result->Width(), 90);
  EXPECT_NE(Bytes(*Result), Bytes(*Full));
  EXPECT_EQ(Bytes(*Result).back(), Bytes(*AA->EdgeMask()).back());
}

// ---- Simple anti-aliasing ------------------------------------------------------------------

TEST(SimpleAntiAliasingTest, ParabolaVertexPlacesTheEdge) {
  struct {
    const char* Name;
    uint16_t GA, GP, GB;
    uint8_t Expected;
  } const Cases[] = {
      {"peak in the middle", 10, 50, 10, 128},  // t = 0, Round(127.5)
      {"linear", 10, 20, 30, 127},              // a = 0: (255 + 0) div 2
      {"vertex at a quarter", 0, 6, 4, 191},    // t = 0.25, Round(191.25)
      {"vertex before P", 0, 1, 10, 0},         // t <= -0.5: B's side
      {"vertex after P", 10, 1, 0, 255},        // t >= 0.5: A's side
  };
  auto M = MakeMask(3, 1, [](int32_t X, int32_t) { return X == 0; });
  TOwned<TWordGrayscaleBitmap> G(NewObject<TWordGrayscaleBitmap>());
  G->Resize(3, 1);
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    G->SetPixel(0, 0, C.GA);
    G->SetPixel(1, 0, C.GP);
    G->SetPixel(2, 0, C.GB);
    EXPECT_EQ(TSimpleAntiAliasing::CalculateSqValue(M.get(), G.get(), TPoint{0, 0}, TPoint{1, 0}, TPoint{2, 0}), C.Expected);
  }
}

TEST(SimpleAntiAliasingTest, BoundaryPixelCases) {
  TFixedGradient* G = NewObject<TFixedGradient>(5, 5);
  InterfacePtr<ISelectionGradient> Keep(G);
  InterfacePtr<IAntiAliasing> AA(NewObject<TSimpleAntiAliasing>());
  TOwned<TGrayscaleBitmap> Result(NewObject<TGrayscaleBitmap>());
  TOwned<TPointList> Points(NewObject<TPointList>());
  Points->Add(TPoint{2, 2});
  // A one-pixel hole: all four neighbours are 255.
  auto Hole = MakeMask(5, 5, [](int32_t X, int32_t Y) { return !(X == 2 && Y == 2); });
  AA->AntiAlias(Hole.get(), G, Result.get(), Points.get());
  EXPECT_EQ(Result->GetPixel(2, 2), 255);
  // Selected left and right, not above and below: the average of 0 and 255.
  auto Bridge = MakeMask(5, 5, [](int32_t X, int32_t Y) { return Y == 2 && X != 2; });
  AA->AntiAlias(Bridge.get(), G, Result.get(), Points.get());
  EXPECT_EQ(Result->GetPixel(2, 2), 127);
  EXPECT_EQ(Result->GetPixel(1, 2), 255);
  // On the left border the pixel is compared with itself horizontally, so only the vertical
  // pair decides.
  auto Border = MakeMask(5, 5, [](int32_t X, int32_t Y) { return Y < 2 || X == 1; });
  TOwned<TPointList> Left(NewObject<TPointList>());
  Left->Add(TPoint{0, 2});
  G->Magnitude->SetPixel(0, 1, 10);
  G->Magnitude->SetPixel(0, 2, 50);
  G->Magnitude->SetPixel(0, 3, 10);
  AA->AntiAlias(Border.get(), G, Result.get(), Left.get());
  EXPECT_EQ(Result->GetPixel(0, 2), 128);
}

}  // namespace
}  // namespace varnix
