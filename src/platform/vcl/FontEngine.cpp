#include "platform/vcl/FontEngine.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace varnix {

namespace {

// Owns the FreeType library and every face opened through it; freed at exit.
struct TFreeType {
  FT_Library Library = nullptr;
  std::map<std::string, FT_Face> Faces;  // by file name
  std::map<std::tuple<std::string, int32_t, int32_t>, std::unique_ptr<fontengine::TGlyph>> Glyphs;
  std::map<std::pair<std::string, bool>, std::string> Matches;  // (family, bold) -> file
  std::string PinnedRegular, PinnedBold;
  std::mutex Mutex;

  TFreeType() {
    if (FT_Init_FreeType(&Library) != 0) Library = nullptr;
  }
  ~TFreeType() {
    for (auto& [Name, Face] : Faces) FT_Done_Face(Face);
    if (Library) FT_Done_FreeType(Library);
    // Fontconfig keeps its configuration and caches until told to let go.
    if (UsedFontconfig) FcFini();
  }
  bool UsedFontconfig = false;
};

TFreeType& FreeType() {
  static TFreeType Instance;
  return Instance;
}

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

// The fontconfig family for a font name: the classic dialog faces map to the system sans face.
std::string FamilyFor(const std::string& Name) {
  const std::string L = Lower(Name);
  if (L.empty() || L == "default" || L == "ms sans serif" || L == "microsoft sans serif" || L == "tahoma" ||
      L == "ms shell dlg" || L == "ms shell dlg 2" || L == "segoe ui" || L == "lucida grande")
    return "sans-serif";
  return Name;
}

std::string MatchFile(TFreeType& FT, const std::string& Family, bool Bold) {
  auto Key = std::make_pair(Family, Bold);
  auto It = FT.Matches.find(Key);
  if (It != FT.Matches.end()) return It->second;
  std::string File;
  if (FcInit()) {
    FT.UsedFontconfig = true;
    FcPattern* Pattern = FcPatternCreate();
    FcPatternAddString(Pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(Family.c_str()));
    FcPatternAddInteger(Pattern, FC_WEIGHT, Bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddBool(Pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, Pattern, FcMatchPattern);
    FcDefaultSubstitute(Pattern);
    FcResult Result;
    FcPattern* Match = FcFontMatch(nullptr, Pattern, &Result);
    if (Match) {
      FcChar8* Path = nullptr;
      if (FcPatternGetString(Match, FC_FILE, 0, &Path) == FcResultMatch && Path)
        File = reinterpret_cast<const char*>(Path);
      FcPatternDestroy(Match);
    }
    FcPatternDestroy(Pattern);
  }
  if (File.empty())
    File = Bold ? "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
                : "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  FT.Matches[Key] = File;
  return File;
}

std::string FileForLocked(TFreeType& FT, const TFont& Font) {
  const bool Bold = Font.Style().Contains(fsBold);
  const std::string& Pinned = Bold ? FT.PinnedBold : FT.PinnedRegular;
  if (!Pinned.empty()) return Pinned;
  return MatchFile(FT, FamilyFor(Font.Name()), Bold);
}

// Opens the face of Font and sets its pixel size; null when FreeType cannot open the file.
FT_Face FaceFor(TFreeType& FT, const TFont& Font, std::string& File) {
  if (!FT.Library) return nullptr;
  File = FileForLocked(FT, Font);
  FT_Face Face = nullptr;
  auto It = FT.Faces.find(File);
  if (It != FT.Faces.end()) {
    Face = It->second;
  } else {
    if (FT_New_Face(FT.Library, File.c_str(), 0, &Face) != 0) return nullptr;
    FT.Faces[File] = Face;
  }
  int32_t Em;
  if (Font.Height() < 0) {
    Em = -Font.Height();
  } else if (Font.Height() > 0) {
    const int32_t Cell = Face->ascender - Face->descender;
    Em = Cell > 0 ? std::max(1, static_cast<int32_t>(int64_t(Font.Height()) * Face->units_per_EM / Cell)) : Font.Height();
  } else {
    Em = 11;
  }
  FT_Set_Pixel_Sizes(Face, 0, static_cast<FT_UInt>(std::clamp(Em, 1, 1000)));
  return Face;
}

}  // namespace

void PinFontFile(const std::string& RegularFile, const std::string& BoldFile) {
  TFreeType& FT = FreeType();
  std::lock_guard Lock(FT.Mutex);
  FT.PinnedRegular = RegularFile;
  FT.PinnedBold = BoldFile.empty() ? RegularFile : BoldFile;
  FT.Glyphs.clear();
}

std::string FontFileFor(const TFont& Font) {
  TFreeType& FT = FreeType();
  std::lock_guard Lock(FT.Mutex);
  return FileForLocked(FT, Font);
}

namespace fontengine {

uint32_t Cp1252ToUnicode(uint8_t Char) {
  static const uint16_t High[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                    0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  if (Char >= 0x80 && Char < 0xA0) return High[Char - 0x80];
  return Char;
}

TFontMetrics Metrics(const TFont& Font) {
  TFreeType& FT = FreeType();
  std::lock_guard Lock(FT.Mutex);
  std::string File;
  FT_Face Face = FaceFor(FT, Font, File);
  TFontMetrics M;
  if (!Face) {
    M.Ascent = std::abs(Font.Height()) * 4 / 5;
    M.Descent = std::abs(Font.Height()) - M.Ascent;
    return M;
  }
  M.Ascent = static_cast<int32_t>((Face->size->metrics.ascender + 63) >> 6);
  M.Descent = static_cast<int32_t>((-Face->size->metrics.descender + 63) >> 6);
  return M;
}

const TGlyph& Glyph(const TFont& Font, uint8_t Char) {
  TFreeType& FT = FreeType();
  std::lock_guard Lock(FT.Mutex);
  std::string File = FileForLocked(FT, Font);
  auto Key = std::make_tuple(File, Font.Height(), static_cast<int32_t>(Char));
  auto It = FT.Glyphs.find(Key);
  if (It != FT.Glyphs.end()) return *It->second;
  auto G = std::make_unique<TGlyph>();
  FT_Face Face = FaceFor(FT, Font, File);
  if (Face) {
    const FT_UInt Index = FT_Get_Char_Index(Face, Cp1252ToUnicode(Char));
    if (FT_Load_Glyph(Face, Index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) == 0 &&
        FT_Render_Glyph(Face->glyph, FT_RENDER_MODE_NORMAL) == 0) {
      const FT_Bitmap& B = Face->glyph->bitmap;
      G->Left = Face->glyph->bitmap_left;
      G->Top = Face->glyph->bitmap_top;
      G->Width = static_cast<int32_t>(B.width);
      G->Rows = static_cast<int32_t>(B.rows);
      G->Advance = static_cast<int32_t>((Face->glyph->advance.x + 32) >> 6);
      G->Coverage.resize(static_cast<size_t>(G->Width) * G->Rows);
      for (int32_t Y = 0; Y < G->Rows; ++Y)
        for (int32_t X = 0; X < G->Width; ++X)
          G->Coverage[static_cast<size_t>(Y) * G->Width + X] = B.buffer[Y * B.pitch + X];
    }
  }
  const TGlyph& Result = *G;
  FT.Glyphs[Key] = std::move(G);
  return Result;
}

}  // namespace fontengine
}  // namespace varnix
