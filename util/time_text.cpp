#include "util/time_text.h"

namespace {

// printf's %d with a width: zero padding goes after the sign, space padding before it.
// Built by hand because the wide %s means different things to glibc and msvcrt.
std::wstring pad_int(int value, size_t width, wchar_t fill) {
    const long long v = value;
    const unsigned long long magnitude =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    std::wstring digits = std::to_wstring(magnitude);
    const std::wstring sign = v < 0 ? L"-" : L"";
    const size_t used = sign.size() + digits.size();
    const std::wstring padding(width > used ? width - used : 0, fill);
    return fill == L'0' ? sign + padding + digits : padding + sign + digits;
}

std::wstring d(int v) {
    return pad_int(v, 0, L' ');
}
std::wstring d02(int v) {
    return pad_int(v, 2, L'0');
}
std::wstring d2(int v) {
    return pad_int(v, 2, L' ');
}

const wchar_t k_korean_am[] = L"\uC624\uC804"; // morning
const wchar_t k_korean_pm[] = L"\uC624\uD6C4"; // afternoon

} // namespace

std::wstring format_date(const calendar_time& t, const std::wstring& separator, bool korean) {
    if (korean)
        return d(t.year) + separator + d02(t.month) + separator + d02(t.day);
    return d(t.month) + L"/" + d(t.day) + L"/" + d(t.year);
}

std::wstring format_time(const calendar_time& t, const std::wstring& separator, bool h24,
                         bool seconds, bool korean) {
    std::wstring text;
    if (h24) {
        text = d02(t.hour) + separator + d02(t.minute) + separator + d02(t.second);
    } else {
        const int h = t.hour <= 12 ? t.hour : t.hour - 12;
        const bool morning = t.hour < 12;
        if (korean) {
            text = std::wstring(morning ? k_korean_am : k_korean_pm) + L" " + d2(h) + separator +
                   d02(t.minute) + separator + d02(t.second);
        } else if (seconds) {
            return d2(h) + separator + d02(t.minute) + separator + d02(t.second) +
                   (morning ? L" AM" : L" PM");
        } else {
            return d2(h) + separator + d02(t.minute) + (morning ? L" AM" : L" PM");
        }
    }
    if (!seconds) {
        const size_t cut = separator.size() + 2;
        text.resize(text.size() > cut ? text.size() - cut : 0);
    }
    return text;
}

std::wstring format_date_time(const calendar_time& t, const std::wstring& between, bool h24,
                              bool seconds, bool korean) {
    return format_date(t, L"-", korean) + between + format_time(t, L":", h24, seconds, korean);
}
