// Fixtures shared by the tests of the OS services and of the settings: scratch folders,
// environment overrides, files, and a stand-in for the desktop's URL opener.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace varnix::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "varnix-test-XXXXXX").string();
    if (!::mkdtemp(Pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = Pattern;
  }
  ~TTempDir() {
    std::error_code Ec;
    std::filesystem::remove_all(FPath, Ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& Name) const { return FPath + "/" + Name; }

 private:
  std::string FPath;
};

// Sets (or, with nullopt, unsets) an environment variable for the lifetime of the object.
class TEnvOverride {
 public:
  TEnvOverride(std::string Name, const std::optional<std::string>& Value) : FName(std::move(Name)) {
    if (const char* Old = std::getenv(FName.c_str())) FOld = Old;
    if (Value)
      ::setenv(FName.c_str(), Value->c_str(), 1);
    else
      ::unsetenv(FName.c_str());
  }
  ~TEnvOverride() {
    if (FOld)
      ::setenv(FName.c_str(), FOld->c_str(), 1);
    else
      ::unsetenv(FName.c_str());
  }
  TEnvOverride(const TEnvOverride&) = delete;
  TEnvOverride& operator=(const TEnvOverride&) = delete;

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

inline void WriteFile(const std::string& Path, const std::string& Content) {
  std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out << Content;
  if (!Out) throw std::runtime_error("cannot write " + Path);
}

inline std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

inline bool FileExists(const std::string& Path) { return std::filesystem::exists(Path); }

// The names in a folder, sorted.
inline std::vector<std::string> ListFolder(const std::string& Path) {
  std::vector<std::string> Names;
  for (const auto& Entry : std::filesystem::directory_iterator(Path)) Names.push_back(Entry.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

// Polls until the file exists; false when it did not appear within the limit. The limit only
// bounds a hang; nothing is measured.
inline bool WaitForFile(const std::string& Path, std::chrono::seconds Limit = std::chrono::seconds(30)) {
  const auto End = std::chrono::steady_clock::now() + Limit;
  while (!FileExists(Path)) {
    if (std::chrono::steady_clock::now() > End) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A stand-in for the desktop's opener (xdg-open, or open on macOS), put first on PATH. Each run
// prints noise on its standard output and error output, waits until the test creates the
// file Release() names (when Gated), then appends its URL as one line to the log and creates
// the file Done() names.
class TFakeOpener {
 public:
  explicit TFakeOpener(bool Gated = false)
      : FPath("PATH", FDir.Path() + (std::getenv("PATH") ? std::string(":") + std::getenv("PATH") : std::string())) {
#ifdef __APPLE__
    const std::string Name = "open";
#else
    const std::string Name = "xdg-open";
#endif
    std::string Script = "#!/bin/sh\necho opener-stdout-noise\necho opener-stderr-noise >&2\n";
    if (Gated)
      Script += "n=0\nwhile [ ! -e '" + Release() + "' ] && [ $n -lt 600 ]; do sleep 0.05; n=$((n+1)); done\n";
    Script += "printf '%s\\n' \"$1\" >> '" + Log() + "'\n: > '" + Done() + "'\n";
    WriteFile(FDir / Name, Script);
    std::filesystem::permissions(FDir / Name, std::filesystem::perms::owner_all);
  }

  std::string Log() const { return FDir / "opened.log"; }
  std::string Done() const { return FDir / "done"; }
  std::string Release() const { return FDir / "release"; }
  void Open() const { WriteFile(Release(), ""); }
  // The URLs opened so far, one per run.
  std::vector<std::string> Opened() const {
    std::vector<std::string> Lines;
    std::istringstream In(ReadFile(Log()));
    for (std::string Line; std::getline(In, Line);) Lines.push_back(Line);
    return Lines;
  }

 private:
  TTempDir FDir;
  TEnvOverride FPath;
};

// Redirects a file descriptor (1 or 2) into a file while the object lives.
class TCaptureFd {
 public:
  TCaptureFd(int Fd, const std::string& File) : FFd(Fd) {
    ::fflush(nullptr);
    FSaved = ::dup(Fd);
    const int Target = ::open(File.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(Target, Fd);
    ::close(Target);
  }
  ~TCaptureFd() { Restore(); }
  void Restore() {
    if (FSaved < 0) return;
    ::fflush(nullptr);
    ::dup2(FSaved, FFd);
    ::close(FSaved);
    FSaved = -1;
  }
  TCaptureFd(const TCaptureFd&) = delete;
  TCaptureFd& operator=(const TCaptureFd&) = delete;

 private:
  int FFd;
  int FSaved = -1;
};

}  // namespace varnix::testing
