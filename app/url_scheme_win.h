#pragma once
#include <windows.h>

#include <string>

#include "app/url_scheme.h"

// Writes the scheme key below `root` (the description and the empty "URL Protocol", the
// icon and the open command). False when the scheme key itself cannot be created or opened;
// failures below it are not reported.
bool write_url_scheme(HKEY root, const std::wstring& scheme, const std::wstring& description,
                      const std::wstring& launcher_path);
