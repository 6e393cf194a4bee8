#include "imageio/ImageConversion.h"

#include <cmath>

namespace varnix {

namespace {

uint8_t UnitTo8(double Value) {
  if (!(Value > 0.0)) return 0;  // also NaN
  if (Value >= 1.0) return 255;
  return static_cast<uint8_t>(std::nearbyint(Value * 255.0));
}

// One sample as an integer code (8/16 bits) or float, read from pixel P, channel C.
struct TSampleReader {
  TImageDepth Depth;
  double Read(const uint8_t* P, int32_t C) const {
    switch (Depth) {
      case id8Bits:
        return P[C];
      case id16Bits:
        return reinterpret_cast<const uint16_t*>(P)[C];
      case id32BitsFloat:
        return reinterpret_cast<const float*>(P)[C];
    }
    return 0;
  }
  uint8_t To8(const uint8_t* P, int32_t C) const {
    switch (Depth) {
      case id8Bits:
        return P[C];
      case id16Bits:
        return Sample16To8(reinterpret_cast<const uint16_t*>(P)[C]);
      case id32BitsFloat:
        return SampleFloatTo8(reinterpret_cast<const float*>(P)[C]);
    }
    return 0;
  }
  // The sample scaled to the nominal 0..1 range.
  double Unit(const uint8_t* P, int32_t C) const {
    const double V = Read(P, C);
    return Depth == id8Bits ? V / 255.0 : Depth == id16Bits ? V / 65535.0 : V;
  }
};

double LabInverse(double T) {
  constexpr double Delta = 6.0 / 29.0;
  return T > Delta ? T * T * T : 3.0 * Delta * Delta * (T - 4.0 / 29.0);
}

double SrgbEncode(double Linear) {
  if (!(Linear > 0.0)) return 0.0;
  if (Linear >= 1.0) return 1.0;
  return Linear <= 0.0031308 ? 12.92 * Linear : 1.055 * std::pow(Linear, 1.0 / 2.4) - 0.055;
}

void LabToRgb(double L, double A, double B, uint8_t* Rgb) {
  const double FY = (L + 16.0) / 116.0;
  const double X = 0.96422 * LabInverse(FY + A / 500.0);
  const double Y = 1.00000 * LabInverse(FY);
  const double Z = 0.82521 * LabInverse(FY - B / 200.0);
  const double R = 3.1338561 * X - 1.6168667 * Y - 0.4906146 * Z;
  const double G = -0.9787684 * X + 1.9161415 * Y + 0.0334540 * Z;
  const double Bl = 0.0719453 * X - 0.2289914 * Y + 1.4052427 * Z;
  Rgb[0] = UnitTo8(SrgbEncode(R));
  Rgb[1] = UnitTo8(SrgbEncode(G));
  Rgb[2] = UnitTo8(SrgbEncode(Bl));
}

}  // namespace

uint8_t SampleFloatTo8(float Value) { return UnitTo8(Value); }

TImage ConvertToRGBA8(const TImage& Image) {
  TImage Result;
  // The limits were checked when Image was made; four 8-bit channels never need more bytes than
  // the source held per pixel times four, so the default limits are not applied again.
  TImageLimits Unlimited;
  Unlimited.MaxDimension = 0x7FFFFFFF;
  Unlimited.MaxPixels = INT64_MAX;
  Unlimited.MaxBytes = INT64_MAX;
  Result.Allocate(Image.Width(), Image.Height(), icRGB, id8Bits, iaUnassociated, Unlimited);

  // The common photo layouts (8-bit gray or RGB, with or without unassociated alpha) are plain
  // copies; they skip the general per-sample path below.
  if (Image.Depth() == id8Bits && Image.Alpha() != iaAssociated &&
      (Image.ColorSpace() == icGray || Image.ColorSpace() == icRGB)) {
    const int32_t Channels = Image.Channels();
    const bool Gray = Image.ColorSpace() == icGray;
    const bool Alpha = Image.HasAlpha();
    for (int32_t Y = 0; Y < Image.Height(); ++Y) {
      const uint8_t* P = Image.Row(Y);
      uint8_t* D = Result.Row(Y);
      for (int32_t X = 0; X < Image.Width(); ++X, P += Channels, D += 4) {
        D[0] = P[0];
        D[1] = Gray ? P[0] : P[1];
        D[2] = Gray ? P[0] : P[2];
        D[3] = Alpha ? P[Channels - 1] : 255;
      }
    }
    return Result;
  }

  const TSampleReader S{Image.Depth()};
  const int32_t PixelSize = Image.PixelSize();
  const int32_t AlphaChannel = Image.ColorChannels();
  const bool Associated = Image.Alpha() == iaAssociated;
  const TImageColorSpace Space = Image.ColorSpace();
  for (int32_t Y = 0; Y < Image.Height(); ++Y) {
    const uint8_t* P = Image.Row(Y);
    uint8_t* D = Result.Row(Y);
    for (int32_t X = 0; X < Image.Width(); ++X, P += PixelSize, D += 4) {
      D[3] = Image.HasAlpha() ? S.To8(P, AlphaChannel) : 255;
      const double Alpha = Associated ? S.Unit(P, AlphaChannel) : 1.0;
      if (Associated && !(Alpha > 0.0)) {
        D[0] = D[1] = D[2] = 0;
        continue;
      }
      switch (Space) {
        case icGray:
          D[0] = D[1] = D[2] = Associated ? UnitTo8(S.Unit(P, 0) / Alpha) : S.To8(P, 0);
          break;
        case icRGB:
          for (int32_t C = 0; C < 3; ++C) D[C] = Associated ? UnitTo8(S.Unit(P, C) / Alpha) : S.To8(P, C);
          break;
        case icCMYK: {
          double Ink[4];
          for (int32_t C = 0; C < 4; ++C) {
            Ink[C] = S.Unit(P, C) / Alpha;
            Ink[C] = Ink[C] < 0.0 ? 0.0 : Ink[C] > 1.0 ? 1.0 : Ink[C];
          }
          for (int32_t C = 0; C < 3; ++C) D[C] = UnitTo8((1.0 - Ink[C]) * (1.0 - Ink[3]));
          break;
        }
        case icLab: {
          double L, A, B;
          if (Image.Depth() == id8Bits) {
            L = S.Read(P, 0) * 100.0 / 255.0;
            A = S.Read(P, 1) - 128.0;
            B = S.Read(P, 2) - 128.0;
          } else if (Image.Depth() == id16Bits) {
            L = S.Read(P, 0) * 100.0 / 65535.0;
            A = (S.Read(P, 1) - 32768.0) / 256.0;
            B = (S.Read(P, 2) - 32768.0) / 256.0;
          } else {
            L = S.Read(P, 0);
            A = S.Read(P, 1);
            B = S.Read(P, 2);
          }
          LabToRgb(L / Alpha, A / Alpha, B / Alpha, D);
          break;
        }
      }
    }
  }
  Result.IccProfile.clear();
  return Result;
}

}  // namespace varnix
