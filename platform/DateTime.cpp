#include "platform/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {
// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}
}  // namespace

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec) {
  const long long Days = DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day));
  return UnixEpochDate + static_cast<double>(Days) +
         (Hour * 3600.0 + Min * 60.0 + Sec + MSec / 1000.0) / SecsPerDay;
}

void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec, int& MSec) {
  // Round to whole milliseconds first so 23:59:59.9999 does not show as second 60.
  const long long TotalMs = std::llround((Value - UnixEpochDate) * SecsPerDay * 1000.0);
  long long Days = TotalMs / 86400000LL;
  long long Rest = TotalMs % 86400000LL;
  if (Rest < 0) {
    Rest += 86400000LL;
    --Days;
  }
  CivilFromDays(Days, Year, Month, Day);
  Hour = static_cast<int>(Rest / 3600000);
  Min = static_cast<int>(Rest / 60000 % 60);
  Sec = static_cast<int>(Rest / 1000 % 60);
  MSec = static_cast<int>(Rest % 1000);
}

TDateTime UnixToDateTime(double UnixSeconds) { return UnixEpochDate + UnixSeconds / SecsPerDay; }

TDateTime Now() {
  using namespace std::chrono;
  const auto Since = system_clock::now().time_since_epoch();
  const long long Ms = duration_cast<milliseconds>(Since).count();
  const std::time_t T = static_cast<std::time_t>(Ms / 1000);
  std::tm Local{};
  localtime_r(&T, &Local);
  return EncodeDateTime(Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday, Local.tm_hour, Local.tm_min,
                        Local.tm_sec, static_cast<int>(Ms % 1000));
}

TDateTime Date() { return std::floor(Now()); }

std::string FormatDateTimeISO(TDateTime Value) {
  int Y, Mo, D, H, Mi, S, Ms;
  DecodeDateTime(Value, Y, Mo, D, H, Mi, S, Ms);
  char Buf[32];
  std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d %02d:%02d:%02d", Y, Mo, D, H, Mi, S);
  return Buf;
}
