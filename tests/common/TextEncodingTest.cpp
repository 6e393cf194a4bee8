#include "common/TextEncoding.h"

#include <gtest/gtest.h>

namespace varnix {
namespace {

TEST(TextEncoding, ConvertsCodePageCharacters) {
  struct Case {
    const char* Name;
    std::string Latin1;
    std::string Utf8;
  } Cases[] = {
      {"ascii", "MainForm_Left", "MainForm_Left"},
      {"e acute", "\xE9", "\xC3\xA9"},
      {"copyright and y diaeresis", "\xA9\xFF", "\xC2\xA9\xC3\xBF"},
      {"euro sign at 0x80", "\x80", "\xE2\x82\xAC"},
      {"trade mark at 0x99", "\x99", "\xE2\x84\xA2"},
      {"unassigned 0x81 as its control character", "\x81", "\xC2\x81"},
      {"embedded NUL", std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(Latin1ToUtf8(C.Latin1), C.Utf8);
    std::string Back;
    EXPECT_TRUE(Utf8ToLatin1(C.Utf8, Back));
    EXPECT_EQ(Back, C.Latin1);
  }
}

TEST(TextEncoding, EveryByteSurvivesARoundTrip) {
  std::string All;
  for (int B = 0; B < 256; ++B) All += static_cast<char>(B);
  std::string Back;
  ASSERT_TRUE(Utf8ToLatin1(Latin1ToUtf8(All), Back));
  EXPECT_EQ(Back, All);
}

TEST(TextEncoding, RejectsWhatTheCodePageCannotHoldAndIllFormedUtf8) {
  struct Case {
    const char* Name;
    std::string Utf8;
  } Cases[] = {
      {"greek omega", "\xCE\xA9"},
      {"CJK", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"U+0080, whose byte is the euro sign", "\xC2\x80"},
      {"emoji", "\xF0\x9F\x98\x80"},
      {"truncated sequence", "a\xC3"},
      {"stray continuation byte", "\x80"},
      {"overlong slash", "\xC0\xAF"},
      {"surrogate", "\xED\xA0\x80"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::string Text = "stale";
    EXPECT_FALSE(Utf8ToLatin1(C.Utf8, Text));
    EXPECT_EQ(Text, "");
  }
}

}  // namespace
}  // namespace varnix
