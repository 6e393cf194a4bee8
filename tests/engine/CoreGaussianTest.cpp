#include "engine/CoreGaussian.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "EngineTestUtils.h"
#include "common/Numbers.h"

namespace varnix {
namespace {

using test::TThreadCountScope;

TOwned<TFloatColorBitmap> RandomLab(int32_t Width, int32_t Height, uint32_t Seed) {
  TOwned<TFloatColorBitmap> B(NewObject<TFloatColorBitmap>());
  B->Resize(Width, Height);
  std::mt19937 Random(Seed);
  std::uniform_real_distribution<float> L(0, 100), AB(-80, 80);
  for (int32_t Y = 0; Y < Height; ++Y)
    for (int32_t X = 0; X < Width; ++X) B->SetPixel(X, Y, TFloatColorPixel{L(Random), AB(Random), AB(Random)});
  return B;
}

struct TGradients {
  TOwned<TWordGrayscaleBitmap> G{NewObject<TWordGrayscaleBitmap>()};
  TOwned<TWordGrayscaleBitmap> X{NewObject<TWordGrayscaleBitmap>()};
  TOwned<TWordGrayscaleBitmap> Y{NewObject<TWordGrayscaleBitmap>()};
};

TGradients Convert(const TAbstractColorBitmap& Source, float Sigma = 1.5f) {
  TGradients R;
  InterfacePtr<IColorToGradientConverter> C(NewObject<TGaussianGradientConverter>(Sigma));
  C->Convert(&Source, R.G.get(), R.X.get(), R.Y.get());
  return R;
}

// The conversion written out step by step, one line at a time with padded line buffers and the
// vertical pass column by column: what the optimised converter must reproduce bit for bit.
std::vector<std::vector<uint16_t>> ReferenceConvert(const TFloatColorBitmap& Source, float Sigma) {
  const int32_t W = Source.Width(), H = Source.Height();
  TGaussianGradientConverter* Kernels = NewObject<TGaussianGradientConverter>(Sigma);
  InterfacePtr<IColorToGradientConverter> Keep(Kernels);
  std::vector<float> Sq[2];
  for (int32_t Dir = 0; Dir < 2; ++Dir) {
    Kernels->GenerateKernels(Dir == 0 ? gdX : gdY);
    const int32_t R = Kernels->Radius();
    Sq[Dir].assign(static_cast<size_t>(W) * H, 0.0f);
    std::vector<float> Inter(static_cast<size_t>(W) * H);
    std::vector<float> Buffer(static_cast<size_t>(std::max(W, H)) + 100);
    float* Line = Buffer.data() + 50;
    for (int32_t C = 0; C < 3; ++C) {
      for (int32_t Y = 0; Y < H; ++Y) {
        for (int32_t X = 0; X < W; ++X) Line[X] = Source.GetFloatColorChannel(X, Y, C);
        for (int32_t J = 1; J <= R; ++J) Line[-J] = Line[0], Line[W - 1 + J] = Line[W - 1];
        for (int32_t I = 0; I < W; ++I) {
          float S = 0;
          for (int32_t K = -R; K <= R; ++K) S = S + Kernels->HorizontalKernel()[K] * Line[I + K];
          Inter[static_cast<size_t>(Y) * W + I] = S;
        }
      }
      for (int32_t X = 0; X < W; ++X) {
        for (int32_t Y = 0; Y < H; ++Y) Line[Y] = Inter[static_cast<size_t>(Y) * W + X];
        for (int32_t J = 1; J <= R; ++J) Line[-J] = Line[0], Line[H - 1 + J] = Line[H - 1];
        for (int32_t I = 0; I < H; ++I) {
          float S = 0;
          for (int32_t K = -R; K <= R; ++K) S = S + Kernels->VerticalKernel()[K] * Line[I + K];
          float& D = Sq[Dir][static_cast<size_t>(I) * W + X];
          D = D + S * S;
        }
      }
    }
  }
  float MaxX = 0, MaxY = 0, MaxSum = 0;
  for (size_t I = 0; I < Sq[0].size(); ++I) {
    MaxX = std::max(MaxX, Sq[0][I]);
    MaxY = std::max(MaxY, Sq[1][I]);
    MaxSum = std::max(MaxSum, Sq[0][I] + Sq[1][I]);
  }
  auto Scale = [](float Max) { return Max > 0 ? 65535.0f / std::sqrt(Max) : 0.0f; };
  const float SX = Scale(MaxX), SY = Scale(MaxY), SS = Scale(MaxSum);
  std::vector<std::vector<uint16_t>> Out(3, std::vector<uint16_t>(Sq[0].size()));
  for (size_t I = 0; I < Sq[0].size(); ++I) {
    Out[0][I] = static_cast<uint16_t>(Round(std::sqrt(Sq[0][I] + Sq[1][I]) * SS));
    Out[1][I] = static_cast<uint16_t>(Round(std::sqrt(Sq[0][I]) * SX));
    Out[2][I] = static_cast<uint16_t>(Round(std::sqrt(Sq[1][I]) * SY));
  }
  return Out;
}

std::vector<uint16_t> Values(const TWordGrayscaleBitmap& B) {
  std::vector<uint16_t> R;
  for (int32_t Y = 0; Y < B.Height(); ++Y)
    for (int32_t X = 0; X < B.Width(); ++X) R.push_back(B.GetPixel(X, Y));
  return R;
}

TEST(GaussianGradientConverterTest, KernelRadiusFollowsSigma) {
  struct {
    float Sigma;
    int32_t Radius;
  } const Cases[] = {{1.5f, 4}, {1.0f, 3}, {0.1f, 1}, {20.0f, 50}, {2.0f, 6}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Sigma);
    InterfacePtr<IColorToGradientConverter> Keep;
    TGaussianGradientConverter* Conv = NewObject<TGaussianGradientConverter>(C.Sigma);
    Keep = Conv;
    Conv->GenerateKernels(gdX);
    EXPECT_EQ(Conv->Radius(), C.Radius);
  }
}

TEST(GaussianGradientConverterTest, GaussianTapsSumToOneAndDerivativeIsAntisymmetric) {
  TGaussianGradientConverter* Conv = NewObject<TGaussianGradientConverter>(1.5f);
  InterfacePtr<IColorToGradientConverter> Keep(Conv);
  Conv->GenerateKernels(gdX);
  const TGaussianKernel D = Conv->HorizontalKernel();
  const TGaussianKernel G = Conv->VerticalKernel();
  double Sum = 0;
  for (int32_t I = -4; I <= 4; ++I) Sum += G[I];
  EXPECT_NEAR(Sum, 1.0, 1e-6);
  EXPECT_EQ(D[0], 0.0f);
  for (int32_t I = 1; I <= 4; ++I) {
    EXPECT_EQ(D[-I], -D[I]);
    EXPECT_GT(D[-I], 0.0f);  // the correlation answers a rising ramp negatively
  }
  EXPECT_EQ(G[5], 0.0f);
  EXPECT_EQ(D[-5], 0.0f);
  Conv->GenerateKernels(gdY);
  EXPECT_EQ(Conv->HorizontalKernel()[2], G[2]);
  EXPECT_EQ(Conv->VerticalKernel()[2], D[2]);
}

TEST(GaussianGradientConverterTest, MatchesTheLineByLineComputationExactly) {
  // Odd sizes exercise the vector loops' scalar tails; a column image the padded edges.
  struct {
    int32_t W, H;
    float Sigma;
  } const Cases[] = {{37, 23, 1.5f}, {3, 40, 1.5f}, {64, 17, 1.0f}, {1, 1, 1.5f}, {20, 9, 3.3f}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.W << " x " << C.H << " sigma " << C.Sigma);
    TOwned<TFloatColorBitmap> Lab = RandomLab(C.W, C.H, 7);
    const auto Expected = ReferenceConvert(*Lab, C.Sigma);
    TGradients R = Convert(*Lab, C.Sigma);
    EXPECT_EQ(Values(*R.G), Expected[0]);
    EXPECT_EQ(Values(*R.X), Expected[1]);
    EXPECT_EQ(Values(*R.Y), Expected[2]);
  }
}

