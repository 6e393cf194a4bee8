// The host bridge against the in-process fake host: dispatch and failure handling, reading every
// image mode and depth through both host interfaces, and writing the selection back.
#include "plugin/Manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <regex>
#include <thread>

#include "plugin/FakeHost.h"
#include "plugin/ProbeForms.h"

namespace varnix {
namespace {

using test::AboutProbe;
using test::MainProbe;
using test::TFakeHost;
using ::testing::HasSubstr;
using ::testing::Not;

// Deterministic 8-bit content: colour plane P at (X, Y), and the transparency.
uint8_t ColorAt(int32_t P, int32_t X, int32_t Y) { return static_cast<uint8_t>(11 + X * 7 + Y * 13 + P * 50); }
uint8_t AlphaAt(int32_t X, int32_t Y) { return static_cast<uint8_t>(X == 0 && Y == 0 ? 0 : 120 + X * 9 + Y * 5); }

void FillDocument(TFakeHost& H) {
  for (int32_t Y = 0; Y < H.Height; ++Y)
    for (int32_t X = 0; X < H.Width; ++X) {
      for (int32_t P = 0; P < static_cast<int32_t>(H.Target.Color.size()); ++P) {
        H.Set8(H.Target, P, X, Y, ColorAt(P, X, Y));
        H.Set8(H.Merged, P, X, Y, static_cast<uint8_t>(ColorAt(P, X, Y) + 100));
      }
      if (!H.Target.Alpha.empty()) H.Set8(H.Target, -1, X, Y, AlphaAt(X, Y));
      if (!H.Merged.Alpha.empty()) H.Set8(H.Merged, -1, X, Y, 255);
    }
}

int CountOf(const std::string& Text, const std::string& Part) {
  int N = 0;
  for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1)) ++N;
  return N;
}

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->SetBackend(bkHeadless);
    Manager = NewObject<TPluginManager>();
    Manager->RegisterMainForm(test::ProbeMainFormClass());
    Manager->RegisterAboutForm(test::ProbeAboutFormClass());
    MainProbe = test::TProbe();
    AboutProbe = test::TProbe();
  }
  void TearDown() override {
    Free(Manager);
    MainProbe = test::TProbe();
    AboutProbe = test::TProbe();
  }

  int32_t Select(TFakeHost& H) { return Manager->Execute(ptSelection, selectionSelectorExecute, H.Selection()); }
  int32_t FilterStart(TFakeHost& H) {
    const int32_t R = Manager->Execute(ptFilter, filterSelectorStart, H.Filter());
    H.FinishFilter();
    return R;
  }

  // The editor's part: read the document when created, write Mask and close with OK when modal.
  void EditorWrites(TGrayscaleBitmap& Mask) {
    MainProbe.Create = [this](TCustomForm&) { Manager->LoadBitmapFromDocument(Document); };
    MainProbe.Modal = [this, &Mask](TCustomForm& F) {
      F.SetModalResult(mrOk);
      Manager->SaveSelection(Document, Mask);
    };
  }

  TPluginManager* Manager = nullptr;
  TColorBitmap Document;
};

// ---- Dispatch and failures ---------------------------------------------------------------------

