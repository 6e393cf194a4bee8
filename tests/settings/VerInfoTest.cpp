#include "settings/VerInfo.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/StreamErrors.h"
#include "platform/os/BundleInfo.h"
#include "platform/os/HelpViewer.h"
#include "platform/os/OsTestSupport.h"

namespace varnix {
namespace {

using testing::TEnvOverride;
using testing::TFakeOpener;
using testing::TTempDir;
using testing::WaitForFile;
using testing::WriteFile;

struct TFields {
  int32_t Major, Minor, Release, Beta;
  bool PressPreview;
  friend bool operator==(const TFields&, const TFields&) = default;
};

TFields FieldsOf(const TProgramVersion& V) { return {V.Major, V.Minor, V.Release, V.Beta, V.PressPreview}; }

TProgramVersion& Parsed(TProgramVersion& V, const std::string& Text) {
  V.SetText(Text);
  return V;
}

TEST(ProgramVersion, ParsesAndPrintsTheTextForm) {
  struct Case {
    const char* Text;
    TFields Expected;
    const char* Printed;
  } Cases[] = {
      {"1.23", {1, 2, 3, 0, false}, "1.23"},
      {"2", {2, 0, 0, 0, false}, "2.00"},
      {"1.5", {1, 5, 0, 0, false}, "1.50"},
      {"1.2 beta 3", {1, 2, 0, 3, false}, "1.20 beta 3"},
      {"1.2 beta 12", {1, 2, 0, 12, false}, "1.20 beta 12"},
      {"1.2 press", {1, 2, 0, 0, true}, "1.20 (press preview)"},
      {"1.2 beta 12 press", {1, 2, 0, 12, true}, "1.20 beta 12 (press preview)"},
      {"1.2 beta 3 press", {1, 2, 0, 3, true}, "1.20 beta 3 (press preview)"},
      {"1.23 beta x", {1, 2, 3, 0, false}, "1.23"},
      {"10.99", {10, 9, 9, 0, false}, "10.99"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Text);
    TProgramVersion V;
    V.SetText(C.Text);
    EXPECT_EQ(FieldsOf(V), C.Expected);
    EXPECT_EQ(V.GetText(), C.Printed);
    EXPECT_EQ(V.GetIsBeta(), C.Expected.Beta > 0);
  }
  TProgramVersion Fresh;
  EXPECT_EQ(Fresh.GetText(), "0.00");
  TProgramVersion Again;
  EXPECT_FALSE(Parsed(Parsed(Again, "1.2 press"), "1.3").PressPreview) << "a later text without press clears it";
}

TEST(ProgramVersion, InvalidTextsRaiseAndKeepTheOldValues) {
  for (const char* Text : {".5", "x.1", "1.x", "", "beta 2", "-1.2", "1. 2"}) {
    SCOPED_TRACE(Text);
    TProgramVersion V;
    V.SetText("3.45 beta 6 press");
    try {
      V.SetText(Text);
      ADD_FAILURE() << "no exception";
    } catch (const EProgramVersionError& E) {
      EXPECT_EQ(E.Message(), "'" + std::string(Text) + "' is not a valid version number");
    }
    EXPECT_EQ(FieldsOf(V), (TFields{3, 4, 5, 6, true}));
  }
}

TEST(ProgramVersion, CompareOrdersNumbersThenReleasesBeforeBetas) {
  struct Case {
    const char* A;
    const char* B;
    int32_t Expected;
  } Cases[] = {
      {"1.12", "1.2", -1},         {"1.20", "1.20 beta 4", 1}, {"1.20 beta 4", "1.20", -1},
      {"1.20 beta 2", "1.20 beta 5", -1}, {"1.23", "1.23 press", 0}, {"3", "2.99", 1},
      {"1.21", "1.20", 1},         {"1.20 beta 9", "1.21 beta 1", -1},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(std::string(C.A) + " vs " + C.B);
    TProgramVersion A, B;
    EXPECT_EQ(Parsed(A, C.A).Compare(Parsed(B, C.B)), C.Expected);
  }
  TProgramVersion Low, High;
  Low.Major = INT32_MIN;
  High.Major = INT32_MAX;
  EXPECT_EQ(Low.Compare(High), -1) << "extreme numbers from a stream do not overflow";
  EXPECT_EQ(High.Compare(Low), 1);
}

TEST(ProgramVersion, StreamsRoundTripInTheFixedLayout) {
  TProgramVersion V;
  V.SetText("1.23 beta 4 press");
  std::ostringstream Out(std::ios::binary);
  V.SaveToStream(Out);
  const std::string Bytes = Out.str();
  const std::string Expected("\x9C\xFF\xFF\xFF\x01\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00"
                             "\x03\x00\x00\x00\x04\x00\x00\x00\x01",
                             25);
  EXPECT_EQ(Bytes, Expected);

  TProgramVersion Loaded;
  std::istringstream In(Bytes, std::ios::binary);
  Loaded.LoadFromStream(In);
  EXPECT_EQ(FieldsOf(Loaded), FieldsOf(V));
}

TEST(ProgramVersion, BadStreamsAreRejectedAndLeaveTheObjectAlone) {
  TProgramVersion Source;
  Source.SetText("2.34");
  std::ostringstream Out(std::ios::binary);
  Source.SaveToStream(Out);
  const std::string Good = Out.str();

  std::string WrongMarker = Good;
  WrongMarker[0] = '\x9B';  // -101
  std::string WrongLayout = Good;
  WrongLayout[4] = '\x02';
  struct Case {
    const char* Name;
    std::string Bytes;
    bool VersionError;  // otherwise a read error
  } Cases[] = {{"marker", WrongMarker, true},       {"layout number", WrongLayout, true},
               {"ends in the header", Good.substr(0, 6), false}, {"ends in the fields", Good.substr(0, 24), false},
               {"empty", "", false}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TProgramVersion V;
    V.SetText("9.87 beta 6");
    std::istringstream In(C.Bytes, std::ios::binary);
    if (C.VersionError) {
      try {
        V.LoadFromStream(In);
        ADD_FAILURE() << "no exception";
      } catch (const EProgramVersionError& E) {
        EXPECT_EQ(E.Message(), "Invalid version number on stream");
      }
    } else {
      EXPECT_THROW(V.LoadFromStream(In), EReadError);
    }
    EXPECT_EQ(FieldsOf(V), (TFields{9, 8, 7, 6, false}));
  }
}

// A bundle in a scratch folder, made the program's bundle while the object lives.
class TBundle {
 public:
  explicit TBundle(const std::string& DictEntries) {
    WriteFile(FDir / "Varnix.plugin/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + DictEntries +
                  "</dict></plist>\n");
    SetBundlePath(Path());
  }
  ~TBundle() { SetBundlePath(""); }
  std::string Path() const { return FDir / "Varnix.plugin"; }
  std::string Resources() const { return Path() + "/Contents/Resources"; }

