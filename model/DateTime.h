#pragma once
#include <cstdint>
#include <ctime>

// Date-times are days since 1899-12-30 00:00 with the time of day as fraction.
using TDateTime = double;

constexpr double UnixEpochDays = 25569.0; // 1970-01-01 as a date-time

// The current local date and time.
TDateTime NowLocal();
// A moment given as seconds (and nanoseconds) since the Unix epoch, kept in UTC.
TDateTime UnixToDateTime(int64_t seconds, long nanoseconds = 0);
// Splits a date-time into calendar fields (no time-zone conversion). False when the value
// is outside the years 1 to 9999.
bool DecodeDateTime(TDateTime dt, std::tm& out, int& milliseconds);
