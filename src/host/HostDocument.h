// The host's document: one or more layers of the same size in one colour mode and sample depth,
// as an image editor keeps them, made from image files.
//
// Layers are stacked in the order given, the first at the bottom; the last is the target layer the
// plug-in works on. Each layer has the colour planes of the mode and, unless it is a background
// layer, a transparency plane. The merged composite is the layers composited with their
// transparency ("over"), computed when the document is made.
//
// Sample depths as the host stores and serves them: 8 bits (bytes 0..255), 16 bits (words
// 0..32768, the host's full scale) and 32 bits (floats 0..1, gray and RGB only). Indexed documents
// are 8-bit: one plane of palette indices and a palette of at most 256 colours.
//
// Making a document converts every file into the document's mode and depth (see HostColor.h for
// the colour rules and the normalised sample form). The document keeps the first file's embedded
// profile while it stays in that file's colour space; a layer that needs a mode conversion is
// converted with its own file's profile into the default profile of the document's mode.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/HostColor.h"
#include "imageio/ImageFiles.h"

namespace varnix {

// A file that cannot become a document as asked (sizes, modes, depths that do not fit).
VARNIX_DECLARE_EXCEPTION(EHostDocumentError, Exception);

// One sample at a host depth (8, 16 or 32) to 8 bits: 16-bit v gives round(v × 255 / 32768),
// a float round(clamp(v, 0, 1) × 255), NaN giving 0; values above full scale give 255.
uint8_t HostSampleTo8(const uint8_t* Sample, int32_t Depth);
// One sample at a host depth to the normalised 0..1 form (clamped).
float HostSampleToNormal(const uint8_t* Sample, int32_t Depth);
// The normalised value (clamped to 0..1) as a sample at a host depth, rounded to nearest.
void NormalToHostSample(float Value, int32_t Depth, uint8_t* Sample);

// A plane of Width × Height samples at one depth, rows without padding. Empty state: 0 × 0.
class THostPlane {
 public:
  THostPlane() = default;
  // All samples 0. Raises EOutOfMemory when the memory is not there.
  THostPlane(int32_t Width, int32_t Height, int32_t Depth);

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  int32_t Depth() const { return FDepth; }
  int32_t SampleSize() const { return FDepth / 8; }
  bool Empty() const { return FData.empty(); }

  // REQUIRES: 0 <= X < Width, 0 <= Y < Height.
  uint8_t* Sample(int32_t X, int32_t Y) {
    return FData.data() + (static_cast<size_t>(Y) * FWidth + X) * SampleSize();
  }
  const uint8_t* Sample(int32_t X, int32_t Y) const {
    return FData.data() + (static_cast<size_t>(Y) * FWidth + X) * SampleSize();
  }
  uint8_t Get8(int32_t X, int32_t Y) const { return HostSampleTo8(Sample(X, Y), FDepth); }
  float GetNormal(int32_t X, int32_t Y) const { return HostSampleToNormal(Sample(X, Y), FDepth); }
  void SetNormal(int32_t X, int32_t Y, float Value) { NormalToHostSample(Value, FDepth, Sample(X, Y)); }

 private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FDepth = 8;
  std::vector<uint8_t> FData;
};

struct THostLayer {
  std::string Name;
  std::vector<THostPlane> Color;
  // Empty for a background layer without transparency.
  THostPlane Transparency;

  bool HasTransparency() const { return !Transparency.Empty(); }
  // Colour planes, then the transparency plane when there is one.
  int32_t PlaneCount() const { return static_cast<int32_t>(Color.size()) + (HasTransparency() ? 1 : 0); }
  // REQUIRES: 0 <= Index < PlaneCount().
  THostPlane& Plane(int32_t Index) {
    return Index < static_cast<int32_t>(Color.size()) ? Color[Index] : Transparency;
  }
  const THostPlane& Plane(int32_t Index) const {
    return Index < static_cast<int32_t>(Color.size()) ? Color[Index] : Transparency;
  }
};

struct THostDocumentOptions {
  // The mode to convert into; the first file's own mode when not set (an expanded palette file
  // is indexed).
  bool HasMode = false;
  THostMode Mode = hmRGB;
  // 8, 16 or 32; 0 keeps the first file's depth (32 for float files, 16 for float CMYK or Lab).
  int32_t Depth = 0;
  // The target layer becomes a background layer without transparency.
  bool NoTransparency = false;
};

class THostDocument {
 public:
  // Images[0] is the bottom layer, the last the target; Names name them in messages. Raises
  // EHostDocumentError when the images differ in size, or the mode and depth do not go together
  // (32 bits exist for gray and RGB only, indexed is 8-bit), and EHostColorError when a colour
  // conversion cannot be built.
  THostDocument(const std::vector<const TImage*>& Images, const std::vector<std::string>& Names,
                const THostDocumentOptions& Options);

  THostMode Mode() const { return FMode; }
  int32_t Depth() const { return FDepth; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  // The plug-in image mode of this mode and depth (plugInModeRGB48 and so on).
  int16_t ImageMode() const;
  // The profile of the samples; empty for the default profile of the mode.
  const std::vector<uint8_t>& Icc() const { return FIcc; }
  // Indexed documents: the palette colours (8-bit RGB).
  const std::vector<std::array<uint8_t, 3>>& Palette() const { return FPalette; }

  std::vector<THostLayer>& Layers() { return FLayers; }
  const std::vector<THostLayer>& Layers() const { return FLayers; }
  THostLayer& Target() { return FLayers.back(); }
  const THostLayer& Target() const { return FLayers.back(); }
  // All layers composited; it has a transparency plane unless a layer is a background layer.
  const THostLayer& Composite() const { return FComposite; }

  // The document's selection, Width × Height bytes (0 not selected .. 255 selected); empty at
  // first.
  std::vector<uint8_t> Selection;

  // The target layer as 8-bit sRGB with unassociated alpha = the layer's transparency × Mask / 255
  // (rounded). REQUIRES: Mask holds Width × Height bytes.
  TImage CutOut(const std::vector<uint8_t>& Mask) const;
  // The target layer in the colour space, depth and profile of Original (the file it came from),
  // with its transparency as unassociated alpha. When ColorChanged is false the colour samples
  // are Original's own, unchanged; otherwise they are converted back from the document.
  TImage ExportTarget(const TImage& Original, bool ColorChanged) const;

 private:
  void BuildComposite();

  THostMode FMode = hmRGB;
  int32_t FDepth = 8;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  std::vector<uint8_t> FIcc;
  std::vector<std::array<uint8_t, 3>> FPalette;
  std::vector<THostLayer> FLayers;
  THostLayer FComposite;
};

}  // namespace varnix
