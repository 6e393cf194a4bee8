#include "platform/os/Preferences.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>
#include <nlohmann/json.hpp>

#include "platform/os/OsTestSupport.h"

namespace varnix {
namespace {

using nlohmann::json;
using testing::FileExists;
using testing::ListFolder;
using testing::ReadFile;
using testing::TEnvOverride;
using testing::TTempDir;
using testing::WriteFile;

constexpr const char* ID = "com.varnix.test";

// Every test works in a folder of its own, so the process-wide cache starts empty for it.
class PreferencesTest : public ::testing::Test {
 protected:
  std::string File() const { return FDir / (std::string(ID) + ".json"); }
  json ReadJson() const { return json::parse(ReadFile(File())); }
  // Names in the folder other than the domain's file.
  std::vector<std::string> Others() const {
    std::vector<std::string> Names;
    for (const auto& Name : ListFolder(FDir.Path()))
      if (Name != std::string(ID) + ".json") Names.push_back(Name);
    return Names;
  }

  TTempDir FDir;
  TEnvOverride FPrefsDir{"VARNIX_PREFS_DIR", FDir.Path()};
};

TEST_F(PreferencesTest, ValuesKeepTheirTypesInTheFile) {
  TPrefDictionary Inner{{"Depth", TPrefValue::Integer(2)}};
  PreferencesSetAppValue("Count", TPrefValue::Integer(-7), ID);
  PreferencesSetAppValue("Name", TPrefValue::String("caf\xE9"), ID);
  PreferencesSetAppValue("Nested", TPrefValue::Dictionary({{"Inner", TPrefValue::Dictionary(Inner)}}), ID);
  ASSERT_TRUE(PreferencesAppSynchronize(ID));

  const json J = ReadJson();
  EXPECT_TRUE(J["Count"].is_number_integer());
  EXPECT_EQ(J["Count"], -7);
  EXPECT_EQ(J["Name"], "caf\xC3\xA9");
  EXPECT_EQ(J["Nested"]["Inner"]["Depth"], 2);
  EXPECT_TRUE(Others().empty()) << "no temporary file is left behind";
}

TEST_F(PreferencesTest, ReadsAFileWrittenElsewhere) {
  // Hand-edited values of other JSON types are kept through a write, and read as pvOther.
  WriteFile(File(), R"({"I": 42, "S": "\u00e9t\u00e9", "D": {"X": 1}, "F": 2.5, "B": true,
                       "Big": 4294967296, "A": [1, 2]})");
  ASSERT_TRUE(PreferencesAppSynchronize(ID));  // refreshes the cache

  EXPECT_EQ(PreferencesCopyAppValue("I", ID), TPrefValue::Integer(42));
  const auto S = PreferencesCopyAppValue("S", ID);
  ASSERT_TRUE(S);
  ASSERT_EQ(S->Type(), pvString);
  EXPECT_EQ(S->StringValue(), "\xE9t\xE9");
  const auto D = PreferencesCopyAppValue("D", ID);
  ASSERT_TRUE(D);
  ASSERT_EQ(D->Type(), pvDictionary);
  EXPECT_EQ(D->DictionaryValue().at("X"), TPrefValue::Integer(1));
  for (const char* Name : {"F", "B", "Big", "A"}) {
    SCOPED_TRACE(Name);
    const auto V = PreferencesCopyAppValue(Name, ID);
    ASSERT_TRUE(V);
    EXPECT_EQ(V->Type(), pvOther);
  }
  EXPECT_FALSE(PreferencesCopyAppValue("Missing", ID));

