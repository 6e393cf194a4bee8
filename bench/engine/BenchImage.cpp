#include "BenchImage.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace varnix::bench {

TOwned<TColorBitmap> LoadRgbPng(const std::string& FileName) {
  png_image Image;
  std::memset(&Image, 0, sizeof(Image));
  Image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&Image, FileName.c_str())) throw Exception(FileName + ": " + Image.message);
  Image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> Pixels(PNG_IMAGE_SIZE(Image));
  if (!png_image_finish_read(&Image, nullptr, Pixels.data(), 0, nullptr)) throw Exception(FileName + ": " + Image.message);
  TOwned<TColorBitmap> B(NewObject<TColorBitmap>());
  B->Resize(static_cast<int32_t>(Image.width), static_cast<int32_t>(Image.height));
  for (int32_t Y = 0; Y < B->Height(); ++Y)
    for (int32_t X = 0; X < B->Width(); ++X) {
      const uint8_t* P = &Pixels[(static_cast<size_t>(Y) * Image.width + X) * 3];
      B->SetPixel(X, Y, TColorPixel{P[0], P[1], P[2], 255});  // opaque: premultiplying changes nothing
    }
  return B;
}

TOwned<TColorBitmap> ScaleBilinear(const TColorBitmap& Source, int32_t Width, int32_t Height) {
  TOwned<TColorBitmap> B(NewObject<TColorBitmap>());
  B->Resize(Width, Height);
  const double SX = static_cast<double>(Source.Width()) / Width, SY = static_cast<double>(Source.Height()) / Height;
  for (int32_t Y = 0; Y < Height; ++Y) {
    const double FY = std::clamp((Y + 0.5) * SY - 0.5, 0.0, Source.Height() - 1.0);
    const int32_t Y0 = static_cast<int32_t>(FY), Y1 = std::min(Y0 + 1, Source.Height() - 1);
    const double TY = FY - Y0;
    for (int32_t X = 0; X < Width; ++X) {
      const double FX = std::clamp((X + 0.5) * SX - 0.5, 0.0, Source.Width() - 1.0);
      const int32_t X0 = static_cast<int32_t>(FX), X1 = std::min(X0 + 1, Source.Width() - 1);
      const double TX = FX - X0;
      const uint8_t* P00 = reinterpret_cast<const uint8_t*>(Source.Address(X0, Y0));
      const uint8_t* P10 = reinterpret_cast<const uint8_t*>(Source.Address(X1, Y0));
      const uint8_t* P01 = reinterpret_cast<const uint8_t*>(Source.Address(X0, Y1));
      const uint8_t* P11 = reinterpret_cast<const uint8_t*>(Source.Address(X1, Y1));
      uint8_t* D = reinterpret_cast<uint8_t*>(B->Address(X, Y));
      for (int32_t C = 0; C < 4; ++C) {
        const double Top = P00[C] + (P10[C] - P00[C]) * TX;
        const double Bottom = P01[C] + (P11[C] - P01[C]) * TX;
        D[C] = static_cast<uint8_t>(std::lround(Top + (Bottom - Top) * TY));
      }
    }
  }
  return B;
}

std::vector<TBenchMarker> LoadMarkers(const std::string& FileName) {
  FILE* F = std::fopen(FileName.c_str(), "rb");
  if (!F) throw Exception(FileName + ": cannot open");
  std::vector<uint8_t> Data;
  uint8_t Buffer[4096];
  for (size_t N; (N = std::fread(Buffer, 1, sizeof(Buffer), F)) > 0;) Data.insert(Data.end(), Buffer, Buffer + N);
  std::fclose(F);
  auto Int = [&](size_t At) {
    return static_cast<int32_t>(uint32_t(Data[At]) | uint32_t(Data[At + 1]) << 8 | uint32_t(Data[At + 2]) << 16 |
                                uint32_t(Data[At + 3]) << 24);
  };
  if (Data.size() < 16 || std::memcmp(Data.data(), "TQWSHMRK", 8) != 0 || Int(8) != 1)
    throw Exception(FileName + ": not a markers file");
  const int32_t Count = Int(12);
  if (Count < 0 || Data.size() < 16 + 9 * static_cast<size_t>(Count)) throw Exception(FileName + ": truncated");
  std::vector<TBenchMarker> Markers;
  for (int32_t I = 0; I < Count; ++I) {
    const size_t At = 16 + 9 * static_cast<size_t>(I);
    if (Data[At + 8] > 1) throw Exception(FileName + ": invalid marker type");
    Markers.push_back({TPoint{Int(At), Int(At + 4)}, static_cast<uint8_t>(Data[At + 8] == 0 ? 255 : 0)});
  }
  return Markers;
}

}  // namespace varnix::bench
