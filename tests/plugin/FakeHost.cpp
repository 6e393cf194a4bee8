#include "plugin/FakeHost.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace varnix::test {

TFakeHost* TFakeHost::Current = nullptr;

int32_t TFakeHost::DepthOfMode(int16_t Mode) {
  switch (Mode) {
    case plugInModeGray16:
    case plugInModeRGB48:
    case plugInModeLab48:
    case plugInModeCMYK64:
      return 16;
    case plugInModeRGB96:
    case plugInModeGray32:
      return 32;
    default:
      return 8;
  }
}

std::vector<int16_t> TFakeHost::ChannelTypesOfMode(int16_t Mode) {
  switch (Mode) {
    case plugInModeGrayScale:
    case plugInModeGray16:
    case plugInModeGray32:
      return {ctBlack};
    case plugInModeRGBColor:
    case plugInModeRGB48:
    case plugInModeRGB96:
      return {ctRed, ctGreen, ctBlue};
    case plugInModeCMYKColor:
    case plugInModeCMYK64:
      return {ctCyan, ctMagenta, ctYellow, ctBlack};
    case plugInModeLabColor:
    case plugInModeLab48:
      return {ctL, ctA, ctB};
    default:
      return {ctUnspecified};
  }
}

TFakeHost::TFakeHost(int16_t Mode, int32_t W, int32_t H)
    : ImageMode(Mode), Width(W), Height(H), Depth(DepthOfMode(Mode)) {
  if (Current) throw std::logic_error("one fake host at a time");
  Current = this;
  const size_t Bytes = static_cast<size_t>(W) * H * (Depth / 8);
  for (TFakeLayer* L : {&Target, &Merged}) {
    L->ChannelTypes = ChannelTypesOfMode(Mode);
    L->Color.assign(L->ChannelTypes.size(), std::vector<uint8_t>(Bytes, 0));
    L->Alpha.assign(Bytes, 0);
  }
  FSpotPlane.assign(Bytes, 0);
}

TFakeHost::~TFakeHost() { Current = nullptr; }

void TFakeHost::SetRaw(TFakeLayer& Layer, int32_t Plane, int32_t X, int32_t Y, double Value) {
  std::vector<uint8_t>& P = Plane < 0 ? Layer.Alpha : Layer.Color[Plane];
  const size_t I = static_cast<size_t>(Y) * Width + X;
  switch (Depth) {
    case 8:
      P[I] = static_cast<uint8_t>(Value);
      break;
    case 16: {
      const uint16_t V = static_cast<uint16_t>(Value);
      std::memcpy(&P[2 * I], &V, 2);
      break;
    }
    default: {
      const float V = static_cast<float>(Value);
      std::memcpy(&P[4 * I], &V, 4);
    }
  }
}

double TFakeHost::GetRaw(const TFakeLayer& Layer, int32_t Plane, int32_t X, int32_t Y) const {
  const std::vector<uint8_t>& P = Plane < 0 ? Layer.Alpha : Layer.Color[Plane];
  const size_t I = static_cast<size_t>(Y) * Width + X;
  switch (Depth) {
    case 8:
      return P[I];
    case 16: {
      uint16_t V;
      std::memcpy(&V, &P[2 * I], 2);
      return V;
    }
    default: {
      float V;
      std::memcpy(&V, &P[4 * I], 4);
      return V;
    }
  }
}

void TFakeHost::Set8(TFakeLayer& Layer, int32_t Plane, int32_t X, int32_t Y, uint8_t V) {
  switch (Depth) {
    case 8:
      SetRaw(Layer, Plane, X, Y, V);
      break;
    case 16:
      // The smallest raw value whose (v × 255) >> 15 is V.
      SetRaw(Layer, Plane, X, Y, std::ceil(V * 32768.0 / 255.0));
      break;
    default:
      SetRaw(Layer, Plane, X, Y, V / 255.0f);
  }
}

