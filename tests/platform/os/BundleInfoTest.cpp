#include "platform/os/BundleInfo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "platform/os/OsTestSupport.h"

namespace varnix {
namespace {

using testing::TEnvOverride;
using testing::TTempDir;
using testing::WriteFile;

const char* const Plist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <!-- identity -->
  <key>CFBundleName</key>
  <string>Varnix</string>
  <key>CFBundleSignature</key>
  <integer>42</integer>
  <key>NSHumanReadableCopyright</key>
  <string>&#169; 2011 Tom &amp; Jerry</string>
  <key>CFBundleDocumentTypes</key>
  <array><string>not a top-level value</string></array>
  <key>Empty</key>
  <string/>
  <key>CFBundleShortVersionString</key>
  <string>1.2 beta 3</string>
</dict>
</plist>
)";

TEST(BundleInfo, ReadsTheTextValuesOfTheTopLevelDictionary) {
  TTempDir Dir;
  WriteFile(Dir / "Info.plist", Plist);
  const std::map<std::string, std::string> Expected{{"CFBundleName", "Varnix"},
                                                    {"NSHumanReadableCopyright", "\xC2\xA9 2011 Tom & Jerry"},
                                                    {"Empty", ""},
                                                    {"CFBundleShortVersionString", "1.2 beta 3"}};
  EXPECT_EQ(ReadInfoDictionary(Dir / "Info.plist"), Expected);
}

TEST(BundleInfo, MissingOrMalformedFilesGiveAnEmptyDictionary) {
  TTempDir Dir;
  WriteFile(Dir / "broken.plist", "<plist><dict><key>CFBundleName</key><string>Varnix");
  WriteFile(Dir / "other.xml", "<html><dict><key>A</key><string>B</string></dict></html>");
  for (const char* Name : {"missing.plist", "broken.plist", "other.xml"}) {
    SCOPED_TRACE(Name);
    EXPECT_TRUE(ReadInfoDictionary(Dir / Name).empty());
  }
}

TEST(BundleInfo, TheBundleSetExplicitlyWinsOverTheEnvironment) {
  TTempDir Set, FromEnv;
  WriteFile(Set / "Contents/Info.plist", "<plist><dict><key>CFBundleName</key><string>Set</string></dict></plist>");
  WriteFile(FromEnv / "Contents/Info.plist",
            "<plist><dict><key>CFBundleName</key><string>Env</string></dict></plist>");
  TEnvOverride Env("VARNIX_BUNDLE", FromEnv.Path());
  std::string Name;

  EXPECT_EQ(BundlePath(), FromEnv.Path());
  EXPECT_EQ(BundleResourcesPath(), FromEnv.Path() + "/Contents/Resources");
  ASSERT_TRUE(BundleInfoString("CFBundleName", Name));
  EXPECT_EQ(Name, "Env");

  SetBundlePath(Set.Path());
  EXPECT_EQ(BundlePath(), Set.Path());
  ASSERT_TRUE(BundleInfoString("CFBundleName", Name));
  EXPECT_EQ(Name, "Set");
  EXPECT_FALSE(BundleInfoString("CFBundleHelpBookName", Name));
  EXPECT_EQ(Name, "");

  SetBundlePath("");
  EXPECT_EQ(BundlePath(), FromEnv.Path());
}

TEST(BundleInfo, TheDefaultBundleIsTheOneHoldingTheProgram) {
  TEnvOverride Env("VARNIX_BUNDLE", std::nullopt);
  TTempDir Dir;
  const std::string Bundle = std::filesystem::canonical(Dir.Path()).string() + "/Probe.plugin";
  const std::string Inside = Bundle + "/Contents/Linux/probe";
  const std::string Outside = Dir / "probe";
  std::filesystem::create_directories(Bundle + "/Contents/Linux");
  std::filesystem::copy_file(VARNIX_BUNDLE_PROBE, Inside);
  std::filesystem::copy_file(VARNIX_BUNDLE_PROBE, Outside);

  auto Run = [](const std::string& Program) {
    std::string Output;
    FILE* Pipe = ::popen(("'" + Program + "'").c_str(), "r");
    if (!Pipe) return Output;
    char Buffer[4096];
    for (size_t N; (N = std::fread(Buffer, 1, sizeof Buffer, Pipe)) > 0;) Output.append(Buffer, N);
    ::pclose(Pipe);
    return Output;
  };
  EXPECT_EQ(Run(Inside), Bundle);
  EXPECT_EQ(Run(Outside), "") << "a program outside a bundle layout has no bundle";
}

}  // namespace
}  // namespace varnix
