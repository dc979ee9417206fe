#include "util/text_util.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <limits>

namespace {

// Component buffers of the platform's path splitter hold this many characters with the
// terminator; a longer component is refused there, so it is refused here too.
constexpr size_t k_split_component = 256;

struct path_pieces {
    std::wstring drive, dir, title, ext;
};

bool is_slash(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The platform splitter: drive is "X:" only when the second character is a colon; the
// directory runs to the last slash; the extension starts at the last dot after it.
bool split_pieces(const std::wstring& path, path_pieces& out) {
    size_t pos = 0;
    if (path.size() >= 2 && path[1] == L':') {
        out.drive = path.substr(0, 2);
        pos = 2;
    }
    size_t last_slash = std::wstring::npos;
    for (size_t i = pos; i < path.size(); ++i)
        if (is_slash(path[i]))
            last_slash = i;
    size_t name_start = pos;
    if (last_slash != std::wstring::npos) {
        out.dir = path.substr(pos, last_slash + 1 - pos);
        name_start = last_slash + 1;
    }
    const size_t dot = path.rfind(L'.');
    if (dot != std::wstring::npos && dot >= name_start) {
        out.title = path.substr(name_start, dot - name_start);
        out.ext = path.substr(dot);
    } else {
        out.title = path.substr(name_start);
    }
    return out.dir.size() < k_split_component && out.title.size() < k_split_component &&
           out.ext.size() < k_split_component;
}

// Adds one digit the way the version fields are read (value * 10 + (c - '0')), clamped to
// the 64-bit range instead of overflowing, so long fields still order sensibly.
int64_t add_digit(int64_t value, wchar_t c) {
    constexpr int64_t hi = std::numeric_limits<int64_t>::max();
    constexpr int64_t lo = std::numeric_limits<int64_t>::min();
    const int64_t digit = static_cast<int64_t>(c) - L'0';
    if (value > hi / 10)
        return hi;
    if (value < lo / 10)
        return lo;
    value *= 10;
    if (digit > 0 && value > hi - digit)
        return hi;
    if (digit < 0 && value < lo - digit)
        return lo;
    return value + digit;
}

int64_t read_version_field(const std::wstring& text, size_t& pos, wchar_t separator) {
    int64_t value = 0;
    while (pos < text.size() && text[pos] != separator)
        value = add_digit(value, text[pos++]);
    if (pos < text.size())
        ++pos; // past the separator
    return value;
}

constexpr char32_t k_replacement = 0xFFFD;

void append_code_point(std::wstring& out, char32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(cp));
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool is_surrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

} // namespace

std::wstring split_path(const std::wstring& path, int part) {
    if (path.size() >= 2 && path.compare(path.size() - 2, 2, L":)") == 0)
        return path;

    path_pieces p;
    if (!split_pieces(path, p))
        return std::wstring();

    const std::wstring file_name = p.title + p.ext;
    std::wstring dir = p.dir;
    if (!dir.empty() && is_slash(dir.back()))
        dir.pop_back();
    std::wstring folder = p.drive + dir;
    const size_t last = folder.rfind(L'\\');
    std::wstring last_folder = last == std::wstring::npos ? folder : folder.substr(last + 1);
    if (folder.size() == 2 && folder[1] == L':') {
        folder += L'\\';
        last_folder = folder;
    }
    if (p.drive.empty() && folder.empty() && !file_name.empty()) {
        folder = file_name;
        last_folder = file_name;
    }

    switch (part) {
    case path_drive:
        return p.drive;
    case path_folder:
        return folder;
    case path_last_folder:
        return last_folder;
    case path_title:
        return p.title;
    case path_extension:
        return p.ext.empty() ? std::wstring() : p.ext.substr(1);
    case path_file_name:
        return file_name;
    default:
        return std::wstring();
    }
}

int split_text(const std::wstring& text, const std::wstring& separator,
               std::vector<std::wstring>& list, bool keep_empty, int max_count, bool join_rest) {
    list.clear();
    std::wstring rest = text;
    for (;;) {
        // An empty separator would match forever without consuming anything.
        const size_t p = separator.empty() ? std::wstring::npos : rest.find(separator);
        const bool found = p != std::wstring::npos;
        std::wstring token;
        if (found) {
            token = rest.substr(0, p);
            rest.erase(0, p + separator.size());
        } else {
            token.swap(rest);
        }
        if (!token.empty() || keep_empty)
            list.push_back(token);
        if (max_count > 0 && list.size() == static_cast<size_t>(max_count)) {
            if (join_rest && !rest.empty())
                list.back() += separator + rest;
            break;
        }
        if (!found)
            break;
    }
    return static_cast<int>(list.size());
}

int compare_versions(const std::wstring& a, const std::wstring& b, wchar_t separator) {
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        const int64_t x = read_version_field(a, i, separator);
        const int64_t y = read_version_field(b, j, separator);
        if (x < y)
            return -1;
        if (x > y)
            return 1;
    }
    return 0;
}

int count_char(const std::wstring& text, bool from_start, wchar_t ch, bool stop_at_other) {
    int count = 0;
    const size_t n = text.size();
    for (size_t k = 0; k < n; ++k) {
        const wchar_t c = from_start ? text[k] : text[n - 1 - k];
        if (c == ch)
            ++count;
        else if (stop_at_other)
            break;
    }
    return count;
}