TEST_F(ManagerTest, FailureTableOfAnEditorRun) {
  struct TCase {
    const char* Name;
    TPluginType Entry;
    std::function<void()> Raise;
    int32_t Result;
    std::string ErrorString;  // "seed": untouched
    bool Trace;
  };
  const TCase Cases[] = {
      {"bad parameters", ptSelection, [] { throw EPluginException(int32_t{-30700}); }, -30700, "Bad parameters", false},
      {"bad mode", ptSelection, [] { throw EPluginException(int32_t{-30701}); }, -30701, "Image mode not supported",
       false},
      {"other code", ptSelection, [] { throw EPluginException(int32_t{-25}); }, -25, "seed", false},
      {"message", ptSelection, [] { throw EPluginException(std::string("own words")); }, -30904, "own words", false},
      {"formatted", ptSelection, [] { throw EPluginException::CreateFmt("count %d", 7); }, -30904, "count 7", false},
      {"message, filter", ptFilter, [] { throw EPluginException(std::string("filter words")); }, -30904,
       "filter words", false},
      {"plain exception", ptSelection, [] { throw Exception("plain failure"); }, -128, "seed", true},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    MainProbe = test::TProbe();
    TFakeHost H(plugInModeRGBColor, 4, 3);
    H.SeedErrorString("seed");
    MainProbe.Create = [&](TCustomForm&) { C.Raise(); };
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int32_t R = C.Entry == ptSelection ? Select(H) : FilterStart(H);
    const std::string Out = ::testing::internal::GetCapturedStdout();
    const std::string Err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(R, C.Result);
    EXPECT_EQ(H.ErrorString(), C.ErrorString);
    EXPECT_EQ(MainProbe.Shown, 0);
    EXPECT_EQ(Manager->Form, nullptr);
    if (C.Trace) {
      EXPECT_TRUE(std::regex_search(Out, std::regex("^EXCEPTION at address [0-9A-F]{8,} with message:\nplain failure\n$")))
          << Out;
      EXPECT_THAT(Err, HasSubstr("plain failure"));  // the error box
    } else {
      EXPECT_EQ(Out, "");
    }
  }
}

TEST_F(ManagerTest, FilterOnBackgroundLayerShowsTheMessageOnceAndCancels) {
  TFakeHost H(plugInModeRGBColor, 4, 3);
  TFakeHost::DropTransparency(H.Target);
  ::testing::internal::CaptureStderr();
  const int32_t R = FilterStart(H);
  const std::string Err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(R, -128);
  EXPECT_EQ(MainProbe.Created, 0);
  const std::string Message =
      "Varnix cannot work on the selected layer because it is a\n"
      "background layer without transparency information.\n\n"
      "Please duplicate the selected layer and try again.";
  EXPECT_EQ(CountOf(Err, Message), 1) << Err;
  EXPECT_EQ(CountOf(Err, "varnix: message"), 1) << Err;
}

TEST_F(ManagerTest, SelectorsThatDoNothingAnswerZero) {
  TFakeHost H(plugInModeRGBColor, 4, 3);
  const std::pair<TPluginType, int32_t> Calls[] = {
      {ptSelection, 2}, {ptSelection, -1}, {ptFilter, 0}, {ptFilter, 1}, {ptFilter, 2}, {ptFilter, 4}, {ptFilter, 5}};
  for (const auto& [Type, Selector] : Calls) {
    SCOPED_TRACE(Selector);
    EXPECT_EQ(Manager->Execute(Type, Selector, Type == ptSelection ? static_cast<void*>(H.Selection()) : H.Filter()), 0);
  }
  EXPECT_EQ(MainProbe.Created + AboutProbe.Created, 0);
}

TEST_F(ManagerTest, AboutSelectorShowsTheAboutBoxModally) {
  TFakeHost H(plugInModeRGBColor, 4, 3);
  AboutProbe.Modal = [](TCustomForm& F) { F.SetModalResult(mrOk); };
  EXPECT_EQ(Manager->Execute(ptSelection, selectionSelectorAbout, H.About()), 0);
  EXPECT_EQ(AboutProbe.Shown, 1);
  EXPECT_EQ(MainProbe.Created, 0);
  EXPECT_EQ(Manager->Form, nullptr);
}

TEST_F(ManagerTest, PluginExceptionDuringTheAboutBoxWritesNoMessage) {
  TFakeHost H(plugInModeRGBColor, 4, 3);
  H.SeedErrorString("seed");
  AboutProbe.Modal = [](TCustomForm&) { throw EPluginException(std::string("not for the host")); };
  EXPECT_EQ(Manager->Execute(ptSelection, selectionSelectorAbout, H.About()), -30904);
  EXPECT_EQ(H.ErrorString(), "seed");
  EXPECT_EQ(AboutProbe.Shown, 1);
}

