// Bench-only inputs: the bundled 8-bit RGB sample as a premultiplied colour bitmap (alpha 255),
// a bilinear enlargement of it, and the sample's markers file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/CoreBitmaps.h"

namespace varnix::bench {

struct TBenchMarker {
  TPoint Point;
  uint8_t Label;  // 255 object, 0 background
};

// Raises Exception naming the file when it cannot be read.
TOwned<TColorBitmap> LoadRgbPng(const std::string& FileName);
// Bilinear resampling to Width x Height (pixel centres aligned).
TOwned<TColorBitmap> ScaleBilinear(const TColorBitmap& Source, int32_t Width, int32_t Height);
// 16-byte header "TQWSHMRK", int32 version 1, int32 count, then 9-byte records (int32 X,
// int32 Y, uint8 type: 0 object, 1 background), little-endian.
std::vector<TBenchMarker> LoadMarkers(const std::string& FileName);

}  // namespace varnix::bench
