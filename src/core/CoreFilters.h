// Morphological filters over the 4-connected neighbourhood, and the integer Min, Max and Limit
// of the image core.
//
// Dilation and erosion take, per channel, the maximum (from 0) or the minimum (from 255) over
// the pixels above, left, right and below that exist; the pixel itself is not part of its
// neighbourhood, so a 1 x 1 image dilates to 0 and erodes to 255. The colour versions set every
// alpha to 255. The opening-closing filter smooths the document before its gradient is taken.
//
// The filters are stateless reference-counted objects; they allocate nothing per pixel, and the
// opening-closing runs its four steps in one pass through a few rows of memory rather than
// through whole temporary images. Source and Dest may be the same bitmap.
#pragma once

#include <cstdint>

#include "common/Objects.h"
#include "core/CoreBitmaps.h"

namespace varnix {

// The integer helpers of the image core. They live in their own namespace because the common
// utilities have functions of the same names and types: CoreFilters::Limit answers Low when
// Value < Low even if Low > High, where the common Limit answers the maximum.
namespace CoreFilters {
constexpr int32_t Min(int32_t A, int32_t B) { return A < B ? A : B; }
constexpr int32_t Max(int32_t A, int32_t B) { return A > B ? A : B; }
// Low if Value < Low, else High if Value > High, else Value.
constexpr int32_t Limit(int32_t Value, int32_t Low, int32_t High) {
  return Value < Low ? Low : (Value > High ? High : Value);
}
}  // namespace CoreFilters

struct IColorFilter : virtual IUnknown {
  // {6F1C2A83-3B4D-4E5F-9A0B-1C2D3E4F5064}
  static constexpr TGUID IID = {0x6F1C2A83, 0x3B4D, 0x4E5F, {0x9A, 0x0B, 0x1C, 0x2D, 0x3E, 0x4F, 0x50, 0x64}};
  // Dest takes Source's size and the filtered image; Source is not changed (unless it is Dest).
  virtual void Filter(const TColorBitmap* Source, TColorBitmap* Dest) = 0;
};

class TMorphologicalColorFilter : public TInterfacedObject {
 public:
  // One step from Source into Dest (resized to Source's size); R, G and B independently.
  void Dilate(const TColorBitmap* Source, TColorBitmap* Dest);
  void Erode(const TColorBitmap* Source, TColorBitmap* Dest);
};

// Opening (erode, dilate) followed by closing (dilate, erode).
class TOpeningClosingFilter : public TMorphologicalColorFilter, public IColorFilter {
 public:
  void Filter(const TColorBitmap* Source, TColorBitmap* Dest) override;

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;
};

class TMorphologicalGrayscaleFilter : public TInterfacedObject {
 public:
  void Dilate(const TGrayscaleBitmap* Source, TGrayscaleBitmap* Dest);
  void Erode(const TGrayscaleBitmap* Source, TGrayscaleBitmap* Dest);
};

class TOpeningClosingGrayscaleFilter : public TMorphologicalGrayscaleFilter {
 public:
  // Opening followed by closing; Dest takes Source's size.
  void Filter(const TGrayscaleBitmap* Source, TGrayscaleBitmap* Dest);
};

}  // namespace varnix
