#include "launcher/access_code.h"

#include "util/text_util.h"

namespace {

// Anything the command-line splitter, the shell or a program reading the line word by word
// could take for a separator. A fixed list: the runtime's classification depends on the
// locale and differs between the two builds.
bool splits_arguments(wchar_t c) {
    if (c < 0x20 || c == L' ' || (c >= 0x7F && c <= 0xA0))
        return true;
    return c == 0x1680 || (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

// Quoting, escaping and redirection for the argument parser and the command interpreter,
// and the variable marker that a batch file or a URL decoder would expand.
bool is_interpreted(wchar_t c) {
    switch (c) {
    case L'"':
    case L'&':
    case L'|':
    case L'<':
    case L'>':
    case L'^':
    case L'%':
        return true;
    default:
        return false;
    }
}

} // namespace

std::wstring code_box_text(const std::wstring& text) {
    if (text.size() < k_code_space_at + 1 || count_char(text, true, L' ', false) != 0)
        return text;
    std::wstring out = text;
    out.insert(k_code_space_at, 1, L' ');
    return out;
}

std::wstring code_digits(const std::wstring& text) {
    return replace_all(text, L" ", L"");
}

bool is_valid_access_code(const std::wstring& text) {
    return is_digits(code_digits(text));
}

int32_t access_code_number(const std::wstring& text) {
    const std::wstring digits = code_digits(text);
    int64_t value = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9')
            break;
        value = value * 10 + (c - L'0');
        if (value > INT32_MAX)
            return 0;
    }
    return static_cast<int32_t>(value);
}

bool is_accepted_title_key(const std::wstring& key) {
    return key.size() == k_title_key_length;
}

std::wstring host_safe_param(const std::wstring& param) {
    size_t begin = 0;
    while (begin < param.size() && splits_arguments(param[begin]))
        ++begin;
    std::wstring out;
    for (size_t i = begin; i < param.size(); ++i) {
        const wchar_t c = param[i];
        if (splits_arguments(c))
            break;
        if (is_interpreted(c))
            continue;
        // "-u" or "/u" as the parameter would read as one of the host's own switches.
        if (out.empty() && (c == L'-' || c == L'/'))
            continue;
        out.push_back(c);
    }
    return out;
}
