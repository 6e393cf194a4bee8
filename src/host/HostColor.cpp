#include "host/HostColor.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace varnix {

int32_t ModeColorPlanes(THostMode Mode) {
  switch (Mode) {
    case hmGray:
    case hmIndexed:
      return 1;
    case hmRGB:
    case hmLab:
      return 3;
    case hmCMYK:
      return 4;
  }
  return 1;
}

const char* ModeName(THostMode Mode) {
  switch (Mode) {
    case hmGray:
      return "gray";
    case hmRGB:
      return "RGB";
    case hmCMYK:
      return "CMYK";
    case hmLab:
      return "Lab";
    case hmIndexed:
      return "indexed";
  }
  return "?";
}

namespace {

// Owns a LittleCMS profile. Empty state: no profile.
class TProfile {
 public:
  TProfile() noexcept = default;
  explicit TProfile(cmsHPROFILE Handle) noexcept : FHandle(Handle) {}
  TProfile(TProfile&& Other) noexcept : FHandle(std::exchange(Other.FHandle, nullptr)) {}
  TProfile& operator=(TProfile&& Other) noexcept {
    std::swap(FHandle, Other.FHandle);
    return *this;
  }
  ~TProfile() {
    if (FHandle) cmsCloseProfile(FHandle);
  }
  cmsHPROFILE Get() const noexcept { return FHandle; }
  explicit operator bool() const noexcept { return FHandle != nullptr; }

 private:
  cmsHPROFILE FHandle = nullptr;
};

// Owns a LittleCMS transform. Empty state: no transform.
class TTransform {
 public:
  TTransform() noexcept = default;
  explicit TTransform(cmsHTRANSFORM Handle) noexcept : FHandle(Handle) {}
  TTransform(TTransform&& Other) noexcept : FHandle(std::exchange(Other.FHandle, nullptr)) {}
  TTransform& operator=(TTransform&& Other) noexcept {
    std::swap(FHandle, Other.FHandle);
    return *this;
  }
  ~TTransform() {
    if (FHandle) cmsDeleteTransform(FHandle);
  }
  cmsHTRANSFORM Get() const noexcept { return FHandle; }
  explicit operator bool() const noexcept { return FHandle != nullptr; }

