// The standalone host's pieces: documents made from images, the channel ports, advance state and
// suites a session serves, the monitor conversion and the bundle's property file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "host/HostColor.h"
#include "host/HostDocument.h"
#include "host/HostSession.h"
#include "host/PluginBundle.h"

namespace varnix {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A 2 × 1 RGBA image: opaque red, then half-transparent middle gray.
TImage RedAndGray(TImageDepth Depth = id8Bits) {
  TImage I;
  I.Allocate(2, 1, icRGB, Depth, iaUnassociated);
  const double Unit[2][4] = {{1, 0, 0, 1}, {128 / 255.0, 128 / 255.0, 128 / 255.0, 128 / 255.0}};
  for (int X = 0; X < 2; ++X)
    for (int C = 0; C < 4; ++C) {
      if (Depth == id8Bits) I.Row(0)[4 * X + C] = static_cast<uint8_t>(std::lround(Unit[X][C] * 255));
      if (Depth == id16Bits) I.Row16(0)[4 * X + C] = static_cast<uint16_t>(std::lround(Unit[X][C] * 65535));
    }
  return I;
}

THostDocument Open(const TImage& Image, int Mode, int32_t Depth = 0, bool NoTransparency = false) {
  THostDocumentOptions O;
  O.HasMode = Mode >= 0;
  O.Mode = static_cast<THostMode>(Mode < 0 ? 0 : Mode);
  O.Depth = Depth;
  O.NoTransparency = NoTransparency;
  return THostDocument({&Image}, {"image"}, O);
}

std::vector<int> Planes8(const THostLayer& L, int32_t X) {
  std::vector<int> V;
  for (const THostPlane& P : L.Color) V.push_back(P.Get8(X, 0));
  return V;
}

// ---- Documents -----------------------------------------------------------------------------------

TEST(HostDocumentTest, ModesAndDepths) {
  const TImage Image = RedAndGray();
  struct TCase {
    const char* Name;
    int Mode;
    int32_t Depth;
    int16_t ImageMode;
    std::vector<int> Red, Gray;  // 8-bit planes; -1 skips a check
  };
  const TCase Cases[] = {
      {"RGB", hmRGB, 8, plugInModeRGBColor, {255, 0, 0}, {128, 128, 128}},
      {"RGB48", hmRGB, 16, plugInModeRGB48, {255, 0, 0}, {128, 128, 128}},
      {"RGB96", hmRGB, 32, plugInModeRGB96, {255, 0, 0}, {128, 128, 128}},
      {"gray", hmGray, 8, plugInModeGrayScale, {-1}, {128}},
      {"gray32", hmGray, 32, plugInModeGray32, {-1}, {128}},
      {"CMYK", hmCMYK, 8, plugInModeCMYKColor, {0, 255, 255, 0}, {0, 0, 0, 127}},
      {"CMYK64", hmCMYK, 16, plugInModeCMYK64, {0, 255, 255, 0}, {0, 0, 0, 127}},
      {"Lab", hmLab, 8, plugInModeLabColor, {-1, -1, -1}, {-1, 128, 128}},
      {"Lab48", hmLab, 16, plugInModeLab48, {-1, -1, -1}, {-1, 128, 128}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const THostDocument D = Open(Image, C.Mode, C.Depth);
    EXPECT_EQ(D.ImageMode(), C.ImageMode);
    EXPECT_EQ(D.Depth(), C.Depth);
    const std::vector<int> Red = Planes8(D.Target(), 0), Gray = Planes8(D.Target(), 1);
    ASSERT_EQ(Gray.size(), C.Gray.size());
    for (size_t i = 0; i < C.Gray.size(); ++i) {
      if (C.Gray[i] >= 0) {
        EXPECT_NEAR(Gray[i], C.Gray[i], 1) << i;
      }
      if (i < C.Red.size() && C.Red[i] >= 0) {
        EXPECT_NEAR(Red[i], C.Red[i], 1) << i;
      }
    }
    EXPECT_EQ(D.Target().Transparency.Get8(0, 0), 255);
    EXPECT_EQ(D.Target().Transparency.Get8(1, 0), 128);
  }
}

TEST(HostDocumentTest, SamplesAtTheHostsFullScale) {
  const THostDocument D16 = Open(RedAndGray(), hmRGB, 16);
  EXPECT_EQ(*reinterpret_cast<const uint16_t*>(D16.Target().Color[0].Sample(0, 0)), 32768);
  EXPECT_EQ(*reinterpret_cast<const uint16_t*>(D16.Target().Color[1].Sample(0, 0)), 0);
  EXPECT_EQ(*reinterpret_cast<const uint16_t*>(D16.Target().Transparency.Sample(1, 0)), 16448);  // 128/255
  const THostDocument FromFile16 = Open(RedAndGray(id16Bits), -1, 0);  // a 16-bit file stays 16-bit
  EXPECT_EQ(FromFile16.Depth(), 16);
  const uint8_t Over[2] = {0x10, 0x90};  // 36880, above full scale
  EXPECT_EQ(HostSampleTo8(Over, 16), 255);
  const float Nan = std::nanf("");
  EXPECT_EQ(HostSampleTo8(reinterpret_cast<const uint8_t*>(&Nan), 32), 0);
}

TEST(HostDocumentTest, IndexedDocumentsKeepExactColours) {
  const THostDocument D = Open(RedAndGray(), hmIndexed);
  EXPECT_EQ(D.ImageMode(), plugInModeIndexedColor);
  ASSERT_EQ(D.Palette().size(), 2u);
  const auto& P0 = D.Palette()[*D.Target().Color[0].Sample(0, 0)];
  const auto& P1 = D.Palette()[*D.Target().Color[0].Sample(1, 0)];
  EXPECT_THAT(P0, ElementsAre(255, 0, 0));
  EXPECT_THAT(P1, ElementsAre(128, 128, 128));
}

TEST(HostDocumentTest, RefusesWhatDoesNotFit) {
  const TImage Image = RedAndGray();
  TImage Other;
  Other.Allocate(3, 1, icRGB, id8Bits, iaNone);
  EXPECT_THROW(Open(Image, hmCMYK, 32), EHostDocumentError);
  EXPECT_THROW(Open(Image, hmIndexed, 16), EHostDocumentError);
  try {
    THostDocument({&Image, &Other}, {"a.png", "b.png"}, THostDocumentOptions());
    FAIL();
  } catch (const EHostDocumentError& E) {
    EXPECT_EQ(E.Message(), "b.png is 3 x 1, but the document is 2 x 1");
  }
}

TEST(HostDocumentTest, CompositeIsTheLayersOver) {
  TImage Bottom, Top;
  Bottom.Allocate(1, 1, icRGB, id8Bits, iaNone);
  Bottom.Row(0)[0] = 255;  // opaque red
  Top.Allocate(1, 1, icRGB, id8Bits, iaUnassociated);
  Top.Row(0)[2] = 255;  // blue, half opaque
  Top.Row(0)[3] = 128;
  const THostDocument D({&Bottom, &Top}, {"bottom", "top"}, THostDocumentOptions());
  EXPECT_THAT(Planes8(D.Composite(), 0), ElementsAre(127, 0, 128));
  EXPECT_EQ(D.Composite().Transparency.Get8(0, 0), 255);
  EXPECT_EQ(D.Target().Transparency.Get8(0, 0), 128);
  // A background layer makes the composite opaque without a transparency plane.
  THostDocumentOptions O;
  O.NoTransparency = true;
  const THostDocument B({&Bottom, &Top}, {"bottom", "top"}, O);
  EXPECT_FALSE(B.Target().HasTransparency());
  EXPECT_FALSE(B.Composite().HasTransparency());
}

TEST(HostDocumentTest, ExportKeepsTheFilesColourAndTakesTheNewTransparency) {
  const TImage Image = RedAndGray(id16Bits);
  THostDocument D = Open(Image, hmCMYK, 8);
  D.Target().Transparency.SetNormal(0, 0, 0.0f);
  const TImage Out = D.ExportTarget(Image, false);
  EXPECT_EQ(Out.ColorSpace(), icRGB);
  EXPECT_EQ(Out.Depth(), id16Bits);
  for (int X = 0; X < 2; ++X)
    for (int C = 0; C < 3; ++C) EXPECT_EQ(Out.Row16(0)[4 * X + C], Image.Row16(0)[4 * X + C]);
  EXPECT_EQ(Out.Row16(0)[3], 0);
  EXPECT_EQ(Out.Row16(0)[7], 32896);  // 128 of 255 in 16 bits
  // Converted back when the colour changed: red survives the CMYK round trip.
  const TImage Back = D.ExportTarget(Image, true);
  EXPECT_NEAR(Back.Row16(0)[0], 65535, 300);
  EXPECT_NEAR(Back.Row16(0)[1], 0, 300);
}

// ---- Session ------------------------------------------------------------------------------------

TEST(HostSessionTest, ReadPixelsHonoursTheMemoryLayout) {
  TImage Image;
  Image.Allocate(3, 2, icRGB, id16Bits, iaNone);
  for (int i = 0; i < 18; ++i) Image.Row16(0)[i] = static_cast<uint16_t>(i * 3000);
  THostDocument D = Open(Image, hmRGB, 16);
  THostSession S(D, THostOptions());
  PISelectionParams* P = S.Selection();
  const ReadImageDocumentDesc* Info = P->documentInfo;
  ASSERT_NE(Info, nullptr);
  EXPECT_EQ(Info->depth, 16);
  const ReadChannelDesc* Green = Info->targetCompositeChannels->next;
  EXPECT_EQ(Green->channelType, ctGreen);
  EXPECT_EQ(Info->targetCompositeChannels->next->next->next, nullptr);

  // Green into byte 2 of 4-byte pixels, both rows, rows 20 bytes apart.
  uint8_t Memory[40];
  std::memset(Memory, 0xEE, sizeof(Memory));
  const PixelMemoryDesc M{Memory, 160, 32, 16, 8};
  const PSScaling Sc{Info->bounds, Info->bounds};
  VRect Wrote{};
  ASSERT_EQ(P->channelPortProcs->readPixelsProc(Green->port, &Sc, &Info->bounds, &M, &Wrote), noErr);
  EXPECT_EQ(Wrote.right, 3);
  for (int Y = 0; Y < 2; ++Y)
    for (int X = 0; X < 3; ++X) {
      const uint16_t Raw = *reinterpret_cast<const uint16_t*>(D.Target().Color[1].Sample(X, Y));
      EXPECT_EQ(Memory[Y * 20 + X * 4 + 2], (Raw * 255 + 16384) / 32768);
      EXPECT_EQ(Memory[Y * 20 + X * 4 + 1], 0xEE);  // nothing else is touched
    }

  // Refusals: another depth, a rectangle outside the destination, an unknown port.
  PixelMemoryDesc Deep = M;
  Deep.depth = 16;
  EXPECT_EQ(P->channelPortProcs->readPixelsProc(Green->port, &Sc, &Info->bounds, &Deep, &Wrote), paramErr);
  const VRect Outside{0, 0, 3, 3};
  EXPECT_EQ(P->channelPortProcs->readPixelsProc(Green->port, &Sc, &Outside, &M, &Wrote), paramErr);
  EXPECT_EQ(P->channelPortProcs->readPixelsProc(reinterpret_cast<ChannelReadPort>(Memory), &Sc, &Info->bounds, &M,
                                                &Wrote),
            paramErr);
  EXPECT_NE(Info->targetTransparency, nullptr);  // layers without file alpha are opaque, not background
}

TEST(HostSessionTest, ScaledReadsTakeTheNearestSourcePixel) {
  TImage Image;
  Image.Allocate(4, 1, icGray, id8Bits, iaNone);
  for (int X = 0; X < 4; ++X) Image.Row(0)[X] = static_cast<uint8_t>(10 * (X + 1));
  THostDocument D = Open(Image, -1);
  THostSession S(D, THostOptions());
  PISelectionParams* P = S.Selection();
  const PSScaling Half{{0, 0, 1, 4}, {0, 0, 1, 2}};
  const VRect Rect{0, 0, 1, 2};
  uint8_t Out[2] = {};
  const PixelMemoryDesc M{Out, 16, 8, 0, 8};
  ASSERT_EQ(P->channelPortProcs->readPixelsProc(P->documentInfo->targetCompositeChannels->port, &Half, &Rect, &M,
                                                nullptr),
            noErr);
  EXPECT_THAT(Out, ElementsAre(10, 30));
}

TEST(HostSessionTest, WriteBasePixelsSetsTheSelection) {
  THostDocument D = Open(RedAndGray(), -1);
  THostSession S(D, THostOptions());
  PISelectionParams* P = S.Selection();
  const uint8_t Mask[8] = {200, 7, 0, 0, 9, 9, 9, 9};
  const PixelMemoryDesc M{const_cast<uint8_t*>(Mask), 64, 8, 0, 8};
  ASSERT_EQ(P->channelPortProcs->writeBasePixelsProc(P->newSelection->port, &P->documentInfo->bounds, &M), noErr);
  EXPECT_TRUE(S.SelectionWritten());
  EXPECT_THAT(D.Selection, ElementsAre(200, 7));
  const VRect TooBig{0, 0, 2, 2};
  EXPECT_EQ(P->channelPortProcs->writeBasePixelsProc(P->newSelection->port, &TooBig, &M), paramErr);
}

TEST(HostSessionTest, AdvanceStateServesPlanesAndStoresTheOutput) {
  THostDocument D = Open(RedAndGray(), hmRGB, 16);
  THostSession S(D, THostOptions());
  FilterRecord* F = S.Filter();
  EXPECT_EQ(F->inLayerPlanes, 3);
  EXPECT_EQ(F->inTransparencyMask, 1);
  EXPECT_EQ(F->imageSize.h, 2);
  // Green, blue and the transparency of both pixels, interleaved 16-bit words.
  F->inRect = Rect16{0, 0, 1, 2};
  F->inLoPlane = 1;
  F->inHiPlane = 3;
  ASSERT_EQ(F->advanceState(), noErr);
  ASSERT_NE(F->inData, nullptr);
  EXPECT_EQ(F->inRowBytes, 12);
  const uint16_t* In = static_cast<const uint16_t*>(F->inData);
  EXPECT_THAT(std::vector<uint16_t>(In, In + 6), ElementsAre(0, 0, 32768, 16448, 16448, 16448));

  // The output of one request is stored on the next call, the last one by Finish.
  F->inRect = Rect16{};
  F->outRect = Rect16{0, 0, 1, 1};
  F->outLoPlane = F->outHiPlane = 3;
  ASSERT_EQ(F->advanceState(), noErr);
  static_cast<uint16_t*>(F->outData)[0] = 100;
  F->outRect = Rect16{0, 1, 1, 2};
  ASSERT_EQ(F->advanceState(), noErr);
  EXPECT_EQ(*reinterpret_cast<const uint16_t*>(D.Target().Transparency.Sample(0, 0)), 100);
  static_cast<uint16_t*>(F->outData)[0] = 200;
  F->outRect = Rect16{};
  S.Finish();
  EXPECT_EQ(*reinterpret_cast<const uint16_t*>(D.Target().Transparency.Sample(1, 0)), 200);
  EXPECT_FALSE(S.ColorWritten());

  F->inRect = Rect16{0, 0, 1, 2};
  F->inLoPlane = 2;
  F->inHiPlane = 4;  // there is no plane 4
  EXPECT_EQ(F->advanceState(), paramErr);
  F->inLoPlane = 0;
  F->inHiPlane = 0;
  F->inRect = Rect16{0, 0, 1, 3};  // wider than the image
  EXPECT_EQ(F->advanceState(), paramErr);
}

TEST(HostSessionTest, SuiteBrokerHandsOutTheColourSuiteOnce) {
  THostDocument D = Open(RedAndGray(), -1);
  {
    THostSession S(D, THostOptions());
    SPBasicSuite* B = S.Selection()->sSPBasic;
    const void* Suite = nullptr;
    ASSERT_EQ(B->AcquireSuite(kPSColorSpaceSuite, 1, &Suite), kSPNoError);
    ASSERT_NE(Suite, nullptr);
    EXPECT_EQ(S.SuitesHeld(), 1);
    EXPECT_NE(B->AcquireSuite(kPSColorSpaceSuite, 2, &Suite), kSPNoError);
    EXPECT_EQ(Suite, nullptr);
    EXPECT_NE(B->AcquireSuite("Another Suite", 1, &Suite), kSPNoError);
    EXPECT_EQ(B->ReleaseSuite(kPSColorSpaceSuite, 1), kSPNoError);
    EXPECT_EQ(S.SuitesHeld(), 0);
    EXPECT_NE(B->ReleaseSuite(kPSColorSpaceSuite, 1), kSPNoError);  // not held any more
  }
  THostOptions NoSuite;
  NoSuite.ColorSuite = false;
  NoSuite.ChannelPorts = false;
  THostSession S(D, NoSuite);
  const void* Suite = nullptr;
  EXPECT_NE(S.Selection()->sSPBasic->AcquireSuite(kPSColorSpaceSuite, 1, &Suite), kSPNoError);
  EXPECT_EQ(S.Selection()->channelPortProcs, nullptr);
  EXPECT_EQ(S.Filter()->documentInfo, nullptr);
  EXPECT_THROW(THostSession(D, NoSuite), EHostDocumentError);  // one session at a time
}

// ---- Monitor conversion ------------------------------------------------------------------------

TEST(MonitorConverterTest, DefaultProfilesOfEverySuiteSpace) {
  TMonitorConverter M(hmRGB, {});
  struct TCase {
    int16_t Space;
    std::vector<uint8_t> In;
    std::vector<int> Out;  // R, G, B
    int Tolerance;
  };
  const TCase Cases[] = {
      {plugIncolorServicesRGBSpace, {9, 10, 20, 30}, {10, 20, 30}, 0},
      {plugIncolorServicesGraySpace, {9, 0, 0, 77}, {77, 77, 77}, 0},
      {plugIncolorServicesCMYKSpace, {0, 255, 255, 0}, {255, 0, 0}, 0},
      {plugIncolorServicesCMYKSpace, {51, 0, 0, 128}, {102, 127, 127}, 0},
      {plugIncolorServicesLabSpace, {9, 255, 128, 128}, {255, 255, 255}, 1},
      {plugIncolorServicesLabSpace, {9, 0, 128, 128}, {0, 0, 0}, 1},
      {plugIncolorServicesLabSpace, {9, 137, 128, 128}, {128, 128, 128}, 2},  // L* 53.7: middle gray
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(::testing::PrintToString(C.In));
    uint8_t Buffer[4];
    std::memcpy(Buffer, C.In.data(), 4);
    ASSERT_EQ(M.Convert(C.Space, Buffer, Buffer, 1), kSPNoError);  // in place
    EXPECT_EQ(Buffer[0], C.In[0]);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(Buffer[i + 1], C.Out[i], C.Tolerance) << i;
  }
  uint8_t B[4] = {};
  EXPECT_EQ(M.Convert(1, B, B, 1), paramErr);
  EXPECT_EQ(M.Convert(0, nullptr, B, 1), paramErr);
}

TEST(MonitorConverterTest, EmbeddedProfileOfTheDocumentsSpace) {
  // A gray document whose profile has a linear tone curve: linear 0.5 is sRGB 188.
  cmsToneCurve* Linear = cmsBuildGamma(nullptr, 1.0);
  cmsHPROFILE P = cmsCreateGrayProfile(cmsD50_xyY(), Linear);
  cmsUInt32Number Size = 0;
  cmsSaveProfileToMem(P, nullptr, &Size);
  std::vector<uint8_t> Icc(Size);
  cmsSaveProfileToMem(P, Icc.data(), &Size);
  cmsCloseProfile(P);
  cmsFreeToneCurve(Linear);

  TMonitorConverter Gray(hmGray, Icc);
  uint8_t Pixels[8] = {0, 0, 0, 128, 0, 0, 0, 255};
  ASSERT_EQ(Gray.Convert(plugIncolorServicesGraySpace, Pixels, Pixels, 2), kSPNoError);
  EXPECT_NEAR(Pixels[1], 188, 2);
  EXPECT_NEAR(Pixels[3], 188, 2);
  EXPECT_NEAR(Pixels[5], 255, 1);
  // The profile belongs to gray: RGB of the same document stays sRGB.
  uint8_t Rgb[4] = {0, 128, 128, 128};
  ASSERT_EQ(Gray.Convert(plugIncolorServicesRGBSpace, Rgb, Rgb, 1), kSPNoError);
  EXPECT_EQ(Rgb[1], 128);
}

TEST(ModeConverterTest, RoundTripsThroughOtherModes) {
  for (THostMode Mode : {hmGray, hmCMYK, hmLab}) {
    SCOPED_TRACE(ModeName(Mode));
    TModeConverter There(hmRGB, {}, Mode), Back(Mode, {}, hmRGB);
    const float Gray[3] = {0.25f, 0.25f, 0.25f};
    float Mid[4], Out[3];
    There.Convert(Gray, Mid, 1);
    Back.Convert(Mid, Out, 1);
    for (float V : Out) EXPECT_NEAR(V, 0.25f, 0.01f);
  }
}

// ---- Property file -----------------------------------------------------------------------------

TEST(PluginPropertiesTest, ReadsTheEntriesAndRefusesBrokenFiles) {
  const std::string File = ::testing::TempDir() + "/plugin-props-test.json";
  auto Write = [&](const std::string& Text) { std::ofstream(File) << Text; };
  Write(R"({"name": "X", "library": "libx.so", "entries": [
             {"kind": "selection", "symbol": "S", "menu": "X..."}, {"kind": "filter", "symbol": "F"}],
           "modes": ["RGB"]})");
  const TPluginProperties P = ReadPluginProperties(File);
  EXPECT_EQ(P.Library, "libx.so");
  ASSERT_EQ(P.Entries.size(), 2u);
  EXPECT_EQ(P.Entries[0].Kind, ekSelection);
  EXPECT_EQ(P.Entries[0].Menu, "X...");
  EXPECT_EQ(P.Entries[1].Symbol, "F");
  EXPECT_THAT(P.Modes, ElementsAre("RGB"));

  const std::pair<const char*, const char*> Broken[] = {
      {"{ nope", "malformed JSON"},
      {R"({"entries": []})", "\"library\" is missing"},
      {R"({"library": "../evil.so", "entries": []})", "must name a file beside"},
      {R"({"library": "l.so"})", "\"entries\" is missing"},
      {R"({"library": "l.so", "entries": [{"kind": "other", "symbol": "S"}]})", "unknown entry kind"},
      {R"({"library": "l.so", "entries": [{"kind": "filter"}]})", "\"symbol\" is missing"},
  };
  for (const auto& [Text, Reason] : Broken) {
    SCOPED_TRACE(Text);
    Write(Text);
    try {
      ReadPluginProperties(File);
      ADD_FAILURE() << "accepted";
    } catch (const EPluginBundleError& E) {
      EXPECT_THAT(E.Message(), HasSubstr(Reason));
    }
  }
  std::remove(File.c_str());
  EXPECT_THROW(ReadPluginProperties(File), EPluginBundleError);
}

}  // namespace
}  // namespace varnix