TEST_F(ManagerTest, UnregisteredFormClassesAnswerWithAMessage) {
  TFakeHost H(plugInModeRGBColor, 4, 3);
  Manager->RegisterMainForm(TFormClass());
  Manager->RegisterAboutForm(TFormClass());
  EXPECT_EQ(Select(H), -30904);
  EXPECT_EQ(H.ErrorString(), "Varnix cannot open this window: it is not part of this build");
  EXPECT_EQ(FilterStart(H), -30904);
  EXPECT_EQ(Manager->Execute(ptSelection, selectionSelectorAbout, H.About()), -30904);
}

TEST_F(ManagerTest, LongMessagesAreCutTo255Characters) {
  TFakeHost H(plugInModeRGBColor, 4, 3);
  std::string Long;
  for (int i = 0; i < 300; ++i) Long += static_cast<char>('a' + i % 26);
  MainProbe.Create = [&](TCustomForm&) { throw EPluginException(Long); };
  EXPECT_EQ(Select(H), -30904);
  EXPECT_EQ(H.ErrorString(), Long.substr(0, 255));
}

TEST_F(ManagerTest, NoErrorStringPointerIsLeftAlone) {
  TFakeHost H(plugInModeRGBColor, 4, 3);
  H.OfferErrorString = false;
  MainProbe.Create = [&](TCustomForm&) { throw EPluginException(std::string("nowhere to go")); };
  EXPECT_EQ(Select(H), -30904);
}

TEST_F(ManagerTest, CancelAnswersUserCancelledAndWritesNothing) {
  TFakeHost H(plugInModeRGBColor, 4, 3);
  H.SeedErrorString("seed");
  MainProbe.Create = [this](TCustomForm&) { Manager->LoadBitmapFromDocument(Document); };
  MainProbe.Modal = [](TCustomForm& F) { F.SetModalResult(mrCancel); };
  EXPECT_EQ(Select(H), -128);
  EXPECT_EQ(MainProbe.Shown, 1);
  EXPECT_EQ(H.WriteBaseCalls, 0);
  EXPECT_EQ(H.ErrorString(), "seed");
}

TEST_F(ManagerTest, FormThatClosesItselfWhileCreatedIsNotShown) {
  TFakeHost H(plugInModeRGBColor, 4, 3);
  MainProbe.Create = [](TCustomForm& F) { F.SetModalResult(mrCancel); };
  EXPECT_EQ(Select(H), -128);
  EXPECT_EQ(MainProbe.Created, 1);
  EXPECT_EQ(MainProbe.Shown, 0);
}

TEST_F(ManagerTest, ExceptionTraceLinesAndTheBoxOnlyOnTheMainThread) {
  Exception E("traced");
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  ShowExceptionTrace(E);
  std::string Out = ::testing::internal::GetCapturedStdout();
  std::string Err = ::testing::internal::GetCapturedStderr();
  std::smatch M;
  ASSERT_TRUE(std::regex_match(Out, M, std::regex("EXCEPTION at address ([0-9A-F]{8,}) with message:\ntraced\n"))) << Out;
  // The whole 64-bit address, not its low 32 bits.
  EXPECT_EQ(std::stoull(M[1].str(), nullptr, 16), reinterpret_cast<uintptr_t>(E.ExceptAddr()));
  EXPECT_GT(reinterpret_cast<uintptr_t>(E.ExceptAddr()), uintptr_t{0xFFFFFFFF});
  EXPECT_THAT(Err, HasSubstr("varnix: message"));

  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  std::thread([&] { ShowExceptionTrace(E); }).join();
  Out = ::testing::internal::GetCapturedStdout();
  Err = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(Out, HasSubstr("with message:\ntraced\n"));
  EXPECT_THAT(Err, Not(HasSubstr("varnix: message")));
}