uint8_t TFakeHost::Raw8(const std::vector<uint8_t>& Plane, size_t I) const {
  switch (Depth) {
    case 8:
      return Plane[I];
    case 16: {
      uint16_t V;
      std::memcpy(&V, &Plane[2 * I], 2);
      return static_cast<uint8_t>((std::min<uint32_t>(V, 32768) * 255) >> 15);
    }
    default: {
      float V;
      std::memcpy(&V, &Plane[4 * I], 4);
      if (!(V > 0.0f)) return 0;
      if (V >= 1.0f) return 255;
      return static_cast<uint8_t>(std::nearbyint(static_cast<double>(V) * 255.0));
    }
  }
}

ReadChannelDesc* TFakeHost::Describe(TFakeLayer& Layer, bool Transparency) {
  const VRect Bounds{0, 0, Height, Width};
  auto Add = [&](const std::vector<uint8_t>* Plane, int16_t Type) {
    FPorts.push_back(TPort{Plane});
    ReadChannelDesc D{};
    // Ports are 1-based indices into FPorts.
    D.port = reinterpret_cast<ChannelReadPort>(static_cast<intptr_t>(FPorts.size()));
    D.bounds = Bounds;
    D.depth = Depth;
    D.channelType = Type;
    FChannels.push_back(D);
    return &FChannels.back();
  };
  if (Transparency) return Layer.Alpha.empty() ? nullptr : Add(&Layer.Alpha, ctUnspecified);
  ReadChannelDesc* Head = nullptr;
  ReadChannelDesc* Last = nullptr;
  for (size_t i = 0; i <= Layer.Color.size(); ++i) {
    ReadChannelDesc* D;
    if (i < Layer.Color.size())
      D = Add(&Layer.Color[i], Layer.ChannelTypes[i]);
    else if (AddSpotChannel)
      D = Add(&FSpotPlane, 42);
    else
      break;
    (Last ? Last->next : Head) = D;
    Last = D;
  }
  return Head;
}

PISelectionParams* TFakeHost::Selection() {
  Filter();  // fills the shared parts
  FSelection = PISelectionParams{};
  FSelection.errorString = OfferErrorString ? &FErrorString : nullptr;
  FSelection.sSPBasic = FFilter.sSPBasic;
  FSelection.channelPortProcs = FFilter.channelPortProcs;
  FSelection.documentInfo = FFilter.documentInfo;
  FSelection.newSelection = &FNewSelection;
  return &FSelection;
}

FilterRecord* TFakeHost::Filter() {
  FChannels.clear();
  FChannels.reserve(32);
  FPorts.clear();
  FBasic.AcquireSuite = &TFakeHost::AcquireSuite;
  FBasic.ReleaseSuite = &TFakeHost::ReleaseSuite;
  FColorSuite.ConvertToMonitorRGB = &TFakeHost::ConvertToMonitorRGB;
  FProcs.readPixelsProc = &TFakeHost::ReadPixels;
  FProcs.writeBasePixelsProc = &TFakeHost::WriteBasePixels;
  FInfo = ReadImageDocumentDesc{};
  FInfo.imageMode = ImageMode;
  FInfo.bounds = VRect{0, 0, Height, Width};
  FInfo.depth = Depth;
  FInfo.targetCompositeChannels = Describe(Target, false);
  FInfo.targetTransparency = Describe(Target, true);
  FInfo.mergedCompositeChannels = Describe(Merged, false);
  FInfo.mergedTransparency = Describe(Merged, true);
  FNewSelection.port = reinterpret_cast<ChannelWritePort>(&FSelectionPort);
  FNewSelection.bounds = FInfo.bounds;
  FNewSelection.depth = 8;

  FFilter = FilterRecord{};
  FFilter.errorString = OfferErrorString ? &FErrorString : nullptr;
  FFilter.sSPBasic = Suite == suNoBasicSuite ? nullptr : &FBasic;
  FFilter.channelPortProcs = OfferChannelPorts ? &FProcs : nullptr;
  FFilter.documentInfo = OfferChannelPorts ? &FInfo : nullptr;
  FFilter.imageMode = ImageMode;
  FFilter.imageSize = Point16{static_cast<int16_t>(Height), static_cast<int16_t>(Width)};
  FFilter.depth = static_cast<int16_t>(Depth);
  FFilter.advanceState = OfferAdvanceState ? &TFakeHost::AdvanceState : nullptr;
  FFilter.inLayerPlanes = FFilter.outLayerPlanes = static_cast<int16_t>(Target.Color.size());
  FFilter.inTransparencyMask = FFilter.outTransparencyMask = Target.Alpha.empty() ? 0 : 1;
  FOutPending = false;
  return &FFilter;
}

