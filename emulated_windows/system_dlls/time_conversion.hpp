#pragma once
// Calendar arithmetic for the system functions' times: FILETIME (100 ns
// since 1601, UTC), SYSTEMTIME and the C runtime's time_t and struct tm,
// in the proleptic Gregorian calendar as Windows counts it.

#include <cstdint>
#include <optional>
#include <vector>

#include "emulated_windows/system_dlls/emulated_data.hpp"

struct civil_time {
  std::int64_t year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int weekday = 4;  // 0 Sunday
  int yearday = 0;  // 0 on 1 January
};

// The civil time of `seconds` (and `millisecond`) since 1970-01-01 UTC.
civil_time civil_of(std::int64_t seconds, int millisecond = 0);
// Seconds since 1970-01-01 UTC of a civil time, its fields normalised as
// mktime does (month 13 is January of the next year).
std::int64_t seconds_of(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour,
                        std::int64_t minute, std::int64_t second);

inline constexpr std::int64_t file_time_of_1970 = 116444736000000000;

class windows_process;
// The process's time now, from its virtual clock, as a FILETIME.
std::uint64_t file_time_now(windows_process& process);

// SYSTEMTIME (16 bytes) of a FILETIME.
record system_time_of(std::uint64_t file_time);
// The FILETIME of a SYSTEMTIME's 16 bytes; empty when a field is out of range.
std::optional<std::uint64_t> file_time_of(const std::vector<std::uint8_t>& system_time);
