// Test-only image files: the bundled 8-bit RGB sample as a premultiplied colour bitmap (alpha
// 255), its markers file, and 8-bit gray PNGs for looking at masks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/CoreBitmaps.h"

namespace varnix::test {

struct TSampleMarker {
  TPoint Point;
  uint8_t Label;  // 255 object, 0 background
};

// Raises Exception naming the file when it cannot be read.
TOwned<TColorBitmap> LoadRgbPng(const std::string& FileName);
std::vector<TSampleMarker> LoadMarkers(const std::string& FileName);
void WriteGrayPng(const std::string& FileName, const TGrayscaleBitmap& Bitmap);

}  // namespace varnix::test
