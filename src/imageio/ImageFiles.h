// Reading and writing PNG, JPEG and TIFF files into a typed in-memory image that keeps the file's
// colour space, sample depth, alpha kind and embedded ICC profile, so that a program can work on
// the pixels and later write them back in the format they came in.
//
// Supported on reading:
//   PNG   1/2/4/8/16-bit gray, gray + alpha, RGB, RGBA, palette (1/2/4/8-bit). Palettes are
//         expanded to RGB (RGBA when the palette has transparency; Indexed() tells); a tRNS colour
//         key of a gray or RGB file becomes an alpha channel. Low gray depths become 8 bits.
//   JPEG  gray, RGB (YCbCr), CMYK and YCCK. CMYK files with the Adobe marker store inverted ink
//         values; they are turned back into ink amounts.
//   TIFF  8-bit, 16-bit and 32-bit float samples; gray (min-is-black or min-is-white), RGB,
//         CMYK (separated, ink set CMYK), CIE L*a*b* (CIELab with signed a/b, or ICCLab with
//         unsigned a/b); strips or tiles, contiguous or planar; the first extra sample, if any,
//         as alpha (associated when the file says so, unassociated otherwise; further extra
//         samples are dropped). Other 8-bit-or-less layouts that libtiff can render itself
//         (palette, subsampled YCbCr, bilevel gray) are read through libtiff's RGBA interface
//         as 8-bit RGB/RGBA (alpha associated) or, for gray, 8-bit gray. Only the first
//         image of a multi-page file is read.
// Supported on writing:
//   PNG   gray or RGB, 8 or 16 bits, without alpha or with unassociated alpha.
//   JPEG  8-bit gray, RGB or CMYK without alpha (CMYK is written with the Adobe marker and
//         inverted values, as readers expect).
//   TIFF  every colour space, depth and alpha kind a TImage can hold (Deflate compression).
// The ICC profile is written back to every format. Writers never leave a half-written file:
// they write a temporary file beside the target and rename it over the target when complete.
//
// Errors: every failure raises EImageFileError whose message starts with the file name:
// "photo.png: not a PNG, JPEG or TIFF file". Corrupt, truncated and unsupported files end in
// such an error, never in a crash; sizes beyond TImageLimits are refused before any pixel
// memory is allocated. The functions are reentrant: several threads may read and write
// different files at the same time.
//
// File names are file-system paths (UTF-8 on this platform), passed through unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Objects.h"

namespace varnix {

VARNIX_DECLARE_EXCEPTION(EImageFileError, Exception);

// Colour channels of a pixel, in this order:
//   icGray  one channel, 0 = black.
//   icRGB   red, green, blue.
//   icCMYK  cyan, magenta, yellow, black as ink amounts: 0 = no ink, the maximum = full ink.
//   icLab   L*, a*, b* (D50). 8 bits: L* = v × 100 / 255, a* = v − 128. 16 bits:
//           L* = v × 100 / 65535, a* = (v − 32768) / 256. Float: the values themselves.
enum TImageColorSpace : uint8_t { icGray, icRGB, icCMYK, icLab };
// Sample type of every channel: unsigned 8 or 16 bits, or 32-bit float (nominal range 0..1,
// except Lab, see above).
enum TImageDepth : uint8_t { id8Bits, id16Bits, id32BitsFloat };
// The alpha channel, which follows the colour channels when present. Associated: the colour
// samples are premultiplied by alpha.
enum TImageAlpha : uint8_t { iaNone, iaUnassociated, iaAssociated };
enum TImageFileFormat : uint8_t { ffPNG, ffJPEG, ffTIFF };

// Refusal thresholds for decoded images. The defaults admit anything a photo editor produces and
// stop headers that announce absurd sizes.
struct TImageLimits {
  int32_t MaxDimension = 300000;       // width or height
  int64_t MaxPixels = int64_t(1) << 28;  // width × height
  int64_t MaxBytes = int64_t(1) << 32;   // decoded sample bytes
};

int32_t ColorChannelCount(TImageColorSpace ColorSpace);
int32_t BytesPerSample(TImageDepth Depth);
const char* ColorSpaceName(TImageColorSpace ColorSpace);  // "gray", "RGB", "CMYK", "Lab"
const char* DepthName(TImageDepth Depth);                 // "8-bit", "16-bit", "32-bit float"

// A raster of interleaved samples, rows top to bottom without padding, samples in the host's byte
// order. Empty state: 0 × 0 without pixel memory. Move-only.
class TImage {
 public:
  TImage() = default;
  TImage(TImage&&) noexcept = default;
  TImage& operator=(TImage&&) noexcept = default;
  TImage(const TImage&) = delete;
  TImage& operator=(const TImage&) = delete;

