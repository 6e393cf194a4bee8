#include "imageio/ImageConversion.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace varnix {
namespace {

struct TPixelCase {
  const char* Name;
  TImageColorSpace Space;
  TImageDepth Depth;
  TImageAlpha Alpha;
  std::vector<double> Samples;  // one pixel, in the image's sample type
  uint8_t R, G, B, A;
};

TImage OnePixel(const TPixelCase& C) {
  TImage Image;
  Image.Allocate(1, 1, C.Space, C.Depth, C.Alpha);
  for (size_t i = 0; i < C.Samples.size(); ++i) {
    if (C.Depth == id8Bits) Image.Bits()[i] = static_cast<uint8_t>(C.Samples[i]);
    if (C.Depth == id16Bits) Image.Row16(0)[i] = static_cast<uint16_t>(C.Samples[i]);
    if (C.Depth == id32BitsFloat) Image.RowFloat(0)[i] = static_cast<float>(C.Samples[i]);
  }
  return Image;
}

TEST(ImageConversion, EveryModeBecomesEightBitRgba) {
  const double NaN = std::numeric_limits<double>::quiet_NaN();
  const TPixelCase Cases[] = {
      {"gray 8", icGray, id8Bits, iaNone, {77}, 77, 77, 77, 255},
      // (v × 255 + 32767) div 65535: 257 → 1, 32896 → 128, 65535 → 255.
      {"gray 16 low", icGray, id16Bits, iaNone, {257}, 1, 1, 1, 255},
      {"gray+alpha 16", icGray, id16Bits, iaUnassociated, {32896, 65535}, 128, 128, 128, 255},
      {"RGB 16", icRGB, id16Bits, iaNone, {0, 128, 65535}, 0, 0, 255, 255},
      {"float halves go to even", icGray, id32BitsFloat, iaNone, {0.5}, 128, 128, 128, 255},
      {"float out of range and NaN", icRGB, id32BitsFloat, iaNone, {2.0, -1.0, NaN}, 255, 0, 0, 255},
      {"RGBA 8 keeps colour", icRGB, id8Bits, iaUnassociated, {10, 20, 30, 40}, 10, 20, 30, 40},
      // 64 premultiplied by 128/255 is the colour 0.5, rounded half to even: 128.
      {"premultiplied RGBA", icRGB, id8Bits, iaAssociated, {64, 0, 128, 128}, 128, 0, 255, 128},
      {"premultiplied alpha 0", icGray, id8Bits, iaAssociated, {0, 0}, 0, 0, 0, 0},
      {"CMYK no ink", icCMYK, id8Bits, iaNone, {0, 0, 0, 0}, 255, 255, 255, 255},
      {"CMYK full cyan", icCMYK, id8Bits, iaNone, {255, 0, 0, 0}, 0, 255, 255, 255},
      {"CMYK half black", icCMYK, id16Bits, iaNone, {0, 0, 65535, 32768}, 127, 127, 0, 255},
      {"Lab 8 white", icLab, id8Bits, iaNone, {255, 128, 128}, 255, 255, 255, 255},
      {"Lab 8 black", icLab, id8Bits, iaNone, {0, 128, 128}, 0, 0, 0, 255},
      // L* 50 is Y 0.18419, sRGB 0.4663 → 119.
      {"Lab 16 mid gray", icLab, id16Bits, iaNone, {32767.5, 32768, 32768}, 119, 119, 119, 255},
      {"Lab float red", icLab, id32BitsFloat, iaNone, {50, 60, 40}, 214, 60, 55, 255},
  };
  for (const TPixelCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TImage Rgba = ConvertToRGBA8(OnePixel(C));
    ASSERT_EQ(Rgba.Describe(), "1 x 1 RGB + alpha 8-bit");
    EXPECT_EQ(Rgba.Bits()[0], C.R);
    EXPECT_EQ(Rgba.Bits()[1], C.G);
    EXPECT_EQ(Rgba.Bits()[2], C.B);
    EXPECT_EQ(Rgba.Bits()[3], C.A);
  }
}

TEST(ImageConversion, LabAgreesWithLittleCmsRelativeColorimetric) {
  cmsHPROFILE Lab = cmsCreateLab4Profile(nullptr);
  cmsHPROFILE Srgb = cmsCreate_sRGBProfile();
  cmsHTRANSFORM Transform = cmsCreateTransform(Lab, TYPE_Lab_DBL, Srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
  TImage Image;
  Image.Allocate(9, 9, icLab, id32BitsFloat, iaNone);
  for (int32_t Y = 0; Y < 9; ++Y)
    for (int32_t X = 0; X < 9; ++X) {
      float* P = Image.RowFloat(Y) + X * 3;
      P[0] = 5.0f + 11.0f * static_cast<float>((X + Y) % 9);
      P[1] = -80.0f + 20.0f * static_cast<float>(X);
      P[2] = -80.0f + 20.0f * static_cast<float>(Y);
    }
  TImage Rgba = ConvertToRGBA8(Image);
  int MaxError = 0;
  for (int32_t Y = 0; Y < 9; ++Y)
    for (int32_t X = 0; X < 9; ++X) {
      const float* P = Image.RowFloat(Y) + X * 3;
      const double In[3] = {P[0], P[1], P[2]};
      uint8_t Out[3];
      cmsDoTransform(Transform, In, Out, 1);
      for (int C = 0; C < 3; ++C) MaxError = std::max(MaxError, std::abs(Out[C] - Rgba.Row(Y)[X * 4 + C]));
    }
  cmsDeleteTransform(Transform);
  cmsCloseProfile(Srgb);
  cmsCloseProfile(Lab);
  // Out-of-gamut colours are clipped by both; the table-based transform differs by a unit or two.
  EXPECT_LE(MaxError, 2);
}

TEST(ImageConversion, RowsAndColumnsKeepTheirPlace) {
  TImage Image;
  Image.Allocate(3, 2, icRGB, id8Bits, iaNone);
  for (size_t i = 0; i < Image.ByteSize(); ++i) Image.Bits()[i] = static_cast<uint8_t>(i * 10);
  TImage Rgba = ConvertToRGBA8(Image);
  // Pixel (2, 1) is samples 15..17.
  EXPECT_EQ(Rgba.Row(1)[2 * 4 + 0], 150);
  EXPECT_EQ(Rgba.Row(1)[2 * 4 + 2], 170);
  EXPECT_EQ(Rgba.Row(1)[2 * 4 + 3], 255);
}

}  // namespace
}  // namespace varnix
