#include "host/HostDocument.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>

#include "common/LogFile.h"
#include "common/Numbers.h"

namespace varnix {

namespace {

float Clamp01(float V) {
  if (!(V > 0.0f)) return 0.0f;  // also NaN
  return V < 1.0f ? V : 1.0f;
}

THostMode ModeOfColorSpace(TImageColorSpace ColorSpace) {
  switch (ColorSpace) {
    case icGray:
      return hmGray;
    case icRGB:
      return hmRGB;
    case icCMYK:
      return hmCMYK;
    case icLab:
      return hmLab;
  }
  return hmRGB;
}

// One sample of a file as the normalised value of its channel (see HostColor.h).
float FileSampleToNormal(const TImage& Image, const uint8_t* Pixel, int32_t Channel, bool LabChroma) {
  switch (Image.Depth()) {
    case id8Bits:
      return Pixel[Channel] / 255.0f;
    case id16Bits: {
      const float V = reinterpret_cast<const uint16_t*>(Pixel)[Channel];
      // 16-bit Lab: a* = (v - 32768) / 256.
      return LabChroma ? Clamp01(((V - 32768.0f) / 256.0f + 128.0f) / 255.0f) : V / 65535.0f;
    }
    case id32BitsFloat: {
      const float V = reinterpret_cast<const float*>(Pixel)[Channel];
      if (Image.ColorSpace() == icLab && Channel < 3)
        return Clamp01(Channel == 0 ? V / 100.0f : (V + 128.0f) / 255.0f);
      return Clamp01(V);
    }
  }
  return 0.0f;
}

void NormalToFileSample(TImage& Image, uint8_t* Pixel, int32_t Channel, float Value, bool LabChroma) {
  Value = Clamp01(Value);
  switch (Image.Depth()) {
    case id8Bits:
      Pixel[Channel] = static_cast<uint8_t>(Round(Value * 255.0));
      return;
    case id16Bits: {
      // 16-bit Lab a*, b*: v = a* × 256 + 32768 with a* = 255 n - 128, that is v = 65280 n.
      const double Scale = LabChroma ? 65280.0 : 65535.0;
      reinterpret_cast<uint16_t*>(Pixel)[Channel] = static_cast<uint16_t>(Round(Value * Scale));
      return;
    }
    case id32BitsFloat: {
      float V = Value;
      if (Image.ColorSpace() == icLab && Channel < 3) V = Channel == 0 ? Value * 100.0f : Value * 255.0f - 128.0f;
      reinterpret_cast<float*>(Pixel)[Channel] = V;
      return;
    }
  }
}

// Row Y of Image: the colour channels normalised and unassociated into Color (Width × channels),
// the alpha into Alpha (1 without alpha).
void ReadNormalRow(const TImage& Image, int32_t Y, float* Color, float* Alpha) {
  const int32_t Channels = Image.ColorChannels();
  const int32_t PixelSize = Image.PixelSize();
  const bool Lab = Image.ColorSpace() == icLab;
  const uint8_t* P = Image.Row(Y);
  for (int32_t X = 0; X < Image.Width(); ++X, P += PixelSize) {
    const float A = Image.HasAlpha() ? FileSampleToNormal(Image, P, Channels, false) : 1.0f;
    Alpha[X] = A;
    for (int32_t C = 0; C < Channels; ++C) {
      float V = FileSampleToNormal(Image, P, C, Lab && C > 0);
      if (Image.Alpha() == iaAssociated) V = A > 0.0f ? Clamp01(V / A) : 0.0f;
      Color[X * Channels + C] = V;
    }
  }
}

int32_t DefaultDepth(const TImage& Image, THostMode Mode) {
  if (Mode == hmIndexed) return 8;
  switch (Image.Depth()) {
    case id8Bits:
      return 8;
    case id16Bits:
      return 16;
    case id32BitsFloat:
      return Mode == hmGray || Mode == hmRGB ? 32 : 16;
  }
  return 8;
}

// The layout the colour-space suite takes for the 8-bit samples of Layer at (X, Y).
void StagingPixel(THostMode Mode, const THostLayer& Layer, int32_t X, int32_t Y, uint8_t* P) {
  P[0] = P[1] = P[2] = P[3] = 0;
  switch (Mode) {
    case hmGray:
      P[3] = Layer.Color[0].Get8(X, Y);
      break;
    case hmCMYK:
      for (int32_t i = 0; i < 4; ++i) P[i] = Layer.Color[i].Get8(X, Y);
      break;
    default:
      for (int32_t i = 0; i < 3; ++i) P[i + 1] = Layer.Color[i].Get8(X, Y);
      break;
  }
}

int16_t SuiteColorSpace(THostMode Mode) {
  switch (Mode) {
    case hmGray:
      return plugIncolorServicesGraySpace;
    case hmCMYK:
      return plugIncolorServicesCMYKSpace;
    case hmLab:
      return plugIncolorServicesLabSpace;
    default:
      return plugIncolorServicesRGBSpace;
  }
}

}  // namespace

// ---- Samples -----------------------------------------------------------------------------------

uint8_t HostSampleTo8(const uint8_t* Sample, int32_t Depth) {
  switch (Depth) {
    case 16: {
      const uint32_t V = *reinterpret_cast<const uint16_t*>(Sample);
      return V >= 32768 ? 255 : static_cast<uint8_t>((V * 255 + 16384) / 32768);
    }
    case 32: {
      const float V = *reinterpret_cast<const float*>(Sample);
      return static_cast<uint8_t>(Round(Clamp01(V) * 255.0));
    }
    default:
      return *Sample;
  }
}

float HostSampleToNormal(const uint8_t* Sample, int32_t Depth) {
  switch (Depth) {
    case 16:
      return Clamp01(*reinterpret_cast<const uint16_t*>(Sample) / 32768.0f);
    case 32:
      return Clamp01(*reinterpret_cast<const float*>(Sample));
    default:
      return *Sample / 255.0f;
  }
}

void NormalToHostSample(float Value, int32_t Depth, uint8_t* Sample) {
  Value = Clamp01(Value);
  switch (Depth) {
    case 16:
      *reinterpret_cast<uint16_t*>(Sample) = static_cast<uint16_t>(Round(Value * 32768.0));
      return;
    case 32:
      *reinterpret_cast<float*>(Sample) = Value;
      return;
    default:
      *Sample = static_cast<uint8_t>(Round(Value * 255.0));
  }
}

THostPlane::THostPlane(int32_t Width, int32_t Height, int32_t Depth)
    : FWidth(Width), FHeight(Height), FDepth(Depth) {
  GuardAllocation([&] { FData.assign(static_cast<size_t>(Width) * Height * (Depth / 8), 0); });
}

// ---- Document ----------------------------------------------------------------------------------

THostDocument::THostDocument(const std::vector<const TImage*>& Images, const std::vector<std::string>& Names,
                             const THostDocumentOptions& Options) {
  if (Images.empty()) throw EHostDocumentError("a document needs at least one image");
  const TImage& First = *Images[0];
  FWidth = First.Width();
  FHeight = First.Height();
  for (size_t i = 1; i < Images.size(); ++i)
    if (Images[i]->Width() != FWidth || Images[i]->Height() != FHeight)
      throw EHostDocumentError(Format("%s is %d x %d, but the document is %d x %d", Names[i].c_str(),
                                      Images[i]->Width(), Images[i]->Height(), FWidth, FHeight));
  if (FWidth <= 0 || FHeight <= 0) throw EHostDocumentError(Names[0] + ": the image is empty");

  FMode = Options.HasMode ? Options.Mode : First.Indexed ? hmIndexed : ModeOfColorSpace(First.ColorSpace());
  FDepth = Options.Depth != 0 ? Options.Depth : DefaultDepth(First, FMode);
  if (FDepth != 8 && FDepth != 16 && FDepth != 32)
    throw EHostDocumentError(Format("documents are 8, 16 or 32-bit, not %d-bit", FDepth));
  if (FMode == hmIndexed && FDepth != 8) throw EHostDocumentError("indexed documents are 8-bit only");
  if (FDepth == 32 && FMode != hmGray && FMode != hmRGB)
    throw EHostDocumentError(Format("32-bit documents are gray or RGB, not %s", ModeName(FMode)));
  if (FMode == ModeOfColorSpace(First.ColorSpace())) FIcc = First.IccProfile;

  const int32_t Planes = ModeColorPlanes(FMode);
  std::vector<float> Color(static_cast<size_t>(FWidth) * 4), Alpha(FWidth), Converted(static_cast<size_t>(FWidth) * 4);
  // Indexed documents: every layer in 8-bit RGB first, then one palette for all of them.
  std::vector<std::vector<uint8_t>> Rgb8;

  FLayers.resize(Images.size());
  for (size_t i = 0; i < Images.size(); ++i) {
    const TImage& Image = *Images[i];
    THostLayer& Layer = FLayers[i];
    Layer.Name = Names[i];
    for (int32_t p = 0; p < Planes; ++p) Layer.Color.emplace_back(FWidth, FHeight, FDepth);
    const bool Background = Options.NoTransparency && i + 1 == Images.size();
    if (!Background) Layer.Transparency = THostPlane(FWidth, FHeight, FDepth);

    const THostMode From = ModeOfColorSpace(Image.ColorSpace());
    TModeConverter Converter(From, Image.IccProfile, FMode == hmIndexed ? hmRGB : FMode);
    if (FMode == hmIndexed) Rgb8.emplace_back(static_cast<size_t>(FWidth) * FHeight * 3);
    for (int32_t Y = 0; Y < FHeight; ++Y) {
      ReadNormalRow(Image, Y, Color.data(), Alpha.data());
      Converter.Convert(Color.data(), Converted.data(), FWidth);
      for (int32_t X = 0; X < FWidth; ++X) {
        if (FMode == hmIndexed) {
          uint8_t* Q = Rgb8.back().data() + (static_cast<size_t>(Y) * FWidth + X) * 3;
          for (int32_t c = 0; c < 3; ++c) Q[c] = static_cast<uint8_t>(Round(Converted[3 * X + c] * 255.0));
        } else {
          for (int32_t p = 0; p < Planes; ++p) Layer.Color[p].SetNormal(X, Y, Converted[X * Planes + p]);
        }
        if (!Background) Layer.Transparency.SetNormal(X, Y, Alpha[X]);
      }
    }
  }

  if (FMode == hmIndexed) {
    // The exact colours when there are at most 256 of them, else a 6 × 6 × 6 colour cube.
    std::map<uint32_t, uint8_t> Colors;
    for (const auto& Layer : Rgb8) {
      for (size_t k = 0; k < Layer.size() && Colors.size() <= 256; k += 3)
        Colors.emplace((Layer[k] << 16) | (Layer[k + 1] << 8) | Layer[k + 2], 0);
    }
    const bool Exact = Colors.size() <= 256;
    if (Exact) {
      for (auto& [Key, Index] : Colors) {
        Index = static_cast<uint8_t>(FPalette.size());
        FPalette.push_back({uint8_t(Key >> 16), uint8_t(Key >> 8), uint8_t(Key)});
      }
    } else {
      for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
          for (int b = 0; b < 6; ++b) FPalette.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51)});
    }
    for (size_t i = 0; i < Rgb8.size(); ++i) {
      const uint8_t* Q = Rgb8[i].data();
      for (int32_t Y = 0; Y < FHeight; ++Y)
        for (int32_t X = 0; X < FWidth; ++X, Q += 3) {
          const uint8_t Index = Exact ? Colors[(Q[0] << 16) | (Q[1] << 8) | Q[2]]
                                      : static_cast<uint8_t>(((Q[0] + 25) / 51) * 36 + ((Q[1] + 25) / 51) * 6 +
                                                             (Q[2] + 25) / 51);
          *FLayers[i].Color[0].Sample(X, Y) = Index;
        }
    }
  }
  BuildComposite();
}

