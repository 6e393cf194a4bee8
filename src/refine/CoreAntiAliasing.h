// Anti-aliasing of the hard selection's edge.
//
// The region watershed yields a mask of 0 and 255 whose outline follows pixel edges, and the
// list of its boundary pixels (outside pixels with an inside 4-neighbour). Two smoothers turn it
// into a mask whose boundary pixels carry their estimated coverage:
//
//   TGaussianAntiAliasing  (used by the calculation thread) estimates, per boundary pixel and
//       axis, the sub-pixel position of the edge and its blur (the width of a Gaussian) from
//       the X and Y gradients, writes the pixel's coverage into EdgeMask (stage 1,
//       AntialiasEdges) and, for the softening methods, blurs EdgeMask with an axis-aligned
//       Gaussian whose widths come from smoothed width maps, inside the 16 x 16 cells around
//       the edge only (stage 2, SoftenEdges).
//   TSimpleAntiAliasing  places the edge at the vertex of a parabola fitted to the gradient
//       magnitude across it; no blurring.
//
// Every point of the boundary list must lie inside the mask.
#pragma once

#include <cstdint>
#include <vector>

#include "common/CommonClasses.h"
#include "common/Objects.h"
#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"
#include "engine/CoreGeneral.h"

namespace varnix {

struct IAntiAliasing : virtual IUnknown {
  // {7A3E5C30-1D2B-4C6A-8E9F-0A1B2C3D4E20}
  static constexpr TGUID IID = {0x7A3E5C30, 0x1D2B, 0x4C6A, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x20}};

  // Mask: the hard selection (read only); Gradient: the document's gradient; Result receives the
  // soft mask at Mask's size; Points: the boundary pixels (only their coordinates are used).
  virtual void AntiAlias(const TGrayscaleBitmap* Mask, ISelectionGradient* Gradient, TGrayscaleBitmap* Result,
                         const TPointList* Points) = 0;
};

// The strengths the editor offers as "None", "Sharp", "Medium", "Soft", "Very Soft".
enum TGaussianAntiAliasingMethod : uint8_t { gaNone, gaSharp, gaMedium, gaSoft, gaVerySoft };

// The edge profile at one pixel along one axis.
struct TGaussianDistribution {
  float Mean = 0;      // offset of the edge from the pixel centre towards +axis, -0.5 ... 0.5
  float Sigma = 0;     // width of the edge in pixels, 0 ... 8
  bool Valid = false;  // false when no edge crosses the pixel along this axis
};

class TGaussianAntiAliasing : public TOwnedObject, public IAntiAliasing, public IProgressReporter {
 public:
  // 49 taps for the offsets -24 ... 24; a kernel of radius R uses -R ... R and sums to 1.
  struct TGaussianKernel {
    static constexpr int32_t MaxRadius = 24;
    float Taps[2 * MaxRadius + 1] = {};
    float& operator[](int32_t Offset) { return Taps[Offset + MaxRadius]; }
    float operator[](int32_t Offset) const { return Taps[Offset + MaxRadius]; }
  };
  // One convolution pass over a rectangle (right and bottom exclusive).
  using TGaussianConvolveProc = void (TGaussianAntiAliasing::*)(const TRect& R);

  // The half-lengths of the short (index 0) and long (index 1) sampling window.
  static constexpr int32_t EstimationSizes[2] = {2, 5};
  // The edge widths that the measured second moments below correspond to.
  static constexpr double ActualSigmaValues[11] = {0, 0.5, 1, 1.5, 2, 2.5, 3, 4, 5, 6, 7};
  static constexpr double CalculatedSigmaValues[2][11] = {
      {1.45985, 1.53622, 1.62411, 1.70622, 1.77576, 1.83619, 1.8855, 1.93232, 1.95463, 1.96855, 1.97747},
      {1.9953471, 2.4295769, 3.1308969, 4.0252589, 5.0574877, 5.911152, 6.990672, 8.2278687, 8.798558, 9.1584964, 9.384013}};
  // The factor by which the measured offset is multiplied at those widths.
  static constexpr double MeanCorrectionValues[2][11] = {
      {1.531956615, 1.731241993, 2.072624772, 2.587589919, 3.335178799, 4.460462461, 6.390838095, 11.22926796, 16.50077884,
       25.45293498, 32.19595748},
      {1.0, 1.0, 1.016260163, 1.063829787, 1.162790698, 1.305483029, 1.612903226, 2.5, 3.448275862, 5.06585613, 6.631299735}};

  explicit TGaussianAntiAliasing(TGaussianAntiAliasingMethod Method);
  ~TGaussianAntiAliasing() override;

