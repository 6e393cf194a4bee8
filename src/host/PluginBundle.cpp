#include "host/PluginBundle.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>

namespace varnix {

namespace {

bool IsFile(const std::string& Path) {
  struct stat S;
  return stat(Path.c_str(), &S) == 0 && S_ISREG(S.st_mode);
}

bool IsDirectory(const std::string& Path) {
  struct stat S;
  return stat(Path.c_str(), &S) == 0 && S_ISDIR(S.st_mode);
}

std::string TextField(const nlohmann::json& Object, const char* Key, const std::string& FileName, bool Required) {
  auto It = Object.find(Key);
  if (It == Object.end()) {
    if (Required) throw EPluginBundleError(FileName + ": \"" + Key + "\" is missing");
    return std::string();
  }
  if (!It->is_string()) throw EPluginBundleError(FileName + ": \"" + Key + "\" is not a text");
  return It->get<std::string>();
}

}  // namespace

TPluginProperties ReadPluginProperties(const std::string& FileName) {
  std::ifstream In(FileName, std::ios::binary);
  if (!In) throw EPluginBundleError(FileName + ": the plug-in property file is missing");
  nlohmann::json Root = nlohmann::json::parse(In, nullptr, false);
  if (Root.is_discarded() || !Root.is_object())
    throw EPluginBundleError(FileName + ": not a valid plug-in property file (malformed JSON)");

  TPluginProperties P;
  P.Name = TextField(Root, "name", FileName, false);
  P.Library = TextField(Root, "library", FileName, true);
  if (P.Library.empty() || P.Library.find('/') != std::string::npos || P.Library == "." || P.Library == "..")
    throw EPluginBundleError(FileName + ": \"library\" must name a file beside the property file");
  auto Entries = Root.find("entries");
  if (Entries == Root.end() || !Entries->is_array())
    throw EPluginBundleError(FileName + ": \"entries\" is missing or not a list");
  for (const auto& E : *Entries) {
    if (!E.is_object()) throw EPluginBundleError(FileName + ": an entry is not an object");
    TPluginEntryInfo Info;
    const std::string Kind = TextField(E, "kind", FileName, true);
    if (Kind == "selection")
      Info.Kind = ekSelection;
    else if (Kind == "filter")
      Info.Kind = ekFilter;
    else
      throw EPluginBundleError(FileName + ": unknown entry kind \"" + Kind + "\"");
    Info.Symbol = TextField(E, "symbol", FileName, true);
    Info.Menu = TextField(E, "menu", FileName, false);
    Info.Category = TextField(E, "category", FileName, false);
    P.Entries.push_back(std::move(Info));
  }
  auto Modes = Root.find("modes");
  if (Modes != Root.end()) {
    if (!Modes->is_array()) throw EPluginBundleError(FileName + ": \"modes\" is not a list");
    for (const auto& M : *Modes) {
      if (!M.is_string()) throw EPluginBundleError(FileName + ": a mode is not a text");
      P.Modes.push_back(M.get<std::string>());
    }
  }
  return P;
}

TPluginBundle::TPluginBundle(std::string Folder) : FFolder(std::move(Folder)) {
  if (!IsDirectory(FFolder)) throw EPluginBundleError(FFolder + ": no plug-in bundle there (not a folder)");
  const std::string Contents = FFolder + "/Contents";
  if (!IsFile(Contents + "/Info.plist"))
    throw EPluginBundleError(FFolder + ": not a plug-in bundle (Contents/Info.plist is missing)");
  FProperties = ReadPluginProperties(Contents + "/Linux/plugin.json");
  FLibraryPath = Contents + "/Linux/" + FProperties.Library;
  if (!IsFile(FLibraryPath)) throw EPluginBundleError(FLibraryPath + ": the plug-in library is missing");
  dlerror();
  FHandle = dlopen(FLibraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!FHandle) {
    const char* Reason = dlerror();
    throw EPluginBundleError(FLibraryPath + ": cannot load the plug-in library (" +
                             std::string(Reason ? Reason : "unknown reason") + ")");
  }
}

TPluginBundle::~TPluginBundle() {
  if (FHandle) dlclose(FHandle);
}

PluginEntryProc TPluginBundle::Entry(TPluginEntryKind Kind) const {
  const char* KindName = Kind == ekSelection ? "selection" : "filter";
  for (const TPluginEntryInfo& E : FProperties.Entries) {
    if (E.Kind != Kind) continue;
    dlerror();
    void* Symbol = dlsym(FHandle, E.Symbol.c_str());
    if (!Symbol)
      throw EPluginBundleError(FLibraryPath + ": the plug-in has no entry point " + E.Symbol + " (its " + KindName +
                               " entry)");
    return reinterpret_cast<PluginEntryProc>(Symbol);
  }
  throw EPluginBundleError(FFolder + ": the plug-in declares no " + std::string(KindName) + " entry");
}

}  // namespace varnix
