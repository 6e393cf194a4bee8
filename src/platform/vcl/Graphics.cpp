#include "platform/vcl/Graphics.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace varnix {

TBitmap::~TBitmap() { Release(); }

void TBitmap::Release() {
  std::free(FBits);
  FBits = nullptr;
}

void TBitmap::SetSize(int32_t AWidth, int32_t AHeight) {
  if (AWidth < 0 || AHeight < 0)
    throw EInvalidGraphic("Invalid bitmap size " + std::to_string(AWidth) + " x " + std::to_string(AHeight));
  const int64_t RowBytes = (4 * static_cast<int64_t>(AWidth) + 15) / 16 * 16;
  if (RowBytes > std::numeric_limits<int32_t>::max() ||
      (AHeight > 0 && RowBytes > std::numeric_limits<int64_t>::max() / AHeight))
    throw EInvalidGraphic("Bitmap too large: " + std::to_string(AWidth) + " x " + std::to_string(AHeight));
  const int64_t Total = RowBytes * AHeight;
  uint8_t* Bits = nullptr;
  if (Total > 0) {
    Bits = static_cast<uint8_t*>(std::aligned_alloc(16, static_cast<size_t>(Total)));
    if (!Bits) throw EOutOfMemory();
    std::memset(Bits, 0, static_cast<size_t>(Total));
  }
  Release();
  FBits = Bits;
  FWidth = AWidth;
  FHeight = AHeight;
  FRowBytes = static_cast<int32_t>(RowBytes);
}

}  // namespace varnix
