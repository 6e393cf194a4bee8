#include "common/CommonUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

namespace varnix {
namespace {

TEST(CommonUtils, LimitAndMinMax) {
  struct Case { int32_t V, Lo, Hi, Expected; };
  for (const Case& C : {Case{5, 0, 3, 3}, Case{-2, 0, 3, 0}, Case{1, 3, 0, 0}, Case{2, 0, 3, 2}}) {
    SCOPED_TRACE(C.V);
    EXPECT_EQ(Limit(C.V, C.Lo, C.Hi), C.Expected);
  }
  EXPECT_EQ(Min(3, 2), 2);
  EXPECT_EQ(Max(3, 2), 3);
  const long double NaN = std::numeric_limits<long double>::quiet_NaN();
  EXPECT_EQ(LimitFloat(NaN, 0, 1), 0);
  EXPECT_EQ(LimitFloat(2, 0, 1), 1);
  EXPECT_EQ(LimitFloat(0.5L, 0, 1), 0.5L);
  EXPECT_TRUE(std::isnan(MinFloat(NaN, 1)));
  EXPECT_EQ(MinFloat(1, NaN), 1);
  EXPECT_EQ(MinFloat(2, 1), 1);
  EXPECT_EQ(MaxFloat(NaN, 1), 1);
  EXPECT_EQ(MaxFloat(2, 1), 2);
}

TEST(CommonUtils, DateToStringAndCalendar) {
  EXPECT_EQ(DateToString(EncodeDate(2011, 6, 7)), "June 7, 2011");
  EXPECT_EQ(DateToString(EncodeDate(2010, 1, 1)), "January 1, 2010");
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  int Y, M, D;
  DecodeDate(EncodeDate(2024, 2, 29) + 0.75, Y, M, D);
  EXPECT_EQ(Y * 10000 + M * 100 + D, 20240229);
}

TEST(CommonUtils, StrToFloatDefIgnoresLocale) {
  const char* Old = std::setlocale(LC_NUMERIC, nullptr);
  std::string Saved = Old ? Old : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // may be missing; the checks hold either way
  EXPECT_EQ(StrToFloatDef("", 4.5L), 4.5L);
  EXPECT_EQ(StrToFloatDef("0.25", 4.5L), 0.25L);
  EXPECT_EQ(StrToFloatDef("-1.5e2", 0), -150.0L);
  EXPECT_EQ(StrToFloatDef("12a", 4.5L), 4.5L);
  EXPECT_EQ(StrToFloatDef("0,25", 4.5L), 4.5L);
  std::setlocale(LC_NUMERIC, Saved.c_str());
}

TEST(CommonUtils, MousePosFallsBackToOrigin) {
  EXPECT_EQ(GetMousePos(), Point(0, 0));
  SetMousePosQuery([](TPoint& P) { P = Point(12, 34); return true; });
  EXPECT_EQ(GetMousePos(), Point(12, 34));
  SetMousePosQuery([](TPoint& P) { P = Point(12, 34); return false; });
  EXPECT_EQ(GetMousePos(), Point(0, 0));
  SetMousePosQuery(nullptr);
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

TEST(CommonUtils, StrToIntDef) {
  struct Case { const char* Text; int32_t Expected; };
  for (const Case& C : {Case{"12", 12}, Case{" -7 ", -7}, Case{"+3", 3}, Case{"12a", 99}, Case{"", 99},
                        Case{"2147483648", 99}, Case{"1.5", 99}}) {
    SCOPED_TRACE(C.Text);
    EXPECT_EQ(StrToIntDef(C.Text, 99), C.Expected);
  }
}

}  // namespace
}  // namespace varnix
