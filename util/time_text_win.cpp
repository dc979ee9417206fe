#include "util/time_text_win.h"

#include <windows.h>

#include "util/time_text.h"

namespace {

// 100-ns intervals between 1601-01-01 (FILETIME) and 1970-01-01 (Unix).
constexpr int64_t k_unix_epoch_ticks = 116444736000000000LL;
constexpr int64_t k_ticks_per_second = 10000000LL;

calendar_time from_system_time(const SYSTEMTIME& st) {
    calendar_time t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    t.valid = true;
    return t;
}

} // namespace

bool is_korean_ui() {
    return ::GetUserDefaultUILanguage() == 1042;
}

calendar_time local_time_now() {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    return from_system_time(st);
}

calendar_time local_time_from_unix(int64_t seconds) {
    // Keep the tick arithmetic inside int64 and the years FILETIME can express.
    constexpr int64_t min_seconds = -k_unix_epoch_ticks / k_ticks_per_second;
    constexpr int64_t max_seconds = 910692730000LL; // about the year 30827
    if (seconds < min_seconds || seconds > max_seconds)
        return calendar_time();
    const uint64_t ticks = static_cast<uint64_t>(seconds * k_ticks_per_second + k_unix_epoch_ticks);
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{}, local{};
    if (!::FileTimeToSystemTime(&ft, &utc) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return calendar_time();
    return from_system_time(local);
}

std::wstring format_date(const calendar_time& t, const std::wstring& separator) {
    return format_date(t, separator, is_korean_ui());
}

std::wstring format_time(const calendar_time& t, const std::wstring& separator, bool h24,
                         bool seconds) {
    return format_time(t, separator, h24, seconds, is_korean_ui());
}

std::wstring format_date_time(const calendar_time& t, const std::wstring& between, bool h24,
                              bool seconds) {
    return format_date_time(t, between, h24, seconds, is_korean_ui());
}

std::wstring format_date_time(int64_t unix_seconds, const std::wstring& between, bool h24,
                              bool seconds) {
    const calendar_time t = local_time_from_unix(unix_seconds);
    if (!t.valid)
        return std::wstring();
    return format_date_time(t, between, h24, seconds);
}
