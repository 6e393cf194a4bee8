// Finding and loading a plug-in bundle.
//
// A bundle is a folder:
//   <bundle>/Contents/Info.plist
//   <bundle>/Contents/Linux/plugin.json   the property file: the library, the entry points with
//                                         their menu names, the supported image modes
//   <bundle>/Contents/Linux/<library>     the shared library
// The property file is a JSON object:
//   { "name": "...", "library": "libvarnix.so",
//     "entries": [ { "kind": "selection", "symbol": "PluginMain_Select", "menu": "...",
//                    "category": "..." },
//                  { "kind": "filter", "symbol": "PluginMain_Filter", ... } ],
//     "modes": [ "RGB", "RGB48", ... ] }
//
// Loading maps the library with dlopen; unloading (the destructor) closes it again, which runs
// the library's finalisers. Paths are UTF-8.
#pragma once

#include <string>
#include <vector>

#include "common/Objects.h"
#include "platform/hostapi/HostApi.h"

namespace varnix {

// A bundle that is missing, incomplete or cannot be loaded; the message names the file and the
// reason.
VARNIX_DECLARE_EXCEPTION(EPluginBundleError, Exception);

enum TPluginEntryKind { ekSelection, ekFilter };

struct TPluginEntryInfo {
  TPluginEntryKind Kind = ekSelection;
  std::string Symbol;
  std::string Menu;
  std::string Category;
};

// The property file's content.
struct TPluginProperties {
  std::string Name;
  std::string Library;
  std::vector<TPluginEntryInfo> Entries;
  std::vector<std::string> Modes;
};

// Reads and checks a property file. Raises EPluginBundleError when it is missing or malformed.
TPluginProperties ReadPluginProperties(const std::string& FileName);

// A loaded bundle. Empty state: none (moved-from objects are not kept).
class TPluginBundle {
 public:
  // Reads the property file and loads the library. Raises EPluginBundleError.
  explicit TPluginBundle(std::string Folder);
  ~TPluginBundle();
  TPluginBundle(const TPluginBundle&) = delete;
  TPluginBundle& operator=(const TPluginBundle&) = delete;

  const std::string& Folder() const { return FFolder; }
  const std::string& LibraryPath() const { return FLibraryPath; }
  const TPluginProperties& Properties() const { return FProperties; }
  // The entry point of that kind. Raises EPluginBundleError when the property file declares none
  // or the library does not export the declared symbol.
  PluginEntryProc Entry(TPluginEntryKind Kind) const;

 private:
  std::string FFolder;
  std::string FLibraryPath;
  TPluginProperties FProperties;
  void* FHandle = nullptr;
};

}  // namespace varnix
