#include "app/url_scheme_win.h"

#include "util/unique_handle.h"

namespace {

constexpr REGSAM k_scheme_access = KEY_READ | KEY_WRITE;

unique_hkey create_key(HKEY parent, const std::wstring& name) {
    HKEY key = nullptr;
    // The out-parameter is not promised to stay null on failure.
    if (!parent || ::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     k_scheme_access, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return unique_hkey();
    return unique_hkey(key);
}

// The stored length counts the terminating zero, as readers of the value expect.
void set_string(HKEY key, const wchar_t* name, const std::wstring& data) {
    if (!key)
        return;
    const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes);
}

} // namespace

bool write_url_scheme(HKEY root, const std::wstring& scheme, const std::wstring& description,
                      const std::wstring& launcher_path) {
    unique_hkey scheme_key = create_key(root, url_scheme_key(scheme));
    if (!scheme_key)
        return false;
    set_string(scheme_key.get(), nullptr, description);
    set_string(scheme_key.get(), L"URL Protocol", L"");
    unique_hkey icon = create_key(scheme_key.get(), L"DefaultIcon");
    set_string(icon.get(), nullptr, launcher_path);
    unique_hkey command = create_key(scheme_key.get(), L"shell\\open\\command");
    set_string(command.get(), nullptr, url_scheme_command(launcher_path));
    return true;
}