AboutRecord* TFakeHost::About() {
  FAbout = AboutRecord{};
  FAbout.sSPBasic = &FBasic;
  return &FAbout;
}

std::string TFakeHost::ErrorString() const {
  return std::string(reinterpret_cast<const char*>(FErrorString + 1), FErrorString[0]);
}

void TFakeHost::SeedErrorString(const std::string& Text) {
  FErrorString[0] = static_cast<uint8_t>(Text.size());
  std::memcpy(FErrorString + 1, Text.data(), Text.size());
}

OSErr TFakeHost::ReadPixels(ChannelReadPort Port, const PSScaling* Scaling, const VRect* WriteRect,
                            const PixelMemoryDesc* Destination, VRect* WroteRect) {
  TFakeHost& H = *Current;
  ++H.ReadPixelsCalls;
  const intptr_t Index = reinterpret_cast<intptr_t>(Port);
  if (Index < 1 || Index > static_cast<intptr_t>(H.FPorts.size()) || !Scaling || !WriteRect || !Destination)
    return paramErr;
  if (Destination->depth != 8 || Destination->colBits % 8 || Destination->bitOffset % 8 || Destination->rowBits % 8)
    return paramErr;
  if (WriteRect->top == H.FailReadRow) return H.Failure;
  const std::vector<uint8_t>& Plane = *H.FPorts[Index - 1].Plane;
  uint8_t* Base = static_cast<uint8_t*>(Destination->data) + Destination->bitOffset / 8;
  for (int32_t Y = WriteRect->top; Y < WriteRect->bottom; ++Y)
    for (int32_t X = WriteRect->left; X < WriteRect->right; ++X)
      Base[(Y - WriteRect->top) * (Destination->rowBits / 8) + (X - WriteRect->left) * (Destination->colBits / 8)] =
          H.Raw8(Plane, static_cast<size_t>(Y) * H.Width + X);
  if (WroteRect) *WroteRect = *WriteRect;
  return noErr;
}

OSErr TFakeHost::WriteBasePixels(ChannelWritePort Port, const VRect* WriteRect, const PixelMemoryDesc* Source) {
  TFakeHost& H = *Current;
  ++H.WriteBaseCalls;
  if (Port != reinterpret_cast<ChannelWritePort>(&H.FSelectionPort) || !WriteRect || !Source) return paramErr;
  H.LastWriteMemory = *Source;
  H.LastWriteRect = *WriteRect;
  if (H.WriteBaseResult != noErr) return H.WriteBaseResult;
  H.NewSelection.assign(static_cast<size_t>(H.Width) * H.Height, 0);
  const uint8_t* Base = static_cast<const uint8_t*>(Source->data);
  for (int32_t Y = WriteRect->top; Y < WriteRect->bottom; ++Y)
    for (int32_t X = WriteRect->left; X < WriteRect->right; ++X)
      H.NewSelection[static_cast<size_t>(Y) * H.Width + X] =
          Base[(Y - WriteRect->top) * (Source->rowBits / 8) + (X - WriteRect->left) * (Source->colBits / 8)];
  return noErr;
}

void TFakeHost::StoreOutput() {
  if (!FOutPending) return;
  FOutPending = false;
  const size_t S = static_cast<size_t>(Depth / 8);
  const uint8_t* In = FOut.data();
  for (int32_t Y = FOutRect.top; Y < FOutRect.bottom; ++Y) {
    for (int32_t X = FOutRect.left; X < FOutRect.right; ++X)
      for (int32_t P = FOutLo; P <= FOutHi; ++P, In += S) {
        std::vector<uint8_t>& Plane = P < static_cast<int32_t>(Target.Color.size()) ? Target.Color[P] : Target.Alpha;
        std::memcpy(&Plane[(static_cast<size_t>(Y) * Width + X) * S], In, S);
      }
    OutRowsStored.insert(Y);
  }
}

void TFakeHost::FinishFilter() { StoreOutput(); }

