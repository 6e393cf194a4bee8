// Colour conversion of the document: 8-bit RGB to CIE L*a*b* through two lookup tables (what the
// gradient is computed from), and RGB to hue, saturation and lightness.
//
// The converters are stateless reference-counted objects: create one, call it through its
// interface and let the last reference free it. The tables are filled once per process, on first
// use, and are read-only afterwards, so any thread may convert at any time.
#pragma once

#include <cstdint>

#include "common/Objects.h"
#include "core/CoreBitmaps.h"

namespace varnix {

struct IColorToUniformConverter : virtual IUnknown {
  // {6F1C2A81-3B4D-4E5F-9A0B-1C2D3E4F5062}
  static constexpr TGUID IID = {0x6F1C2A81, 0x3B4D, 0x4E5F, {0x9A, 0x0B, 0x1C, 0x2D, 0x3E, 0x4F, 0x50, 0x62}};
  // Dest takes Source's size and a perceptually uniform colour per pixel.
  virtual void Convert(const TColorBitmap* Source, TFloatColorBitmap* Dest) = 0;
};

struct IColorToHSLConverter : virtual IUnknown {
  // {6F1C2A82-3B4D-4E5F-9A0B-1C2D3E4F5063}
  static constexpr TGUID IID = {0x6F1C2A82, 0x3B4D, 0x4E5F, {0x9A, 0x0B, 0x1C, 0x2D, 0x3E, 0x4F, 0x50, 0x63}};
  // Dest takes Source's size and the hue, saturation and lightness of every pixel.
  virtual void Convert(const TColorBitmap* Source, THSLColorBitmap* Dest) = 0;
};

// ---- L*a*b* tables -------------------------------------------------------------------------

inline constexpr int32_t LabTableSize = 1024;
using TXYZMatrix = float[3][3];
using TLabTableArray = float[LabTableSize];

// RGB -> XYZ, rows X, Y, Z; columns R, G, B. The row sums are the white point.
extern const TXYZMatrix XYZFactors;

// Fills XYZTable and LabTable. Runs once per process however often and from however many
// threads it is called; the accessors below and TLabConverter call it themselves.
void InitializeLabTables();

// XYZFactors rescaled so that each row maps 8-bit RGB onto a LabTable index 0 .. 1023.
const TXYZMatrix& XYZTable();
// f(t) of CIE L*a*b* at t = i / 1023: the cube root above (6/29)^3, the linear part below it.
const TLabTableArray& LabTable();

// Converts premultiplied RGB bytes as stored (no gamma linearisation) into (L*, a*, b*) in C0,
// C1, C2: each XYZ component is looked up as LabTable[round(R x T0 + G x T1 + B x T2)].
class TLabConverter : public TInterfacedObject, public IColorToUniformConverter {
 public:
  TLabConverter();
  void Convert(const TColorBitmap* Source, TFloatColorBitmap* Dest) override;

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;
};

// ---- HSL -----------------------------------------------------------------------------------

// Hue 0..359 (degrees), saturation and lightness 0..255, in integer arithmetic.
THSLColorPixel RGBToHSL(TColorPixel Pixel);

class THSLConverter : public TInterfacedObject, public IColorToHSLConverter {
 public:
  void Convert(const TColorBitmap* Source, THSLColorBitmap* Dest) override;

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;
};

}  // namespace varnix