void THostDocument::BuildComposite() {
  FComposite = THostLayer();
  FComposite.Name = "merged";
  const bool AllTransparent =
      std::all_of(FLayers.begin(), FLayers.end(), [](const THostLayer& L) { return L.HasTransparency(); });
  if (FLayers.size() == 1 || FMode == hmIndexed) {
    // Palette indices do not blend: an indexed composite shows the target layer.
    FComposite.Color = Target().Color;
    if (AllTransparent) FComposite.Transparency = Target().Transparency;
    return;
  }
  const int32_t Planes = ModeColorPlanes(FMode);
  for (int32_t p = 0; p < Planes; ++p) FComposite.Color.emplace_back(FWidth, FHeight, FDepth);
  if (AllTransparent) FComposite.Transparency = THostPlane(FWidth, FHeight, FDepth);
  float C[4];
  for (int32_t Y = 0; Y < FHeight; ++Y)
    for (int32_t X = 0; X < FWidth; ++X) {
      // "Over" in premultiplied form, bottom to top.
      float A = 0.0f;
      std::fill(C, C + 4, 0.0f);
      for (const THostLayer& L : FLayers) {
        const float LA = L.HasTransparency() ? L.Transparency.GetNormal(X, Y) : 1.0f;
        for (int32_t p = 0; p < Planes; ++p) C[p] = L.Color[p].GetNormal(X, Y) * LA + C[p] * (1.0f - LA);
        A = LA + A * (1.0f - LA);
      }
      for (int32_t p = 0; p < Planes; ++p) FComposite.Color[p].SetNormal(X, Y, A > 0.0f ? C[p] / A : 0.0f);
      if (AllTransparent) FComposite.Transparency.SetNormal(X, Y, A);
    }
}

