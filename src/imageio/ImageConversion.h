// Conversion of any TImage to 8-bit RGB with unassociated alpha, for programs that show or
// process an image without colour management (the command-line tool). The rules:
//   * 16-bit samples become 8 bits by (v × 255 + 32767) div 65535; float samples by
//     round(clamp(v, 0, 1) × 255), NaN giving 0.
//   * gray gives R = G = B.
//   * CMYK ink amounts c, m, y, k in 0..1 give R = round(255 × (1 − c) × (1 − k)), likewise G with
//     m and B with y: the naive subtractive model, ignoring any ICC profile.
//   * L*a*b* (D50) goes to sRGB: CIE XYZ with the D50 white (0.96422, 1, 0.82521), the
//     Bradford-adapted matrix from XYZ (D50) to linear sRGB, clamping to 0..1 and the sRGB
//     transfer curve.
//   * associated alpha is undone (colour divided by alpha) before the colour conversion; a pixel
//     with alpha 0 becomes black. Without alpha in the image, A = 255.
// ICC profiles are ignored here; a colour-managed program converts with the profile instead.
#pragma once

#include <cstdint>

#include "imageio/ImageFiles.h"

namespace varnix {

inline uint8_t Sample16To8(uint16_t Value) {
  return static_cast<uint8_t>((static_cast<uint32_t>(Value) * 255 + 32767) / 65535);
}
uint8_t SampleFloatTo8(float Value);

// A 4-channel image (icRGB, id8Bits, iaUnassociated) of the same size as Image.
// REQUIRES: Image is not empty.
TImage ConvertToRGBA8(const TImage& Image);

}  // namespace varnix