  PreferencesSetAppValue("I", TPrefValue::Integer(43), ID);
  ASSERT_TRUE(PreferencesAppSynchronize(ID));
  const json J = ReadJson();
  EXPECT_EQ(J["I"], 43);
  EXPECT_EQ(J["F"], 2.5);
  EXPECT_EQ(J["B"], true);
  EXPECT_EQ(J["Big"], 4294967296LL);
  EXPECT_EQ(J["A"], json({1, 2}));
}

TEST_F(PreferencesTest, AStringOutsideTheCodePageReadsEmpty) {
  WriteFile(File(), R"({"S": "\u03a9mega"})");
  ASSERT_TRUE(PreferencesAppSynchronize(ID));
  const auto S = PreferencesCopyAppValue("S", ID);
  ASSERT_TRUE(S);
  EXPECT_EQ(S->Type(), pvString);
  EXPECT_EQ(S->StringValue(), "");
}

TEST_F(PreferencesTest, SynchronisingMergesOnlyThisProcessesChanges) {
  PreferencesSetAppValue("Mine", TPrefValue::Integer(1), ID);
  PreferencesSetAppValue("Gone", TPrefValue::Integer(2), ID);
  ASSERT_TRUE(PreferencesAppSynchronize(ID));

  // Another process adds a value and changes one of ours after we loaded the file.
  WriteFile(File(), R"({"Mine": 1, "Gone": 2, "Theirs": 3})");
  PreferencesSetAppValue("Mine", TPrefValue::Integer(10), ID);
  PreferencesSetAppValue("Gone", std::nullopt, ID);
  EXPECT_FALSE(PreferencesCopyAppValue("Gone", ID)) << "a removal is visible at once";
  ASSERT_TRUE(PreferencesAppSynchronize(ID));

  EXPECT_EQ(ReadJson(), json({{"Mine", 10}, {"Theirs", 3}}));
  EXPECT_EQ(PreferencesCopyAppValue("Theirs", ID), TPrefValue::Integer(3)) << "the cache was refreshed";
}

TEST_F(PreferencesTest, AFailedWriteLeavesTheOldFileIntact) {
  PreferencesSetAppValue("Old", TPrefValue::Integer(1), ID);
  ASSERT_TRUE(PreferencesAppSynchronize(ID));
  const std::string Before = ReadFile(File());

  // A file-size limit makes the write of the temporary file fail part way, as a full disk would.
  PreferencesSetAppValue("Big", TPrefValue::String(std::string(100000, 'x')), ID);
  struct sigaction Ignore {}, OldAction {};
  Ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &Ignore, &OldAction);
  rlimit OldLimit{};
  getrlimit(RLIMIT_FSIZE, &OldLimit);
  rlimit Small = OldLimit;
  Small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &Small);
  const bool Written = PreferencesAppSynchronize(ID);
  setrlimit(RLIMIT_FSIZE, &OldLimit);
  sigaction(SIGXFSZ, &OldAction, nullptr);

  EXPECT_FALSE(Written);
  EXPECT_EQ(ReadFile(File()), Before);
  EXPECT_TRUE(Others().empty()) << "the partial temporary file was removed";
  ASSERT_TRUE(PreferencesCopyAppValue("Big", ID)) << "the change is still in the cache";

  // The change stayed pending and is written once writing works again.
  ASSERT_TRUE(PreferencesAppSynchronize(ID));
  const json J = ReadJson();
  EXPECT_EQ(J["Old"], 1);
  EXPECT_EQ(J["Big"].get<std::string>().size(), 100000u);
}