int16_t THostDocument::ImageMode() const {
  switch (FMode) {
    case hmGray:
      return FDepth == 32 ? plugInModeGray32 : FDepth == 16 ? plugInModeGray16 : plugInModeGrayScale;
    case hmRGB:
      return FDepth == 32 ? plugInModeRGB96 : FDepth == 16 ? plugInModeRGB48 : plugInModeRGBColor;
    case hmCMYK:
      return FDepth == 16 ? plugInModeCMYK64 : plugInModeCMYKColor;
    case hmLab:
      return FDepth == 16 ? plugInModeLab48 : plugInModeLabColor;
    case hmIndexed:
      return plugInModeIndexedColor;
  }
  return plugInModeRGBColor;
}

TImage THostDocument::CutOut(const std::vector<uint8_t>& Mask) const {
  TImage Result;
  Result.Allocate(FWidth, FHeight, icRGB, id8Bits, iaUnassociated);
  const THostLayer& Layer = Target();
  TMonitorConverter Monitor(FMode, FIcc);
  std::vector<uint8_t> Staging(static_cast<size_t>(FWidth) * 4);
  for (int32_t Y = 0; Y < FHeight; ++Y) {
    uint8_t* Out = Result.Row(Y);
    if (FMode == hmIndexed) {
      for (int32_t X = 0; X < FWidth; ++X) {
        const auto& Entry = FPalette[*Layer.Color[0].Sample(X, Y)];
        Staging[4 * X + 1] = Entry[0];
        Staging[4 * X + 2] = Entry[1];
        Staging[4 * X + 3] = Entry[2];
      }
    } else {
      for (int32_t X = 0; X < FWidth; ++X) StagingPixel(FMode, Layer, X, Y, &Staging[4 * X]);
      Monitor.Convert(SuiteColorSpace(FMode), Staging.data(), Staging.data(), static_cast<uint32_t>(FWidth));
    }
    for (int32_t X = 0; X < FWidth; ++X) {
      const uint32_t A = Layer.HasTransparency() ? Layer.Transparency.Get8(X, Y) : 255;
      const uint32_t M = Mask[static_cast<size_t>(Y) * FWidth + X];
      Out[4 * X] = Staging[4 * X + 1];
      Out[4 * X + 1] = Staging[4 * X + 2];
      Out[4 * X + 2] = Staging[4 * X + 3];
      Out[4 * X + 3] = static_cast<uint8_t>((A * M + 127) / 255);
    }
  }
  return Result;
}

