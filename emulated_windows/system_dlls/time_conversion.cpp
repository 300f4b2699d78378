#include "emulated_windows/system_dlls/time_conversion.hpp"

#include "emulated_windows/process/windows_process.hpp"

namespace {

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Days since 1970-01-01 of a date, and back (Gregorian, by 400-year eras).
std::int64_t days_from_civil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = floor_div(y, 400);
  const std::int64_t year_of_era = y - era * 400;
  const std::int64_t day_of_year = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

void civil_from_days(std::int64_t z, std::int64_t& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = floor_div(z, 146097);
  const std::int64_t day_of_era = z - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t mp = (5 * day_of_year + 2) / 153;
  d = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = year_of_era + era * 400 + (m <= 2 ? 1 : 0);
}

}  // namespace

civil_time civil_of(std::int64_t seconds, int millisecond) {
  civil_time t;
  const std::int64_t days = floor_div(seconds, 86400);
  const std::int64_t in_day = seconds - days * 86400;
  civil_from_days(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(in_day / 3600);
  t.minute = static_cast<int>(in_day / 60 % 60);
  t.second = static_cast<int>(in_day % 60);
  t.millisecond = millisecond;
  t.weekday = static_cast<int>(days - floor_div(days + 4, 7) * 7 + 4) % 7;
  t.yearday = static_cast<int>(days - days_from_civil(t.year, 1, 1));
  return t;
}

std::int64_t seconds_of(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour,
                        std::int64_t minute, std::int64_t second) {
  // Months out of 1..12 carry into the year; days, hours and the rest
  // simply add up.
  year += floor_div(month - 1, 12);
  month -= floor_div(month - 1, 12) * 12;
  return (days_from_civil(year, month, 1) + day - 1) * 86400 + hour * 3600 + minute * 60 + second;
}

record system_time_of(std::uint64_t file_time) {
  const std::int64_t milliseconds =
      floor_div(static_cast<std::int64_t>(file_time) - file_time_of_1970, 10000);
  const std::int64_t seconds = floor_div(milliseconds, 1000);
  const civil_time t = civil_of(seconds, static_cast<int>(milliseconds - seconds * 1000));
  record r(16);
  r.put16(0, static_cast<std::uint16_t>(t.year));
  r.put16(2, static_cast<std::uint16_t>(t.month));
  r.put16(4, static_cast<std::uint16_t>(t.weekday));
  r.put16(6, static_cast<std::uint16_t>(t.day));
  r.put16(8, static_cast<std::uint16_t>(t.hour));
  r.put16(10, static_cast<std::uint16_t>(t.minute));
  r.put16(12, static_cast<std::uint16_t>(t.second));
  r.put16(14, static_cast<std::uint16_t>(t.millisecond));
  return r;
}

std::optional<std::uint64_t> file_time_of(const std::vector<std::uint8_t>& system_time) {
  auto field = [&system_time](std::size_t at) {
    return std::int64_t{system_time[at]} | std::int64_t{system_time[at + 1]} << 8;
  };
  const std::int64_t year = field(0), month = field(2), day = field(6), hour = field(8),
                     minute = field(10), second = field(12), millisecond = field(14);
  const std::int64_t month_days =
      month == 2 ? (days_from_civil(year, 3, 1) - days_from_civil(year, 2, 1))
                 : (month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31);
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > month_days ||
      hour > 23 || minute > 59 || second > 59 || millisecond > 999)
    return std::nullopt;
  const std::int64_t seconds = seconds_of(year, month, day, hour, minute, second);
  return static_cast<std::uint64_t>(file_time_of_1970 + seconds * 10000000 + millisecond * 10000);
}

std::uint64_t file_time_now(windows_process& process) {
  return virtual_clock::start_file_time + process.clock.read() / 100;
}
