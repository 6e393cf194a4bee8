#include "common/FileUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace varnix {

mode_t NewFileMode() {
  mode_t Mask = 022;
  if (FILE* Status = std::fopen("/proc/self/status", "r")) {
    char Line[256];
    while (std::fgets(Line, sizeof Line, Status)) {
      unsigned Value;
      if (std::sscanf(Line, "Umask: %o", &Value) == 1) {
        Mask = static_cast<mode_t>(Value);
        break;
      }
    }
    std::fclose(Status);
  }
  return 0666 & ~Mask;
}

int WriteFileAtomically(const std::string& Target, const std::string& Data, bool* Created) {
  std::string Temp = Target + ".tmp-XXXXXX";
  const int Fd = mkstemp(Temp.data());
  if (Created) *Created = Fd >= 0;
  if (Fd < 0) return errno;
  const char* P = Data.data();
  size_t Left = Data.size();
  int Error = 0;
  while (Left > 0) {
    const ssize_t N = write(Fd, P, Left);
    if (N < 0) {
      if (errno == EINTR) continue;
      Error = errno;
      break;
    }
    P += N;
    Left -= static_cast<size_t>(N);
  }
  if (Error == 0 && fchmod(Fd, NewFileMode()) != 0) Error = errno;
  if (Error == 0 && fsync(Fd) != 0) Error = errno;
  if (close(Fd) != 0 && Error == 0) Error = errno;
  if (Error == 0 && std::rename(Temp.c_str(), Target.c_str()) != 0) Error = errno;
  if (Error != 0) unlink(Temp.c_str());
  return Error;
}

}  // namespace varnix