TEST_F(PreferencesTest, ACorruptFileIsKeptAsideAndReadsEmpty) {
  struct Case {
    const char* Name;
    std::string Content;
  } Cases[] = {
      {"not JSON", R"({"Left": 10, "Top")"},
      {"not an object", "[1, 2, 3]"},
      {"empty", ""},
      {"invalid UTF-8", "{\"S\": \"\xFF\"}"},
      {"nested too deep", "{\"A\": " + std::string(1000, '[') + std::string(1000, ']') + "}"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TTempDir Dir;
    TEnvOverride Prefs("VARNIX_PREFS_DIR", Dir.Path());
    const std::string Path = Dir / (std::string(ID) + ".json");
    WriteFile(Path, C.Content);

    EXPECT_FALSE(PreferencesCopyAppValue("Left", ID));
    ASSERT_FALSE(FileExists(Path));
    auto Names = ListFolder(Dir.Path());
    ASSERT_EQ(Names.size(), 1u);
    EXPECT_EQ(Names[0].rfind(std::string(ID) + ".json.corrupt-", 0), 0u) << Names[0];
    EXPECT_EQ(ReadFile(Dir / Names[0]), C.Content);

    // The next write starts a fresh file and leaves the kept copy alone.
    PreferencesSetAppValue("Left", TPrefValue::Integer(5), ID);
    ASSERT_TRUE(PreferencesAppSynchronize(ID));
    EXPECT_EQ(json::parse(ReadFile(Path)), json({{"Left", 5}}));
    EXPECT_EQ(ReadFile(Dir / Names[0]), C.Content);
  }
}

TEST_F(PreferencesTest, ASecondCorruptFileDoesNotReplaceTheFirstKeptCopy) {
  WriteFile(File(), "first");
  ASSERT_TRUE(PreferencesAppSynchronize(ID));
  WriteFile(File(), "second");
  ASSERT_TRUE(PreferencesAppSynchronize(ID));

  std::vector<std::string> Kept;
  for (const auto& Name : Others()) Kept.push_back(ReadFile(FDir / Name));
  std::sort(Kept.begin(), Kept.end());
  EXPECT_EQ(Kept, (std::vector<std::string>{"first", "second"}));
}

TEST_F(PreferencesTest, ConcurrentWritersNeitherCorruptNorLoseEachOthersValues) {
  constexpr int Rounds = 40;
  std::vector<pid_t> Children;
  for (int Child = 0; Child < 2; ++Child) {
    const pid_t Pid = fork();
    ASSERT_GE(Pid, 0);
    if (Pid == 0) {
      const std::string Mine = "Counter" + std::to_string(Child);
      bool Ok = true;
      for (int I = 1; I <= Rounds; ++I) {
        PreferencesSetAppValue(Mine, TPrefValue::Integer(I), ID);
        PreferencesSetAppValue("Shared", TPrefValue::String(std::string(2000 + Child, 'a' + Child)), ID);
        Ok = PreferencesAppSynchronize(ID) && Ok;
      }
      _exit(Ok ? 0 : 1);
    }
    Children.push_back(Pid);
  }
  for (const pid_t Pid : Children) {
    int Status = 0;
    ASSERT_EQ(waitpid(Pid, &Status, 0), Pid);
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
  }

  const json J = ReadJson();  // throws when the file is not whole
  EXPECT_EQ(J["Counter0"], Rounds);
  EXPECT_EQ(J["Counter1"], Rounds);
  const std::string Shared = J["Shared"];
  EXPECT_TRUE(Shared == std::string(2000, 'a') || Shared == std::string(2001, 'b'));
  EXPECT_TRUE(Others().empty());
}

TEST(PreferencesLocation, FollowsTheEnvironment) {
  struct Case {
    const char* Name;
    std::optional<std::string> PrefsDir, XdgConfigHome, Home;
    std::string Expected;
  } Cases[] = {
      {"test override wins", "/tmp/prefs", "/xdg", "/home/u", "/tmp/prefs"},
      {"XDG_CONFIG_HOME", std::nullopt, "/xdg", "/home/u", "/xdg"},
      {"relative XDG_CONFIG_HOME is ignored", std::nullopt, "xdg", "/home/u", "/home/u/.config"},
      {"empty override is ignored", "", std::nullopt, "/home/u", "/home/u/.config"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TEnvOverride A("VARNIX_PREFS_DIR", C.PrefsDir), B("XDG_CONFIG_HOME", C.XdgConfigHome), H("HOME", C.Home);
    EXPECT_EQ(PreferencesDirectory(), C.Expected);
    EXPECT_EQ(PreferencesFileName("com.x"), C.Expected + "/com.x.json");
  }
}

TEST(PreferencesLocation, IdentifiersThatCannotNameAFileAreRefused) {
  TTempDir Dir;
  TEnvOverride Prefs("VARNIX_PREFS_DIR", Dir.Path());
  for (const std::string& Bad : {std::string(), std::string("."), std::string(".."), std::string("com.a/../b"),
                                std::string("com.a\0b", 7)}) {
    SCOPED_TRACE(Bad);
    EXPECT_EQ(PreferencesFileName(Bad), "");
    PreferencesSetAppValue("V", TPrefValue::Integer(1), Bad);
    EXPECT_FALSE(PreferencesCopyAppValue("V", Bad));
    EXPECT_FALSE(PreferencesAppSynchronize(Bad));
  }
  EXPECT_TRUE(ListFolder(Dir.Path()).empty());
}

}  // namespace
}  // namespace varnix
