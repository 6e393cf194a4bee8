#include "SamplePng.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace varnix::test {

namespace {

struct TFile {
  FILE* F;
  ~TFile() {
    if (F) std::fclose(F);
  }
};

}  // namespace

TOwned<TColorBitmap> LoadRgbPng(const std::string& FileName) {
  png_image Image;
  std::memset(&Image, 0, sizeof(Image));
  Image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&Image, FileName.c_str())) throw Exception(FileName + ": " + Image.message);
  Image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> Pixels(PNG_IMAGE_SIZE(Image));
  if (!png_image_finish_read(&Image, nullptr, Pixels.data(), 0, nullptr)) throw Exception(FileName + ": " + Image.message);
  TOwned<TColorBitmap> B(NewObject<TColorBitmap>());
  B->Resize(static_cast<int32_t>(Image.width), static_cast<int32_t>(Image.height));
  for (int32_t Y = 0; Y < B->Height(); ++Y)
    for (int32_t X = 0; X < B->Width(); ++X) {
      const uint8_t* P = &Pixels[(static_cast<size_t>(Y) * Image.width + X) * 4];
      // Premultiplied: colour times alpha, integer division by 255.
      B->SetPixel(X, Y, TColorPixel{static_cast<uint8_t>(P[0] * P[3] / 255), static_cast<uint8_t>(P[1] * P[3] / 255),
                                    static_cast<uint8_t>(P[2] * P[3] / 255), P[3]});
    }
  return B;
}

std::vector<TSampleMarker> LoadMarkers(const std::string& FileName) {
  TFile F{std::fopen(FileName.c_str(), "rb")};
  if (!F.F) throw Exception(FileName + ": cannot open");
  uint8_t Header[16];
  if (std::fread(Header, 1, 16, F.F) != 16 || std::memcmp(Header, "TQWSHMRK", 8) != 0)
    throw Exception(FileName + ": not a markers file");
  auto Int = [](const uint8_t* P) {
    return static_cast<int32_t>(uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24);
  };
  const int32_t Count = Int(Header + 12);
  std::vector<TSampleMarker> Markers;
  for (int32_t I = 0; I < Count; ++I) {
    uint8_t R[9];
    if (std::fread(R, 1, 9, F.F) != 9 || R[8] > 1) throw Exception(FileName + ": invalid record");
    Markers.push_back({TPoint{Int(R), Int(R + 4)}, static_cast<uint8_t>(R[8] == 0 ? 255 : 0)});
  }
  return Markers;
}

void WriteGrayPng(const std::string& FileName, const TGrayscaleBitmap& Bitmap) {
  png_image Image;
  std::memset(&Image, 0, sizeof(Image));
  Image.version = PNG_IMAGE_VERSION;
  Image.width = static_cast<png_uint_32>(Bitmap.Width());
  Image.height = static_cast<png_uint_32>(Bitmap.Height());
  Image.format = PNG_FORMAT_GRAY;
  if (!png_image_write_to_file(&Image, FileName.c_str(), 0, Bitmap.Bits(), Bitmap.RowSize(), nullptr))
    throw Exception(FileName + ": " + Image.message);
}

}  // namespace varnix::test