TImage THostDocument::ExportTarget(const TImage& Original, bool ColorChanged) const {
  TImage Result;
  Result.Allocate(FWidth, FHeight, Original.ColorSpace(), Original.Depth(), iaUnassociated);
  Result.IccProfile = Original.IccProfile;
  const THostLayer& Layer = Target();
  const int32_t Channels = Result.ColorChannels();
  const int32_t PixelSize = Result.PixelSize();
  const int32_t SampleSize = Result.BytesPerSample();
  const bool Lab = Result.ColorSpace() == icLab;
  const bool CopyColor = !ColorChanged && Original.Alpha() != iaAssociated;
  const THostMode FileMode = ModeOfColorSpace(Original.ColorSpace());
  const THostMode Working = FMode == hmIndexed ? hmRGB : FMode;

  std::unique_ptr<TModeConverter> Back;
  if (!CopyColor && ColorChanged) Back = std::make_unique<TModeConverter>(Working, FIcc, FileMode);
  std::vector<float> In(static_cast<size_t>(FWidth) * 4), Out(static_cast<size_t>(FWidth) * 4), Alpha(FWidth);
  const int32_t Planes = ModeColorPlanes(Working);

  for (int32_t Y = 0; Y < FHeight; ++Y) {
    uint8_t* Row = Result.Row(Y);
    if (CopyColor) {
      const uint8_t* Src = Original.Row(Y);
      const int32_t SrcPixel = Original.PixelSize();
      for (int32_t X = 0; X < FWidth; ++X)
        std::memcpy(Row + X * PixelSize, Src + X * SrcPixel, static_cast<size_t>(Channels) * SampleSize);
    } else {
      if (Back) {
        for (int32_t X = 0; X < FWidth; ++X) {
          if (FMode == hmIndexed) {
            const auto& Entry = FPalette[*Layer.Color[0].Sample(X, Y)];
            for (int32_t c = 0; c < 3; ++c) In[3 * X + c] = Entry[c] / 255.0f;
          } else {
            for (int32_t p = 0; p < Planes; ++p) In[X * Planes + p] = Layer.Color[p].GetNormal(X, Y);
          }
        }
        Back->Convert(In.data(), Out.data(), FWidth);
      } else {
        // Associated file alpha, colour unchanged: the file's own colour, unassociated.
        ReadNormalRow(Original, Y, Out.data(), Alpha.data());
      }
      for (int32_t X = 0; X < FWidth; ++X)
        for (int32_t C = 0; C < Channels; ++C)
          NormalToFileSample(Result, Row + X * PixelSize, C, Out[X * Channels + C], Lab && C > 0);
    }
    for (int32_t X = 0; X < FWidth; ++X)
      NormalToFileSample(Result, Row + X * PixelSize, Channels,
                         Layer.HasTransparency() ? Layer.Transparency.GetNormal(X, Y) : 1.0f, false);
  }
  return Result;
}

}  // namespace varnix
