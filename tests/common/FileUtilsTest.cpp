#include "common/FileUtils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace varnix {
namespace {

TEST(FileUtils, AtomicWriteReplacesTheFileOrLeavesItAlone) {
  char Template[] = "/tmp/varnix-files-XXXXXX";
  const std::string Dir = mkdtemp(Template);
  const std::string Path = Dir + "/data.bin";
  bool Created = false;
  EXPECT_EQ(WriteFileAtomically(Path, std::string("first\0x", 7), &Created), 0);
  EXPECT_TRUE(Created);
  EXPECT_EQ(WriteFileAtomically(Path, "second"), 0);
  std::ifstream In(Path, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  EXPECT_EQ(S.str(), "second");
  struct stat St;
  ASSERT_EQ(stat(Path.c_str(), &St), 0);
  EXPECT_EQ(St.st_mode & 0777, NewFileMode()) << "not the 0600 of a temporary file";

  EXPECT_EQ(WriteFileAtomically(Dir + "/missing/data.bin", "x", &Created), ENOENT);
  EXPECT_FALSE(Created);
  // Nothing but the one file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir), std::filesystem::directory_iterator()), 1);
  std::filesystem::remove_all(Dir);
}

}  // namespace
}  // namespace varnix