  // Gives the image a new layout and zeroed pixels; the ICC profile and the flags stay.
  // Raises EImageFileError (message "image size W x H exceeds ...", without a file name) when
  // the size is not positive or beyond Limits, EOutOfMemory when the memory is not there.
  void Allocate(int32_t Width, int32_t Height, TImageColorSpace ColorSpace, TImageDepth Depth,
                TImageAlpha Alpha, const TImageLimits& Limits = TImageLimits());

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  TImageColorSpace ColorSpace() const { return FColorSpace; }
  TImageDepth Depth() const { return FDepth; }
  TImageAlpha Alpha() const { return FAlpha; }
  bool HasAlpha() const { return FAlpha != iaNone; }
  int32_t ColorChannels() const { return ColorChannelCount(FColorSpace); }
  // Colour channels plus one for alpha.
  int32_t Channels() const { return ColorChannels() + (HasAlpha() ? 1 : 0); }
  int32_t BytesPerSample() const { return varnix::BytesPerSample(FDepth); }
  int32_t PixelSize() const { return Channels() * BytesPerSample(); }
  size_t RowSize() const { return static_cast<size_t>(FWidth) * static_cast<size_t>(PixelSize()); }
  size_t ByteSize() const { return RowSize() * static_cast<size_t>(FHeight); }

  uint8_t* Bits() { return FBits.get(); }
  const uint8_t* Bits() const { return FBits.get(); }
  // REQUIRES: 0 <= Y < Height.
  uint8_t* Row(int32_t Y) { return FBits.get() + RowSize() * static_cast<size_t>(Y); }
  const uint8_t* Row(int32_t Y) const { return FBits.get() + RowSize() * static_cast<size_t>(Y); }
  uint16_t* Row16(int32_t Y) { return reinterpret_cast<uint16_t*>(Row(Y)); }
  const uint16_t* Row16(int32_t Y) const { return reinterpret_cast<const uint16_t*>(Row(Y)); }
  float* RowFloat(int32_t Y) { return reinterpret_cast<float*>(Row(Y)); }
  const float* RowFloat(int32_t Y) const { return reinterpret_cast<const float*>(Row(Y)); }

  // "1200 x 800 RGBA 16-bit" and the like, for messages.
  std::string Describe() const;

  // The embedded ICC profile, empty when the file had none.
  std::vector<uint8_t> IccProfile;
  // The file stored palette indices (now expanded to RGB or RGBA).
  bool Indexed = false;
  // The format the image was read from (ffPNG for an image made in memory).
  TImageFileFormat Format = ffPNG;

 private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  TImageColorSpace FColorSpace = icGray;
  TImageDepth FDepth = id8Bits;
  TImageAlpha FAlpha = iaNone;
  // Aligned for float and 16-bit access (operator new aligns to 16 bytes).
  std::unique_ptr<uint8_t[]> FBits;
};

// The format of the file by its first bytes. Raises EImageFileError when the file cannot be read
// or is none of the three.
TImageFileFormat DetectImageFormat(const std::string& FileName);

// Reads any of the three formats, chosen by the file's content (not its name).
TImage ReadImageFile(const std::string& FileName, const TImageLimits& Limits = TImageLimits());
TImage ReadPngFile(const std::string& FileName, const TImageLimits& Limits = TImageLimits());
TImage ReadJpegFile(const std::string& FileName, const TImageLimits& Limits = TImageLimits());
TImage ReadTiffFile(const std::string& FileName, const TImageLimits& Limits = TImageLimits());

// The writers raise EImageFileError when the image has a layout the format cannot store (see the
// list above) or the file cannot be written; the target is then left as it was.
void WritePngFile(const std::string& FileName, const TImage& Image);
// Quality 1..100.
void WriteJpegFile(const std::string& FileName, const TImage& Image, int Quality = 95);
void WriteTiffFile(const std::string& FileName, const TImage& Image);
// Chooses the writer by the extension (.png, .jpg/.jpeg, .tif/.tiff, any case).
void WriteImageFile(const std::string& FileName, const TImage& Image);

}  // namespace varnix
