#pragma once
// The owner of a WinINet handle, apart from util/unique_handle.h so that only the HTTP client
// pulls in the internet headers.
#include <windows.h>
#include <wininet.h>

#include "util/unique_handle.h"

struct hinternet_traits {
    using pointer = HINTERNET;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::InternetCloseHandle(h); }
};
using unique_hinternet = unique_handle<hinternet_traits>;