bool is_digits(const std::wstring& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

bool is_device_name(const std::wstring& segment) {
    std::wstring stem = segment.substr(0, segment.find(L'.'));
    while (!stem.empty() && stem.back() == L' ')
        stem.pop_back();
    for (auto& c : stem)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" ||
        stem == L"CONOUT$")
        return true;
    // COM1-9 and LPT1-9, also with superscript digits, which Windows treats alike.
    return stem.size() == 4 &&
           (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           ((stem[3] >= L'0' && stem[3] <= L'9') || stem[3] == 0xB9 || stem[3] == 0xB2 ||
            stem[3] == 0xB3);
}

namespace {

bool is_unsafe_char(wchar_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) ||
           std::wcschr(L"\\/:*?\"<>|", c) != nullptr;
}

// NTFS keeps at most 255 characters in one name.
constexpr size_t k_max_segment = 255;

bool is_safe_segment(const std::wstring& segment) {
    if (segment.empty() || segment.size() > k_max_segment)
        return false;
    for (wchar_t c : segment)
        if (is_unsafe_char(c))
            return false;
    // Covers "." and "..": Windows drops trailing dots and blanks.
    const wchar_t last = segment.back();
    return last != L' ' && last != L'.' && !is_device_name(segment);
}

} // namespace

bool is_safe_folder_name(const std::wstring& name) {
    // A leading dot or blank too: such a name is easily mistaken for "." or another name.
    return name.size() <= k_max_folder_name && is_safe_segment(name) && name.front() != L' ' &&
           name.front() != L'.';
}

bool is_safe_relative_name(const std::wstring& name) {
    if (name.empty() || name.size() > k_max_relative_name ||
        std::wcschr(L" \t;#", name.front()) != nullptr)
        return false;
    size_t start = 0;
    for (;;) {
        const size_t end = name.find_first_of(L"/\\", start);
        if (!is_safe_segment(name.substr(start, end - start)))
            return false;
        if (end == std::wstring::npos)
            return true;
        start = end + 1;
    }
}

std::wstring printable_text(const std::wstring& text) {
    std::wstring out;
    const size_t shown = std::min(text.size(), k_max_shown_text);
    for (size_t i = 0; i < shown; ++i) {
        const wchar_t c = text[i];
        if (c == L'\r')
            out += L"\\r";
        else if (c == L'\n')
            out += L"\\n";
        else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            static const wchar_t hex[] = L"0123456789ABCDEF";
            out += L"\\x";
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
        } else {
            out += c;
        }
    }
    if (text.size() > shown)
        out += L"... (" + std::to_wstring(text.size()) + L" characters)";
    return out;
}

std::wstring trim(const std::wstring& text) {
    size_t b = 0, e = text.size();
    while (b < e && std::iswspace(static_cast<wint_t>(text[b])))
        ++b;
    while (e > b && std::iswspace(static_cast<wint_t>(text[e - 1])))
        --e;
    return text.substr(b, e - b);
}

std::wstring replace_all(std::wstring text, const std::wstring& from, const std::wstring& to) {
    if (from.empty())
        return text;
    for (size_t pos = text.find(from); pos != std::wstring::npos;
         pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}

std::wstring to_lower(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return text;
}

int detect_utf8_bytes(const unsigned char* data, size_t size) {
    const size_t n = std::min<size_t>(size, 4096);
    size_t i = 0;
    while (i < n) {
        const unsigned char lead = data[i];
        size_t follow = 0;
        if (lead < 0x80)
            follow = 0;
        else if (lead >= 0xC0 && lead <= 0xDF)
            follow = 1;
        else if (lead >= 0xE0 && lead <= 0xEF)
            follow = 2;
        else
            return 0; // a stray continuation byte, or a four-byte (or longer) lead
        ++i;
        for (size_t k = 0; k < follow; ++k, ++i) {
            if (i >= n)
                return 65001; // cut off by the end of what was looked at
            if ((data[i] & 0xC0) != 0x80)
                return 0;
        }
    }
    return 65001;
}

std::string utf8_encode(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                cp =
                    0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
                ++i;
            } else if (is_surrogate(cp)) {
                cp = k_replacement;
            }
        } else {
            if (is_surrogate(cp) || cp > 0x10FFFF)
                cp = k_replacement;
        }
        append_utf8(out, cp);
    }
    return out;
}

std::wstring utf8_decode(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<wchar_t>(b0));
            ++i;
            continue;
        }
        // Allowed range of the second byte rules out overlong forms, surrogates and
        // values above U+10FFFF; later bytes are plain continuations.
        size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        char32_t cp = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
            cp = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            cp = b0 & 0x0F;
            if (b0 == 0xE0)
                lo = 0xA0;
            else if (b0 == 0xED)
                hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            cp = b0 & 0x07;
            if (b0 == 0xF0)
                lo = 0x90;
            else if (b0 == 0xF4)
                hi = 0x8F;
        } else {
            out.push_back(static_cast<wchar_t>(k_replacement));
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k < len && i + k < n; ++k) {
            const unsigned char b = static_cast<unsigned char>(bytes[i + k]);
            const unsigned char min = k == 1 ? lo : 0x80;
            const unsigned char max = k == 1 ? hi : 0xBF;
            if (b < min || b > max)
                break;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (k == len)
            append_code_point(out, cp);
        else
            out.push_back(static_cast<wchar_t>(k_replacement)); // the maximal bad prefix
        i += k;
    }
    return out;
}

std::wstring decode_utf8_text_mode(const std::string& bytes) {
    size_t start = 0;
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
        static_cast<unsigned char>(bytes[1]) == 0xBB &&
        static_cast<unsigned char>(bytes[2]) == 0xBF)
        start = 3;
    return utf8_decode(crlf_to_lf(bytes.substr(start)));
}

std::string crlf_to_lf(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        out.push_back(bytes[i]);
    }
    return out;
}

std::string lf_to_crlf(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 16);
    for (char c : bytes) {
        if (c == '\n')
            out.push_back('\r');
        out.push_back(c);
    }
    return out;
}
