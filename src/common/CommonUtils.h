// Small free functions used across the system: clamps, minimum and maximum, dates, float parsing,
// the mouse position and the per-form initialisation hook.
#pragma once

#include <cstdint>
#include <string>

#include "common/Types.h"

namespace varnix {

class TObject;

// A date and time of day: days since 30 December 1899, the fraction being the time of day.
using TDateTime = double;

// REQUIRES: a valid calendar date (Month 1..12, Day within the month).
TDateTime EncodeDate(int Year, int Month, int Day);
void DecodeDate(TDateTime Date, int& Year, int& Month, int& Day);
// The current local date and time.
TDateTime Now();

extern const char* const MonthNames[13];  // [1] = "January" ... [12] = "December"; [0] is empty

// Value raised to Minimum, then lowered to Maximum (so Maximum wins when Minimum > Maximum).
int32_t Limit(int32_t Value, int32_t Minimum, int32_t Maximum);
// Minimum unless Value >= Minimum (a NaN gives Minimum); then Maximum when Value > Maximum.
long double LimitFloat(long double Value, long double Minimum, long double Maximum);
int32_t Min(int32_t A, int32_t B);
int32_t Max(int32_t A, int32_t B);
// A when A <= B or either is NaN, else B.
long double MinFloat(long double A, long double B);
// A when A > B, else B (also when either is NaN).
long double MaxFloat(long double A, long double B);

// "June 7, 2011".
std::string DateToString(TDateTime Date);

// The number Text denotes with "." as the decimal separator whatever the locale; Default when the
// text is not a number.
long double StrToFloatDef(const std::string& Text, long double Default);

// The 32-bit integer Text denotes in decimal (blanks around it allowed, an optional sign); Default
// when the text is anything else or out of range.
int32_t StrToIntDef(const std::string& Text, int32_t Default);

// The mouse position in screen coordinates as the UI library reports it; (0, 0) when the query
// fails or no UI library has installed its query.
TPoint GetMousePos();
using TMousePosQuery = bool (*)(TPoint& Position);
void SetMousePosQuery(TMousePosQuery Query);

// Called by every form while it is being created; nothing to do on this platform.
void InitializeForm(TObject* Form);

}  // namespace varnix
