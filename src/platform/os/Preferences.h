// The per-user preference store: typed values (32-bit integers, texts and nested dictionaries)
// kept per application identifier (a "domain"), for the current user.
//
// Storage: one JSON file per domain, <directory>/<application identifier>.json, where the
// directory is
//   $VARNIX_PREFS_DIR when set and not empty (tests point it at a scratch folder),
//   else $XDG_CONFIG_HOME when it is an absolute path,
//   else ~/.config.
// Integers are JSON integers, texts JSON strings (UTF-8), dictionaries JSON objects. Values of
// other JSON types in a hand-edited file are kept as they are and read as pvOther.
//
// Model: each process keeps one cached copy of every domain it has touched. Reads come from the
// cache (loaded from the file on first use); PreferencesSetAppValue changes the cache and records
// the change as pending; PreferencesAppSynchronize merges the pending changes into the file's
// current content, writes the result and refreshes the cache. Only the values this process set
// or removed are changed in the file, so two processes that write different values of the same
// domain both keep theirs, and for the same value the last writer wins.
//
// Robustness:
//   * The file is replaced atomically: the new content goes to a temporary file in the same
//     folder, is flushed to the disk and then renamed over the old file. A crash or a full disk
//     leaves either the old or the new file, never a mixture or an empty file; when writing
//     fails the temporary file is removed and the old file stays as it was.
//   * Synchronisations of processes are serialised with an advisory lock on the folder, so the
//     read-merge-write of one cannot interleave with another's.
//   * A file that cannot be read or parsed is renamed to
//     "<application identifier>.json.corrupt-YYYYMMDD-HHMMSS" (local time, "-1", "-2", ...
//     appended when that name is taken) and the domain reads as empty. When the file cannot be
//     moved aside, the domain still reads as empty but is never written, so the file is kept.
//
// All functions are thread-safe; none raises for a file-system problem.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace varnix {

class TPrefValue;
// A dictionary of named values; names are UTF-8.
using TPrefDictionary = std::map<std::string, TPrefValue>;

enum TPrefType { pvInteger, pvString, pvDictionary, pvOther };

// One value of the store. A plain value type: copying copies nested dictionaries. The default
// value is the integer 0.
class TPrefValue {
 public:
  TPrefValue() = default;
  TPrefValue(const TPrefValue& Other);
  TPrefValue(TPrefValue&& Other) noexcept = default;
  TPrefValue& operator=(const TPrefValue& Other);
  TPrefValue& operator=(TPrefValue&& Other) noexcept = default;
  ~TPrefValue();

  static TPrefValue Integer(int32_t Value);
  // A text given as 8-bit Windows Latin-1; it is stored as UTF-8.
  static TPrefValue String(const std::string& Text);
  // A text given as UTF-8. REQUIRES: well-formed UTF-8.
  static TPrefValue Utf8String(std::string Text);
  static TPrefValue Dictionary(TPrefDictionary Values = {});
  // A value of a type the store does not interpret, as its JSON text.
  static TPrefValue Other(std::string JsonText);

  TPrefType Type() const { return FType; }
  // REQUIRES: Type() == pvInteger.
  int32_t IntegerValue() const { return FInteger; }
  // The text as 8-bit Windows Latin-1; the empty string when it has characters the code page
  // cannot hold. REQUIRES: Type() == pvString.
  std::string StringValue() const;
  // The text as stored: UTF-8 for pvString, the JSON text for pvOther.
  const std::string& Utf8Value() const { return FText; }
  // REQUIRES: Type() == pvDictionary.
  TPrefDictionary& DictionaryValue() { return *FDictionary; }
  const TPrefDictionary& DictionaryValue() const { return *FDictionary; }

  friend bool operator==(const TPrefValue& A, const TPrefValue& B);

 private:
  TPrefType FType = pvInteger;
  int32_t FInteger = 0;
  std::string FText;
  std::unique_ptr<TPrefDictionary> FDictionary;
};

// The current user's value Name of the domain, or nothing when it is absent (or the identifier
// cannot name a file: empty, ".", "..", or holding "/" or a NUL character). Name and
// ApplicationID are UTF-8.
std::optional<TPrefValue> PreferencesCopyAppValue(const std::string& Name, const std::string& ApplicationID);

// Sets the value Name of the domain, or removes it when Value is empty. The change reaches the
// file with the next PreferencesAppSynchronize of the domain.
void PreferencesSetAppValue(const std::string& Name, std::optional<TPrefValue> Value,
                            const std::string& ApplicationID);

// Writes the pending changes of the domain to its file (creating the folder when needed) and
// refreshes the cached values from the file. True when the file holds every change (or there
// was none); false when writing failed, in which case the file is unchanged and the changes stay
// pending for the next synchronisation.
bool PreferencesAppSynchronize(const std::string& ApplicationID);

// The folder of the preference files as described above; empty when no home folder is known.
std::string PreferencesDirectory();

// The file of a domain; empty when there is no folder or the identifier cannot name a file.
std::string PreferencesFileName(const std::string& ApplicationID);

}  // namespace varnix
