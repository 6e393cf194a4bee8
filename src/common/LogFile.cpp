#include "common/LogFile.h"

#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>
#include <vector>

namespace varnix {

namespace {

// Appends Text to Path, creating the file when needed. Answers false on any error.
bool AppendToFile(const std::string& Path, const std::string& Text) {
  FILE* F = std::fopen(Path.c_str(), "ab");
  if (!F) return false;
  const bool Ok = std::fwrite(Text.data(), 1, Text.size(), F) == Text.size();
  return std::fclose(F) == 0 && Ok;
}

std::string TimeOfDayPrecise() {
  timeval Tv{};
  gettimeofday(&Tv, nullptr);
  std::tm Local{};
  localtime_r(&Tv.tv_sec, &Local);
  return Format("%d:%02d:%02d.%03d", Local.tm_hour, Local.tm_min, Local.tm_sec,
                static_cast<int>(Tv.tv_usec / 1000));
}

std::string DateAndTime() {
  const std::time_t T = std::time(nullptr);
  std::tm Local{};
  localtime_r(&T, &Local);
  char Buffer[64];
  std::strftime(Buffer, sizeof Buffer, "%x %X", &Local);
  return Buffer;
}

}  // namespace

std::string FormatV(const char* Fmt, va_list Args) {
  va_list Copy;
  va_copy(Copy, Args);
  const int N = std::vsnprintf(nullptr, 0, Fmt, Copy);
  va_end(Copy);
  if (N <= 0) return std::string();
  std::string Result(static_cast<size_t>(N), '\0');
  std::vsnprintf(Result.data(), Result.size() + 1, Fmt, Args);
  return Result;
}

std::string Format(const char* Fmt, ...) {
  va_list Args;
  va_start(Args, Fmt);
  std::string Result = FormatV(Fmt, Args);
  va_end(Args);
  return Result;
}

TLogFile::TLogFile(std::string AFileName) : FileName(std::move(AFileName)) {}

void TLogFile::Start() {
  if (!Enabled()) return;
  TLockGuard<TLogFile> Guard(*this);
  if (access(FileName.c_str(), F_OK) != 0) return;
  if (!AppendToFile(FileName, "\r\n"))
    throw std::system_error(errno, std::generic_category(), "cannot write log file " + FileName);
}

void TLogFile::Clear() {
  if (!Enabled()) return;
  std::remove(FileName.c_str());
}

void TLogFile::Log(const std::string& Message) {
  if (!Enabled()) return;
  // The line is formatted before the lock is taken; the thread prefix goes inside the time stamp.
  std::string Line = Message + "\r\n";
  if (ShowThreadID) Line = Format("Thread %d: %s", static_cast<int>(gettid()), Line.c_str());
  if (TimeStamp == lfTimeAndDate)
    Line = DateAndTime() + ": " + Line;
  else if (TimeStamp == lfTimePrecise)
    Line = TimeOfDayPrecise() + ": " + Line;
  TLockGuard<TLogFile> Guard(*this);
  AppendToFile(FileName, Line);
}

void TLogFile::LogFmt(const char* Fmt, ...) {
  va_list Args;
  va_start(Args, Fmt);
  std::string Text = FormatV(Fmt, Args);
  va_end(Args);
  Log(Text);
}

void LogDebugMessage(const std::string&) {}

void LogDebugMessage(const void* Object, const std::string& Message) {
  LogDebugMessage(Format("[%p] %s", Object, Message.c_str()));
}

}  // namespace varnix