 private:
  cmsHTRANSFORM FHandle = nullptr;
};

cmsColorSpaceSignature ModeSignature(THostMode Mode) {
  switch (Mode) {
    case hmGray:
      return cmsSigGrayData;
    case hmRGB:
    case hmIndexed:
      return cmsSigRgbData;
    case hmCMYK:
      return cmsSigCmykData;
    case hmLab:
      return cmsSigLabData;
  }
  return cmsSigRgbData;
}

// The embedded profile when it can be read and describes samples of Mode, else empty.
TProfile OpenEmbedded(const std::vector<uint8_t>& Icc, THostMode Mode) {
  if (Icc.empty()) return TProfile();
  TProfile P(cmsOpenProfileFromMem(Icc.data(), static_cast<cmsUInt32Number>(Icc.size())));
  if (P && cmsGetColorSpace(P.Get()) != ModeSignature(Mode)) return TProfile();
  return P;
}

TProfile OpenDefault(THostMode Mode) {
  switch (Mode) {
    case hmRGB:
    case hmIndexed:
      return TProfile(cmsCreate_sRGBProfile());
    case hmGray: {
      // The sRGB transfer curve: Y = ((x + 0.055) / 1.055)^2.4 above 0.04045, x / 12.92 below.
      const cmsFloat64Number Params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
      cmsToneCurve* Curve = cmsBuildParametricToneCurve(nullptr, 4, Params);
      if (!Curve) return TProfile();
      TProfile P(cmsCreateGrayProfile(cmsD50_xyY(), Curve));
      cmsFreeToneCurve(Curve);
      return P;
    }
    case hmLab:
      return TProfile(cmsCreateLab4Profile(nullptr));
    case hmCMYK:
      return TProfile();
  }
  return TProfile();
}

cmsUInt32Number FloatFormat(THostMode Mode) {
  switch (Mode) {
    case hmGray:
      return TYPE_GRAY_FLT;
    case hmRGB:
    case hmIndexed:
      return TYPE_RGB_FLT;
    case hmCMYK:
      return TYPE_CMYK_FLT;
    case hmLab:
      return TYPE_Lab_FLT;
  }
  return TYPE_RGB_FLT;
}

float Clamp01(float V) {
  if (!(V > 0.0f)) return 0.0f;  // also NaN
  return V < 1.0f ? V : 1.0f;
}

// Normalised samples to the units of LittleCMS's float formats and back.
void ToLcms(THostMode Mode, const float* In, float* Out, int32_t Count) {
  const int32_t N = ModeColorPlanes(Mode) * Count;
  switch (Mode) {
    case hmCMYK:
      for (int32_t i = 0; i < N; ++i) Out[i] = In[i] * 100.0f;
      return;
    case hmLab:
      for (int32_t i = 0; i < N; i += 3) {
        Out[i] = In[i] * 100.0f;
        Out[i + 1] = In[i + 1] * 255.0f - 128.0f;
        Out[i + 2] = In[i + 2] * 255.0f - 128.0f;
      }
      return;
    default:
      std::memcpy(Out, In, sizeof(float) * N);
  }
}

void FromLcms(THostMode Mode, const float* In, float* Out, int32_t Count) {
  const int32_t N = ModeColorPlanes(Mode) * Count;
  switch (Mode) {
    case hmCMYK:
      for (int32_t i = 0; i < N; ++i) Out[i] = Clamp01(In[i] / 100.0f);
      return;
    case hmLab:
      for (int32_t i = 0; i < N; i += 3) {
        Out[i] = Clamp01(In[i] / 100.0f);
        Out[i + 1] = Clamp01((In[i + 1] + 128.0f) / 255.0f);
        Out[i + 2] = Clamp01((In[i + 2] + 128.0f) / 255.0f);
      }
      return;
    default:
      for (int32_t i = 0; i < N; ++i) Out[i] = Clamp01(In[i]);
  }
}

}  // namespace

// One step of a mode conversion.
struct TModeConverter::TStage {
  enum TKind { skGrayToRGB, skNaiveCMYKToRGB, skNaiveRGBToCMYK, skProfiles };
  TKind Kind;
  THostMode From;
  THostMode To;
  TTransform Transform;  // skProfiles only
  std::vector<float> In, Out;

  void Run(const float* Src, float* Dst, int32_t Count) {
    switch (Kind) {
      case skGrayToRGB:
        for (int32_t i = 0; i < Count; ++i) Dst[3 * i] = Dst[3 * i + 1] = Dst[3 * i + 2] = Src[i];
        return;
      case skNaiveCMYKToRGB:
        for (int32_t i = 0; i < Count; ++i) {
          const float* P = Src + 4 * i;
          const float K = 1.0f - P[3];
          Dst[3 * i] = Clamp01((1.0f - P[0]) * K);
          Dst[3 * i + 1] = Clamp01((1.0f - P[1]) * K);
          Dst[3 * i + 2] = Clamp01((1.0f - P[2]) * K);
        }
        return;
      case skNaiveRGBToCMYK:
        for (int32_t i = 0; i < Count; ++i) {
          const float* P = Src + 3 * i;
          const float Max = std::max({P[0], P[1], P[2]});
          float* Q = Dst + 4 * i;
          Q[3] = Clamp01(1.0f - Max);
          if (Max <= 0.0f) {
            Q[0] = Q[1] = Q[2] = 0.0f;
          } else {
            Q[0] = Clamp01((Max - P[0]) / Max);
            Q[1] = Clamp01((Max - P[1]) / Max);
            Q[2] = Clamp01((Max - P[2]) / Max);
          }
        }
        return;
      case skProfiles:
        In.resize(static_cast<size_t>(ModeColorPlanes(From)) * Count);
        Out.resize(static_cast<size_t>(ModeColorPlanes(To)) * Count);
        ToLcms(From, Src, In.data(), Count);
        cmsDoTransform(Transform.Get(), In.data(), Out.data(), static_cast<cmsUInt32Number>(Count));
        FromLcms(To, Out.data(), Dst, Count);
        return;
    }
  }
};

