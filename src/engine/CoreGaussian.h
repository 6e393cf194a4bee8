// The colour gradient of a three-channel float image (in practice CIE L*a*b*).
//
// Each channel is filtered with separable Gaussian-derivative kernels of scale Sigma, once for
// the X derivative (derivative taps along rows, Gaussian taps along columns) and once for the Y
// derivative; the squared responses of the three channels are summed per direction. The outputs
// are the square roots scaled so that each image's strongest value is 65535: the magnitude
// (from the sum of both directions) and the two components, each normalised to its own maximum.
// An output whose maximum is 0 (a black or transparent image) is all zeros.
//
// Cost: per channel and direction one horizontal and one vertical pass of 2 x Radius + 1 taps
// (9 at Sigma 1.5). Rows of a pass are independent and are shared between the engine's workers;
// every pixel's sum runs in the same order whichever worker computes it.
#pragma once

#include <cstdint>

#include "common/Objects.h"
#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"

namespace varnix {

struct IColorToGradientConverter : virtual IUnknown {
  // {7A3E5C20-1D2B-4C6A-8E9F-0A1B2C3D4E10}
  static constexpr TGUID IID = {0x7A3E5C20, 0x1D2B, 0x4C6A, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x10}};

  // Resizes the three outputs to Source's size and fills them. Source must offer channels 0, 1
  // and 2 through GetFloatColorChannel. A cancelled conversion returns early: the outputs are
  // untouched when the cancel came during the convolutions, partly written when it came during
  // the final pass.
  virtual void Convert(const TAbstractColorBitmap* Source, TWordGrayscaleBitmap* Gradient, TWordGrayscaleBitmap* XGradient,
                       TWordGrayscaleBitmap* YGradient) = 0;
  // The number of gradient levels, 65536.
  virtual int32_t GetRange() = 0;
};

enum TGaussianDerivative { gdX, gdY };

inline constexpr int32_t MaxGaussianRadius = 50;

// Taps for the offsets -50 ... 50, indexed by the offset; only -Radius ... Radius are used, the
// others are 0.
struct TGaussianKernel {
  float Taps[2 * MaxGaussianRadius + 1] = {};
  float& operator[](int32_t Offset) { return Taps[Offset + MaxGaussianRadius]; }
  float operator[](int32_t Offset) const { return Taps[Offset + MaxGaussianRadius]; }
  // The tap of offset 0; Center()[k] is the tap of offset k.
  const float* Center() const { return Taps + MaxGaussianRadius; }
};

class TGaussianGradientConverter : public TInterfacedObject, public IColorToGradientConverter, public IProgressReporter {
 public:
  explicit TGaussianGradientConverter(float Sigma);
  ~TGaussianGradientConverter() override;

  void Convert(const TAbstractColorBitmap* Source, TWordGrayscaleBitmap* Gradient, TWordGrayscaleBitmap* XGradient,
               TWordGrayscaleBitmap* YGradient) override;
  int32_t GetRange() override { return FRange; }

  void Cancel() override { FProgress.Cancel(); }
  float GetProgress() override { return FProgress.GetProgress(); }

  // Sets Radius (3 x Sigma rounded, halves to even, clamped into 1 ... 50) and the two kernels:
  // for gdX the derivative taps run along rows and the Gaussian along columns, for gdY the
  // other way round. The Gaussian taps are normalised to sum 1 (summed in double precision);
  // the derivative taps are i x (-1 / Sigma^2) x g[i].
  void GenerateKernels(TGaussianDerivative Derivative);

  float Sigma() const { return FSigma; }
  int32_t Radius() const { return FRadius; }
  const TGaussianKernel& HorizontalKernel() const { return FHorizontalKernel; }
  const TGaussianKernel& VerticalKernel() const { return FVerticalKernel; }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;

  // Dest := the sum over the three channels of the squared directional derivative (the current
  // kernels). Progress runs from StartProgress to EndProgress, a third per channel.
  void Convolve(const TAbstractColorBitmap* Source, TFloatGrayscaleBitmap* Dest, float StartProgress, float EndProgress);
  // Horizontal pass of one channel into Intermediate, then the vertical pass adding the squared
  // responses into Dest.
  void ConvolveChannel(const TAbstractColorBitmap* Source, int32_t Channel, TFloatGrayscaleBitmap* Dest);

 private:
  TGaussianKernel FHorizontalKernel;
  TProgressReporter FProgress;
  int32_t FRange = 65536;
  float FSigma;
  int32_t FRadius = 1;
  TFloatGrayscaleBitmap* FIntermediate = nullptr;  // exists only inside Convert
  TGaussianKernel FVerticalKernel;
};

}  // namespace varnix