TEST(GaussianGradientConverterTest, ParallelAndSerialRunsGiveTheSameBytes) {
  TOwned<TFloatColorBitmap> Lab = RandomLab(301, 257, 3);
  std::vector<uint16_t> Serial[3], Parallel[3];
  {
    TThreadCountScope One(1);
    TGradients R = Convert(*Lab);
    Serial[0] = Values(*R.G), Serial[1] = Values(*R.X), Serial[2] = Values(*R.Y);
  }
  {
    TThreadCountScope Two(2);
    TGradients R = Convert(*Lab);
    Parallel[0] = Values(*R.G), Parallel[1] = Values(*R.X), Parallel[2] = Values(*R.Y);
  }
  for (int I = 0; I < 3; ++I) EXPECT_EQ(Serial[I], Parallel[I]) << "output " << I;
}

TEST(GaussianGradientConverterTest, VerticalStepEdgePeaksAtTheStep) {
  TOwned<TFloatColorBitmap> Lab(NewObject<TFloatColorBitmap>());
  Lab->Resize(20, 5);
  for (int32_t Y = 0; Y < 5; ++Y)
    for (int32_t X = 0; X < 20; ++X)
      Lab->SetPixel(X, Y, X < 10 ? TFloatColorPixel{50, 0, 0} : TFloatColorPixel{80, 10, -10});
  TGradients R = Convert(*Lab);
  for (int32_t Y = 0; Y < 5; ++Y) {
    EXPECT_EQ(std::max(R.X->GetPixel(9, Y), R.X->GetPixel(10, Y)), 65535);
    EXPECT_EQ(std::max(R.G->GetPixel(9, Y), R.G->GetPixel(10, Y)), 65535);
    EXPECT_LT(R.X->GetPixel(0, Y), 100);
    EXPECT_LT(R.G->GetPixel(19, Y), 100);
  }
}