  // Stage 1: EdgeMask := Mask with every boundary pixel's corrected value; for the softening
  // methods also the width maps and the touched cells. Uses Gradient's X and Y components.
  void AntialiasEdges(const TGrayscaleBitmap* Mask, ISelectionGradient* Gradient, const TPointList* Points);
  // Stage 2: Result := the final mask (EdgeMask itself for gaNone and gaSharp). A cancelled run
  // returns early with a partly softened Result.
  void SoftenEdges(TGrayscaleBitmap* Result);
  void AntiAlias(const TGrayscaleBitmap* Mask, ISelectionGradient* Gradient, TGrayscaleBitmap* Result,
                 const TPointList* Points) override;

  // Valid from the end of AntialiasEdges until the object is freed.
  const TGrayscaleBitmap* EdgeMask() const { return FEdgeMask.get(); }
  const TGrayscaleBitmap* SigmaX() const { return FSigmaX.get(); }
  const TGrayscaleBitmap* SigmaY() const { return FSigmaY.get(); }
  const TGrayscaleBitmap* Cells() const { return FCells.get(); }
  TGaussianAntiAliasingMethod Method() const { return FMethod; }

  void Cancel() override { FProgress.Cancel(); }
  float GetProgress() override { return FProgress.GetProgress(); }

  // The steps of the algorithm, public so that they can be checked one by one.

  // The edge position (Mean) and width (Sigma) across (X, Y) along the unit step (DX, DY),
  // from the clamped mask and gradient values of a window of half-length 5, or 2 when the
  // mask is not constant on both sides over the long window.
  static TGaussianDistribution EstimateDistribution(const TGrayscaleBitmap* Mask, const TWordGrayscaleBitmap* Gradient,
                                                    int32_t X, int32_t Y, int32_t DX, int32_t DY);
  // Maps a measured second moment onto an edge width and corrects the offset, interpolating
  // linearly in the tables of window SizeIndex.
  static void CorrectDistribution(int32_t SizeIndex, TGaussianDistribution& Distribution);
  // a + Round((b - a) x Offset) with a, b the clamped values at P - D and P + D.
  static int32_t CalculateCenterValue(const TGrayscaleBitmap* Bitmap, TPoint P, float Offset, int32_t DX, int32_t DY);
  // Raises the pixels P + k x D, |k| <= Round(3 x Sigma), inside the bitmap to at least
  // Round(Sigma x 255 / 8).
  static void SetSigmaValues(TGrayscaleBitmap* Bitmap, TPoint P, float Sigma, int32_t DX, int32_t DY);
  // A normalised Gaussian of width min(Sigma, 8) and radius Round(3 x width).
  static void CalculateKernel(float Sigma, TGaussianKernel& Kernel, int32_t& Radius);
  // 0.5 for gaMedium, 2 for gaVerySoft, 1 otherwise.
  float GetSigmaScaling() const;

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;

 private:
  // A kernel with the values that make an inner sum cheap to look up.
  struct TSelectionKernel {
    TGaussianKernel Kernel;
    int32_t Radius = 0;
    float FullSum = 0;  // the inner sum over a row segment that is 255 throughout
  };

  void InitializeBitmaps(const TGrayscaleBitmap* Mask, const TWordGrayscaleBitmap* XGradient,
                         const TWordGrayscaleBitmap* YGradient, const TPointList* Points);
  void TouchCells(TPoint P);
  void BlurSigmaBitmap(TGrayscaleBitmap* Bitmap, int32_t Index);
  void BlurSelection(TGrayscaleBitmap* Result);
  void ConvolveTouchedCells(TGaussianConvolveProc Proc);
  void ConvolveHor(const TRect& R);
  void ConvolveVer(const TRect& R);
  void ConvolveSelection(const TRect& R);
  float SelectionInnerSum(int32_t X, int32_t Row, const TSelectionKernel& K) const;
  bool CellTouched(int32_t X, int32_t Y) const { return FCells->GetPixel(X >> 4, Y >> 4) == 1; }

  TOwned<TGrayscaleBitmap> FCells;
  TGrayscaleBitmap* FCurrent = nullptr;
  TGaussianKernel FKernel;
  int32_t FKernelRadius = 0;
  TGaussianAntiAliasingMethod FMethod;
  TProgressReporter FProgress;
  TOwned<TGrayscaleBitmap> FEdgeMask;
  TOwned<TGrayscaleBitmap> FSigmaX;
  TOwned<TGrayscaleBitmap> FSigmaY;
  TOwned<TGrayscaleBitmap> FTemp;
  // The kernels of ConvolveSelection, one per width-map byte value.
  std::vector<TSelectionKernel> FSelectionKernels;
};

class TSimpleAntiAliasing : public TInterfacedObject, public IAntiAliasing {
 public:
  void AntiAlias(const TGrayscaleBitmap* Mask, ISelectionGradient* Gradient, TGrayscaleBitmap* Result,
                 const TPointList* Points) override;

  // The coverage of P from the parabola through the gradient at A, P, B (A at -1, B at +1).
  static uint8_t CalculateSqValue(const TGrayscaleBitmap* Mask, const TWordGrayscaleBitmap* Gradient, TPoint A, TPoint P,
                                  TPoint B);

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;
};

}  // namespace varnix
