#include "core/CoreConverters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace varnix {
namespace {

TFloatColorPixel LabOf(TColorPixel C) {
  TColorBitmap Source;
  Source.Resize(1, 1);
  Source.SetPixel(0, 0, C);
  TFloatColorBitmap Dest;
  InterfacePtr<IColorToUniformConverter> Converter(new TLabConverter);
  Converter->Convert(&Source, &Dest);
  return Dest.GetPixel(0, 0);
}

TEST(LabTables, EndPointsThresholdAndRowScaling) {
  const TLabTableArray& Lab = LabTable();
  EXPECT_EQ(Lab[0], static_cast<float>(16.0 / 116.0));
  EXPECT_EQ(Lab[1023], 1.0f);
  // i = 9 is the last entry below (6/29)^3 x 1023 = 9.06: linear there, cube root above.
  EXPECT_EQ(Lab[9], static_cast<float>(7.787037037037037 * (9 / 1023.0) + 0.13793103448275862));
  EXPECT_EQ(Lab[10], static_cast<float>(std::cbrt(10 / 1023.0)));
  EXPECT_NEAR(Lab[9], Lab[10], 0.01f) << "the two parts meet";
  for (int32_t I = 1; I < LabTableSize; ++I) ASSERT_GT(Lab[I], Lab[I - 1]) << I;

  const TXYZMatrix& T = XYZTable();
  for (int R = 0; R < 3; ++R) {
    SCOPED_TRACE(R);
    const double Sum = static_cast<double>(T[R][0]) + T[R][1] + T[R][2];
    EXPECT_NEAR(Sum * 255, 1023.0, 1e-3) << "white maps to the last index";
    EXPECT_NEAR(T[R][1] / T[R][0], XYZFactors[R][1] / XYZFactors[R][0], 1e-5);
  }
  EXPECT_EQ(XYZFactors[1][1], 0.706655f);
}

TEST(LabConverter, KnownColours) {
  struct Case {
    TColorPixel Colour;
    float L, A, B;
    float Tolerance;
  };
  const Case Cases[] = {
      {{0, 0, 0, 255}, 0, 0, 0, 1e-5f},
      {{255, 255, 255, 255}, 100, 0, 0, 1e-4f},
      {{255, 0, 0, 255}, 54.23f, 81.18f, 68.12f, 0.01f},
      {{0, 0, 0, 0}, 0, 0, 0, 1e-5f},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<int>{C.Colour.R, C.Colour.G, C.Colour.B}));
    const TFloatColorPixel P = LabOf(C.Colour);
    EXPECT_NEAR(P.C0, C.L, C.Tolerance);
    EXPECT_NEAR(P.C1, C.A, C.Tolerance);
    EXPECT_NEAR(P.C2, C.B, C.Tolerance);
  }
  EXPECT_NEAR(LabOf({128, 128, 128, 255}).C0, 76.22f, 0.01f);
  // Alpha plays no part: the premultiplied bytes are taken as they are.
  EXPECT_EQ(LabOf({40, 80, 120, 255}), LabOf({40, 80, 120, 9}));
}

TEST(LabConverter, EveryGrayHasNoChromaAndLightnessRises) {
  TColorBitmap Source;
  Source.Resize(256, 1);
  for (int32_t V = 0; V < 256; ++V) Source.SetPixel(V, 0, TColorPixel{uint8_t(V), uint8_t(V), uint8_t(V), 255});
  TFloatColorBitmap Dest;
  TLabConverter Converter;
  Converter.Convert(&Source, &Dest);
  ASSERT_EQ(Dest.Width(), 256);
  ASSERT_EQ(Dest.Height(), 1);
  for (int32_t V = 0; V < 256; ++V) {
    SCOPED_TRACE(V);
    const TFloatColorPixel P = Dest.GetPixel(V, 0);
    EXPECT_EQ(P.C1, 0.0f);
    EXPECT_EQ(P.C2, 0.0f);
    if (V > 0) {
      EXPECT_GT(P.C0, Dest.GetPixel(V - 1, 0).C0);
    }
  }
}

