// Bitmaps of the UI library. TBitmap holds a 32-bit image: four bytes per pixel in the order
// R, G, B, A, colour premultiplied by alpha, rows top-down, each row padded to a multiple of 16
// bytes, the buffer 16-byte aligned and zero-filled whenever the size changes.
#pragma once

#include <cstdint>

#include "common/Objects.h"

namespace varnix {

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
enum TAlphaFormat { afIgnored, afDefined, afPremultiplied };

VARNIX_DECLARE_EXCEPTION(EInvalidGraphic, Exception);

class TBitmap : public TObject {
 public:
  TBitmap() = default;
  ~TBitmap() override;

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetWidth(int32_t Value) { SetSize(Value, FHeight); }
  void SetHeight(int32_t Value) { SetSize(FWidth, Value); }
  // Reallocates the pixels for the new size, all zero. Raises EInvalidGraphic for a negative size
  // or one whose buffer cannot be addressed, EOutOfMemory when the allocation fails.
  void SetSize(int32_t AWidth, int32_t AHeight);

  TPixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TPixelFormat Value) { FPixelFormat = Value; }
  TAlphaFormat AlphaFormat() const { return FAlphaFormat; }
  void SetAlphaFormat(TAlphaFormat Value) { FAlphaFormat = Value; }

  // The first byte of row Row (0 = top). REQUIRES: 0 <= Row < Height.
  uint8_t* ScanLine(int32_t Row) const { return FBits + static_cast<intptr_t>(Row) * FRowBytes; }
  // Distance in bytes between two rows: (4 × Width + 15) rounded down to a multiple of 16.
  int32_t RowBytes() const { return FRowBytes; }

  // Releases any cached platform image made from the pixels, so the next drawing sees changes
  // made through ScanLine.
  void Dormant() {}

 private:
  void Release();

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FRowBytes = 0;
  uint8_t* FBits = nullptr;
  TPixelFormat FPixelFormat = pf32bit;
  TAlphaFormat FAlphaFormat = afPremultiplied;
};

}  // namespace varnix
