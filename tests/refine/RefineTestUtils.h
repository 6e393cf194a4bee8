// Fixtures for the refinement tests: masks, boundary lists and a gradient object made of given
// bitmaps.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"
#include "engine/CoreGeneral.h"
#include "engine/ParallelLoops.h"

namespace varnix::test {

// A gradient object that hands out bitmaps it was given.
class TFixedGradient : public TInterfacedObject, public ISelectionGradient {
 public:
  TFixedGradient(int32_t Width, int32_t Height) {
    for (TOwned<TWordGrayscaleBitmap>* B : {&Magnitude, &XGradient, &YGradient}) {
      B->reset(NewObject<TWordGrayscaleBitmap>());
      (*B)->Resize(Width, Height);
      std::fill_n((*B)->Bits(), static_cast<size_t>(Width) * Height, 0);
    }
  }
  TWordGrayscaleBitmap* GetGradient() override { return Magnitude.get(); }
  int32_t GetRange() override { return 65536; }
  TWordGrayscaleBitmap* GetXGradient() override { return XGradient.get(); }
  TWordGrayscaleBitmap* GetYGradient() override { return YGradient.get(); }

  TOwned<TWordGrayscaleBitmap> Magnitude, XGradient, YGradient;

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override {
    return FindInterface<ISelectionGradient>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
  }
};

// A mask with 255 where Inside(X, Y) holds.
inline TOwned<TGrayscaleBitmap> MakeMask(int32_t Width, int32_t Height, const std::function<bool(int32_t, int32_t)>& Inside) {
  TOwned<TGrayscaleBitmap> M(NewObject<TGrayscaleBitmap>());
  M->Resize(Width, Height);
  for (int32_t Y = 0; Y < Height; ++Y)
    for (int32_t X = 0; X < Width; ++X) M->SetPixel(X, Y, Inside(X, Y) ? 255 : 0);
  return M;
}

// The outside pixels that have an inside 4-neighbour, in raster order (what the region
// watershed lists).
inline TOwned<TPointList> BoundaryOf(const TGrayscaleBitmap& Mask) {
  TOwned<TPointList> L(NewObject<TPointList>());
  for (int32_t Y = 0; Y < Mask.Height(); ++Y)
    for (int32_t X = 0; X < Mask.Width(); ++X) {
      const uint8_t V = Mask.GetPixel(X, Y);
      const TPixelNeighbors N = Mask.Get4ConnectedPixels(X, Y);
      for (int32_t I = 0; I < N.Count; ++I)
        if (Mask.GetValue(N.Pixels[I]) > V) {
          L->Add(TPoint{X, Y});
          break;
        }
    }
  return L;
}

inline std::vector<uint8_t> Bytes(const TGrayscaleBitmap& B) {
  std::vector<uint8_t> R;
  for (int32_t Y = 0; Y < B.Height(); ++Y) R.insert(R.end(), B.Address(0, Y), B.Address(0, Y) + B.Width());
  return R;
}

struct TThreadCountScope {
  explicit TThreadCountScope(int32_t Count) { SetEngineThreadCount(Count); }
  ~TThreadCountScope() { SetEngineThreadCount(0); }
};

}  // namespace varnix::test
