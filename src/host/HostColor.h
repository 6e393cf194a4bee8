// Colour conversion in the host, built on LittleCMS: between the document modes when a file is
// opened as a document of another mode, and to 8-bit monitor RGB for the colour-space suite.
//
// Samples are handled in the host's normalised form, one float per channel in 0..1:
//   gray   0 black .. 1 white
//   RGB    red, green, blue
//   CMYK   cyan, magenta, yellow, black as ink amounts (0 no ink .. 1 full ink)
//   Lab    L* = 100 n, a* = 255 n - 128, b* = 255 n - 128 (D50), so that the 8-bit form of n
//          is the usual 8-bit Lab encoding.
//
// Profiles: a document keeps the embedded ICC profile of its file while it stays in the file's
// colour space; without one, RGB is sRGB, gray is gray with the sRGB tone curve and Lab is
// CIE L*a*b* D50. There is no built-in CMYK profile: CMYK without an embedded profile uses the
// naive subtractive model R = (1 - c)(1 - k), G = (1 - m)(1 - k), B = (1 - y)(1 - k), and the
// reverse with k = 1 - max(R, G, B). Monitor RGB is sRGB. Every conversion uses the relative
// colorimetric intent.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/Objects.h"
#include "platform/hostapi/HostApi.h"

namespace varnix {

// The colour modes a host document can be in.
enum THostMode : uint8_t { hmGray, hmRGB, hmCMYK, hmLab, hmIndexed };

// Colour planes of a mode (indexed: one plane of palette indices).
int32_t ModeColorPlanes(THostMode Mode);
const char* ModeName(THostMode Mode);  // "gray", "RGB", "CMYK", "Lab", "indexed"

VARNIX_DECLARE_EXCEPTION(EHostColorError, Exception);

// Converts rows of normalised samples from one mode to another (neither indexed). Built once per
// pair and reused for every row. Raises EHostColorError when LittleCMS cannot build a transform.
class TModeConverter {
 public:
  // FromIcc: the embedded profile of the source samples; empty, unreadable or not matching From
  // means the default profile of From.
  TModeConverter(THostMode From, const std::vector<uint8_t>& FromIcc, THostMode To);
  ~TModeConverter();
  TModeConverter(const TModeConverter&) = delete;
  TModeConverter& operator=(const TModeConverter&) = delete;

  // In holds Count pixels of From's planes interleaved, Out receives Count pixels of To's planes;
  // results are clamped to 0..1. In and Out must not overlap.
  void Convert(const float* In, float* Out, int32_t Count);

 private:
  struct TStage;
  THostMode FFrom;
  THostMode FTo;
  std::vector<std::unique_ptr<TStage>> FStages;
  std::vector<float> FScratch;
};

// The colour-space suite's conversion for one document: 4-byte staging pixels of any of the four
// suite colour spaces to (unused, R, G, B) sRGB. The document's own profile is used for the
// colour space of the document's mode.
class TMonitorConverter {
 public:
  TMonitorConverter(THostMode DocumentMode, const std::vector<uint8_t>& DocumentIcc);
  ~TMonitorConverter();
  TMonitorConverter(const TMonitorConverter&) = delete;
  TMonitorConverter& operator=(const TMonitorConverter&) = delete;

  // Answers kSPNoError, or paramErr for an unknown colour space or a null buffer. Input and
  // Output may be the same memory. Byte 0 of each output pixel is left as the input had it.
  SPErr Convert(int16_t ColorSpace, const uint8_t* Input, uint8_t* Output, uint32_t Count);

 private:
  struct TProfileTransform;
  THostMode FMode;
  std::vector<uint8_t> FIcc;
  // One lazily built transform per suite colour space (index = colour space, 0..4).
  std::unique_ptr<TProfileTransform> FTransforms[5];
  bool FTried[5] = {};
};

}  // namespace varnix