// ---- Document import ---------------------------------------------------------------------------

struct TModeCase {
  const char* Name;
  int16_t Mode;
  TPluginColorChannels Bytes;  // which colour plane fills each staging byte (-1 none)
  int16_t ColorSpace;
};

const TModeCase ModeCases[] = {
    {"gray", plugInModeGrayScale, {-1, -1, -1, 0}, 4},   {"gray16", plugInModeGray16, {-1, -1, -1, 0}, 4},
    {"gray32", plugInModeGray32, {-1, -1, -1, 0}, 4},    {"RGB", plugInModeRGBColor, {-1, 0, 1, 2}, 0},
    {"RGB48", plugInModeRGB48, {-1, 0, 1, 2}, 0},        {"RGB96", plugInModeRGB96, {-1, 0, 1, 2}, 0},
    {"CMYK", plugInModeCMYKColor, {0, 1, 2, 3}, 2},      {"CMYK64", plugInModeCMYK64, {0, 1, 2, 3}, 2},
    {"Lab", plugInModeLabColor, {-1, 0, 1, 2}, 3},       {"Lab48", plugInModeLab48, {-1, 0, 1, 2}, 3},
};

enum TReadPath { rpSelectionPorts, rpFilterPorts, rpAdvanceState };

TEST_F(ManagerTest, EveryModeAndDepthThroughBothReadPaths) {
  for (const TModeCase& C : ModeCases)
    for (TReadPath Path : {rpSelectionPorts, rpFilterPorts, rpAdvanceState}) {
      SCOPED_TRACE(std::string(C.Name) + (Path == rpSelectionPorts ? " selection ports"
                                          : Path == rpFilterPorts  ? " filter ports"
                                                                   : " advance state"));
      TFakeHost H(C.Mode, 5, 3);
      FillDocument(H);
      H.OfferChannelPorts = Path != rpAdvanceState;
      Manager->SelectionParams = Path == rpSelectionPorts ? H.Selection() : nullptr;
      Manager->FilterParams = Path == rpSelectionPorts ? nullptr : H.Filter();
      TColorBitmap B;
      Manager->LoadBitmapFromDocument(B);
      EXPECT_EQ(Manager->CanSampleAllLayers, Path != rpAdvanceState);
      ASSERT_EQ(B.Width(), 5);
      ASSERT_EQ(B.Height(), 3);
      ASSERT_FALSE(H.ConvertSpaces.empty());
      for (int16_t S : H.ConvertSpaces) EXPECT_EQ(S, C.ColorSpace);
      EXPECT_EQ(H.Acquired, 1);
      EXPECT_EQ(H.Released, 1);
      // The staging buffer as the suite saw it: whole padded rows of RowSize / 4 slots.
      const int32_t Slots = B.RowSize() / 4;
      ASSERT_EQ(H.StagingSeen.size(), static_cast<size_t>(4 * Slots * 3));
      bool StagingOk = true, PixelsOk = true;
      for (int32_t Y = 0; Y < 3; ++Y)
        for (int32_t X = 0; X < 5; ++X) {
          const uint8_t* S = &H.StagingSeen[4 * (Y * Slots + X)];
          for (int32_t i = 0; i < 4; ++i)
            StagingOk &= S[i] == (C.Bytes[i] < 0 ? 0 : ColorAt(C.Bytes[i], X, Y));
          // The fake suite's output: bytes 1..3 of the input (gray: byte 3 three times).
          const uint8_t R = C.ColorSpace == 4 ? S[3] : S[1], G = C.ColorSpace == 4 ? S[3] : S[2], Bl = S[3];
          const uint32_t A = AlphaAt(X, Y);
          const TColorPixel Want{uint8_t(R * A / 255), uint8_t(G * A / 255), uint8_t(Bl * A / 255), uint8_t(A)};
          PixelsOk &= B.GetPixel(X, Y) == Want;
        }
      EXPECT_TRUE(StagingOk);
      EXPECT_TRUE(PixelsOk);
      // Reading through the ports takes one call per row for each used channel and the
      // transparency; the spot channel is skipped.
      EXPECT_EQ(H.ReadPixelsCalls,
                Path == rpAdvanceState ? 0 : 3 * (static_cast<int32_t>(H.Target.Color.size()) + 1));
    }
}

