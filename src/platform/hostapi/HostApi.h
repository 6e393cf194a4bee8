// The host's plug-in interface as this system uses it: the parameter blocks the host hands to the
// two entry points, their selectors and result codes, the image modes, channel types and colour
// spaces, the channel-port callbacks with their document, channel and pixel-memory descriptors, the
// filter record's row-by-row advance-state interface, and suite acquisition with the colour-space
// suite.
//
// Both sides include this header: the plug-in (src/plugin) reads the records, the standalone host
// (src/host) fills them. Only the fields either side relies on are declared; the layout is our own.
// Coordinates are in document pixels, rectangles are top and left inclusive, bottom and right
// exclusive. Every callback is called on the host's main thread while an entry point runs.
#pragma once

#include <cstdint>

namespace varnix {

// Host result codes are 16-bit; suite functions answer 32-bit codes.
using OSErr = int16_t;
using SPErr = int32_t;

// --- Result codes -------------------------------------------------------------------------------

inline constexpr OSErr noErr = 0;
inline constexpr OSErr paramErr = -50;          // a callback was given arguments it cannot serve
inline constexpr OSErr memFullErr = -108;       // the host ran out of memory
inline constexpr OSErr userCanceledErr = -128;  // the user cancelled; the host shows no error

inline constexpr OSErr filterBadMode = -30101;  // the host reports the unsupported mode itself
inline constexpr OSErr selectionBadParameters = -30700;  // "Bad parameters"
inline constexpr OSErr selectionBadMode = -30701;        // "Image mode not supported"
// The plug-in has put its own message into the record's errorString.
inline constexpr OSErr errReportString = -30904;

inline constexpr SPErr kSPNoError = 0;
// AcquireSuite: the host has no suite of that name and version.
inline constexpr SPErr kSPSuiteNotFoundError = -1;

// --- Selectors ----------------------------------------------------------------------------------

// Selection entry.
inline constexpr int16_t selectionSelectorAbout = 0;    // parameter block: AboutRecord
inline constexpr int16_t selectionSelectorExecute = 1;  // parameter block: PISelectionParams

// Filter entry (parameter block: AboutRecord for the about selector, FilterRecord otherwise).
inline constexpr int16_t filterSelectorAbout = 0;
inline constexpr int16_t filterSelectorParameters = 1;
inline constexpr int16_t filterSelectorPrepare = 2;
inline constexpr int16_t filterSelectorStart = 3;
inline constexpr int16_t filterSelectorContinue = 4;
inline constexpr int16_t filterSelectorFinish = 5;

// --- Image modes (imageMode) --------------------------------------------------------------------

inline constexpr int16_t plugInModeBitmap = 0;
inline constexpr int16_t plugInModeGrayScale = 1;
inline constexpr int16_t plugInModeIndexedColor = 2;
inline constexpr int16_t plugInModeRGBColor = 3;
inline constexpr int16_t plugInModeCMYKColor = 4;
inline constexpr int16_t plugInModeHSLColor = 5;
inline constexpr int16_t plugInModeHSBColor = 6;
inline constexpr int16_t plugInModeMultichannel = 7;
inline constexpr int16_t plugInModeDuotone = 8;
inline constexpr int16_t plugInModeLabColor = 9;
inline constexpr int16_t plugInModeGray16 = 10;
inline constexpr int16_t plugInModeRGB48 = 11;
inline constexpr int16_t plugInModeLab48 = 12;
inline constexpr int16_t plugInModeCMYK64 = 13;
inline constexpr int16_t plugInModeDeepMultichannel = 14;
inline constexpr int16_t plugInModeDuotone16 = 15;
inline constexpr int16_t plugInModeRGB96 = 16;
inline constexpr int16_t plugInModeGray32 = 17;

// --- Channel types (ReadChannelDesc::channelType) -----------------------------------------------

inline constexpr int16_t ctUnspecified = 0;  // transparency, selection and other channels
inline constexpr int16_t ctRed = 1;
inline constexpr int16_t ctGreen = 2;
inline constexpr int16_t ctBlue = 3;
inline constexpr int16_t ctCyan = 4;
inline constexpr int16_t ctMagenta = 5;
inline constexpr int16_t ctYellow = 6;
inline constexpr int16_t ctBlack = 7;  // also the single channel of a grayscale document
inline constexpr int16_t ctL = 8;
inline constexpr int16_t ctA = 9;
inline constexpr int16_t ctB = 10;

// --- Colour spaces of the colour-space suite ----------------------------------------------------

inline constexpr int16_t plugIncolorServicesRGBSpace = 0;
inline constexpr int16_t plugIncolorServicesCMYKSpace = 2;
inline constexpr int16_t plugIncolorServicesLabSpace = 3;
inline constexpr int16_t plugIncolorServicesGraySpace = 4;

// --- Small records ------------------------------------------------------------------------------

// A Pascal string: Str255[0] is the length (0..255), the characters follow.
using Str255 = uint8_t[256];

// A 32-bit rectangle.
struct VRect {
  int32_t top;
  int32_t left;
  int32_t bottom;
  int32_t right;
};

// The filter record's 16-bit rectangle.
struct Rect16 {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

// The filter record's 16-bit size: v rows, h columns.
struct Point16 {
  int16_t v;
  int16_t h;
};

// Untyped window-system data of the host; the plug-in passes it on and does not use it.
struct PlatformData;
using PPSPlatformData = PlatformData*;

// --- Channel ports ------------------------------------------------------------------------------

// Opaque handles the host gives out for its channels.
struct ChannelReadPortRec;
struct ChannelWritePortRec;
using ChannelReadPort = ChannelReadPortRec*;
using ChannelWritePort = ChannelWritePortRec*;

// Where pixels go to or come from in the plug-in's memory: sample (x, y) of the rectangle starts
// at bit  y × rowBits + x × colBits + bitOffset  from data, and is depth bits wide.
struct PixelMemoryDesc {
  void* data;
  int32_t rowBits;
  int32_t colBits;
  int32_t bitOffset;
  int32_t depth;
};

// A read maps sourceRect of the channel onto destinationRect of the memory; equal sizes read
// unscaled.
struct PSScaling {
  VRect sourceRect;
  VRect destinationRect;
};

// Reads writeRect (in destination coordinates) of the channel behind port into destination as
// 8-bit samples; the host reports the rectangle it actually wrote in wroteRect.
using ReadPixelsProc = OSErr (*)(ChannelReadPort port, const PSScaling* scaling, const VRect* writeRect,
                                 const PixelMemoryDesc* destination, VRect* wroteRect);
// Writes writeRect of the channel behind port from source.
using WriteBasePixelsProc = OSErr (*)(ChannelWritePort port, const VRect* writeRect,
                                      const PixelMemoryDesc* source);

struct ChannelPortProcs {
  ReadPixelsProc readPixelsProc;
  WriteBasePixelsProc writeBasePixelsProc;
};

// One readable channel; channel lists are linked through next and end with nullptr.
struct ReadChannelDesc {
  ReadChannelDesc* next;
  ChannelReadPort port;
  VRect bounds;
  int32_t depth;  // the channel's own sample depth in bits
  int16_t channelType;
  const char* name;
};

// One writable channel.
struct WriteChannelDesc {
  ChannelWritePort port;
  VRect bounds;
  int32_t depth;
};

// The document as the channel-port interface describes it. imageMode holds one of the
// plugInMode values (the plug-in reads it as 16-bit). Channel lists may be nullptr; the
// transparency lists hold at most one channel.
struct ReadImageDocumentDesc {
  int32_t imageMode;
  VRect bounds;
  int32_t depth;  // bits per sample of the document: 8, 16 or 32
  ReadChannelDesc* targetCompositeChannels;
  ReadChannelDesc* targetTransparency;
  ReadChannelDesc* mergedCompositeChannels;
  ReadChannelDesc* mergedTransparency;
};

// --- Suites -------------------------------------------------------------------------------------

// The host's suite broker. AcquireSuite stores the suite's function table into *suite and answers
// kSPNoError, or answers kSPSuiteNotFoundError; every acquired suite is released once.
struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32_t version);
};

