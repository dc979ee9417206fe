#include "app/url_scheme.h"

std::wstring url_scheme_key(const std::wstring& scheme) {
    return L"Software\\Classes\\" + scheme;
}

std::wstring url_scheme_command(const std::wstring& launcher_path) {
    const bool has_blank = launcher_path.find_first_of(L" \t") != std::wstring::npos;
    const std::wstring path = has_blank ? L"\"" + launcher_path + L"\"" : launcher_path;
    return path + L" \"%1\"";
}
