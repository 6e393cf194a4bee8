#include "settings/VerInfo.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdio>

#include "common/CommonUtils.h"
#include "common/LogFile.h"
#include "common/StreamErrors.h"
#include "common/TextEncoding.h"
#include "platform/os/BundleInfo.h"
#include "platform/os/HelpViewer.h"
#include "settings/BuildDate.h"

namespace varnix {

namespace {

int32_t DigitAt(const std::string& Text, size_t Index, int32_t Default) {
  if (Index >= Text.size() || Text[Index] < '0' || Text[Index] > '9') return Default;
  return Text[Index] - '0';
}

constexpr int32_t StreamMarker = -100;
constexpr int32_t StreamLayout = 1;
constexpr size_t StreamSize = 25;

void PutInt32(unsigned char* P, int32_t Value) {
  const auto U = static_cast<uint32_t>(Value);
  for (int I = 0; I < 4; ++I) P[I] = static_cast<unsigned char>(U >> (8 * I));
}

int32_t GetInt32(const unsigned char* P) {
  uint32_t U = 0;
  for (int I = 0; I < 4; ++I) U |= static_cast<uint32_t>(P[I]) << (8 * I);
  return static_cast<int32_t>(U);
}

// Reads exactly Size bytes or raises EReadError.
void ReadExactly(std::istream& Stream, unsigned char* Buffer, size_t Size) {
  Stream.read(reinterpret_cast<char*>(Buffer), static_cast<std::streamsize>(Size));
  if (static_cast<size_t>(Stream.gcount()) != Size) throw EReadError("Stream read error");
}

void Trace(const std::string& Message) {
  if (HelpVerbose()) std::fprintf(stderr, "help: %s\n", Message.c_str());
}

// A page path must stay inside its book: relative, without "." or ".." components.
bool SafeRelativePath(const std::string& Path) {
  if (Path.empty() || Path[0] == '/') return false;
  size_t Start = 0;
  while (Start <= Path.size()) {
    size_t End = Path.find('/', Start);
    if (End == std::string::npos) End = Path.size();
    const std::string Part = Path.substr(Start, End - Start);
    if (Part == "." || Part == ".." || (Part.empty() && End != Path.size())) return false;
    Start = End + 1;
  }
  return Path.back() != '/';
}

TVersionInfo* TheVersionInfo = nullptr;

}  // namespace

// ---------------------------------------------------------------------------------------------
// TProgramVersion

std::string TProgramVersion::GetText() const {
  std::string Text = Format("%d.%d%d", Major, Minor, Release);
  if (GetIsBeta()) Text = Format("%s beta %d", Text.c_str(), Beta);
  if (PressPreview) Text = Format("%s (press preview)", Text.c_str());
  return Text;
}

void TProgramVersion::SetText(const std::string& Text) {
  int32_t NewMajor, NewMinor, NewRelease;
  const size_t Dot = Text.find('.');
  if (Dot != std::string::npos) {
    NewMajor = StrToIntDef(Text.substr(0, Dot), -1);
    NewMinor = DigitAt(Text, Dot + 1, -1);
    NewRelease = DigitAt(Text, Dot + 2, 0);
  } else {
    NewMajor = StrToIntDef(Text, -1);
    NewMinor = 0;
    NewRelease = 0;
  }
  int32_t NewBeta = 0;
  if (const size_t B = Text.find("beta "); B != std::string::npos) NewBeta = StrToIntDef(Text.substr(B + 5, 2), 0);

  if (NewMajor < 0 || NewMinor < 0)
    throw EProgramVersionError(Format("'%s' is not a valid version number", Text.c_str()));
  Major = NewMajor;
  Minor = NewMinor;
  Release = NewRelease;
  Beta = NewBeta;
  PressPreview = Text.find("press") != std::string::npos;
}

int32_t TProgramVersion::Compare(const TProgramVersion& Other) const {
  // 64-bit differences: numbers loaded from a stream may span the whole 32-bit range.
  int64_t D = int64_t{Major} - Other.Major;
  if (D == 0) D = int64_t{Minor} - Other.Minor;
  if (D == 0) D = int64_t{Release} - Other.Release;
  if (D == 0) {
    if (!GetIsBeta() && Other.GetIsBeta())
      D = 1;
    else if (GetIsBeta() && !Other.GetIsBeta())
      D = -1;
    else
      D = int64_t{Beta} - Other.Beta;
  }
  return D < 0 ? -1 : (D > 0 ? 1 : 0);
}

void TProgramVersion::LoadFromStream(std::istream& Stream) {
  unsigned char Buffer[StreamSize];
  ReadExactly(Stream, Buffer, 8);
  if (GetInt32(Buffer) != StreamMarker || GetInt32(Buffer + 4) != StreamLayout)
    throw EProgramVersionError("Invalid version number on stream");
  // The fields are taken over only once all of them have arrived.
  ReadExactly(Stream, Buffer + 8, StreamSize - 8);
  Major = GetInt32(Buffer + 8);
  Minor = GetInt32(Buffer + 12);
  Release = GetInt32(Buffer + 16);
  Beta = GetInt32(Buffer + 20);
  PressPreview = Buffer[24] != 0;
}

void TProgramVersion::SaveToStream(std::ostream& Stream) const {
  unsigned char Buffer[StreamSize];
  PutInt32(Buffer, StreamMarker);
  PutInt32(Buffer + 4, StreamLayout);
  PutInt32(Buffer + 8, Major);
  PutInt32(Buffer + 12, Minor);
  PutInt32(Buffer + 16, Release);
  PutInt32(Buffer + 20, Beta);
  Buffer[24] = PressPreview ? 1 : 0;
  Stream.write(reinterpret_cast<const char*>(Buffer), StreamSize);
  if (!Stream) throw EWriteError("Stream write error");
}

// ---------------------------------------------------------------------------------------------
// Version information

std::string CommonUtils::GetVersionInfo(TVersionInfo Info) {
  const char* Key = nullptr;
  switch (Info) {
    case viLegalCopyright:
      Key = "NSHumanReadableCopyright";
      break;
    case viProductName:
      Key = "CFBundleName";
      break;
    case viProductVersion:
      Key = "CFBundleShortVersionString";
      break;
    default:
      return {};
  }
  std::string Utf8, Text;
  if (BundleInfoString(Key, Utf8)) Utf8ToLatin1(Utf8, Text);
  return Text;
}

TDateTime ProgramBuildDate() {
  return EncodeDate(BuildDateParts::Year, BuildDateParts::Month, BuildDateParts::Day);
}

TVersionInfo::TVersionInfo() : BuildDate(0), Version(NewObject<TProgramVersion>()) {
  const std::string VersionText = CommonUtils::GetVersionInfo(CommonUtils::viProductVersion);
  if (!VersionText.empty()) Version->SetText(VersionText);
  BuildDate = ProgramBuildDate();
  Copyright = CommonUtils::GetVersionInfo(CommonUtils::viLegalCopyright);
  ProductName = CommonUtils::GetVersionInfo(CommonUtils::viProductName);
  // A browser needs no help book registration, so there is nothing more to prepare here.
}

std::string TVersionInfo::GetNameAndVersion() const {
  return Format("%s %s", GetName().c_str(), Version->GetText().c_str());
}

int32_t TVersionInfo::GetBuildNumber() const {
  const std::string FileVersion = CommonUtils::GetVersionInfo(CommonUtils::viFileVersion);
  const size_t Dot = FileVersion.rfind('.');
  return StrToIntDef(Dot == std::string::npos ? FileVersion : FileVersion.substr(Dot + 1), 0);
}

void TVersionInfo::ShowHelp(const std::string& Page) {
  std::string Book, Folder;
  if (!BundleInfoString("CFBundleHelpBookName", Book) || Book.empty()) {
    Trace("the bundle names no help book");
    return;
  }
  if (!BundleInfoString("CFBundleHelpBookFolder", Folder) || Folder.empty()) Folder = Book;
  std::string PagePath = Latin1ToUtf8(Page);
  for (char& C : PagePath)
    if (C == '\\') C = '/';
  if (!SafeRelativePath(Folder) || !SafeRelativePath(PagePath)) {
    Trace("help page '" + PagePath + "' of book folder '" + Folder + "' is not a path inside the book");
    return;
  }
  const std::string File = BundleResourcesPath() + "/" + Folder + "/" + PagePath;
  struct stat St;
  if (::stat(File.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) {
    Trace("no help page " + File);
    return;
  }
  OpenURL(FileURL(File));
}

TVersionInfo* VersionInfo() {
  if (!TheVersionInfo) InitializeVerInfo();
  return TheVersionInfo;
}

void InitializeVerInfo() {
  if (!TheVersionInfo) TheVersionInfo = NewObject<TVersionInfo>();
}

void FinalizeVerInfo() { FreeAndNil(TheVersionInfo); }

}  // namespace varnix