inline constexpr const char* kPSColorSpaceSuite = "Photoshop ColorSpace Suite for Plug-ins";
inline constexpr int32_t kPSColorSpaceSuiteVersion1 = 1;

// The colour-space suite. ConvertToMonitorRGB converts count 4-byte pixels from inputCSpace to
// 8-bit monitor RGB. Input layouts by colour space: RGB (unused, R, G, B); gray (unused, unused,
// unused, gray); CMYK (C, M, Y, K); Lab (unused, L, a, b) with L 0..255 for 0..100 and a, b offset
// by 128. Output layout: (unused, R, G, B). Input and output may be the same memory.
struct PSColorSpaceSuite1 {
  SPErr (*ConvertToMonitorRGB)(int16_t inputCSpace, void* inputData, void* outputData, uint32_t count);
};

// --- Parameter blocks ---------------------------------------------------------------------------

// The about selector of either entry.
struct AboutRecord {
  PPSPlatformData platformData;  // first field
  SPBasicSuite* sSPBasic;
};

// The Selection entry's execute selector.
struct PISelectionParams {
  PPSPlatformData platformData;
  Str255* errorString;  // where the plug-in may put its message; may be nullptr
  SPBasicSuite* sSPBasic;
  ChannelPortProcs* channelPortProcs;
  ReadImageDocumentDesc* documentInfo;
  WriteChannelDesc* newSelection;  // the port of the document's new selection
};

// Called by the plug-in after setting the rectangles and planes it wants next; the host then
// stores what the plug-in put into outData for the previous out request, and answers inData and
// outData for the new requests. The host commits the last out request when the entry returns 0.
using AdvanceStateProc = OSErr (*)();

// The Filter entry's selectors except about. The in/out buffers hold the planes lo..hi of the
// rectangle interleaved, at the document's sample depth: bytes for 8 bits, 0..32768 as unsigned
// 16-bit words for 16 bits, floats 0..1 for 32 bits; inRowBytes/outRowBytes apart.
struct FilterRecord {
  PPSPlatformData platformData;
  Str255* errorString;
  SPBasicSuite* sSPBasic;
  ChannelPortProcs* channelPortProcs;  // nullptr when the host offers no channel ports
  ReadImageDocumentDesc* documentInfo;  // nullptr when the host offers no channel ports

  int16_t imageMode;
  Point16 imageSize;
  int16_t depth;  // bits per sample: 8, 16 or 32

  AdvanceStateProc advanceState;

  Rect16 inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  void* inData;
  int32_t inRowBytes;
  int16_t inLayerPlanes;       // colour planes of the target layer
  int16_t inTransparencyMask;  // transparency planes of the target layer (0 or 1), after the colour

  Rect16 outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;
  void* outData;
  int32_t outRowBytes;
  int16_t outLayerPlanes;
  int16_t outTransparencyMask;
};

// The two entry points the plug-in exports, as the host looks them up.
inline constexpr const char* kPluginMainSelect = "PluginMain_Select";
inline constexpr const char* kPluginMainFilter = "PluginMain_Filter";
using PluginEntryProc = void (*)(int16_t selector, void* paramBlock, intptr_t* data, int16_t* result);

}  // namespace varnix
