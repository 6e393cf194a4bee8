#include "platform/os/BundleInfo.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <pugixml.hpp>

namespace varnix {

namespace {

std::mutex BundleLock;
std::string ExplicitBundlePath;

// The bundle that holds the shared object (or program) this function is linked into.
std::string BundleOfThisObject() {
  Dl_info Info{};
  if (::dladdr(reinterpret_cast<void*>(&BundleOfThisObject), &Info) == 0 || !Info.dli_fname) return {};
  std::error_code Ec;
  const std::filesystem::path Object = std::filesystem::canonical(Info.dli_fname, Ec);
  if (Ec) return {};
  // <bundle>/Contents/<platform folder>/<object>
  const std::filesystem::path Contents = Object.parent_path().parent_path();
  if (Contents.filename() != "Contents") return {};
  return Contents.parent_path().string();
}

}  // namespace

void SetBundlePath(const std::string& Path) {
  std::lock_guard Guard(BundleLock);
  ExplicitBundlePath = Path;
}

std::string BundlePath() {
  {
    std::lock_guard Guard(BundleLock);
    if (!ExplicitBundlePath.empty()) return ExplicitBundlePath;
  }
  if (const char* Env = std::getenv("VARNIX_BUNDLE"); Env && *Env) return Env;
  return BundleOfThisObject();
}

std::string BundleResourcesPath() {
  const std::string Bundle = BundlePath();
  return Bundle.empty() ? std::string() : Bundle + "/Contents/Resources";
}

std::map<std::string, std::string> ReadInfoDictionary(const std::string& PlistFile) {
  std::map<std::string, std::string> Values;
  pugi::xml_document Doc;
  // The default parse mode skips the DOCTYPE and expands character and entity references.
  if (!Doc.load_file(PlistFile.c_str())) return Values;
  const pugi::xml_node Dict = Doc.child("plist").child("dict");
  for (pugi::xml_node Key = Dict.child("key"); Key; Key = Key.next_sibling("key")) {
    const pugi::xml_node Value = Key.next_sibling();
    if (Value && std::string_view(Value.name()) == "string") Values.emplace(Key.text().get(), Value.text().get());
  }
  return Values;
}

bool BundleInfoString(const std::string& Key, std::string& Value) {
  Value.clear();
  const std::string Bundle = BundlePath();
  if (Bundle.empty()) return false;
  const auto Values = ReadInfoDictionary(Bundle + "/Contents/Info.plist");
  const auto It = Values.find(Key);
  if (It == Values.end()) return false;
  Value = It->second;
  return true;
}

}  // namespace varnix
