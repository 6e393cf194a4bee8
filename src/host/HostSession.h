// One plug-in call as the host serves it: the parameter blocks filled from a document, and the
// callbacks the plug-in calls back through them.
//
// Callbacks the host offers:
//   readPixelsProc       8-bit samples of any channel of the target layer or the merged composite,
//                        whatever the document's depth, into the caller's memory as the memory
//                        descriptor lays it out (rowBits, colBits and bitOffset in whole bytes;
//                        depth 8). Scaled reads map destination pixels to the nearest source
//                        pixel at or before them.
//   writeBasePixelsProc  8-bit samples into the document's new selection.
//   advanceState         serves inRect/inLoPlane..inHiPlane of the target layer into inData and,
//                        for outRect/outLoPlane..outHiPlane, a buffer outData holding the current
//                        samples; what the plug-in leaves in outData is stored into the layer on
//                        the next advanceState call or, for the last request, by Finish. Both at
//                        the document's depth. An empty rectangle requests nothing.
//   the suite broker     hands out the colour-space suite (unless switched off).
// A callback answers paramErr, never touches memory it was not pointed at, and never throws.
//
// Only one session exists at a time: the callbacks have no context argument and find the session
// through a process-wide pointer. Main thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "host/HostDocument.h"
#include "platform/hostapi/HostApi.h"

namespace varnix {

struct THostOptions {
  // The records carry documentInfo and channelPortProcs.
  bool ChannelPorts = true;
  // The suite broker hands out the colour-space suite.
  bool ColorSuite = true;
};

class THostSession {
 public:
  // Raises EHostDocumentError when another session exists.
  THostSession(THostDocument& Document, const THostOptions& Options);
  ~THostSession();
  THostSession(const THostSession&) = delete;
  THostSession& operator=(const THostSession&) = delete;

  AboutRecord* About() { return &FAbout; }
  PISelectionParams* Selection() { return &FSelection; }
  // Raises EHostDocumentError for documents beyond the record's 16-bit sizes (32767 pixels).
  FilterRecord* Filter();

  // Called once the entry point has returned: stores the last advance-state output.
  void Finish();

  // The text the plug-in left in the records' error string (8-bit, as stored).
  std::string ErrorString() const;
  // The plug-in wrote the selection through writeBasePixelsProc.
  bool SelectionWritten() const { return FSelectionWritten; }
  // The plug-in changed colour planes of the target layer through advanceState.
  bool ColorWritten() const { return FColorWritten; }
  // Acquisitions of the colour-space suite not yet released.
  int32_t SuitesHeld() const { return FSuitesHeld; }

 private:
  struct TReadPortRec {
    const THostPlane* Plane;
  };
  // One advance-state request: planes Lo..Hi of Rect.
  struct TRequest {
    int32_t Top = 0, Left = 0, Bottom = 0, Right = 0, Lo = 0, Hi = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Planes() const { return Hi - Lo + 1; }
  };

  ReadChannelDesc* AddChannels(const THostLayer& Layer, bool Transparency);
  const THostPlane* FindReadPlane(ChannelReadPort Port) const;
  OSErr CheckRequest(const Rect16& Rect, int16_t Lo, int16_t Hi, TRequest& Request, bool& Empty) const;
  void FillBuffer(const TRequest& Request, std::vector<uint8_t>& Buffer) const;
  void StorePendingOutput();

  OSErr DoReadPixels(ChannelReadPort Port, const PSScaling* Scaling, const VRect* WriteRect,
                     const PixelMemoryDesc* Destination, VRect* WroteRect);
  OSErr DoWriteBasePixels(ChannelWritePort Port, const VRect* WriteRect, const PixelMemoryDesc* Source);
  OSErr DoAdvanceState();
  SPErr DoAcquireSuite(const char* Name, int32_t Version, const void** Suite);
  SPErr DoReleaseSuite(const char* Name, int32_t Version);

  static OSErr ReadPixels(ChannelReadPort Port, const PSScaling* Scaling, const VRect* WriteRect,
                          const PixelMemoryDesc* Destination, VRect* WroteRect);
  static OSErr WriteBasePixels(ChannelWritePort Port, const VRect* WriteRect, const PixelMemoryDesc* Source);
  static OSErr AdvanceState();
  static SPErr AcquireSuite(const char* Name, int32_t Version, const void** Suite);
  static SPErr ReleaseSuite(const char* Name, int32_t Version);
  static SPErr ConvertToMonitorRGB(int16_t ColorSpace, void* Input, void* Output, uint32_t Count);

  static THostSession* FCurrent;

  THostDocument& FDocument;
  THostOptions FOptions;
  Str255 FErrorString = {};

  AboutRecord FAbout = {};
  PISelectionParams FSelection = {};
  FilterRecord FFilter = {};
  SPBasicSuite FBasicSuite = {};
  PSColorSpaceSuite1 FColorSpaceSuite = {};
  ChannelPortProcs FPortProcs = {};
  ReadImageDocumentDesc FDocumentInfo = {};
  WriteChannelDesc FNewSelection = {};
  std::deque<ReadChannelDesc> FChannels;
  std::deque<TReadPortRec> FReadPorts;
  int32_t FSelectionPort = 0;  // its address is the write port of the selection

  std::unique_ptr<TMonitorConverter> FMonitor;
  int32_t FSuitesHeld = 0;

  std::vector<uint8_t> FInBuffer;
  std::vector<uint8_t> FOutBuffer;
  TRequest FOutRequest;
  bool FOutPending = false;

  bool FSelectionWritten = false;
  bool FColorWritten = false;
};

}  // namespace varnix
