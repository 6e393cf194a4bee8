#include "platform/os/HelpViewer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace varnix {

namespace {

#ifdef __APPLE__
constexpr const char* Opener = "open";
#else
constexpr const char* Opener = "xdg-open";
#endif

}  // namespace

bool HelpVerbose() {
  const char* V = std::getenv("VARNIX_HELP_VERBOSE");
  return V && *V && std::strcmp(V, "0") != 0;
}

std::string FileURL(const std::string& Path) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string URL = "file://";
  for (char Ch : Path) {
    const auto C = static_cast<unsigned char>(Ch);
    if ((C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-' || C == '.' ||
        C == '_' || C == '~' || C == '/') {
      URL += Ch;
    } else {
      URL += '%';
      URL += Hex[C >> 4];
      URL += Hex[C & 15];
    }
  }
  return URL;
}

bool OpenURL(const std::string& URL) {
  const bool Loud = HelpVerbose();
  // A shell puts the opener in the background and ends at once; the opener is then adopted by
  // init, so no child is left for us to reap and nothing waits for the browser. The URL travels
  // as the shell's $1, never as part of the script.
  const std::string Script = std::string(Opener) + (Loud ? " \"$1\" &" : " \"$1\" </dev/null >/dev/null 2>&1 &");
  if (Loud) std::fprintf(stderr, "help: %s %s\n", Opener, URL.c_str());

  posix_spawn_file_actions_t Actions;
  if (posix_spawn_file_actions_init(&Actions) != 0) return false;
  if (!Loud) {
    posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&Actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&Actions, 2, "/dev/null", O_WRONLY, 0);
  }
  char Arg0[] = "sh";
  char Arg1[] = "-c";
  char Arg3[] = "help";
  char* Argv[] = {Arg0, Arg1, const_cast<char*>(Script.c_str()), Arg3, const_cast<char*>(URL.c_str()), nullptr};
  pid_t Pid = 0;
  const int Rc = posix_spawn(&Pid, "/bin/sh", &Actions, nullptr, Argv, environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (Rc != 0) {
    if (Loud) std::fprintf(stderr, "help: cannot start /bin/sh: %s\n", std::strerror(Rc));
    return false;
  }
  int Status = 0;
  while (::waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace varnix
