// The host bridge: the one object that serves every host call, reads the document from the host
// and writes the selection back.
//
// The bundle's two entry points (PluginMain.cpp) hand each call to PluginManager()->Execute, which
// decides from the plug-in type and the selector what to do: show the about box, or create the
// editor window (registered with RegisterMainForm), which reads the document with
// LoadBitmapFromDocument while it is created and, on OK, writes the result with SaveSelection.
// Every failure becomes a host result code: an EPluginException carries its code (and a message
// for the host's error string); any other exception is reported with ShowExceptionTrace.
//
// The manager knows forms only as class references of the UI library. It runs on the host's main
// thread; only ShowExceptionTrace may be called from other threads.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/Objects.h"
#include "core/CoreBitmaps.h"
#include "platform/hostapi/HostApi.h"
#include "platform/vcl/Forms.h"

namespace varnix {

enum TPluginType { ptSelection, ptFilter };

// Sample format of the filter record's planes.
enum TPluginChannelDepth { pd8Bits, pd16Bits, pd32Bits };
// Bytes per host sample for each depth.
inline constexpr int32_t PixelSizeForChannelDepth[3] = {1, 2, 4};

// The host channel type that fills each byte of a 4-byte staging pixel; -1 for none.
using TPluginColorChannels = std::array<int32_t, 4>;

// A failure reported to the host as a result code.
class EPluginException : public Exception {
 public:
  // The message follows from the code: -30700 "Bad parameters", -30701 "Image mode not
  // supported", any other code none.
  explicit EPluginException(int32_t AErrorCode);
  // A message for the host's error string; the code is errReportString (-30904).
  explicit EPluginException(const std::string& Msg);
  // A formatted message with ErrorCode 0, which the manager reports as errReportString.
  static EPluginException CreateFmt(const char* Fmt, ...) __attribute__((format(printf, 1, 2)));
  const char* ClassName() const override { return "EPluginException"; }

  int32_t ErrorCode;

 private:
  struct TFormatted {};
  EPluginException(TFormatted, std::string Msg) : Exception(std::move(Msg)), ErrorCode(0) {}
};

class TPluginManager : public TObject {
 public:
  // Installs ApplicationException as the UI library's application exception event.
  TPluginManager();
  // Removes the application exception event again.
  ~TPluginManager() override;

  void RegisterAboutForm(TFormClass FormClass) { AboutFormClass = FormClass; }
  void RegisterMainForm(TFormClass FormClass) { MainFormClass = FormClass; }

  // Serves one host call and returns the host result code. Exceptions of the library's base class
  // are consumed by HandleException; others propagate to the entry point.
  int32_t Execute(TPluginType PluginType, int32_t Selector, void* ParamBlock);
  // Creates a form of FormClass owned by the application, shows it modally unless it closed
  // itself while being created, and frees it. A class that was never registered raises an
  // EPluginException with a message for the host.
  void ShowForm(TFormClass FormClass, PPSPlatformData PlatformData);
  // Turns E into ResultCode and the host's error string (EPluginException), or reports it with
  // ShowExceptionTrace (anything else, ResultCode unchanged).
  void HandleException(Exception& E);
  void ApplicationException(TObject* Sender, Exception& E);

  // ---- Document import ----
  // Fills Bitmap with the document (target layer, or the merged composite when SampleAllLayers),
  // converted to monitor RGB and premultiplied by the transparency. Raises EPluginException.
  void LoadBitmapFromDocument(TColorBitmap& Bitmap);
  // Reads the colour channels in staging layout and the transparency through the channel ports;
  // falls back to Read8BitFilterChannelData when the record has none.
  void Read8BitChannelData(TColorBitmap& Bitmap, TGrayscaleBitmap& Alpha, int16_t& ColorSpace);
  // The same through the filter record's advanceState.
  void Read8BitFilterChannelData(TColorBitmap& Bitmap, TGrayscaleBitmap& Alpha, int16_t& ColorSpace);
  // Converts Count samples of one host plane to bytes written DestStep apart from Dest + Offset.
  // 16-bit samples above the host's full scale (32768) and 32-bit samples outside 0..1 clamp to
  // 0..255 (NaN gives 0).
  static void Read8BitFilterChannelLine(const void* Source, TPluginChannelDepth Depth, void* Dest, int32_t Offset,
                                        int32_t DestStep, int32_t Count);
  // The staging layout and the colour-space-suite colour space of an image mode. Raises
  // EPluginException for modes the plug-in does not handle: -30701 for a Selection call,
  // -30101 otherwise.
  void TranslateImageMode(int16_t ImageMode, TPluginColorChannels& Channels, int16_t& ColorSpace);
  // The sample depth of FilterParams' image mode (pd8Bits without a filter record).
  TPluginChannelDepth GetFilterChannelDepth() const;

  // ---- Selection export ----
  // Writes Mask to the host (the new selection, or the target layer's transparency multiplied by
  // Mask) and sets ResultCode to 0. An empty mask writes nothing. REQUIRES: Bitmap is at least
  // as large as Mask. Raises EPluginException on a host failure.
  void SaveSelection(TColorBitmap& Bitmap, TGrayscaleBitmap& Mask);
  // One row of the layer's new transparency: (Color.A × mask) div 255 in the host's format.
  static void Write8BitFilterAlphaLine(const TColorPixel* Color, const TGrayscalePixel* MaskLine, void* Dest,
                                       TPluginChannelDepth Depth, int32_t Count);

  TFormClass AboutFormClass;
  bool CanSampleAllLayers = false;
  FilterRecord* FilterParams = nullptr;
  TCustomForm* Form = nullptr;
  TFormClass MainFormClass;
  int32_t ResultCode = 0;
  bool SampleAllLayers = false;
  PISelectionParams* SelectionParams = nullptr;
};

// The manager of the bundle; null before InitializeManager and after FinalizeManager.
TPluginManager* PluginManager();

// Writes "EXCEPTION at address <address> with message:" and the message to standard output (the
// address in upper-case hexadecimal, at least 8 digits) and, on the main thread, shows the
// application's exception box. Any thread.
void ShowExceptionTrace(Exception& E);

// Module start-up and shutdown: create and free the manager.
void InitializeManager();
void FinalizeManager();

}  // namespace varnix
