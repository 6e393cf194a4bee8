// An in-process host for the bridge's tests: one document (a target layer and a merged composite)
// at the depth of its image mode, the records of the three selectors, channel ports, an
// advance-state implementation, a suite broker with a recording colour-space suite, and knobs to
// leave interfaces out or make callbacks fail.
//
// Samples are the host's raw values: bytes for 8 bits, 0..32768 words for 16 bits, floats for
// 32 bits. Reads through the channel ports deliver 8 bits with the bridge's own rule
// (min(v, 32768) × 255 >> 15, round(clamp(f) × 255)), so both read paths give the same bytes.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/hostapi/HostApi.h"

namespace varnix::test {

struct TFakeLayer {
  std::vector<std::vector<uint8_t>> Color;  // one raw plane per colour channel
  std::vector<uint8_t> Alpha;               // empty: no transparency
  std::vector<int16_t> ChannelTypes;        // per colour plane
};

class TFakeHost {
 public:
  TFakeHost(int16_t ImageMode, int32_t Width, int32_t Height);
  ~TFakeHost();
  TFakeHost(const TFakeHost&) = delete;
  TFakeHost& operator=(const TFakeHost&) = delete;

  // Bits per sample of the image mode (8, 16 or 32).
  static int32_t DepthOfMode(int16_t ImageMode);
  // Colour planes and their channel types for a mode (indexed and others: one unspecified plane).
  static std::vector<int16_t> ChannelTypesOfMode(int16_t ImageMode);

  // Raw sample access; Plane -1 is the transparency.
  void SetRaw(TFakeLayer& Layer, int32_t Plane, int32_t X, int32_t Y, double Value);
  double GetRaw(const TFakeLayer& Layer, int32_t Plane, int32_t X, int32_t Y) const;
  // Stores the raw value that reads back as the 8-bit value V on this document's depth.
  void Set8(TFakeLayer& Layer, int32_t Plane, int32_t X, int32_t Y, uint8_t V);
  // Removes the transparency of a layer (a background layer).
  static void DropTransparency(TFakeLayer& Layer) { Layer.Alpha.clear(); }

  // The records; each call fills them afresh from the options below.
  PISelectionParams* Selection();
  FilterRecord* Filter();
  AboutRecord* About();
  // What the host does after the filter's start call returned: stores the last output rows.
  void FinishFilter();

  std::string ErrorString() const;
  void SeedErrorString(const std::string& Text);

  // Options.
  bool OfferChannelPorts = true;
  bool OfferAdvanceState = true;
  bool OfferErrorString = true;
  enum TSuiteMode { suNoBasicSuite, suUnavailable, suRecording, suFailing };
  TSuiteMode Suite = suRecording;
  SPErr SuiteFailure = -7;
  // A callback answers Failure for this row (-1: never).
  int32_t FailReadRow = -1;   // readPixelsProc and in requests of advanceState
  int32_t FailWriteRow = -1;  // out requests of advanceState
  OSErr Failure = -108;
  OSErr WriteBaseResult = noErr;

  int16_t ImageMode;
  int32_t Width;
  int32_t Height;
  int32_t Depth;
  TFakeLayer Target;
  TFakeLayer Merged;
  // An extra channel of a type no mode uses, appended to both composite lists (to be skipped).
  bool AddSpotChannel = true;

  // Observations.
  int32_t ReadPixelsCalls = 0;
  int32_t AdvanceStateCalls = 0;
  int32_t WriteBaseCalls = 0;
  PixelMemoryDesc LastWriteMemory = {};
  VRect LastWriteRect = {};
  std::vector<uint8_t> NewSelection;  // Width × Height once written
  std::vector<int16_t> ConvertSpaces;  // colour space of every ConvertToMonitorRGB call
  std::vector<uint32_t> ConvertCounts;
  std::vector<uint8_t> StagingSeen;    // every input pixel the suite converted, in call order
  int32_t Acquired = 0;
  int32_t Released = 0;
  std::set<int32_t> OutRowsStored;  // rows whose output reached the target layer

 private:
  struct TPort {
    const std::vector<uint8_t>* Plane;
  };
  ReadChannelDesc* Describe(TFakeLayer& Layer, bool Transparency);
  void StoreOutput();

  static OSErr ReadPixels(ChannelReadPort Port, const PSScaling* Scaling, const VRect* WriteRect,
                          const PixelMemoryDesc* Destination, VRect* WroteRect);
  static OSErr WriteBasePixels(ChannelWritePort Port, const VRect* WriteRect, const PixelMemoryDesc* Source);
  static OSErr AdvanceState();
  static SPErr AcquireSuite(const char* Name, int32_t Version, const void** Suite);
  static SPErr ReleaseSuite(const char* Name, int32_t Version);
  static SPErr ConvertToMonitorRGB(int16_t ColorSpace, void* Input, void* Output, uint32_t Count);

  uint8_t Raw8(const std::vector<uint8_t>& Plane, size_t Index) const;

  static TFakeHost* Current;

  Str255 FErrorString = {};
  PISelectionParams FSelection = {};
  FilterRecord FFilter = {};
  AboutRecord FAbout = {};
  SPBasicSuite FBasic = {};
  PSColorSpaceSuite1 FColorSuite = {};
  ChannelPortProcs FProcs = {};
  ReadImageDocumentDesc FInfo = {};
  WriteChannelDesc FNewSelection = {};
  std::vector<ReadChannelDesc> FChannels;
  std::vector<TPort> FPorts;
  std::vector<uint8_t> FSpotPlane;
  int32_t FSelectionPort = 0;
  std::vector<uint8_t> FIn, FOut;
  bool FOutPending = false;
  Rect16 FOutRect = {};
  int16_t FOutLo = 0, FOutHi = 0;
};

}  // namespace varnix::test
