// The interfaces through which the rest of the system drives the segmentation engine.
//
//   ISelectionGradient   the colour gradient of one document, computed once on first request.
//   ISelectionManager    one per document: owns the gradient and everything computed once per
//                        document (the preprocessing) and creates selectors.
//   ICalculateSelection  one per calculation: takes the markers, computes the hard mask and the
//                        edge pixels, and is then discarded.
//   IWatershed           the pixel-level marker watersheds behind the alternative selectors.
//
// Bitmaps and lists passed in or handed out are borrowed: the interfaces never transfer ownership.
#pragma once

#include <cstdint>

#include "common/Objects.h"
#include "common/Types.h"
#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"

namespace varnix {

struct ISelectionGradient : virtual IUnknown {
  // {7A3E5C10-1D2B-4C6A-8E9F-0A1B2C3D4E01}
  static constexpr TGUID IID = {0x7A3E5C10, 0x1D2B, 0x4C6A, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x01}};

  // The gradient magnitude, 0 ... 65535. Computed by the first request of any of the four
  // operations; the bitmaps stay owned by the gradient object and must not be changed.
  virtual TWordGrayscaleBitmap* GetGradient() = 0;
  // The number of gradient levels (65536).
  virtual int32_t GetRange() = 0;
  // The horizontal and the vertical component, each normalised to its own maximum.
  virtual TWordGrayscaleBitmap* GetXGradient() = 0;
  virtual TWordGrayscaleBitmap* GetYGradient() = 0;
};

struct ICalculateSelection;

struct ISelectionManager : virtual IUnknown {
  // {7A3E5C11-1D2B-4C6A-8E9F-0A1B2C3D4E02}
  static constexpr TGUID IID = {0x7A3E5C11, 0x1D2B, 0x4C6A, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x02}};

  // A new selector bound to this manager. The manager must outlive it.
  virtual InterfacePtr<ICalculateSelection> CreateSelector() = 0;
  // Binds the manager to the document, which must outlive the manager and stay unchanged.
  // Called once, before anything else.
  virtual void Initialize(TColorBitmap* Bitmap) = 0;
  virtual InterfacePtr<ISelectionGradient> GetGradient() = 0;
  // The once-per-document computation; runs in the calculation thread.
  virtual void Preprocess() = 0;
};

struct ICalculateSelection : virtual IUnknown {
  // {7A3E5C12-1D2B-4C6A-8E9F-0A1B2C3D4E03}
  static constexpr TGUID IID = {0x7A3E5C12, 0x1D2B, 0x4C6A, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x03}};

  // Computes the selection into Mask (resized to the document's size; 255 object, 0
  // background) and fills the edge point list set with SetEdgePointList.
  virtual void CalculateSelection(TGrayscaleBitmap* Mask) = 0;
  // Adds a marker in document coordinates: label 255 for the object, 0 for the background.
  virtual void DefineMarker(TPoint Point, uint8_t Label) = 0;
  // The list CalculateSelection fills; not owned by the selector.
  virtual void SetEdgePointList(TPointList* List) = 0;
};

struct IWatershed : virtual IUnknown {
  // {7A3E5C13-1D2B-4C6A-8E9F-0A1B2C3D4E04}
  static constexpr TGUID IID = {0x7A3E5C13, 0x1D2B, 0x4C6A, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x04}};

  // Floods Gradient from the markers into Mask (resized to Gradient's size) and fills the edge
  // point list. Iterator (may be null for watersheds that do not need one) walks a pixel sort
  // of Gradient. REQUIRES: SetEdgePointList has been called.
  virtual void CalculateWatershed(TWordGrayscaleBitmap* Gradient, TPixelIterator* Iterator, TGrayscaleBitmap* Mask) = 0;
  virtual void DefineMarker(TPoint Point, uint8_t Label) = 0;
  virtual void SetEdgePointList(TPointList* List) = 0;
};

}  // namespace varnix
