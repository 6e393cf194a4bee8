# Writes the header that holds the date of the build:
#   cmake -DOUTPUT=<header> -P BuildDate.cmake
# The date is today's local date, or that of SOURCE_DATE_EPOCH when the environment sets it
# (string(TIMESTAMP) honours it). The header is rewritten only when the date differs from the
# one it holds, so the code that includes it is recompiled when the day changes and not on
# every build.
if(NOT OUTPUT)
  message(FATAL_ERROR "BuildDate.cmake: OUTPUT is not set")
endif()
string(TIMESTAMP Year "%Y")
string(TIMESTAMP Month "%m")
string(TIMESTAMP Day "%d")
# Drop leading zeros so the numbers read as decimal literals.
math(EXPR Month "${Month}")
math(EXPR Day "${Day}")
set(Text "// Generated at build time: the date this build was made.
#pragma once

namespace varnix::BuildDateParts {
inline constexpr int Year = ${Year};
inline constexpr int Month = ${Month};
inline constexpr int Day = ${Day};
}  // namespace varnix::BuildDateParts
")
set(Old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" Old)
endif()
if(NOT Old STREQUAL Text)
  file(WRITE "${OUTPUT}" "${Text}")
endif()
