#include "core/CoreConverters.h"

#include <cmath>
#include <mutex>

namespace varnix {

const TXYZMatrix XYZFactors = {
    {0.430574f, 0.341550f, 0.178325f},
    {0.222015f, 0.706655f, 0.071330f},
    {0.020183f, 0.129553f, 0.939180f},
};

namespace {

float GXYZTable[3][3];
float GLabTable[LabTableSize];

void FillLabTables() {
  for (int32_t I = 0; I < LabTableSize; ++I) {
    const double T = I / 1023.0;
    const double F = T > 0.008856451679035631 ? std::exp(std::log(T) / 3) : 7.787037037037037 * T + 0.13793103448275862;
    GLabTable[I] = static_cast<float>(F);
  }
  for (int R = 0; R < 3; ++R) {
    const double S = static_cast<double>(XYZFactors[R][0]) + XYZFactors[R][1] + XYZFactors[R][2];
    const double K = 1023 / (S * 255);
    for (int C = 0; C < 3; ++C) GXYZTable[R][C] = static_cast<float>(XYZFactors[R][C] * K);
  }
}

// Nearest integer with halves to even for 0 <= Value < 2^51: adding 1.5 x 2^52 leaves no
// fraction bits, so the addition itself rounds in the default rounding mode. The same result as
// Round, without a library call per channel.
inline int32_t RoundIndex(double Value) {
  constexpr double Shift = 6755399441055744.0;
  // Without -ffast-math the compiler may not fold the two steps into one.
  return static_cast<int32_t>((Value + Shift) - Shift);
}

}  // namespace

void InitializeLabTables() {
  static std::once_flag Once;
  std::call_once(Once, FillLabTables);
}

const TXYZMatrix& XYZTable() {
  InitializeLabTables();
  return GXYZTable;
}

const TLabTableArray& LabTable() {
  InitializeLabTables();
  return GLabTable;
}

// ---- TLabConverter -------------------------------------------------------------------------

TLabConverter::TLabConverter() { InitializeLabTables(); }

bool TLabConverter::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<IColorToUniformConverter>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
}

void TLabConverter::Convert(const TColorBitmap* Source, TFloatColorBitmap* Dest) {
  const int32_t Width = Source->Width();
  const int32_t Height = Source->Height();
  Dest->Resize(Width, Height);
  if (Width == 0 || Height == 0) return;
  // Byte x Single products and their three-term sums are exact in double precision, so the
  // index is the exactly rounded value; the L*a*b* formulas are exact in double as well and are
  // rounded once into Single.
  const double X0 = GXYZTable[0][0], X1 = GXYZTable[0][1], X2 = GXYZTable[0][2];
  const double Y0 = GXYZTable[1][0], Y1 = GXYZTable[1][1], Y2 = GXYZTable[1][2];
  const double Z0 = GXYZTable[2][0], Z1 = GXYZTable[2][1], Z2 = GXYZTable[2][2];
  const float* Lab = GLabTable;
  for (int32_t Y = 0; Y < Height; ++Y) {
    const TColorPixel* S = Source->Address(0, Y);
    TFloatColorPixel* D = Dest->Address(0, Y);
    for (int32_t X = 0; X < Width; ++X) {
      const double R = S[X].R, G = S[X].G, B = S[X].B;
      const double FX = Lab[RoundIndex(R * X0 + G * X1 + B * X2)];
      const double FY = Lab[RoundIndex(R * Y0 + G * Y1 + B * Y2)];
      const double FZ = Lab[RoundIndex(R * Z0 + G * Z1 + B * Z2)];
      D[X].C0 = static_cast<float>(116 * FY - 16);
      D[X].C1 = static_cast<float>(500 * (FX - FY));
      D[X].C2 = static_cast<float>(200 * (FY - FZ));
    }
  }
}

// ---- HSL -----------------------------------------------------------------------------------

THSLColorPixel RGBToHSL(TColorPixel Pixel) {
  const int32_t R = Pixel.R, G = Pixel.G, B = Pixel.B;
  const int32_t Mx = R > G ? (R > B ? R : B) : (G > B ? G : B);
  const int32_t Mn = R < G ? (R < B ? R : B) : (G < B ? G : B);
  const int32_t L = (Mx + Mn) / 2;
  if (L == 0) return THSLColorPixel{0, 0, 0};
  const int32_t D = Mx - Mn;
  if (D == 0) return THSLColorPixel{0, 0, static_cast<uint8_t>(L)};
  int32_t H;
  if (R == Mx)
    H = G == Mn ? 300 + (R - B) * 60 / D : 60 - (R - G) * 60 / D;
  else if (G == Mx)
    H = B == Mn ? 60 + (G - R) * 60 / D : 180 - (G - B) * 60 / D;
  else
    H = R == Mn ? 180 + (B - G) * 60 / D : 300 - (B - R) * 60 / D;
  const int32_t S = L <= 127 ? D * 255 / (Mx + Mn) : D * 255 / (510 - Mx - Mn);
  if (H >= 360) H = 0;
  return THSLColorPixel{static_cast<THueValue>(H), static_cast<uint8_t>(S), static_cast<uint8_t>(L)};
}

bool THSLConverter::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<IColorToHSLConverter>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
}

void THSLConverter::Convert(const TColorBitmap* Source, THSLColorBitmap* Dest) {
  const int32_t Width = Source->Width();
  const int32_t Height = Source->Height();
  Dest->Resize(Width, Height);
  if (Width == 0 || Height == 0) return;
  for (int32_t Y = 0; Y < Height; ++Y) {
    const TColorPixel* S = Source->Address(0, Y);
    THSLColorPixel* D = Dest->Address(0, Y);
    for (int32_t X = 0; X < Width; ++X) D[X] = RGBToHSL(S[X]);
  }
}

}  // namespace varnix
