#pragma once
// What the URL scheme's registry key holds. The texts need no Win32; the registration itself
// is in url_scheme_win.h.
#include <string>

// "Software\Classes\" + scheme, below HKEY_CURRENT_USER.
std::wstring url_scheme_key(const std::wstring& scheme);

// The open command: the launcher's path, a blank and the quoted URL placeholder. The path
// stands unquoted as it always has, unless it holds a blank: the shell would then hand the
// launcher a piece of its own path as the first argument instead of the URL.
std::wstring url_scheme_command(const std::wstring& launcher_path);
