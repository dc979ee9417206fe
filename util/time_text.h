#pragma once
// Date and time texts. The pure forms take the UI language as a flag; the Windows layer
// (util/file_util.h) supplies it from the user's UI language.
#include <cstdint>
#include <string>

struct calendar_time {
    int year = 0;
    int month = 0; // 1-12
    int day = 0;   // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    bool valid = false;
};

std::wstring format_date(const calendar_time& t, const std::wstring& separator, bool korean);
std::wstring format_time(const calendar_time& t, const std::wstring& separator, bool h24,
                         bool seconds, bool korean);
std::wstring format_date_time(const calendar_time& t, const std::wstring& between, bool h24,
                              bool seconds, bool korean);