 private:
  TTempDir FDir;
};

std::string Entry(const std::string& Key, const std::string& Value) {
  return "<key>" + Key + "</key><string>" + Value + "</string>";
}

TEST(VersionInfo, ComesFromTheBundlesInformationDictionary) {
  TBundle Bundle(Entry("CFBundleName", "Varnix") + Entry("CFBundleShortVersionString", "1.2 beta 3") +
                 Entry("NSHumanReadableCopyright", "&#169; 2011 Example") + Entry("CFBundleGetInfoString", "x") +
                 Entry("CFBundleVersion", "1.2.345"));
  TVersionInfo Info;
  EXPECT_EQ(Info.GetName(), "Varnix");
  EXPECT_EQ(Info.ProductName, "Varnix");
  EXPECT_EQ(Info.Copyright, "\xA9 2011 Example") << "8-bit text";
  EXPECT_EQ(Info.GetNameAndVersion(), "Varnix 1.20 beta 3");
  EXPECT_EQ(Info.GetBuildNumber(), 0) << "this platform has no file version";
  EXPECT_EQ(Info.BuildDate, ProgramBuildDate());

  using namespace CommonUtils;
  EXPECT_EQ(GetVersionInfo(viProductVersion), "1.2 beta 3");
  for (CommonUtils::TVersionInfo Unmapped : {viCompanyName, viFileDescription, viFileVersion, viComments}) {
    SCOPED_TRACE(Unmapped);
    EXPECT_EQ(GetVersionInfo(Unmapped), "");
  }
}

TEST(VersionInfo, MissingEntriesGiveEmptyTextsAndVersionZero) {
  TBundle Bundle(Entry("CFBundleName", "\xCE\xA9mega"));
  TVersionInfo Info;
  EXPECT_EQ(Info.GetName(), "") << "a name outside the code page reads as empty";
  EXPECT_EQ(Info.Copyright, "");
  EXPECT_EQ(Info.GetNameAndVersion(), " 0.00");
}

TEST(VersionInfo, AnUnreadableVersionTextRaises) {
  TBundle Bundle(Entry("CFBundleShortVersionString", "beta"));
  EXPECT_THROW(TVersionInfo(), EProgramVersionError);
}

TEST(VersionInfo, TheSingletonLivesFromInitialisationToFinalisation) {
  TBundle Bundle(Entry("CFBundleName", "First"));
  FinalizeVerInfo();
  InitializeVerInfo();
  TVersionInfo* Info = VersionInfo();
  ASSERT_NE(Info, nullptr);
  EXPECT_EQ(VersionInfo(), Info);
  EXPECT_EQ(Info->GetName(), "First");
  FinalizeVerInfo();
  WriteFile(Bundle.Path() + "/Contents/Info.plist",
            "<plist><dict>" + Entry("CFBundleName", "Second") + "</dict></plist>");
  EXPECT_EQ(VersionInfo()->GetName(), "Second") << "created again on first use";
  FinalizeVerInfo();
}

TEST(VersionInfo, ShowHelpOpensTheNamedPageOfTheHelpBook) {
  TEnvOverride Quiet("VARNIX_HELP_VERBOSE", std::nullopt);
  TFakeOpener Opener;
  struct Case {
    const char* Name;
    std::string Entries;
    std::string Folder;
  } Cases[] = {
      {"book name as folder", Entry("CFBundleHelpBookName", "VarnixHelp"), "VarnixHelp"},
      {"explicit folder",
       Entry("CFBundleHelpBookName", "Varnix Help") + Entry("CFBundleHelpBookFolder", "Help Book"),
       "Help Book"},
  };
  std::vector<std::string> Expected;
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TBundle Bundle(C.Entries);
    WriteFile(Bundle.Resources() + "/" + C.Folder + "/Html/welcome/welcome.html", "<html></html>");
    WriteFile(Bundle.Resources() + "/" + C.Folder + "/secret.html", "");
    TVersionInfo Info;
    // None of these may start the opener.
    Info.ShowHelp("Html/welcome/missing.html");
    Info.ShowHelp("../" + C.Folder + "/secret.html");
    Info.ShowHelp("Html/../../" + C.Folder + "/secret.html");
    Info.ShowHelp("/etc/passwd");
    Info.ShowHelp("");
    Info.ShowHelp("Html\\welcome\\welcome.html");
    ASSERT_TRUE(WaitForFile(Opener.Done()));
    std::filesystem::remove(Opener.Done());
    Expected.push_back(FileURL(Bundle.Resources() + "/" + C.Folder + "/Html/welcome/welcome.html"));
    EXPECT_EQ(Opener.Opened(), Expected);
    Info.CloseHelp();
  }
}

TEST(VersionInfo, ShowHelpWithoutAHelpBookDoesNothing) {
  TEnvOverride Quiet("VARNIX_HELP_VERBOSE", std::nullopt);
  TFakeOpener Opener;
  TBundle Bundle(Entry("CFBundleName", "Varnix"));
  WriteFile(Bundle.Resources() + "/Varnix/Html/welcome/welcome.html", "");
  TVersionInfo Info;
  Info.ShowHelp("Html/welcome/welcome.html");
  // A page that is shown proves the opener ran after the first call, had it been started.
  WriteFile(Bundle.Path() + "/Contents/Info.plist",
            "<plist><dict>" + Entry("CFBundleHelpBookName", "Varnix") + "</dict></plist>");
  Info.ShowHelp("Html/welcome/welcome.html");
  ASSERT_TRUE(WaitForFile(Opener.Done()));
  EXPECT_EQ(Opener.Opened().size(), 1u);
}

}  // namespace
}  // namespace varnix
