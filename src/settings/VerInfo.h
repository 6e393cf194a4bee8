// The program's identity and help: product name, version, copyright and build date, served by
// one TVersionInfo object reached through VersionInfo(), and program version numbers
// (TProgramVersion) with their text and byte-stream forms.
//
// Name, version and copyright are not compiled in: they come from the bundle's information
// dictionary (Contents/Info.plist of the folder given by BundlePath(), platform/os/BundleInfo.h),
// read once when the object is created. The build date is the date the build was made.
//
// Help: ShowHelp opens a page of the bundle's help book, found under
// Contents/Resources/<help book folder>/, in the user's browser (platform/os/HelpViewer.h). The
// folder is the dictionary's "CFBundleHelpBookFolder" value, or the "CFBundleHelpBookName" value
// when there is no folder entry. Help that cannot be shown fails silently; set
// VARNIX_HELP_VERBOSE=1 to see why.
//
// Everything here runs on the UI thread.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

#include "common/CommonUtils.h"
#include "common/Objects.h"

namespace varnix {

// A version text or stream that cannot be read.
VARNIX_DECLARE_EXCEPTION(EProgramVersionError, Exception);

// A program version such as "1.23", "1.20 beta 2" or "1.20 (press preview)". A plain value
// object; the parameterless constructor gives 0.00.
class TProgramVersion : public TObject {
 public:
  // "%d.%d%d" of Major, Minor, Release; then " beta %d" for a beta; then " (press preview)".
  std::string GetText() const;
  // Parses the text form: the integer before the first "." is the major number, the one
  // character after it the minor and the next the release number (0 when absent); without a
  // "." the whole text is the major number. The two characters after "beta " give the beta
  // number; "press" anywhere makes a press preview. Raises EProgramVersionError
  // ("'<text>' is not a valid version number") when the major or minor number cannot be read;
  // the object then keeps its values.
  void SetText(const std::string& Text);
  bool GetIsBeta() const { return Beta > 0; }
  // -1, 0 or 1 as this version is older than, equal to or newer than Other: by major, minor and
  // release number, then a release is newer than a beta of the same numbers, and betas compare
  // by beta number. PressPreview does not take part.
  int32_t Compare(const TProgramVersion& Other) const;

  // The 25-byte layout, little-endian: int32 -100, int32 1, int32 Major, Minor, Release, Beta,
  // one byte PressPreview (0 or 1). Loading raises EProgramVersionError ("Invalid version number
  // on stream") for another marker or layout number and EReadError (common/StreamErrors.h) when
  // the stream ends early; in both cases the object keeps its values. Saving raises EWriteError
  // when the stream reports a failure. Streams are opened in binary mode.
  void LoadFromStream(std::istream& Stream);
  void SaveToStream(std::ostream& Stream) const;

  int32_t Beta = 0;
  bool PressPreview = false;
  int32_t Major = 0;
  int32_t Minor = 0;
  int32_t Release = 0;
};

// The version-information lookup of the common utilities. It has its own scope because its
// enumeration shares the name of the TVersionInfo class.
namespace CommonUtils {

enum TVersionInfo {
  viCompanyName,
  viFileDescription,
  viFileVersion,
  viLegalCopyright,    // "NSHumanReadableCopyright"
  viProductName,       // "CFBundleName"
  viProductVersion,    // "CFBundleShortVersionString"
  viComments
};

// The text of the information-dictionary entry mapped to Info, as 8-bit text; empty when the
// value has no entry on this platform, the dictionary has no such text, or the text has
// characters outside the 8-bit code page.
std::string GetVersionInfo(TVersionInfo Info);

}  // namespace CommonUtils

class TVersionInfo : public TObject {
 public:
  // Reads the version, copyright and product name from the bundle. Raises
  // EProgramVersionError when the version text is present but cannot be parsed; missing
  // entries give empty texts and version 0.00.
  TVersionInfo();

  std::string GetName() const { return ProductName; }
  // "<name> <version text>".
  std::string GetNameAndVersion() const;
  // The last dot-separated component of the file version; this platform has no file version,
  // so the result is 0.
  int32_t GetBuildNumber() const;
  // Opens Page (a path inside the help book, such as "Html/welcome/welcome.html") in the
  // browser. Nothing happens when the bundle names no help book, when Page is empty, leaves the
  // book or names no file, or when no browser can be started.
  void ShowHelp(const std::string& Page);
  // The browser is not ours to close: nothing to do.
  void CloseHelp() {}

  TDateTime BuildDate;
  std::string Copyright;
  std::string ProductName;
  TOwned<TProgramVersion> Version;
};

// The date this program was built (local date of the build machine, or of SOURCE_DATE_EPOCH
// when the build sets it).
TDateTime ProgramBuildDate();

// The program's one TVersionInfo. InitializeVerInfo creates it while the program starts (it is
// also created on first use when that did not happen); FinalizeVerInfo frees it at the end.
TVersionInfo* VersionInfo();
void InitializeVerInfo();
void FinalizeVerInfo();

}  // namespace varnix
