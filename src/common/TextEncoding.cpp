#include "common/TextEncoding.h"

#include <cstdint>

namespace varnix {

namespace {

// Code points of the bytes 0x80-0x9F. The unassigned bytes map to themselves.
constexpr char32_t HighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char32_t CodePointOf(unsigned char Byte) {
  if (Byte >= 0x80 && Byte <= 0x9F) return HighControls[Byte - 0x80];
  return Byte;
}

// The byte for code point C, or -1 when the code page has none.
int ByteOf(char32_t C) {
  if (C < 0x80 || (C >= 0xA0 && C <= 0xFF)) return static_cast<int>(C);
  for (int I = 0; I < 32; ++I)
    if (HighControls[I] == C) return 0x80 + I;
  return -1;
}

void AppendUtf8(std::string& Out, char32_t C) {
  if (C < 0x80) {
    Out += static_cast<char>(C);
  } else if (C < 0x800) {
    Out += static_cast<char>(0xC0 | (C >> 6));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    // Every code point of the code page lies in the Basic Multilingual Plane.
    Out += static_cast<char>(0xE0 | (C >> 12));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  }
}

// Decodes one code point at Pos, advancing Pos; false for ill-formed input (stray continuation
// bytes, truncated sequences, overlong forms, surrogates, values above U+10FFFF).
bool DecodeUtf8(const std::string& S, size_t& Pos, char32_t& C) {
  const auto B0 = static_cast<unsigned char>(S[Pos]);
  int Length;
  char32_t Minimum;
  if (B0 < 0x80) {
    C = B0;
    ++Pos;
    return true;
  } else if ((B0 & 0xE0) == 0xC0) {
    Length = 2;
    Minimum = 0x80;
    C = B0 & 0x1F;
  } else if ((B0 & 0xF0) == 0xE0) {
    Length = 3;
    Minimum = 0x800;
    C = B0 & 0x0F;
  } else if ((B0 & 0xF8) == 0xF0) {
    Length = 4;
    Minimum = 0x10000;
    C = B0 & 0x07;
  } else {
    return false;
  }
  if (S.size() - Pos < static_cast<size_t>(Length)) return false;
  for (int I = 1; I < Length; ++I) {
    const auto B = static_cast<unsigned char>(S[Pos + I]);
    if ((B & 0xC0) != 0x80) return false;
    C = (C << 6) | (B & 0x3F);
  }
  if (C < Minimum || C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF)) return false;
  Pos += Length;
  return true;
}

}  // namespace

std::string Latin1ToUtf8(const std::string& Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (char Ch : Text) AppendUtf8(Out, CodePointOf(static_cast<unsigned char>(Ch)));
  return Out;
}

bool Utf8ToLatin1(const std::string& Utf8, std::string& Text) {
  std::string Out;
  Out.reserve(Utf8.size());
  size_t Pos = 0;
  while (Pos < Utf8.size()) {
    char32_t C;
    int Byte = -1;
    if (DecodeUtf8(Utf8, Pos, C)) Byte = ByteOf(C);
    if (Byte < 0) {
      Text.clear();
      return false;
    }
    Out += static_cast<char>(Byte);
  }
  Text = std::move(Out);
  return true;
}

}  // namespace varnix
