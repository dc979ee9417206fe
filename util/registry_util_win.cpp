#include "util/registry_util_win.h"

#include <algorithm>
#include <cstring>

#include "util/unique_handle.h"

namespace {

constexpr DWORD k_read_buffer_bytes = 2048;
constexpr size_t k_max_write_chars = 999;

} // namespace

LONG read_hklm_string(const std::wstring& subkey, const std::wstring& name, std::wstring& out) {
    out.clear();
    unique_hkey key;
    LONG result = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (result != ERROR_SUCCESS)
        return result;

    // A longer value is refused with ERROR_MORE_DATA rather than cut. The stored data need
    // not end in a terminator (write_hklm_string stores none), so the length comes from
    // the byte count, never from searching the buffer.
    wchar_t buffer[k_read_buffer_bytes / sizeof(wchar_t)] = {};
    DWORD type = 0;
    DWORD size = k_read_buffer_bytes;
    result = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(buffer), &size);
    if (result != ERROR_SUCCESS)
        return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_UNSUPPORTED_TYPE;
    const size_t chars = std::min<size_t>(size, k_read_buffer_bytes) / sizeof(wchar_t);
    out.assign(buffer, wcsnlen(buffer, chars));
    return ERROR_SUCCESS;
}

LONG write_hklm_string(const std::wstring& subkey, const std::wstring& name,
                       const std::wstring& data) {
    if (data.size() > k_max_write_chars)
        return ERROR_INVALID_PARAMETER;
    unique_hkey key;
    LONG result =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    // Stored without a terminator: readers of this value have always been given exactly
    // twice the character count.
    const DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    return ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(data.c_str()), bytes);
}