TEST(GaussianGradientConverterTest, AllZeroImageGivesZeroOutputs) {
  TOwned<TFloatColorBitmap> Lab(NewObject<TFloatColorBitmap>());
  Lab->Resize(12, 7);
  for (int32_t Y = 0; Y < 7; ++Y)
    for (int32_t X = 0; X < 12; ++X) Lab->SetPixel(X, Y, TFloatColorPixel{0, 0, 0});
  TGradients R = Convert(*Lab);
  ASSERT_EQ(R.G->Width(), 12);
  ASSERT_EQ(R.G->Height(), 7);
  for (const TWordGrayscaleBitmap* B : {R.G.get(), R.X.get(), R.Y.get()})
    for (uint16_t V : Values(*B)) ASSERT_EQ(V, 0);
}

TEST(GaussianGradientConverterTest, RangeAndProgress) {
  TGaussianGradientConverter* Conv = NewObject<TGaussianGradientConverter>(1.5f);
  InterfacePtr<IColorToGradientConverter> C(Conv);
  EXPECT_EQ(C->GetRange(), 65536);
  TOwned<TFloatColorBitmap> Lab = RandomLab(10, 10, 1);
  TGradients R;
  C->Convert(Lab.get(), R.G.get(), R.X.get(), R.Y.get());
  EXPECT_EQ(C->GetRange(), 65536);
  EXPECT_FLOAT_EQ(Conv->GetProgress(), 1.0f);
}

TEST(GaussianGradientConverterTest, CancelledBeforeTheConvolutionsLeavesOutputsUntouched) {
  TGaussianGradientConverter* Conv = NewObject<TGaussianGradientConverter>(1.5f);
  InterfacePtr<IColorToGradientConverter> C(Conv);
  TGradients R;
  for (TWordGrayscaleBitmap* B : {R.G.get(), R.X.get(), R.Y.get()}) {
    B->Resize(3, 2);
    for (int32_t Y = 0; Y < 2; ++Y)
      for (int32_t X = 0; X < 3; ++X) B->SetPixel(X, Y, 777);
  }
  Conv->Cancel();
  TOwned<TFloatColorBitmap> Lab = RandomLab(40, 30, 2);
  C->Convert(Lab.get(), R.G.get(), R.X.get(), R.Y.get());
  for (const TWordGrayscaleBitmap* B : {R.G.get(), R.X.get(), R.Y.get()}) {
    EXPECT_EQ(B->Width(), 3);
    for (uint16_t V : Values(*B)) EXPECT_EQ(V, 777);
  }
  EXPECT_LE(Conv->GetProgress(), 0.4f);
}

}  // namespace
}  // namespace varnix