OSErr TFakeHost::AdvanceState() {
  TFakeHost& H = *Current;
  FilterRecord& F = H.FFilter;
  ++H.AdvanceStateCalls;
  H.StoreOutput();
  F.inData = F.outData = nullptr;
  const int32_t Planes = static_cast<int32_t>(H.Target.Color.size()) + (H.Target.Alpha.empty() ? 0 : 1);
  const size_t S = static_cast<size_t>(H.Depth / 8);
  auto Serve = [&](const Rect16& R, int16_t Lo, int16_t Hi, std::vector<uint8_t>& Buffer) -> OSErr {
    if (R.right <= R.left || R.bottom <= R.top) return noErr;
    if (R.left < 0 || R.top < 0 || R.right > H.Width || R.bottom > H.Height || Lo < 0 || Hi < Lo || Hi >= Planes)
      return paramErr;
    Buffer.clear();
    for (int32_t Y = R.top; Y < R.bottom; ++Y)
      for (int32_t X = R.left; X < R.right; ++X)
        for (int32_t P = Lo; P <= Hi; ++P) {
          const std::vector<uint8_t>& Plane = P < static_cast<int32_t>(H.Target.Color.size()) ? H.Target.Color[P]
                                                                                            : H.Target.Alpha;
          const uint8_t* Sample = &Plane[(static_cast<size_t>(Y) * H.Width + X) * S];
          Buffer.insert(Buffer.end(), Sample, Sample + S);
        }
    return noErr;
  };
  if (F.inRect.bottom > F.inRect.top && F.inRect.top == H.FailReadRow) return H.Failure;
  if (F.outRect.bottom > F.outRect.top && F.outRect.top == H.FailWriteRow) return H.Failure;
  if (OSErr E = Serve(F.inRect, F.inLoPlane, F.inHiPlane, H.FIn)) return E;
  if (OSErr E = Serve(F.outRect, F.outLoPlane, F.outHiPlane, H.FOut)) return E;
  if (F.inRect.right > F.inRect.left && F.inRect.bottom > F.inRect.top) F.inData = H.FIn.data();
  if (F.outRect.right > F.outRect.left && F.outRect.bottom > F.outRect.top) {
    F.outData = H.FOut.data();
    H.FOutPending = true;
    H.FOutRect = F.outRect;
    H.FOutLo = F.outLoPlane;
    H.FOutHi = F.outHiPlane;
  }
  return noErr;
}

SPErr TFakeHost::AcquireSuite(const char* Name, int32_t Version, const void** Suite) {
  TFakeHost& H = *Current;
  *Suite = nullptr;
  if (H.Suite == suUnavailable || std::strcmp(Name, kPSColorSpaceSuite) != 0 || Version != 1)
    return kSPSuiteNotFoundError;
  ++H.Acquired;
  *Suite = &H.FColorSuite;
  return kSPNoError;
}

SPErr TFakeHost::ReleaseSuite(const char* Name, int32_t Version) {
  (void)Name;
  (void)Version;
  ++Current->Released;
  return kSPNoError;
}

// Output (unused, R, G, B): bytes 1..3 of the input, except gray, whose byte 3 fills all three.
SPErr TFakeHost::ConvertToMonitorRGB(int16_t ColorSpace, void* Input, void* Output, uint32_t Count) {
  TFakeHost& H = *Current;
  H.ConvertSpaces.push_back(ColorSpace);
  H.ConvertCounts.push_back(Count);
  if (H.Suite == suFailing) return H.SuiteFailure;
  const uint8_t* In = static_cast<const uint8_t*>(Input);
  uint8_t* Out = static_cast<uint8_t*>(Output);
  H.StagingSeen.insert(H.StagingSeen.end(), In, In + 4 * static_cast<size_t>(Count));
  for (uint32_t i = 0; i < Count; ++i) {
    const uint8_t* P = In + 4 * i;
    uint8_t* Q = Out + 4 * i;
    if (ColorSpace == plugIncolorServicesGraySpace) {
      Q[1] = Q[2] = Q[3] = P[3];
    } else {
      Q[1] = P[1];
      Q[2] = P[2];
      Q[3] = P[3];
    }
    Q[0] = 0;
  }
  return kSPNoError;
}

}  // namespace varnix::test