TEST_F(ManagerTest, AdvanceStateReadLeavesNoRequestBehind) {
  TFakeHost H(plugInModeRGB48, 4, 3);
  FillDocument(H);
  H.OfferChannelPorts = false;
  Manager->FilterParams = H.Filter();
  TColorBitmap B;
  Manager->LoadBitmapFromDocument(B);
  const Rect16 R = Manager->FilterParams->inRect;
  EXPECT_EQ(R.top | R.left | R.bottom | R.right, 0);
  EXPECT_EQ(H.AdvanceStateCalls, 3 * 4);  // three colour planes and the transparency per row
}

TEST_F(ManagerTest, UnsupportedImageModesEndTheRun) {
  for (int16_t Mode : {plugInModeBitmap, plugInModeIndexedColor, plugInModeHSLColor, plugInModeHSBColor,
                       plugInModeMultichannel, plugInModeDuotone, plugInModeDeepMultichannel, plugInModeDuotone16,
                       int16_t{18}, int16_t{-1}}) {
    SCOPED_TRACE(Mode);
    MainProbe = test::TProbe();
    TFakeHost H(Mode, 4, 3);
    H.SeedErrorString("seed");
    MainProbe.Create = [this](TCustomForm&) { Manager->LoadBitmapFromDocument(Document); };
    EXPECT_EQ(Select(H), -30701);
    EXPECT_EQ(H.ErrorString(), "Image mode not supported");
    EXPECT_EQ(MainProbe.Shown, 0);
    H.SeedErrorString("seed");
    EXPECT_EQ(FilterStart(H), -30101);
    EXPECT_EQ(H.ErrorString(), "seed");
    H.OfferChannelPorts = false;
    EXPECT_EQ(FilterStart(H), -30101);
  }
}

TEST_F(ManagerTest, OddWidthsConvertEveryRowInFullRuns) {
  {
    // 101 pixels: rows of 416 bytes, 104 slots each, the last rows included.
    TFakeHost H(plugInModeRGBColor, 101, 3);
    FillDocument(H);
    Manager->SelectionParams = H.Selection();
    TColorBitmap B;
    Manager->LoadBitmapFromDocument(B);
    EXPECT_EQ(B.RowSize(), 416);
    ASSERT_EQ(H.ConvertCounts, std::vector<uint32_t>{104 * 3});
    const uint32_t A = AlphaAt(100, 2);
    EXPECT_EQ(B.GetPixel(100, 2).B, ColorAt(2, 100, 2) * A / 255);
  }
  {
    // More than one run of 16384 pixels.
    TFakeHost H(plugInModeRGBColor, 200, 100);
    Manager->SelectionParams = H.Selection();
    TColorBitmap B;
    Manager->LoadBitmapFromDocument(B);
    EXPECT_EQ(H.ConvertCounts, (std::vector<uint32_t>{16384, 20000 - 16384}));
  }
}

TEST_F(ManagerTest, PremultipliesByTheTransparencyOrTakesItAsOpaque) {
  TFakeHost H(plugInModeRGBColor, 3, 2);
  FillDocument(H);
  H.Set8(H.Target, -1, 1, 0, 128);
  H.Set8(H.Target, 0, 1, 0, 200);
  Manager->SelectionParams = H.Selection();
  TColorBitmap B;
  Manager->LoadBitmapFromDocument(B);
  EXPECT_EQ(B.GetPixel(0, 0), (TColorPixel{0, 0, 0, 0}));  // alpha 0
  EXPECT_EQ(B.GetPixel(1, 0).R, 100);                       // 200 × 128 div 255
  EXPECT_EQ(B.GetPixel(1, 0).A, 128);

  TFakeHost::DropTransparency(H.Target);
  Manager->SelectionParams = H.Selection();
  Manager->LoadBitmapFromDocument(B);
  for (int32_t X = 0; X < 3; ++X)
    EXPECT_EQ(B.GetPixel(X, 1), (TColorPixel{ColorAt(0, X, 1), ColorAt(1, X, 1), ColorAt(2, X, 1), 255}));
}