TModeConverter::TModeConverter(THostMode From, const std::vector<uint8_t>& FromIcc, THostMode To)
    : FFrom(From), FTo(To) {
  if (From == hmIndexed || To == hmIndexed)
    throw EHostColorError("indexed samples cannot be converted directly");
  if (From == To) return;
  auto MakeStage = [](TStage::TKind Kind, THostMode In, THostMode Out) {
    auto S = std::make_unique<TStage>();
    S->Kind = Kind;
    S->From = In;
    S->To = Out;
    return S;
  };

  TProfile Source = OpenEmbedded(FromIcc, From);
  const bool Embedded = static_cast<bool>(Source);
  if (!Source) Source = OpenDefault(From);

  auto AddProfiles = [this, &MakeStage](TProfile& In, THostMode InMode, THostMode OutMode) {
    TProfile Out = OpenDefault(OutMode);
    if (!In || !Out) throw EHostColorError("cannot build a colour profile");
    auto S = MakeStage(TStage::skProfiles, InMode, OutMode);
    S->Transform = TTransform(cmsCreateTransform(In.Get(), FloatFormat(InMode), Out.Get(), FloatFormat(OutMode),
                                                 INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
    if (!S->Transform) throw EHostColorError("cannot build a colour transform");
    FStages.push_back(std::move(S));
  };

  // First reach the target directly or through sRGB; CMYK without a profile always passes
  // through RGB with the naive model.
  THostMode Current = From;
  if (From == hmCMYK && !Source) {
    FStages.push_back(MakeStage(TStage::skNaiveCMYKToRGB, hmCMYK, hmRGB));
    Current = hmRGB;
  } else if (From == hmGray && !Embedded && (To == hmRGB || To == hmCMYK)) {
    // Default gray and sRGB share the tone curve: gray g is exactly (g, g, g).
    FStages.push_back(MakeStage(TStage::skGrayToRGB, hmGray, hmRGB));
    Current = hmRGB;
  } else if (To == hmCMYK) {
    if (!(From == hmRGB && !Embedded)) AddProfiles(Source, From, hmRGB);
    Current = hmRGB;
  } else {
    AddProfiles(Source, From, To);
    Current = To;
  }
  if (Current == hmRGB && To == hmCMYK) {
    FStages.push_back(MakeStage(TStage::skNaiveRGBToCMYK, hmRGB, hmCMYK));
  } else if (Current != To) {
    TProfile Rgb = OpenDefault(hmRGB);
    AddProfiles(Rgb, hmRGB, To);
  }
}

TModeConverter::~TModeConverter() = default;

void TModeConverter::Convert(const float* In, float* Out, int32_t Count) {
  if (FStages.empty()) {
    std::memcpy(Out, In, sizeof(float) * ModeColorPlanes(FFrom) * static_cast<size_t>(Count));
    return;
  }
  const float* Src = In;
  for (size_t i = 0; i < FStages.size(); ++i) {
    TStage& S = *FStages[i];
    float* Dst = Out;
    if (i + 1 < FStages.size()) {
      FScratch.resize(static_cast<size_t>(ModeColorPlanes(S.To)) * Count * 2);
      // Alternate halves of the scratch buffer so that a stage never reads what it writes.
      Dst = FScratch.data() + (i % 2) * static_cast<size_t>(ModeColorPlanes(S.To)) * Count;
    }
    S.Run(Src, Dst, Count);
    Src = Dst;
  }
}

// ---- Monitor conversion ------------------------------------------------------------------------

struct TMonitorConverter::TProfileTransform {
  TTransform Transform;
};

namespace {

// Staging layouts of the suite as LittleCMS formats: the unused leading bytes are extra
// channels stored first.
constexpr cmsUInt32Number StagingGray8 =
    COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(1) | SWAPFIRST_SH(1);
constexpr cmsUInt32Number StagingLab8 =
    COLORSPACE_SH(PT_Lab) | EXTRA_SH(1) | CHANNELS_SH(3) | BYTES_SH(1) | SWAPFIRST_SH(1);

constexpr uint32_t MonitorChunk = 4096;

}  // namespace

TMonitorConverter::TMonitorConverter(THostMode DocumentMode, const std::vector<uint8_t>& DocumentIcc)
    : FMode(DocumentMode), FIcc(DocumentIcc) {}

TMonitorConverter::~TMonitorConverter() = default;

SPErr TMonitorConverter::Convert(int16_t ColorSpace, const uint8_t* Input, uint8_t* Output, uint32_t Count) {
  if (ColorSpace != plugIncolorServicesRGBSpace && ColorSpace != plugIncolorServicesGraySpace &&
      ColorSpace != plugIncolorServicesCMYKSpace && ColorSpace != plugIncolorServicesLabSpace)
    return paramErr;
  if (Count == 0) return kSPNoError;
  if (!Input || !Output) return paramErr;

  if (!FTried[ColorSpace]) {
    FTried[ColorSpace] = true;
    // The document's embedded profile serves its own colour space; Lab always has its profile.
    THostMode Mode = ColorSpace == plugIncolorServicesRGBSpace    ? hmRGB
                     : ColorSpace == plugIncolorServicesGraySpace ? hmGray
                     : ColorSpace == plugIncolorServicesCMYKSpace ? hmCMYK
                                                                  : hmLab;
    TProfile In = Mode == FMode ? OpenEmbedded(FIcc, Mode) : TProfile();
    if (!In && Mode == hmLab) In = OpenDefault(hmLab);
    if (In) {
      TProfile Out = OpenDefault(hmRGB);
      const cmsUInt32Number Format = Mode == hmRGB    ? TYPE_ARGB_8
                                     : Mode == hmGray ? StagingGray8
                                     : Mode == hmCMYK ? TYPE_CMYK_8
                                                      : StagingLab8;
      TTransform T(cmsCreateTransform(In.Get(), Format, Out.Get(), TYPE_ARGB_8, INTENT_RELATIVE_COLORIMETRIC, 0));
      if (T) {
        FTransforms[ColorSpace] = std::make_unique<TProfileTransform>();
        FTransforms[ColorSpace]->Transform = std::move(T);
      } else if (Mode == hmLab) {
        return paramErr;
      }
    }
  }

  // Chunks through a copy of the input, so that Input and Output may be the same memory.
  uint8_t Chunk[MonitorChunk * 4];
  for (uint32_t Done = 0; Done < Count;) {
    const uint32_t N = std::min(Count - Done, MonitorChunk);
    std::memcpy(Chunk, Input + 4 * static_cast<size_t>(Done), 4 * static_cast<size_t>(N));
    uint8_t* Out = Output + 4 * static_cast<size_t>(Done);
    if (FTransforms[ColorSpace]) {
      cmsDoTransform(FTransforms[ColorSpace]->Transform.Get(), Chunk, Out, N);
      for (uint32_t i = 0; i < N; ++i) Out[4 * i] = Chunk[4 * i];
    } else {
      for (uint32_t i = 0; i < N; ++i) {
        const uint8_t* P = Chunk + 4 * i;
        uint8_t* Q = Out + 4 * i;
        Q[0] = P[0];
        switch (ColorSpace) {
          case plugIncolorServicesRGBSpace:
            Q[1] = P[1];
            Q[2] = P[2];
            Q[3] = P[3];
            break;
          case plugIncolorServicesGraySpace:
            Q[1] = Q[2] = Q[3] = P[3];
            break;
          default: {  // CMYK, naive: R = (255 - C)(255 - K) / 255, rounded
            const uint32_t K = 255u - P[3];
            Q[1] = static_cast<uint8_t>(((255u - P[0]) * K + 127u) / 255u);
            Q[2] = static_cast<uint8_t>(((255u - P[1]) * K + 127u) / 255u);
            Q[3] = static_cast<uint8_t>(((255u - P[2]) * K + 127u) / 255u);
            break;
          }
        }
      }
    }
    Done += N;
  }
  return kSPNoError;
}

}  // namespace varnix
