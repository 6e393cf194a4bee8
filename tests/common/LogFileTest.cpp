#include "common/LogFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace varnix {
namespace {

std::string ReadAll(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/varnix-log-XXXXXX";
    Dir = mkdtemp(Template);
    Path = Dir + "/test.log";
  }
  void TearDown() override {
    std::remove(Path.c_str());
    rmdir(Dir.c_str());
  }
  std::string Dir, Path;
};

TEST_F(LogFileTest, LinesEndWithCrLfAndStartSeparatesRuns) {
  TLogFile Log(Path);
  Log.Start();
  EXPECT_NE(access(Path.c_str(), F_OK), 0) << "Start creates nothing";
  Log.Log("abc");
  EXPECT_EQ(ReadAll(Path), "abc\r\n");
  Log.Start();
  Log.LogFmt("%d-%s", 7, "x");
  EXPECT_EQ(ReadAll(Path), "abc\r\n\r\n7-x\r\n");
  Log.Clear();
  EXPECT_NE(access(Path.c_str(), F_OK), 0);
  Log.Clear();  // a failed deletion is ignored
}

TEST_F(LogFileTest, ThreadPrefixInsideTimeStamp) {
  TLogFile Log(Path);
  Log.ShowThreadID = true;
  Log.TimeStamp = lfTimePrecise;
  Log.Log("hello");
  const std::string Text = ReadAll(Path);
  // h:nn:ss.zzz: Thread N: hello CR LF
  int H, M, S, Ms, Tid, Used = 0;
  ASSERT_EQ(std::sscanf(Text.c_str(), "%d:%2d:%2d.%3d: Thread %d: %n", &H, &M, &S, &Ms, &Tid, &Used), 5) << Text;
  EXPECT_EQ(Text.substr(static_cast<size_t>(Used)), "hello\r\n");
  EXPECT_EQ(Text.find(':'), H < 10 ? 1u : 2u) << "hours without a leading zero";
  EXPECT_EQ(Text[Text.find('.') + 4], ':') << "three millisecond digits";
}

TEST_F(LogFileTest, InactiveEmptyNameAndMissingFolderDoNothing) {
  TLogFile Empty("");
  Empty.Log("x");
  Empty.Start();
  TLogFile Missing(Dir + "/no/such/folder/log.txt");
  EXPECT_NO_THROW(Missing.Log("x"));
  TLogFile Inactive(Path);
  Inactive.Active = false;
  Inactive.Log("x");
  EXPECT_NE(access(Path.c_str(), F_OK), 0);
}

TEST_F(LogFileTest, LinesFromThreadsNeverInterleave) {
  TLogFile Log(Path);
  std::vector<std::thread> Threads;
  for (int t = 0; t < 4; ++t)
    Threads.emplace_back([&Log, t] {
      for (int i = 0; i < 200; ++i) Log.Log(std::string(50, static_cast<char>('a' + t)));
    });
  for (auto& T : Threads) T.join();
  std::istringstream Lines(ReadAll(Path));
  std::string Line;
  int Count = 0;
  while (std::getline(Lines, Line)) {
    ASSERT_EQ(Line.size(), 51u);
    EXPECT_EQ(Line.find_first_not_of(Line[0]), 50u);
    ++Count;
  }
  EXPECT_EQ(Count, 800);
}

TEST(LogFile, FormatsDebugMessageWithAddress) {
  EXPECT_EQ(Format("[%p] %s", reinterpret_cast<void*>(0x10), "m"), "[0x10] m");
  LogDebugMessage(reinterpret_cast<void*>(0x10), "discarded");
}

}  // namespace
}  // namespace varnix
