#include "common/CommonUtils.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <ctime>

namespace varnix {

namespace {

// Days from 0001-03-01-based civil calendar arithmetic (proleptic Gregorian).
int64_t DaysFromCivil(int64_t Y, unsigned M, unsigned D) {
  Y -= M <= 2;
  const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
  const unsigned Yoe = static_cast<unsigned>(Y - Era * 400);
  const unsigned Doy = (153 * (M + (M > 2 ? -3 : 9)) + 2) / 5 + D - 1;
  const unsigned Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
  return Era * 146097 + static_cast<int64_t>(Doe) - 719468;  // days since 1970-01-01
}

void CivilFromDays(int64_t Z, int& Year, int& Month, int& Day) {
  Z += 719468;
  const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
  const unsigned Doe = static_cast<unsigned>(Z - Era * 146097);
  const unsigned Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
  const int64_t Y = static_cast<int64_t>(Yoe) + Era * 400;
  const unsigned Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
  const unsigned Mp = (5 * Doy + 2) / 153;
  Day = static_cast<int>(Doy - (153 * Mp + 2) / 5 + 1);
  Month = static_cast<int>(Mp < 10 ? Mp + 3 : Mp - 9);
  Year = static_cast<int>(Y + (Month <= 2));
}

// 1899-12-30 relative to 1970-01-01.
constexpr int64_t DelphiEpochOffset = -25569;

std::atomic<TMousePosQuery> MousePosQuery{nullptr};

}  // namespace

const char* const MonthNames[13] = {"",     "January", "February",  "March",   "April",    "May",     "June",
                                    "July", "August",  "September", "October", "November", "December"};

TDateTime EncodeDate(int Year, int Month, int Day) {
  return static_cast<double>(DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day)) -
                             DelphiEpochOffset);
}

void DecodeDate(TDateTime Date, int& Year, int& Month, int& Day) {
  CivilFromDays(static_cast<int64_t>(std::floor(Date)) + DelphiEpochOffset, Year, Month, Day);
}

TDateTime Now() {
  const std::time_t T = std::time(nullptr);
  std::tm Local{};
  localtime_r(&T, &Local);
  return EncodeDate(Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday) +
         (Local.tm_hour * 3600 + Local.tm_min * 60 + Local.tm_sec) / 86400.0;
}

int32_t Limit(int32_t Value, int32_t Minimum, int32_t Maximum) {
  if (Value < Minimum) Value = Minimum;
  if (Value > Maximum) Value = Maximum;
  return Value;
}

long double LimitFloat(long double Value, long double Minimum, long double Maximum) {
  long double Result = Value;
  if (!(Value >= Minimum)) Result = Minimum;
  if (Value > Maximum) Result = Maximum;
  return Result;
}

int32_t Min(int32_t A, int32_t B) { return A >= B ? B : A; }
int32_t Max(int32_t A, int32_t B) { return A <= B ? B : A; }

long double MinFloat(long double A, long double B) {
  if (A <= B || std::isnan(A) || std::isnan(B)) return A;
  return B;
}

long double MaxFloat(long double A, long double B) { return A > B ? A : B; }

std::string DateToString(TDateTime Date) {
  int Y, M, D;
  DecodeDate(Date, Y, M, D);
  return std::string(MonthNames[M]) + " " + std::to_string(D) + ", " + std::to_string(Y);
}

long double StrToFloatDef(const std::string& Text, long double Default) {
  // Leading and trailing blanks are accepted, as a user would type them; anything else that is
  // not part of the number makes the text not convert. from_chars ignores the locale.
  size_t B = Text.find_first_not_of(" \t");
  size_t E = Text.find_last_not_of(" \t");
  if (B == std::string::npos) return Default;
  const char* First = Text.data() + B;
  const char* Last = Text.data() + E + 1;
  if (*First == '+') ++First;
  long double V = 0;
  auto [Ptr, Ec] = std::from_chars(First, Last, V);
  if (Ec != std::errc() || Ptr != Last) return Default;
  return V;
}

int32_t StrToIntDef(const std::string& Text, int32_t Default) {
  const size_t B = Text.find_first_not_of(" \t");
  if (B == std::string::npos) return Default;
  const size_t E = Text.find_last_not_of(" \t") + 1;
  const char* First = Text.data() + B;
  const char* Last = Text.data() + E;
  if (*First == '+') ++First;
  int32_t Value = 0;
  const auto [Ptr, Ec] = std::from_chars(First, Last, Value);
  if (Ec != std::errc() || Ptr != Last) return Default;
  return Value;
}

TPoint GetMousePos() {
  TPoint P{0, 0};
  if (TMousePosQuery Query = MousePosQuery.load()) {
    if (!Query(P)) return TPoint{0, 0};
  }
  return P;
}

void SetMousePosQuery(TMousePosQuery Query) { MousePosQuery.store(Query); }

void InitializeForm(TObject*) {}

}  // namespace varnix
