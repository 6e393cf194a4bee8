#include "platform/os/Preferences.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <vector>

#include "common/TextEncoding.h"

namespace varnix {

// ---------------------------------------------------------------------------------------------
// TPrefValue

TPrefValue::TPrefValue(const TPrefValue& Other)
    : FType(Other.FType),
      FInteger(Other.FInteger),
      FText(Other.FText),
      FDictionary(Other.FDictionary ? std::make_unique<TPrefDictionary>(*Other.FDictionary) : nullptr) {}

TPrefValue& TPrefValue::operator=(const TPrefValue& Other) {
  if (this != &Other) {
    TPrefValue Copy(Other);
    *this = std::move(Copy);
  }
  return *this;
}

TPrefValue::~TPrefValue() = default;

TPrefValue TPrefValue::Integer(int32_t Value) {
  TPrefValue V;
  V.FType = pvInteger;
  V.FInteger = Value;
  return V;
}

TPrefValue TPrefValue::String(const std::string& Text) { return Utf8String(Latin1ToUtf8(Text)); }

TPrefValue TPrefValue::Utf8String(std::string Text) {
  TPrefValue V;
  V.FType = pvString;
  V.FText = std::move(Text);
  return V;
}

TPrefValue TPrefValue::Dictionary(TPrefDictionary Values) {
  TPrefValue V;
  V.FType = pvDictionary;
  V.FDictionary = std::make_unique<TPrefDictionary>(std::move(Values));
  return V;
}

TPrefValue TPrefValue::Other(std::string JsonText) {
  TPrefValue V;
  V.FType = pvOther;
  V.FText = std::move(JsonText);
  return V;
}

std::string TPrefValue::StringValue() const {
  std::string Text;
  Utf8ToLatin1(FText, Text);  // leaves Text empty when the conversion fails
  return Text;
}

bool operator==(const TPrefValue& A, const TPrefValue& B) {
  if (A.FType != B.FType) return false;
  switch (A.FType) {
    case pvInteger:
      return A.FInteger == B.FInteger;
    case pvDictionary:
      return *A.FDictionary == *B.FDictionary;
    default:
      return A.FText == B.FText;
  }
}

// ---------------------------------------------------------------------------------------------
// Files

namespace {

using nlohmann::json;

// Deeper nesting than this is not something this system writes; such a file is treated as
// corrupt rather than risking the stack in the recursive conversions below.
constexpr int MaxNesting = 200;

TPrefValue FromJson(const json& J) {
  if (J.is_number_integer()) {
    if (J.is_number_unsigned()) {
      const auto U = J.get<uint64_t>();
      if (U <= static_cast<uint64_t>(INT32_MAX)) return TPrefValue::Integer(static_cast<int32_t>(U));
    } else {
      const auto I = J.get<int64_t>();
      if (I >= INT32_MIN && I <= INT32_MAX) return TPrefValue::Integer(static_cast<int32_t>(I));
    }
    return TPrefValue::Other(J.dump());
  }
  if (J.is_string()) return TPrefValue::Utf8String(J.get<std::string>());
  if (J.is_object()) {
    TPrefDictionary D;
    for (auto It = J.begin(); It != J.end(); ++It) D.emplace(It.key(), FromJson(It.value()));
    return TPrefValue::Dictionary(std::move(D));
  }
  return TPrefValue::Other(J.dump());
}

json ToJson(const TPrefValue& V) {
  switch (V.Type()) {
    case pvInteger:
      return json(V.IntegerValue());
    case pvString:
      return json(V.Utf8Value());
    case pvDictionary: {
      json J = json::object();
      for (const auto& [Name, Item] : V.DictionaryValue()) J[Name] = ToJson(Item);
      return J;
    }
    case pvOther:
      break;
  }
  json J = json::parse(V.Utf8Value(), nullptr, false);
  return J.is_discarded() ? json() : J;
}

enum TReadResult { rrMissing, rrRead, rrCorrupt };

// Reads and parses the file. rrCorrupt covers both a file that cannot be read and one whose
// content is not a JSON object.
TReadResult ReadDomainFile(const std::string& Path, TPrefDictionary& Values) {
  Values.clear();
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return errno == ENOENT ? rrMissing : rrCorrupt;
  std::string Text;
  char Buffer[65536];
  for (;;) {
    const ssize_t N = ::read(Fd, Buffer, sizeof Buffer);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) {
      ::close(Fd);
      return rrCorrupt;
    }
    if (N == 0) break;
    Text.append(Buffer, static_cast<size_t>(N));
  }
  ::close(Fd);
  bool TooDeep = false;
  const json::parser_callback_t Watch = [&TooDeep](int Depth, json::parse_event_t, json&) {
    if (Depth > MaxNesting) TooDeep = true;
    return !TooDeep;  // stop keeping values once the limit is passed
  };
  const json J = json::parse(Text, Watch, false);
  if (TooDeep || J.is_discarded() || !J.is_object()) return rrCorrupt;
  TPrefValue Root = FromJson(J);
  Values = std::move(Root.DictionaryValue());
  return rrRead;
}

std::string LocalTimeStamp() {
  const std::time_t T = std::time(nullptr);
  std::tm Local{};
  localtime_r(&T, &Local);
  char Text[32];
  std::strftime(Text, sizeof Text, "%Y%m%d-%H%M%S", &Local);
  return Text;
}

// Renames the file to a timestamped name that is not taken yet.
bool MoveAside(const std::string& Path) {
  const std::string Base = Path + ".corrupt-" + LocalTimeStamp();
  for (int I = 0; I < 1000; ++I) {
    const std::string Target = I == 0 ? Base : Base + "-" + std::to_string(I);
    // link refuses an existing target, so no earlier copy can be overwritten.
    if (::link(Path.c_str(), Target.c_str()) == 0) {
      ::unlink(Path.c_str());
      return true;
    }
    if (errno == EEXIST) continue;
    // File systems without hard links: check, then rename.
    struct stat St;
    if (::lstat(Target.c_str(), &St) == 0) continue;
    return ::rename(Path.c_str(), Target.c_str()) == 0;
  }
  return false;
}

bool WriteAll(int Fd, const std::string& Text) {
  size_t Done = 0;
  while (Done < Text.size()) {
    const ssize_t N = ::write(Fd, Text.data() + Done, Text.size() - Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return false;
    Done += static_cast<size_t>(N);
  }
  return true;
}

// Writes Values to a temporary file beside Path, flushes it and renames it over Path.
bool WriteDomainFile(const std::string& Path, int DirFd, const TPrefDictionary& Values) {
  static std::atomic<unsigned> Counter{0};
  const std::string Text =
      ToJson(TPrefValue::Dictionary(Values)).dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  const std::string Temp =
      Path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(Counter.fetch_add(1));
  const int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (Fd < 0) return false;
  bool Ok = WriteAll(Fd, Text) && ::fsync(Fd) == 0;
  Ok = (::close(Fd) == 0) && Ok;
  Ok = Ok && ::rename(Temp.c_str(), Path.c_str()) == 0;
  if (!Ok) {
    ::unlink(Temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  if (DirFd >= 0) ::fsync(DirFd);
  return true;
}

bool MakeDirectories(const std::string& Dir) {
  struct stat St;
  if (::stat(Dir.c_str(), &St) == 0) return S_ISDIR(St.st_mode);
  const size_t Slash = Dir.find_last_of('/');
  if (Slash != std::string::npos && Slash > 0 && !MakeDirectories(Dir.substr(0, Slash))) return false;
  return ::mkdir(Dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// The advisory lock that serialises the file work of processes: flock on the folder itself, so
// no lock file is left behind. Without a folder (or where flock is not supported) the work goes
// on unlocked; the atomic rename still keeps the file whole.
class TFolderLock {
 public:
  explicit TFolderLock(const std::string& Dir) {
    FFd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (FFd >= 0) {
      while (::flock(FFd, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~TFolderLock() {
    if (FFd >= 0) ::close(FFd);  // closing releases the lock
  }
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;
  int Fd() const { return FFd; }

 private:
  int FFd = -1;
};

// ---------------------------------------------------------------------------------------------
// The process-wide cache

struct TDomain {
  bool Loaded = false;
  // False while the file can be neither read nor moved aside: it must not be replaced.
  bool Writable = true;
  TPrefDictionary Values;
  // Changes not yet in the file; an empty value is a removal.
  std::map<std::string, std::optional<TPrefValue>> Pending;
};

struct TStore {
  std::mutex Lock;
  // Keyed by file name, so a test that moves the folder gets fresh domains.
  std::map<std::string, TDomain> Domains;
};

TStore& Store() {
  // Never destroyed: settings may still be written by objects freed during program exit.
  static TStore* S = new TStore;
  return *S;
}

std::string DirectoryOf(const std::string& Path) { return Path.substr(0, Path.find_last_of('/')); }

// Loads the file's current content, moving a corrupt file aside. Runs under the folder lock.
TPrefDictionary LoadFromDisk(const std::string& Path, TDomain& Domain) {
  TPrefDictionary Values;
  Domain.Writable = true;
  if (ReadDomainFile(Path, Values) == rrCorrupt) {
    Values.clear();
    Domain.Writable = MoveAside(Path);
  }
  return Values;
}

// The domain for ApplicationID, loaded; nullptr when the identifier names no file. Runs under
// Store().Lock.
TDomain* FindDomain(const std::string& ApplicationID, std::string& Path) {
  Path = PreferencesFileName(ApplicationID);
  if (Path.empty()) return nullptr;
  TDomain& Domain = Store().Domains[Path];
  if (!Domain.Loaded) {
    TFolderLock FolderLock(DirectoryOf(Path));
    Domain.Values = LoadFromDisk(Path, Domain);
    Domain.Loaded = true;
  }
  return &Domain;
}

bool ValidApplicationID(const std::string& ID) {
  return !ID.empty() && ID != "." && ID != ".." && ID.find('/') == std::string::npos &&
         ID.find('\0') == std::string::npos;
}

std::string HomeDirectory() {
  if (const char* Home = std::getenv("HOME"); Home && *Home) return Home;
  std::vector<char> Buffer(16384);
  passwd Entry{};
  passwd* Found = nullptr;
  if (::getpwuid_r(::getuid(), &Entry, Buffer.data(), Buffer.size(), &Found) == 0 && Found && Found->pw_dir)
    return Found->pw_dir;
  return {};
}

}  // namespace

std::string PreferencesDirectory() {
  if (const char* Dir = std::getenv("VARNIX_PREFS_DIR"); Dir && *Dir) return Dir;
  if (const char* Dir = std::getenv("XDG_CONFIG_HOME"); Dir && Dir[0] == '/') return Dir;
  const std::string Home = HomeDirectory();
  return Home.empty() ? std::string() : Home + "/.config";
}

std::string PreferencesFileName(const std::string& ApplicationID) {
  if (!ValidApplicationID(ApplicationID)) return {};
  std::string Dir = PreferencesDirectory();
  if (Dir.empty()) return {};
  while (Dir.size() > 1 && Dir.back() == '/') Dir.pop_back();
  return Dir + "/" + ApplicationID + ".json";
}

std::optional<TPrefValue> PreferencesCopyAppValue(const std::string& Name, const std::string& ApplicationID) {
  std::lock_guard Guard(Store().Lock);
  std::string Path;
  TDomain* Domain = FindDomain(ApplicationID, Path);
  if (!Domain) return std::nullopt;
  const auto It = Domain->Values.find(Name);
  if (It == Domain->Values.end()) return std::nullopt;
  return It->second;
}

void PreferencesSetAppValue(const std::string& Name, std::optional<TPrefValue> Value,
                            const std::string& ApplicationID) {
  std::lock_guard Guard(Store().Lock);
  std::string Path;
  TDomain* Domain = FindDomain(ApplicationID, Path);
  if (!Domain) return;
  if (Value)
    Domain->Values[Name] = *Value;
  else
    Domain->Values.erase(Name);
  Domain->Pending[Name] = std::move(Value);
}

bool PreferencesAppSynchronize(const std::string& ApplicationID) {
  std::lock_guard Guard(Store().Lock);
  const std::string Path = PreferencesFileName(ApplicationID);
  if (Path.empty()) return false;
  TDomain& Domain = Store().Domains[Path];
  const std::string Dir = DirectoryOf(Path);
  if (!Domain.Pending.empty()) MakeDirectories(Dir);

  TFolderLock FolderLock(Dir);
  TPrefDictionary Values = LoadFromDisk(Path, Domain);
  for (const auto& [Name, Value] : Domain.Pending) {
    if (Value)
      Values[Name] = *Value;
    else
      Values.erase(Name);
  }
  bool Ok = true;
  if (!Domain.Pending.empty()) {
    Ok = Domain.Writable && WriteDomainFile(Path, FolderLock.Fd(), Values);
    if (Ok) Domain.Pending.clear();
  }
  Domain.Values = std::move(Values);
  Domain.Loaded = true;
  return Ok;
}

}  // namespace varnix
