#pragma once
// The local time and its texts; the UI language decides the form (1042 is Korean).
#include <cstdint>
#include <string>

#include "util/time_text.h"

bool is_korean_ui();
calendar_time local_time_now();
calendar_time local_time_from_unix(int64_t seconds);
std::wstring format_date(const calendar_time& t, const std::wstring& separator);
std::wstring format_time(const calendar_time& t, const std::wstring& separator, bool h24,
                         bool seconds);
std::wstring format_date_time(const calendar_time& t, const std::wstring& between, bool h24,
                              bool seconds);
std::wstring format_date_time(int64_t unix_seconds, const std::wstring& between, bool h24,
                              bool seconds);
