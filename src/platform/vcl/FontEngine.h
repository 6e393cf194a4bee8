// Text rendering for the canvas: FreeType faces found through fontconfig, glyph coverage masks
// cached per face, size and character. Internal to the UI library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/vcl/Graphics.h"

namespace varnix::fontengine {

// One rendered glyph: an 8-bit coverage mask and its placement relative to the pen on the
// baseline.
struct TGlyph {
  int32_t Left = 0;     // from the pen to the first mask column
  int32_t Top = 0;      // from the baseline up to the first mask row
  int32_t Width = 0;
  int32_t Rows = 0;
  int32_t Advance = 0;  // pixels to the next pen position
  std::vector<uint8_t> Coverage;
};

// Line metrics of a font in pixels.
struct TFontMetrics {
  int32_t Ascent = 0;
  int32_t Descent = 0;  // positive, below the baseline
  int32_t Height() const { return Ascent + Descent; }
};

TFontMetrics Metrics(const TFont& Font);
// The glyph of a cp1252 character; never null (a missing glyph renders as FreeType's box).
const TGlyph& Glyph(const TFont& Font, uint8_t Char);
// The Unicode code point of a cp1252 character.
uint32_t Cp1252ToUnicode(uint8_t Char);

}  // namespace varnix::fontengine