TEST_F(ManagerTest, SampleAllLayersReadsTheMergedComposite) {
  TFakeHost H(plugInModeRGBColor, 3, 2);
  FillDocument(H);
  Manager->SampleAllLayers = true;
  Manager->SelectionParams = H.Selection();
  TColorBitmap B;
  Manager->LoadBitmapFromDocument(B);
  EXPECT_EQ(B.GetPixel(2, 1),
            (TColorPixel{uint8_t(ColorAt(0, 2, 1) + 100), uint8_t(ColorAt(1, 2, 1) + 100), uint8_t(ColorAt(2, 2, 1) + 100), 255}));
}

TEST_F(ManagerTest, WithoutTheColourSuiteOnlyRGBIsRead) {
  for (auto Suite : {TFakeHost::suNoBasicSuite, TFakeHost::suUnavailable}) {
    SCOPED_TRACE(Suite);
    TFakeHost Rgb(plugInModeRGBColor, 3, 2);
    FillDocument(Rgb);
    Rgb.Suite = Suite;
    Manager->FilterParams = nullptr;
    Manager->SelectionParams = Rgb.Selection();
    TColorBitmap B;
    Manager->LoadBitmapFromDocument(B);
    const uint32_t A = AlphaAt(2, 1);
    EXPECT_EQ(B.GetPixel(2, 1).G, ColorAt(1, 2, 1) * A / 255);
  }
  TFakeHost Cmyk(plugInModeCMYKColor, 3, 2);
  Cmyk.Suite = TFakeHost::suUnavailable;
  MainProbe.Create = [this](TCustomForm&) { Manager->LoadBitmapFromDocument(Document); };
  EXPECT_EQ(Select(Cmyk), -30701);
  EXPECT_EQ(Cmyk.ErrorString(), "Image mode not supported");
  EXPECT_EQ(FilterStart(Cmyk), -30701);
}

