// Conversion between the system's 8-bit text (Windows Latin-1, code page 1252) and UTF-8, the
// encoding of files, the file system and the desktop. Text inside the system stays 8-bit; these
// two functions are used where it crosses into the operating system.
#pragma once

#include <string>

namespace varnix {

// Every byte has a character: 0x00-0x7F and 0xA0-0xFF are the Unicode code points of the same
// value, 0x80-0x9F the code page's typographic characters (0x80 is the euro sign). The five
// bytes the code page leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control
// characters of the same value, so every 8-bit text survives a round trip.
std::string Latin1ToUtf8(const std::string& Text);

// The inverse of Latin1ToUtf8. False when Utf8 is not well-formed UTF-8 or holds a character the
// code page has no byte for; Text is then left empty.
bool Utf8ToLatin1(const std::string& Utf8, std::string& Text);

}  // namespace varnix
