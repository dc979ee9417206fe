#pragma once
// Strings under HKEY_LOCAL_MACHINE; results are registry error codes, 0 on success.
#include <windows.h>

#include <string>

LONG read_hklm_string(const std::wstring& subkey, const std::wstring& name, std::wstring& out);
LONG write_hklm_string(const std::wstring& subkey, const std::wstring& name,
                       const std::wstring& data);
