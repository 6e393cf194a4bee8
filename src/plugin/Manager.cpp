#include "plugin/Manager.h"

#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/LogFile.h"

namespace varnix {

namespace {

TPluginManager* PluginManagerInstance = nullptr;

// Colour spaces of the host's colour-space suite.
constexpr int16_t ColorSpaceRGB = plugIncolorServicesRGBSpace;
constexpr int16_t ColorSpaceCMYK = plugIncolorServicesCMYKSpace;
constexpr int16_t ColorSpaceLab = plugIncolorServicesLabSpace;
constexpr int16_t ColorSpaceGray = plugIncolorServicesGraySpace;

// Pixels converted per ConvertToMonitorRGB call.
constexpr uint32_t ConversionRun = 16384;

const char* const BackgroundLayerMessage =
    "Varnix cannot work on the selected layer because it is a\r"
    "background layer without transparency information.\r\r"
    "Please duplicate the selected layer and try again.";

[[noreturn]] void RaiseReadError(int32_t Code) {
  throw EPluginException::CreateFmt("an error occurred while reading from channels (%d)", Code);
}

[[noreturn]] void RaiseWriteError(int32_t Code) {
  throw EPluginException::CreateFmt("an error occurred while writing the selection (%d)", Code);
}

// Stores Msg into a host Str255, cut to 255 characters.
void StoreErrorString(Str255* Target, const std::string& Msg) {
  const size_t Length = Msg.size() < 255 ? Msg.size() : 255;
  (*Target)[0] = static_cast<uint8_t>(Length);
  std::memcpy(*Target + 1, Msg.data(), Length);
}

}  // namespace

// ---- EPluginException --------------------------------------------------------------------------

namespace {

std::string MessageForCode(int32_t Code) {
  switch (Code) {
    case selectionBadParameters:
      return "Bad parameters";
    case selectionBadMode:
      return "Image mode not supported";
    default:
      return std::string();
  }
}

}  // namespace

EPluginException::EPluginException(int32_t AErrorCode) : Exception(MessageForCode(AErrorCode)), ErrorCode(AErrorCode) {}

EPluginException::EPluginException(const std::string& Msg) : Exception(Msg), ErrorCode(errReportString) {}

EPluginException EPluginException::CreateFmt(const char* Fmt, ...) {
  va_list Args;
  va_start(Args, Fmt);
  std::string Msg = FormatV(Fmt, Args);
  va_end(Args);
  return EPluginException(TFormatted{}, std::move(Msg));
}

// ---- Singleton and exception trace -------------------------------------------------------------

TPluginManager* PluginManager() { return PluginManagerInstance; }

void InitializeManager() {
  if (!PluginManagerInstance) PluginManagerInstance = NewObject<TPluginManager>();
}

void FinalizeManager() { FreeAndNil(PluginManagerInstance); }

void ShowExceptionTrace(Exception& E) {
  // The pointer printed in full: 16 digits on a 64-bit build, never fewer than 8.
  std::printf("EXCEPTION at address %08" PRIXPTR " with message:\n%s\n", reinterpret_cast<uintptr_t>(E.ExceptAddr()),
              E.Message().c_str());
  std::fflush(stdout);
  // Only the main thread may show a box; a thread that finds no application object is not it.
  if (Application && Application->IsMainThread()) Application->ShowException(E);
}

// ---- Dispatch ----------------------------------------------------------------------------------

TPluginManager::TPluginManager() {
  Application->OnException = [this](TObject* Sender, Exception& E) { ApplicationException(Sender, E); };
}

TPluginManager::~TPluginManager() {
  if (Application) Application->OnException = nullptr;
}

int32_t TPluginManager::Execute(TPluginType PluginType, int32_t Selector, void* ParamBlock) {
  ResultCode = 0;
  FilterParams = nullptr;
  SelectionParams = nullptr;
  try {
    if (PluginType == ptSelection) {
      if (Selector == selectionSelectorAbout) {
        ShowForm(AboutFormClass, static_cast<AboutRecord*>(ParamBlock)->platformData);
      } else if (Selector == selectionSelectorExecute) {
        ResultCode = userCanceledErr;
        SelectionParams = static_cast<PISelectionParams*>(ParamBlock);
        ShowForm(MainFormClass, SelectionParams->platformData);
      }
    } else if (Selector == filterSelectorStart) {
      ResultCode = userCanceledErr;
      FilterParams = static_cast<FilterRecord*>(ParamBlock);
      if (FilterParams->outTransparencyMask > 0)
        ShowForm(MainFormClass, FilterParams->platformData);
      else
        Application->MessageBox(BackgroundLayerMessage, Application->Title, MB_OK | MB_ICONINFORMATION);
    }
  } catch (Exception& E) {
    HandleException(E);
  }
  return ResultCode;
}

void TPluginManager::ShowForm(TFormClass FormClass, PPSPlatformData PlatformData) {
  (void)PlatformData;  // the windows are ordinary application-modal windows of the UI library
  // A class that was never registered: the host gets a message instead of a crash.
  if (!FormClass) throw EPluginException(std::string("Varnix cannot open this window: it is not part of this build"));
  Form = FormClass.Create(Application.Get());
  try {
    if ((ResultCode == 0 || ResultCode == userCanceledErr) && Form->ModalResult() == mrNone) Form->ShowModal();
  } catch (...) {
    FreeAndNil(Form);
    throw;
  }
  FreeAndNil(Form);
}

void TPluginManager::HandleException(Exception& E) {
  if (auto* P = dynamic_cast<EPluginException*>(&E)) {
    ResultCode = P->ErrorCode != 0 ? P->ErrorCode : errReportString;
    Str255* Target = SelectionParams ? SelectionParams->errorString : FilterParams ? FilterParams->errorString : nullptr;
    if (Target && !P->Message().empty()) StoreErrorString(Target, P->Message());
    if (Form) Form->Close();
  } else {
    ShowExceptionTrace(E);
  }
}

void TPluginManager::ApplicationException(TObject* Sender, Exception& E) {
  (void)Sender;
  HandleException(E);
}

// ---- Document import ---------------------------------------------------------------------------

void TPluginManager::TranslateImageMode(int16_t ImageMode, TPluginColorChannels& Channels, int16_t& ColorSpace) {
  switch (ImageMode) {
    case plugInModeGrayScale:
    case plugInModeGray16:
    case plugInModeGray32:
      Channels = {-1, -1, -1, ctBlack};
      ColorSpace = ColorSpaceGray;
      return;
    case plugInModeRGBColor:
    case plugInModeRGB48:
    case plugInModeRGB96:
      Channels = {-1, ctRed, ctGreen, ctBlue};
      ColorSpace = ColorSpaceRGB;
      return;
    case plugInModeCMYKColor:
    case plugInModeCMYK64:
      Channels = {ctCyan, ctMagenta, ctYellow, ctBlack};
      ColorSpace = ColorSpaceCMYK;
      return;
    case plugInModeLabColor:
    case plugInModeLab48:
      Channels = {-1, ctL, ctA, ctB};
      ColorSpace = ColorSpaceLab;
      return;
    default:
      if (SelectionParams) throw EPluginException(int32_t{selectionBadMode});
      throw EPluginException(int32_t{filterBadMode});
  }
}

TPluginChannelDepth TPluginManager::GetFilterChannelDepth() const {
  if (!FilterParams) return pd8Bits;
  switch (FilterParams->imageMode) {
    case plugInModeGray16:
    case plugInModeRGB48:
    case plugInModeLab48:
    case plugInModeCMYK64:
      return pd16Bits;
    case plugInModeRGB96:
    case plugInModeGray32:
      return pd32Bits;
    default:
      return pd8Bits;
  }
}

void TPluginManager::Read8BitChannelData(TColorBitmap& Bitmap, TGrayscaleBitmap& Alpha, int16_t& ColorSpace) {
  ReadImageDocumentDesc* Info = SelectionParams ? SelectionParams->documentInfo
                                : FilterParams  ? FilterParams->documentInfo
                                                : nullptr;
  ChannelPortProcs* Procs = SelectionParams ? SelectionParams->channelPortProcs
                            : FilterParams  ? FilterParams->channelPortProcs
                                            : nullptr;
  // A port table without its read callback serves no better than none.
  if (!Info || !Procs || !Procs->readPixelsProc) {
    CanSampleAllLayers = false;
    Read8BitFilterChannelData(Bitmap, Alpha, ColorSpace);
    return;
  }
  CanSampleAllLayers = true;
  TPluginColorChannels Channels;
  TranslateImageMode(static_cast<int16_t>(Info->imageMode), Channels, ColorSpace);

  const ReadChannelDesc* ColorList = SampleAllLayers ? Info->mergedCompositeChannels : Info->targetCompositeChannels;
  const ReadChannelDesc* Transparency = SampleAllLayers ? Info->mergedTransparency : Info->targetTransparency;

  const VRect Bounds = Info->bounds;
  const int32_t Width = Bounds.right - Bounds.left;
  const int32_t Height = Bounds.bottom - Bounds.top;
  Bitmap.Resize(Width, Height);
  Alpha.Resize(Width, Height);

  PixelMemoryDesc ColorMemory{nullptr, 32 * Width, 32, 0, 8};
  PixelMemoryDesc AlphaMemory{nullptr, 8 * Width, 8, 0, 8};
  const PSScaling Scaling{Bounds, Bounds};

  for (int32_t Y = 0; Y < Height; ++Y) {
    VRect Row = Bounds;
    Row.top = Bounds.top + Y;
    Row.bottom = Row.top + 1;
    VRect Wrote;
    ColorMemory.data = Bitmap.Address(0, Y);
    for (const ReadChannelDesc* Channel = ColorList; Channel; Channel = Channel->next) {
      int32_t Index = 0;
      while (Index < 4 && Channels[Index] != Channel->channelType) ++Index;
      if (Index == 4) continue;
      ColorMemory.bitOffset = 8 * Index;
      const OSErr Result = Procs->readPixelsProc(Channel->port, &Scaling, &Row, &ColorMemory, &Wrote);
      if (Result != noErr) RaiseReadError(Result);
    }
    if (Transparency) {
      AlphaMemory.data = Alpha.Address(0, Y);
      const OSErr Result = Procs->readPixelsProc(Transparency->port, &Scaling, &Row, &AlphaMemory, &Wrote);
      if (Result != noErr) RaiseReadError(Result);
    } else {
      std::memset(Alpha.Address(0, Y), 255, static_cast<size_t>(Width));
    }
  }
}

void TPluginManager::Read8BitFilterChannelData(TColorBitmap& Bitmap, TGrayscaleBitmap& Alpha, int16_t& ColorSpace) {
  if (!FilterParams || !FilterParams->advanceState) RaiseReadError(0);
  FilterRecord& F = *FilterParams;
  TPluginColorChannels Channels;
  TranslateImageMode(F.imageMode, Channels, ColorSpace);
  const TPluginChannelDepth Depth = GetFilterChannelDepth();

  Bitmap.Resize(F.imageSize.h, F.imageSize.v);
  Alpha.Resize(F.imageSize.h, F.imageSize.v);
  const int32_t Width = Bitmap.Width();
  const int32_t Height = Bitmap.Height();

  F.inRect.left = 0;
  F.inRect.right = static_cast<int16_t>(Width);
  for (int32_t Y = 0; Y < Height; ++Y) {
    F.inRect.top = static_cast<int16_t>(Y);
    F.inRect.bottom = static_cast<int16_t>(Y + 1);
    F.inLoPlane = 0;
    for (int32_t i = 0; i < 4; ++i) {
      if (Channels[i] == -1) continue;
      F.inHiPlane = F.inLoPlane;
      const OSErr Result = F.advanceState();
      if (Result != noErr) RaiseReadError(Result);
      // A host that answers success without data must not make us read through a null pointer.
      if (!F.inData) RaiseReadError(0);
      Read8BitFilterChannelLine(F.inData, Depth, Bitmap.Address(0, Y), i, 4, Width);
      F.inLoPlane = static_cast<int16_t>(F.inLoPlane + 1);
    }
    if (F.inTransparencyMask > 0) {
      F.inLoPlane = F.inHiPlane = F.inLayerPlanes;
      const OSErr Result = F.advanceState();
      if (Result != noErr) RaiseReadError(Result);
      if (!F.inData) RaiseReadError(0);
      Read8BitFilterChannelLine(F.inData, Depth, Alpha.Address(0, Y), 0, 1, Alpha.Width());
    } else {
      std::memset(Alpha.Address(0, Y), 255, static_cast<size_t>(Width));
    }
  }
  F.inRect = Rect16{0, 0, 0, 0};
}

void TPluginManager::Read8BitFilterChannelLine(const void* Source, TPluginChannelDepth Depth, void* Dest,
                                               int32_t Offset, int32_t DestStep, int32_t Count) {
  uint8_t* Out = static_cast<uint8_t*>(Dest) + Offset;
  switch (Depth) {
    case pd8Bits: {
      const uint8_t* In = static_cast<const uint8_t*>(Source);
      for (int32_t i = 0; i < Count; ++i, Out += DestStep) *Out = In[i];
      break;
    }
    case pd16Bits: {
      const uint16_t* In = static_cast<const uint16_t*>(Source);
      for (int32_t i = 0; i < Count; ++i, Out += DestStep) {
        // 0..32768 is the host's range; anything above it is full scale, not a wrapped value.
        const uint32_t V = In[i] < 32768 ? In[i] : 32768;
        *Out = static_cast<uint8_t>((V * 255) >> 15);
      }
      break;
    }
    case pd32Bits: {
      const float* In = static_cast<const float*>(Source);
      for (int32_t i = 0; i < Count; ++i, Out += DestStep) {
        // Outside 0..1 (and NaN) clamps instead of keeping the low 8 bits of the rounded value.
        // The product is exact in double precision.
        const double V = static_cast<double>(In[i]) * 255.0;
        *Out = !(V > 0.0) ? 0 : V >= 255.0 ? 255 : static_cast<uint8_t>(std::nearbyint(V));
      }
      break;
    }
  }
}

void TPluginManager::LoadBitmapFromDocument(TColorBitmap& Bitmap) {
  TColorBitmap Staging;
  TGrayscaleBitmap Alpha;
  int16_t ColorSpace = ColorSpaceRGB;
  Read8BitChannelData(Staging, Alpha, ColorSpace);
  Bitmap.Resize(Staging.Width(), Staging.Height());
  const int32_t Width = Staging.Width();
  const int32_t Height = Staging.Height();
  if (Width <= 0 || Height <= 0) return;

  SPBasicSuite* Basic = SelectionParams ? SelectionParams->sSPBasic : FilterParams ? FilterParams->sSPBasic : nullptr;
  const PSColorSpaceSuite1* Suite = nullptr;
  if (Basic && Basic->AcquireSuite) {
    const void* Acquired = nullptr;
    if (Basic->AcquireSuite(kPSColorSpaceSuite, kPSColorSpaceSuiteVersion1, &Acquired) == kSPNoError && Acquired) {
      Suite = static_cast<const PSColorSpaceSuite1*>(Acquired);
      // A suite without its conversion is released again and treated as absent.
      if (!Suite->ConvertToMonitorRGB) {
        if (Basic->ReleaseSuite) Basic->ReleaseSuite(kPSColorSpaceSuite, kPSColorSpaceSuiteVersion1);
        Suite = nullptr;
      }
    }
  }

  uint8_t* Source = reinterpret_cast<uint8_t*>(Staging.Bits());
  uint8_t* Dest = reinterpret_cast<uint8_t*>(Bitmap.Bits());
  const size_t Bytes = static_cast<size_t>(Staging.RowSize()) * Height;
  if (Suite) {
    // The whole buffer, row padding included, so every row of any width is converted.
    const uint32_t Total = static_cast<uint32_t>(Bytes / 4);
    SPErr Result = kSPNoError;
    for (uint32_t Done = 0; Done < Total && Result == kSPNoError;) {
      const uint32_t N = Total - Done < ConversionRun ? Total - Done : ConversionRun;
      Result = Suite->ConvertToMonitorRGB(ColorSpace, Source + 4 * size_t(Done), Dest + 4 * size_t(Done), N);
      Done += N;
    }
    if (Basic->ReleaseSuite) Basic->ReleaseSuite(kPSColorSpaceSuite, kPSColorSpaceSuiteVersion1);
    if (Result != kSPNoError)
      throw EPluginException::CreateFmt("an error occurred while converting to the monitor RGB color space (%d)",
                                        static_cast<int>(Result));
  } else if (ColorSpace != ColorSpaceRGB) {
    throw EPluginException(int32_t{selectionBadMode});
  } else {
    std::memcpy(Dest, Source, Bytes);
  }

  for (int32_t Y = 0; Y < Height; ++Y) {
    uint8_t* P = reinterpret_cast<uint8_t*>(Bitmap.Address(0, Y));
    const uint8_t* A = Alpha.Address(0, Y);
    for (int32_t X = 0; X < Width; ++X, P += 4) {
      // Converted layout (unused, R, G, B) becomes the premultiplied (R, G, B, A).
      const uint32_t a = A[X];
      const uint8_t R = P[1], G = P[2], B = P[3];
      P[0] = static_cast<uint8_t>(R * a / 255);
      P[1] = static_cast<uint8_t>(G * a / 255);
      P[2] = static_cast<uint8_t>(B * a / 255);
      P[3] = static_cast<uint8_t>(a);
    }
  }
}

// ---- Selection export --------------------------------------------------------------------------

void TPluginManager::SaveSelection(TColorBitmap& Bitmap, TGrayscaleBitmap& Mask) {
  if (Mask.Width() <= 0 || Mask.Height() <= 0) return;
  if (SelectionParams) {
    PISelectionParams& S = *SelectionParams;
    // The write needs the port table, the bounds and the new selection's port.
    if (!S.channelPortProcs || !S.channelPortProcs->writeBasePixelsProc || !S.documentInfo || !S.newSelection)
      RaiseWriteError(0);
    const PixelMemoryDesc Memory{Mask.Address(0, 0), 8 * Mask.RowSize(), 8, 0, 8};
    const VRect Bounds = S.documentInfo->bounds;
    const OSErr Result = S.channelPortProcs->writeBasePixelsProc(S.newSelection->port, &Bounds, &Memory);
    if (Result != noErr) RaiseWriteError(Result);
  } else {
    if (!FilterParams || !FilterParams->advanceState) RaiseWriteError(0);
    FilterRecord& F = *FilterParams;
    F.outLoPlane = F.outLayerPlanes;
    F.outHiPlane = F.outLoPlane;
    F.outRect.left = 0;
    F.outRect.right = static_cast<int16_t>(Mask.Width());
    const TPluginChannelDepth Depth = GetFilterChannelDepth();
    for (int32_t Y = 0; Y < Mask.Height(); ++Y) {
      F.outRect.top = static_cast<int16_t>(Y);
      F.outRect.bottom = static_cast<int16_t>(Y + 1);
      const OSErr Result = F.advanceState();
      if (Result != noErr) RaiseWriteError(Result);
      if (!F.outData) RaiseWriteError(0);
      Write8BitFilterAlphaLine(Bitmap.Address(0, Y), Mask.Address(0, Y), F.outData, Depth, Mask.Width());
    }
    F.outRect = Rect16{0, 0, 0, 0};
  }
  ResultCode = noErr;
}

void TPluginManager::Write8BitFilterAlphaLine(const TColorPixel* Color, const TGrayscalePixel* MaskLine, void* Dest,
                                              TPluginChannelDepth Depth, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    const uint32_t V = static_cast<uint32_t>(Color[i].A) * MaskLine[i] / 255;
    switch (Depth) {
      case pd8Bits:
        static_cast<uint8_t*>(Dest)[i] = static_cast<uint8_t>(V);
        break;
      case pd16Bits:
        static_cast<uint16_t*>(Dest)[i] = static_cast<uint16_t>((V << 15) / 255);
        break;
      case pd32Bits:
        static_cast<float*>(Dest)[i] = static_cast<float>(V) / 255.0f;
        break;
    }
  }
}

}  // namespace varnix
