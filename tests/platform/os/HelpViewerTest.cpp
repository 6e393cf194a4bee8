#include "platform/os/HelpViewer.h"

#include <gtest/gtest.h>

#include "platform/os/OsTestSupport.h"

namespace varnix {
namespace {

using testing::ReadFile;
using testing::TCaptureFd;
using testing::TEnvOverride;
using testing::TFakeOpener;
using testing::TTempDir;
using testing::WaitForFile;

TEST(HelpViewer, FileURLsPercentEncodeAllButPlainPathCharacters) {
  EXPECT_EQ(FileURL("/opt/Varnix.plugin/Contents/Resources/Help/a-b_c~d.html"),
            "file:///opt/Varnix.plugin/Contents/Resources/Help/a-b_c~d.html");
  EXPECT_EQ(FileURL("/My Help/caf\xC3\xA9#1?.html"), "file:///My%20Help/caf%C3%A9%231%3F.html");
}

TEST(HelpViewer, OpensWithoutWaitingForTheBrowserAndQuietly) {
  TEnvOverride Quiet("VARNIX_HELP_VERBOSE", std::nullopt);
  TFakeOpener Opener(/*Gated=*/true);
  TTempDir Out;
  const std::string URL = "file:///tmp/it's \"quoted\" $(echo injected)";
  {
    TCaptureFd Err(2, Out / "stderr"), StdOut(1, Out / "stdout");
    ASSERT_TRUE(OpenURL(URL));
    // OpenURL has returned while the opener still waits for the release: nothing blocked.
    EXPECT_FALSE(testing::FileExists(Opener.Done()));
    Opener.Open();
    ASSERT_TRUE(WaitForFile(Opener.Done()));
  }
  EXPECT_EQ(Opener.Opened(), std::vector<std::string>{URL}) << "the URL arrives as one argument, unchanged";
  EXPECT_EQ(ReadFile(Out / "stderr"), "");
  EXPECT_EQ(ReadFile(Out / "stdout"), "");
}

TEST(HelpViewer, VerboseModeLetsTheOpenersMessagesThrough) {
  TEnvOverride Verbose("VARNIX_HELP_VERBOSE", "1");
  TFakeOpener Opener;
  TTempDir Out;
  {
    TCaptureFd Err(2, Out / "stderr");
    ASSERT_TRUE(OpenURL("file:///x.html"));
    ASSERT_TRUE(WaitForFile(Opener.Done()));
  }
  const std::string Err = ReadFile(Out / "stderr");
  EXPECT_NE(Err.find("file:///x.html"), std::string::npos) << Err;
  EXPECT_NE(Err.find("opener-stderr-noise"), std::string::npos) << Err;
}

}  // namespace
}  // namespace varnix
