// The bundle the program is delivered in, and its information dictionary.
//
// A bundle is a folder laid out as
//   <bundle>/Contents/Info.plist            the information dictionary (XML property list)
//   <bundle>/Contents/<platform>/<library>  the shared library
//   <bundle>/Contents/Resources/...         pictures, window descriptions, help books
// Paths here are UTF-8 file-system paths.
#pragma once

#include <map>
#include <string>

namespace varnix {

// Sets the bundle folder the program runs from (the plug-in passes the folder of its own
// bundle). An empty path returns to the default of BundlePath.
void SetBundlePath(const std::string& Path);

// The bundle folder: the one set with SetBundlePath; otherwise $VARNIX_BUNDLE when set and not
// empty; otherwise the folder found from the location of the shared object this code is linked
// into, when that object lies in <bundle>/Contents/<folder>/. Empty when there is none.
std::string BundlePath();

// <bundle>/Contents/Resources, or empty when there is no bundle.
std::string BundleResourcesPath();

// The text values of the top-level dictionary of an XML property list file (<key> followed by
// <string>), in UTF-8; values of other types are left out. An empty map when the file is
// missing or is not a property list.
std::map<std::string, std::string> ReadInfoDictionary(const std::string& PlistFile);

// The text value Key of the bundle's information dictionary, in UTF-8. False (and Value empty)
// when there is no bundle, no dictionary or no such text entry. The file is read on every call.
bool BundleInfoString(const std::string& Key, std::string& Value);

}  // namespace varnix
