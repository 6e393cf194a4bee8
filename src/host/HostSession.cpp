#include "host/HostSession.h"

#include <cstring>

#include "common/LogFile.h"

namespace varnix {

THostSession* THostSession::FCurrent = nullptr;

namespace {

// The channel types of a mode's colour planes, in plane order.
std::vector<int16_t> ChannelTypes(THostMode Mode) {
  switch (Mode) {
    case hmGray:
      return {ctBlack};
    case hmRGB:
      return {ctRed, ctGreen, ctBlue};
    case hmCMYK:
      return {ctCyan, ctMagenta, ctYellow, ctBlack};
    case hmLab:
      return {ctL, ctA, ctB};
    case hmIndexed:
      return {ctUnspecified};
  }
  return {};
}

const char* ChannelName(int16_t Type) {
  static const char* const Names[] = {"", "Red", "Green", "Blue", "Cyan", "Magenta", "Yellow", "Black", "L", "a", "b"};
  return Type >= 0 && Type <= ctB ? Names[Type] : "";
}

// Byte offsets of a memory descriptor; false when it is not laid out in whole bytes as 8-bit
// samples.
bool ByteLayout(const PixelMemoryDesc& M, int64_t& RowBytes, int64_t& ColBytes, int64_t& Offset) {
  if (!M.data || M.depth != 8 || M.colBits < 8 || M.colBits % 8 != 0 || M.rowBits % 8 != 0 || M.bitOffset < 0 ||
      M.bitOffset % 8 != 0)
    return false;
  RowBytes = M.rowBits / 8;
  ColBytes = M.colBits / 8;
  Offset = M.bitOffset / 8;
  return true;
}

bool RectEmpty(const VRect& R) { return R.right <= R.left || R.bottom <= R.top; }

bool RectInside(const VRect& Inner, const VRect& Outer) {
  return Inner.left >= Outer.left && Inner.top >= Outer.top && Inner.right <= Outer.right && Inner.bottom <= Outer.bottom;
}

}  // namespace

THostSession::THostSession(THostDocument& Document, const THostOptions& Options)
    : FDocument(Document), FOptions(Options) {
  if (FCurrent) throw EHostDocumentError("a plug-in call is already being served");

  FBasicSuite.AcquireSuite = &THostSession::AcquireSuite;
  FBasicSuite.ReleaseSuite = &THostSession::ReleaseSuite;
  FColorSpaceSuite.ConvertToMonitorRGB = &THostSession::ConvertToMonitorRGB;
  FPortProcs.readPixelsProc = &THostSession::ReadPixels;
  FPortProcs.writeBasePixelsProc = &THostSession::WriteBasePixels;
  FMonitor = std::make_unique<TMonitorConverter>(Document.Mode(), Document.Icc());

  const VRect Bounds{0, 0, Document.Height(), Document.Width()};
  FDocumentInfo.imageMode = Document.ImageMode();
  FDocumentInfo.bounds = Bounds;
  FDocumentInfo.depth = Document.Depth();
  FDocumentInfo.targetCompositeChannels = AddChannels(Document.Target(), false);
  FDocumentInfo.targetTransparency = AddChannels(Document.Target(), true);
  FDocumentInfo.mergedCompositeChannels = AddChannels(Document.Composite(), false);
  FDocumentInfo.mergedTransparency = AddChannels(Document.Composite(), true);
  FNewSelection.port = reinterpret_cast<ChannelWritePort>(&FSelectionPort);
  FNewSelection.bounds = Bounds;
  FNewSelection.depth = 8;
  if (Document.Selection.size() != static_cast<size_t>(Document.Width()) * Document.Height())
    Document.Selection.assign(static_cast<size_t>(Document.Width()) * Document.Height(), 0);

  ChannelPortProcs* Procs = Options.ChannelPorts ? &FPortProcs : nullptr;
  ReadImageDocumentDesc* Info = Options.ChannelPorts ? &FDocumentInfo : nullptr;

  FAbout.sSPBasic = &FBasicSuite;

  FSelection.errorString = &FErrorString;
  FSelection.sSPBasic = &FBasicSuite;
  FSelection.channelPortProcs = Procs;
  FSelection.documentInfo = Info;
  FSelection.newSelection = &FNewSelection;

  FFilter.errorString = &FErrorString;
  FFilter.sSPBasic = &FBasicSuite;
  FFilter.channelPortProcs = Procs;
  FFilter.documentInfo = Info;
  FFilter.imageMode = Document.ImageMode();
  FFilter.depth = static_cast<int16_t>(Document.Depth());
  FFilter.advanceState = &THostSession::AdvanceState;
  const THostLayer& Target = Document.Target();
  FFilter.inLayerPlanes = FFilter.outLayerPlanes = static_cast<int16_t>(Target.Color.size());
  FFilter.inTransparencyMask = FFilter.outTransparencyMask = Target.HasTransparency() ? 1 : 0;

  FCurrent = this;
}

THostSession::~THostSession() {
  if (FCurrent == this) FCurrent = nullptr;
}

FilterRecord* THostSession::Filter() {
  if (FDocument.Width() > 32767 || FDocument.Height() > 32767)
    throw EHostDocumentError(Format("the document is %d x %d; the filter interface takes at most 32767 x 32767",
                                    FDocument.Width(), FDocument.Height()));
  FFilter.imageSize.v = static_cast<int16_t>(FDocument.Height());
  FFilter.imageSize.h = static_cast<int16_t>(FDocument.Width());
  return &FFilter;
}

ReadChannelDesc* THostSession::AddChannels(const THostLayer& Layer, bool Transparency) {
  const VRect Bounds{0, 0, FDocument.Height(), FDocument.Width()};
  auto Add = [&](const THostPlane& Plane, int16_t Type, const char* Name) {
    FReadPorts.push_back(TReadPortRec{&Plane});
    ReadChannelDesc& D = FChannels.emplace_back();
    D.port = reinterpret_cast<ChannelReadPort>(&FReadPorts.back());
    D.bounds = Bounds;
    D.depth = Plane.Depth();
    D.channelType = Type;
    D.name = Name;
    return &D;
  };
  if (Transparency) return Layer.HasTransparency() ? Add(Layer.Transparency, ctUnspecified, "Transparency") : nullptr;
  const std::vector<int16_t> Types = ChannelTypes(FDocument.Mode());
  ReadChannelDesc* Head = nullptr;
  ReadChannelDesc* Last = nullptr;
  for (size_t i = 0; i < Layer.Color.size() && i < Types.size(); ++i) {
    ReadChannelDesc* D = Add(Layer.Color[i], Types[i], ChannelName(Types[i]));
    (Last ? Last->next : Head) = D;
    Last = D;
  }
  return Head;
}

const THostPlane* THostSession::FindReadPlane(ChannelReadPort Port) const {
  for (const TReadPortRec& R : FReadPorts)
    if (reinterpret_cast<ChannelReadPort>(const_cast<TReadPortRec*>(&R)) == Port) return R.Plane;
  return nullptr;
}

std::string THostSession::ErrorString() const {
  return std::string(reinterpret_cast<const char*>(FErrorString + 1), FErrorString[0]);
}

// ---- Channel ports -----------------------------------------------------------------------------

OSErr THostSession::DoReadPixels(ChannelReadPort Port, const PSScaling* Scaling, const VRect* WriteRect,
                                 const PixelMemoryDesc* Destination, VRect* WroteRect) {
  const THostPlane* Plane = FindReadPlane(Port);
  if (!Plane || !WriteRect || !Destination) return paramErr;
  int64_t RowBytes, ColBytes, Offset;
  if (!ByteLayout(*Destination, RowBytes, ColBytes, Offset)) return paramErr;
  const VRect PlaneBounds{0, 0, Plane->Height(), Plane->Width()};
  const VRect Source = Scaling ? Scaling->sourceRect : PlaneBounds;
  const VRect Dest = Scaling ? Scaling->destinationRect : PlaneBounds;
  if (RectEmpty(Source) || RectEmpty(Dest) || !RectInside(Source, PlaneBounds)) return paramErr;
  if (WroteRect) *WroteRect = VRect{0, 0, 0, 0};
  if (RectEmpty(*WriteRect)) return noErr;
  if (!RectInside(*WriteRect, Dest)) return paramErr;

  const int64_t SW = int64_t(Source.right) - Source.left, SH = int64_t(Source.bottom) - Source.top;
  const int64_t DW = int64_t(Dest.right) - Dest.left, DH = int64_t(Dest.bottom) - Dest.top;
  uint8_t* Base = static_cast<uint8_t*>(Destination->data) + Offset;
  for (int32_t Y = WriteRect->top; Y < WriteRect->bottom; ++Y) {
    const int32_t SY = static_cast<int32_t>(Source.top + (Y - Dest.top) * SH / DH);
    uint8_t* Row = Base + (int64_t(Y) - WriteRect->top) * RowBytes;
    for (int32_t X = WriteRect->left; X < WriteRect->right; ++X) {
      const int32_t SX = static_cast<int32_t>(Source.left + (X - Dest.left) * SW / DW);
      Row[(int64_t(X) - WriteRect->left) * ColBytes] = Plane->Get8(SX, SY);
    }
  }
  if (WroteRect) *WroteRect = *WriteRect;
  return noErr;
}

OSErr THostSession::DoWriteBasePixels(ChannelWritePort Port, const VRect* WriteRect, const PixelMemoryDesc* Source) {
  if (Port != reinterpret_cast<ChannelWritePort>(&FSelectionPort) || !WriteRect || !Source) return paramErr;
  int64_t RowBytes, ColBytes, Offset;
  if (!ByteLayout(*Source, RowBytes, ColBytes, Offset)) return paramErr;
  if (RectEmpty(*WriteRect)) return noErr;
  if (!RectInside(*WriteRect, FNewSelection.bounds)) return paramErr;
  const uint8_t* Base = static_cast<const uint8_t*>(Source->data) + Offset;
  for (int32_t Y = WriteRect->top; Y < WriteRect->bottom; ++Y) {
    const uint8_t* Row = Base + (int64_t(Y) - WriteRect->top) * RowBytes;
    uint8_t* Out = FDocument.Selection.data() + static_cast<size_t>(Y) * FDocument.Width();
    for (int32_t X = WriteRect->left; X < WriteRect->right; ++X) Out[X] = Row[(int64_t(X) - WriteRect->left) * ColBytes];
  }
  FSelectionWritten = true;
  return noErr;
}

// ---- Advance state -----------------------------------------------------------------------------

OSErr THostSession::CheckRequest(const Rect16& Rect, int16_t Lo, int16_t Hi, TRequest& Request, bool& Empty) const {
  Empty = Rect.right <= Rect.left || Rect.bottom <= Rect.top;
  if (Empty) return noErr;
  const int32_t Planes = FDocument.Target().PlaneCount();
  if (Rect.left < 0 || Rect.top < 0 || Rect.right > FDocument.Width() || Rect.bottom > FDocument.Height() || Lo < 0 ||
      Hi < Lo || Hi >= Planes)
    return paramErr;
  Request = TRequest{Rect.top, Rect.left, Rect.bottom, Rect.right, Lo, Hi};
  return noErr;
}

void THostSession::FillBuffer(const TRequest& R, std::vector<uint8_t>& Buffer) const {
  const THostLayer& Layer = FDocument.Target();
  const size_t Sample = static_cast<size_t>(FDocument.Depth() / 8);
  Buffer.resize(static_cast<size_t>(R.Bottom - R.Top) * R.Width() * R.Planes() * Sample);
  uint8_t* Out = Buffer.data();
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
    for (int32_t X = R.Left; X < R.Right; ++X)
      for (int32_t P = R.Lo; P <= R.Hi; ++P, Out += Sample) std::memcpy(Out, Layer.Plane(P).Sample(X, Y), Sample);
}

void THostSession::StorePendingOutput() {
  if (!FOutPending) return;
  FOutPending = false;
  const TRequest& R = FOutRequest;
  THostLayer& Layer = FDocument.Target();
  const int32_t ColorPlanes = static_cast<int32_t>(Layer.Color.size());
  const size_t Sample = static_cast<size_t>(FDocument.Depth() / 8);
  const uint8_t* In = FOutBuffer.data();
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
    for (int32_t X = R.Left; X < R.Right; ++X)
      for (int32_t P = R.Lo; P <= R.Hi; ++P, In += Sample) {
        uint8_t* Dest = Layer.Plane(P).Sample(X, Y);
        if (P < ColorPlanes && std::memcmp(Dest, In, Sample) != 0) FColorWritten = true;
        std::memcpy(Dest, In, Sample);
      }
}

OSErr THostSession::DoAdvanceState() {
  StorePendingOutput();
  FFilter.inData = nullptr;
  FFilter.outData = nullptr;
  FFilter.inRowBytes = FFilter.outRowBytes = 0;
  const int32_t Sample = FDocument.Depth() / 8;

  TRequest In, Out;
  bool InEmpty, OutEmpty;
  if (OSErr E = CheckRequest(FFilter.inRect, FFilter.inLoPlane, FFilter.inHiPlane, In, InEmpty)) return E;
  if (OSErr E = CheckRequest(FFilter.outRect, FFilter.outLoPlane, FFilter.outHiPlane, Out, OutEmpty)) return E;
  if (!InEmpty) {
    FillBuffer(In, FInBuffer);
    FFilter.inData = FInBuffer.data();
    FFilter.inRowBytes = In.Width() * In.Planes() * Sample;
  }
  if (!OutEmpty) {
    FillBuffer(Out, FOutBuffer);
    FFilter.outData = FOutBuffer.data();
    FFilter.outRowBytes = Out.Width() * Out.Planes() * Sample;
    FOutRequest = Out;
    FOutPending = true;
  }
  return noErr;
}

void THostSession::Finish() { StorePendingOutput(); }

// ---- Suites ------------------------------------------------------------------------------------

SPErr THostSession::DoAcquireSuite(const char* Name, int32_t Version, const void** Suite) {
  if (!Suite) return paramErr;
  *Suite = nullptr;
  if (!FOptions.ColorSuite || !Name || std::strcmp(Name, kPSColorSpaceSuite) != 0 ||
      Version != kPSColorSpaceSuiteVersion1)
    return kSPSuiteNotFoundError;
  *Suite = &FColorSpaceSuite;
  ++FSuitesHeld;
  return kSPNoError;
}

SPErr THostSession::DoReleaseSuite(const char* Name, int32_t Version) {
  if (!FOptions.ColorSuite || !Name || std::strcmp(Name, kPSColorSpaceSuite) != 0 ||
      Version != kPSColorSpaceSuiteVersion1 || FSuitesHeld <= 0)
    return kSPSuiteNotFoundError;
  --FSuitesHeld;
  return kSPNoError;
}

// ---- Static trampolines: no exception leaves a callback ----------------------------------------

OSErr THostSession::ReadPixels(ChannelReadPort Port, const PSScaling* Scaling, const VRect* WriteRect,
                               const PixelMemoryDesc* Destination, VRect* WroteRect) {
  if (!FCurrent) return paramErr;
  try {
    return FCurrent->DoReadPixels(Port, Scaling, WriteRect, Destination, WroteRect);
  } catch (...) {
    return memFullErr;
  }
}

OSErr THostSession::WriteBasePixels(ChannelWritePort Port, const VRect* WriteRect, const PixelMemoryDesc* Source) {
  if (!FCurrent) return paramErr;
  try {
    return FCurrent->DoWriteBasePixels(Port, WriteRect, Source);
  } catch (...) {
    return memFullErr;
  }
}

OSErr THostSession::AdvanceState() {
  if (!FCurrent) return paramErr;
  try {
    return FCurrent->DoAdvanceState();
  } catch (...) {
    return memFullErr;
  }
}

SPErr THostSession::AcquireSuite(const char* Name, int32_t Version, const void** Suite) {
  if (!FCurrent) return paramErr;
  return FCurrent->DoAcquireSuite(Name, Version, Suite);
}

SPErr THostSession::ReleaseSuite(const char* Name, int32_t Version) {
  if (!FCurrent) return paramErr;
  return FCurrent->DoReleaseSuite(Name, Version);
}

SPErr THostSession::ConvertToMonitorRGB(int16_t ColorSpace, void* Input, void* Output, uint32_t Count) {
  if (!FCurrent) return paramErr;
  try {
    return FCurrent->FMonitor->Convert(ColorSpace, static_cast<const uint8_t*>(Input), static_cast<uint8_t*>(Output),
                                       Count);
  } catch (...) {
    return memFullErr;
  }
}

}  // namespace varnix