// Each table index is the exact weighted sum rounded to nearest, halves to even. These colours
// sit on the boundaries: two sums are exact halves, and the others lie so close to a half that a
// single-precision evaluation would round them the other way.
TEST(LabConverter, TableIndicesAreRoundedFromTheExactSum) {
  struct Case {
    const char* Name;
    TColorPixel Colour;
    int32_t Index[3];  // X, Y, Z
  };
  const Case Cases[] = {
      {"X sum exactly 530.5", {111, 97, 251, 255}, {530, 446, 923}},
      {"X sum exactly 657.5", {125, 216, 158, 255}, {658, 769, 659}},
      {"X sum 291.49998", {4, 99, 188, 255}, {291, 338, 698}},
      {"Y sum 161.49999", {24, 25, 242, 255}, {262, 161, 851}},
      {"Z sum 916.50005", {84, 160, 241, 255}, {565, 597, 917}},
  };
  const TLabTableArray& Lab = LabTable();
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    const double FX = Lab[C.Index[0]], FY = Lab[C.Index[1]], FZ = Lab[C.Index[2]];
    const TFloatColorPixel P = LabOf(C.Colour);
    EXPECT_EQ(P.C0, static_cast<float>(116 * FY - 16));
    EXPECT_EQ(P.C1, static_cast<float>(500 * (FX - FY)));
    EXPECT_EQ(P.C2, static_cast<float>(200 * (FY - FZ)));
  }
  TColorBitmap Empty;
  TFloatColorBitmap Dest;
  Dest.Resize(3, 3);
  TLabConverter().Convert(&Empty, &Dest);
  EXPECT_EQ(Dest.Width(), 0);
}

TEST(LabTables, InitialiseOnceFromManyThreads) {
  std::vector<std::thread> Threads;
  std::vector<float> Seen(4);
  for (int I = 0; I < 4; ++I)
    Threads.emplace_back([&Seen, I] {
      InitializeLabTables();
      Seen[I] = LabOf({255, 0, 0, 255}).C0;
    });
  for (std::thread& T : Threads) T.join();
  for (float V : Seen) EXPECT_EQ(V, Seen[0]);
}

TEST(HSL, RGBToHSLValues) {
  struct Case {
    TColorPixel Colour;
    THSLColorPixel Expected;
  };
  const Case Cases[] = {
      {{255, 0, 0, 255}, {0, 255, 127}},
      {{0, 255, 0, 255}, {120, 255, 127}},
      {{0, 0, 255, 255}, {240, 255, 127}},
      {{255, 255, 0, 255}, {60, 255, 127}},
      {{0, 255, 255, 255}, {180, 255, 127}},
      {{255, 0, 255, 255}, {300, 255, 127}},
      {{128, 128, 128, 255}, {0, 0, 128}},
      {{0, 0, 0, 255}, {0, 0, 0}},
      {{1, 0, 0, 255}, {0, 0, 0}},  // L = 0 wins over the colour
      {{255, 255, 255, 0}, {0, 0, 255}},
      {{255, 128, 0, 255}, {31, 255, 127}},  // 60 - (127 x 60 div 255): the quotient truncates
      {{200, 100, 50, 255}, {20, 153, 125}},
      {{50, 100, 200, 255}, {220, 153, 125}},
      {{100, 200, 150, 255}, {150, 121, 150}},  // L > 127: S from 510 - max - min
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<int>{C.Colour.R, C.Colour.G, C.Colour.B}));
    const THSLColorPixel P = RGBToHSL(C.Colour);
    EXPECT_EQ(P.H, C.Expected.H);
    EXPECT_EQ(P.S, C.Expected.S);
    EXPECT_EQ(P.L, C.Expected.L);
  }
  for (int32_t I = 0; I < 1 << 15; ++I) {
    const THSLColorPixel P = RGBToHSL(TColorPixel{uint8_t(I * 37), uint8_t(I * 11 >> 3), uint8_t(I >> 7), 255});
    ASSERT_LT(P.H, 360) << I;
  }
}

TEST(HSL, ConverterConvertsEveryPixel) {
  TColorBitmap Source;
  Source.Resize(3, 2);
  Source.SetPixel(2, 1, TColorPixel{0, 0, 255, 255});
  Source.SetPixel(0, 1, TColorPixel{128, 128, 128, 255});
  THSLColorBitmap Dest;
  InterfacePtr<IColorToHSLConverter> Converter(new THSLConverter);
  Converter->Convert(&Source, &Dest);
  ASSERT_EQ(Dest.Width(), 3);
  ASSERT_EQ(Dest.Height(), 2);
  EXPECT_EQ(Dest.GetPixel(2, 1), (THSLColorPixel{240, 255, 127}));
  EXPECT_EQ(Dest.GetPixel(0, 1), (THSLColorPixel{0, 0, 128}));
  EXPECT_EQ(Dest.GetPixel(1, 0), (THSLColorPixel{0, 0, 0})) << "a zero-filled pixel is black";
}

}  // namespace
}  // namespace varnix
