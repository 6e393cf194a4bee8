// Small fixtures for the engine tests: bitmaps from literal rows, deterministic noise images.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"
#include "engine/ParallelLoops.h"

namespace varnix::test {

// A word bitmap of one row.
inline TOwned<TWordGrayscaleBitmap> WordRow(std::initializer_list<uint16_t> Values) {
  TOwned<TWordGrayscaleBitmap> B(NewObject<TWordGrayscaleBitmap>());
  B->Resize(static_cast<int32_t>(Values.size()), 1);
  int32_t X = 0;
  for (uint16_t V : Values) B->SetPixel(X++, 0, V);
  return B;
}

inline std::vector<uint8_t> MaskRow(const TGrayscaleBitmap& Mask, int32_t Y = 0) {
  std::vector<uint8_t> R;
  for (int32_t X = 0; X < Mask.Width(); ++X) R.push_back(Mask.GetPixel(X, Y));
  return R;
}

inline std::vector<TPoint> Points(const TPointList& List) {
  std::vector<TPoint> R;
  for (int32_t I = 0; I < List.Count(); ++I) R.push_back(List.GetPoint(I));
  return R;
}

// All pixel bytes of a bitmap, row by row (padding excluded).
template <class TBitmapType>
std::vector<uint8_t> Bytes(const TBitmapType& B) {
  std::vector<uint8_t> R;
  for (int32_t Y = 0; Y < B.Height(); ++Y) {
    const uint8_t* P = reinterpret_cast<const uint8_t*>(B.Address(0, Y));
    R.insert(R.end(), P, P + sizeof(*B.Address(0, Y)) * static_cast<size_t>(B.Width()));
  }
  return R;
}

// A colour image of soft blobs on a gradient with some noise: many regions, real edges.
inline TOwned<TColorBitmap> NoiseImage(int32_t Width, int32_t Height, uint32_t Seed) {
  TOwned<TColorBitmap> B(NewObject<TColorBitmap>());
  B->Resize(Width, Height);
  std::mt19937 Random(Seed);
  std::uniform_int_distribution<int> Noise(-12, 12);
  for (int32_t Y = 0; Y < Height; ++Y)
    for (int32_t X = 0; X < Width; ++X) {
      const bool InDisc = (X - Width / 2) * (X - Width / 2) + (Y - Height / 2) * (Y - Height / 2) < Width * Height / 10;
      const int Base = InDisc ? 200 : 40 + (X * 100) / (Width > 1 ? Width : 1);
      auto C = [&](int V) { return static_cast<uint8_t>(V < 0 ? 0 : (V > 255 ? 255 : V)); };
      B->SetPixel(X, Y, TColorPixel{C(Base + Noise(Random)), C((InDisc ? 60 : Base) + Noise(Random)), C(120 + Noise(Random)), 255});
    }
  return B;
}

// Restores the default worker count when a test that forces one ends.
struct TThreadCountScope {
  explicit TThreadCountScope(int32_t Count) { SetEngineThreadCount(Count); }
  ~TThreadCountScope() { SetEngineThreadCount(0); }
};

}  // namespace varnix::test