TEST_F(ManagerTest, HostFailuresWhileReadingBecomeMessages) {
  struct TCase {
    const char* Name;
    std::function<void(TFakeHost&)> Setup;
    bool Filter;
    std::string Message;
  };
  const TCase Cases[] = {
      {"readPixelsProc", [](TFakeHost& H) { H.FailReadRow = 1; }, false,
       "an error occurred while reading from channels (-108)"},
      {"advanceState", [](TFakeHost& H) { H.OfferChannelPorts = false; H.FailReadRow = 2; }, true,
       "an error occurred while reading from channels (-108)"},
      {"no channel ports, selection", [](TFakeHost& H) { H.OfferChannelPorts = false; }, false,
       "an error occurred while reading from channels (0)"},
      {"no interface at all", [](TFakeHost& H) { H.OfferChannelPorts = false; H.OfferAdvanceState = false; }, true,
       "an error occurred while reading from channels (0)"},
      {"conversion", [](TFakeHost& H) { H.Suite = TFakeHost::suFailing; }, false,
       "an error occurred while converting to the monitor RGB color space (-7)"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    MainProbe = test::TProbe();
    TFakeHost H(plugInModeRGBColor, 4, 3);
    C.Setup(H);
    MainProbe.Create = [this](TCustomForm&) { Manager->LoadBitmapFromDocument(Document); };
    EXPECT_EQ(C.Filter ? FilterStart(H) : Select(H), -30904);
    EXPECT_EQ(H.ErrorString(), C.Message);
    EXPECT_EQ(MainProbe.Shown, 0);
    EXPECT_EQ(H.Acquired, H.Released);
  }
}

TEST_F(ManagerTest, FilterLineConversionClampsOutOfRangeSamples) {
  struct TCase {
    TPluginChannelDepth Depth;
    double Sample;
    uint8_t Expected;
  };
  const float NaN = std::numeric_limits<float>::quiet_NaN();
  const TCase Cases[] = {
      {pd8Bits, 0, 0},        {pd8Bits, 200, 200},    {pd16Bits, 32768, 255}, {pd16Bits, 16384, 127},
      {pd16Bits, 0, 0},       {pd16Bits, 40000, 255}, {pd16Bits, 65535, 255}, {pd32Bits, 0.5, 128},
      {pd32Bits, 1.0, 255},   {pd32Bits, 0.0, 0},     {pd32Bits, 2.0, 255},   {pd32Bits, 1.5, 255},
      {pd32Bits, -0.25, 0},   {pd32Bits, NaN, 0},     {pd32Bits, 0.2, 51},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(::testing::Message() << C.Depth << " " << C.Sample);
    uint8_t Source[8] = {};
    if (C.Depth == pd8Bits) Source[0] = static_cast<uint8_t>(C.Sample);
    if (C.Depth == pd16Bits) *reinterpret_cast<uint16_t*>(Source) = static_cast<uint16_t>(C.Sample);
    if (C.Depth == pd32Bits) *reinterpret_cast<float*>(Source) = static_cast<float>(C.Sample);
    uint8_t Dest[4] = {7, 7, 7, 7};
    TPluginManager::Read8BitFilterChannelLine(Source, C.Depth, Dest, 2, 4, 1);
    EXPECT_EQ(Dest[2], C.Expected);
    EXPECT_EQ(Dest[0] + Dest[1] + Dest[3], 21);  // only the offset byte is written
  }
}

// ---- Selection export --------------------------------------------------------------------------

TEST_F(ManagerTest, SelectionIsWrittenInOneCall) {
  TFakeHost H(plugInModeRGBColor, 5, 3);
  FillDocument(H);
  TGrayscaleBitmap Mask;
  Mask.Resize(5, 3);
  for (int32_t Y = 0; Y < 3; ++Y)
    for (int32_t X = 0; X < 5; ++X) Mask.SetPixel(X, Y, static_cast<uint8_t>(X * 50 + Y));
  EditorWrites(Mask);
  EXPECT_EQ(Select(H), 0);
  EXPECT_EQ(H.WriteBaseCalls, 1);
  EXPECT_EQ(H.LastWriteMemory.rowBits, 64);
  EXPECT_EQ(H.LastWriteMemory.colBits, 8);
  EXPECT_EQ(H.LastWriteMemory.depth, 8);
  EXPECT_EQ(H.LastWriteRect.bottom, 3);
  EXPECT_EQ(H.LastWriteRect.right, 5);
  ASSERT_EQ(H.NewSelection.size(), 15u);
  for (int32_t Y = 0; Y < 3; ++Y)
    for (int32_t X = 0; X < 5; ++X) EXPECT_EQ(H.NewSelection[Y * 5 + X], X * 50 + Y);
}

TEST_F(ManagerTest, EmptyMaskWritesNothing) {
  TFakeHost H(plugInModeRGBColor, 5, 3);
  TGrayscaleBitmap Mask;
  EditorWrites(Mask);
  EXPECT_EQ(Select(H), -128);
  EXPECT_EQ(H.WriteBaseCalls, 0);
}

TEST_F(ManagerTest, FilterMultipliesTheMaskIntoTheTransparency) {
  struct TCase {
    int16_t Mode;
    uint8_t LayerAlpha;
    uint8_t MaskValue;
    double Expected;  // the raw host value written
  };
  const TCase Cases[] = {
      {plugInModeRGBColor, 255, 128, 128}, {plugInModeRGBColor, 100, 255, 100}, {plugInModeRGBColor, 200, 0, 0},
      {plugInModeRGB48, 255, 255, 32768},  {plugInModeRGB48, 255, 1, 128},      {plugInModeRGB96, 255, 51, 0.2f},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(::testing::Message() << C.Mode << " " << int(C.LayerAlpha) << " " << int(C.MaskValue));
    TFakeHost H(C.Mode, 3, 2);
    FillDocument(H);
    for (int32_t Y = 0; Y < 2; ++Y)
      for (int32_t X = 0; X < 3; ++X) H.Set8(H.Target, -1, X, Y, C.LayerAlpha);
    const std::vector<std::vector<uint8_t>> ColorBefore = H.Target.Color;
    TGrayscaleBitmap Mask;
    Mask.Resize(3, 2);
    Mask.FillRect(Rect(0, 0, 3, 2), C.MaskValue);
    EditorWrites(Mask);
    EXPECT_EQ(FilterStart(H), 0);
    for (int32_t Y = 0; Y < 2; ++Y)
      for (int32_t X = 0; X < 3; ++X) EXPECT_EQ(H.GetRaw(H.Target, -1, X, Y), C.Expected);
    EXPECT_EQ(H.Target.Color, ColorBefore);
    const Rect16 R = Manager->FilterParams->outRect;
    EXPECT_EQ(R.top | R.left | R.bottom | R.right, 0);
  }
}

TEST_F(ManagerTest, AlphaLineFormats) {
  const TColorPixel Color[3] = {{0, 0, 0, 255}, {0, 0, 0, 100}, {0, 0, 0, 255}};
  const uint8_t Mask[3] = {128, 255, 1};
  uint8_t Bytes[3];
  TPluginManager::Write8BitFilterAlphaLine(Color, Mask, Bytes, pd8Bits, 3);
  EXPECT_THAT(Bytes, ::testing::ElementsAre(128, 100, 1));
  uint16_t Words[3];
  TPluginManager::Write8BitFilterAlphaLine(Color, Mask, Words, pd16Bits, 3);
  EXPECT_THAT(Words, ::testing::ElementsAre((128 << 15) / 255, (100 << 15) / 255, 128));
  float Floats[3];
  TPluginManager::Write8BitFilterAlphaLine(Color, Mask, Floats, pd32Bits, 3);
  EXPECT_THAT(Floats, ::testing::ElementsAre(128 / 255.0f, 100 / 255.0f, 1 / 255.0f));
}

TEST_F(ManagerTest, WriteFailureOnRow10ReachesTheHostAndKeepsRows0To9) {
  TFakeHost H(plugInModeRGBColor, 4, 12);
  FillDocument(H);
  H.FailWriteRow = 10;
  TGrayscaleBitmap Mask;
  Mask.Resize(4, 12);
  Mask.FillRect(Rect(0, 0, 4, 12), 0);
  EditorWrites(Mask);
  EXPECT_EQ(FilterStart(H), -30904);
  EXPECT_EQ(H.ErrorString(), "an error occurred while writing the selection (-108)");
  EXPECT_EQ(H.OutRowsStored, (std::set<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  for (int32_t Y = 0; Y < 12; ++Y)
    EXPECT_EQ(H.GetRaw(H.Target, -1, 3, Y), Y < 10 ? 0 : AlphaAt(3, Y)) << Y;
  EXPECT_EQ(Manager->Form, nullptr);
}

TEST_F(ManagerTest, SelectionWriteFailureReachesTheHost) {
  TFakeHost H(plugInModeRGBColor, 4, 3);
  H.WriteBaseResult = -5;
  TGrayscaleBitmap Mask;
  Mask.Resize(4, 3);
  EditorWrites(Mask);
  EXPECT_EQ(Select(H), -30904);
  EXPECT_EQ(H.ErrorString(), "an error occurred while writing the selection (-5)");
}

}  // namespace
}  // namespace varnix
