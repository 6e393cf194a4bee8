// A thread-safe diagnostic text log that appends one CR LF terminated line per message, and the
// debug-message hook. Nothing in normal operation writes a log; both serve diagnostic code.
#pragma once

#include <cstdarg>
#include <string>

#include "common/CommonClasses.h"

namespace varnix {

enum TLogFileTime { lfTimeOff, lfTimeAndDate, lfTimePrecise };

class TLogFile : public TLockedObject {
 public:
  explicit TLogFile(std::string FileName);

  // Appends an empty line separating runs when the file exists; writes nothing otherwise.
  // File errors propagate.
  void Start();
  // Deletes the file; a failed deletion is ignored.
  void Clear();
  // Appends one line; file errors are swallowed and the line is lost.
  void Log(const std::string& Message);
  // Formats like printf and logs the result.
  void LogFmt(const char* Format, ...) __attribute__((format(printf, 2, 3)));

  bool Active = true;
  std::string FileName;
  bool ShowThreadID = false;
  TLogFileTime TimeStamp = lfTimeOff;

 private:
  bool Enabled() const { return Active && !FileName.empty(); }
};

// The debug hook: discards the message.
void LogDebugMessage(const std::string& Message);
// Formats "[%p] %s" from the object's address and the message and passes it on.
void LogDebugMessage(const void* Object, const std::string& Message);

// printf-style formatting into a string.
std::string Format(const char* Fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* Fmt, va_list Args);

}  // namespace varnix
