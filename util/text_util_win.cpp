#include "util/text_util_win.h"

#include <windows.h>

#include <shlwapi.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "util/text_util.h"

namespace {

// Far more than any log line or message; a format that still does not fit is treated as
// broken rather than grown without end.
constexpr size_t k_max_format_chars = size_t(1) << 24;

} // namespace

std::wstring format_text_v(const wchar_t* format, va_list args) {
    if (!format)
        return std::wstring();
    std::vector<wchar_t> buffer(512);
    while (buffer.size() <= k_max_format_chars) {
        va_list copy;
        va_copy(copy, args);
        // msvcrt answers -1 when the text does not fit (and may leave it unterminated);
        // a C99 runtime answers the length it needs. Either way only a count below the
        // buffer size means the whole text is there.
        const int n = _vsnwprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size())
            return std::wstring(buffer.data(), static_cast<size_t>(n));
        const size_t wanted = n >= 0 ? static_cast<size_t>(n) + 1 : buffer.size() * 2;
        buffer.assign(std::max(wanted, buffer.size() * 2), L'\0');
    }
    return std::wstring();
}

std::wstring format_text(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = format_text_v(format, args);
    va_end(args);
    return text;
}

std::string to_ansi(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX / 4)
        return std::string();
    const int len = static_cast<int>(text.size());
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), len, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), len, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring from_ansi(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX)
        return std::wstring();
    const int len = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), len, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), len, &out[0], n);
    return out;
}

std::wstring utf8_to_text(const std::string& bytes) {
    // The bytes are a zero-terminated text; anything after a zero is not part of it.
    const std::string text = bytes.substr(0, bytes.find('\0'));
    return from_ansi(to_ansi(utf8_decode(text)));
}

bool compare_natural(const std::wstring& a, const std::wstring& b) {
    return ::StrCmpLogicalW(a.c_str(), b.c_str()) > 0;
}
