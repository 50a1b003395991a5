#pragma once
// Date-times as the program stores them: days since 30 December 1899 (local time), the
// fraction being the time of day.
#include <ctime>
#include <string>

using TDateTime = double;

// The OLE date of 1970-01-01 00:00.
constexpr TDateTime UnixEpochDate = 25569.0;
constexpr double SecsPerDay = 86400.0;

TDateTime Now();
TDateTime Date();  // today at 00:00
TDateTime UnixToDateTime(double UnixSeconds);  // seconds since the epoch, given in local time
// Broken-down local time of a date-time (millisecond precision).
void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec, int& MSec);
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec = 0);
// "yyyy-mm-dd hh:nn:ss"
std::string FormatDateTimeISO(TDateTime Value);
