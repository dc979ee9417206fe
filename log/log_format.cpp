#include "log/log_format.h"

#include <new>

namespace {

// Zero-padded decimal; printf's %0Nd without depending on the platform's wide printf.
std::wstring pad(int value, int width) {
    std::wstring digits = std::to_wstring(value < 0 ? -static_cast<long long>(value) : value);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, width - digits.size(), L'0');
    return value < 0 ? L"-" + digits : digits;
}

} // namespace

const wchar_t* log_level_tag(int level) {
    switch (level) {
    case 1:
        return L"[info]";
    case 2:
        return L"[warn]";
    case 3:
        return L"[error]";
    case 4:
        return L"[critical]";
    case 5:
        return L"[sql]";
    case 7:
        return L"[debug]";
    default:
        return L"";
    }
}

std::wstring log_file_name(const std::wstring& folder, const std::wstring& title,
                           const calendar_time& day) {
    return folder + L"\\" + title + L"_" + std::to_wstring(day.year) + pad(day.month, 2) +
           pad(day.day, 2) + L".log";
}

std::wstring format_log_line(const calendar_time& now, const std::wstring& function,
                             const std::wstring& line, const std::wstring& tag,
                             const std::wstring& message) {
    std::wstring out;
    out.reserve(48 + function.size() + tag.size() + message.size());
    out += L"[" + std::to_wstring(now.year) + L"/" + pad(now.month, 2) + L"/" + pad(now.day, 2);
    out += L" " + pad(now.hour, 2) + L":" + pad(now.minute, 2) + L":" + pad(now.second, 2);
    out += L"." + pad(now.millisecond, 3) + L"]";
    out += L"[" + function + L"][" + line + L"]" + tag + L" " + message;
    return out;
}

std::wstring log_format_failure_text() {
    try {
        return L"log_text.FormatV() exception.";
    } catch (const std::bad_alloc&) {
        return std::wstring();
    }
}

size_t cut_leading_line_feeds(std::wstring& message) {
    size_t n = 0;
    while (n < message.size() && message[n] == L'\n')
        ++n;
    message.erase(0, n);
    return n;
}

log_folder_choice choose_log_folder(const std::wstring& folder_argument,
                                    const std::wstring& exe_folder) {
    log_folder_choice choice;
    if (folder_argument.empty()) {
        choice.folder = exe_folder + L"\\Log";
        return choice;
    }
    std::wstring folder = folder_argument;
    for (auto& c : folder)
        if (c == L'/')
            c = L'\\';
    const size_t drive = folder.find(L":\\");
    if (drive != std::wstring::npos && drive > 0) {
        choice.folder = folder;
        return choice;
    }
    choice.folder = exe_folder + L"\\" + folder;
    choice.relative = true;
    return choice;
}
