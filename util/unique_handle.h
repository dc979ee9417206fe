#pragma once
// One move-only owner for every kind of Win32 handle; a traits type says what "none" is and
// how to close it.
#include <windows.h>

#include <utility>

template <typename Traits> class unique_handle {
public:
    using pointer = typename Traits::pointer;

    unique_handle() noexcept = default;
    explicit unique_handle(pointer h) noexcept : m_h(h) {}
    ~unique_handle() { reset(); }

    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    unique_handle(unique_handle&& other) noexcept : m_h(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    pointer get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Traits::invalid(); }

    [[nodiscard]] pointer release() noexcept { return std::exchange(m_h, Traits::invalid()); }

    // Closing must not disturb the error code the caller is about to log.
    void reset(pointer h = Traits::invalid()) noexcept {
        if (m_h != Traits::invalid()) {
            const DWORD err = ::GetLastError();
            Traits::close(m_h);
            ::SetLastError(err);
        }
        m_h = h;
    }

    // For out-parameters of creation calls; drops what was held before.
    pointer* put() noexcept {
        reset();
        return &m_h;
    }

private:
    pointer m_h = Traits::invalid();
};

struct handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
struct file_handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
struct find_handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::FindClose(h); }
};
struct hkey_traits {
    using pointer = HKEY;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::RegCloseKey(h); }
};
struct hmodule_traits {
    using pointer = HMODULE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::FreeLibrary(h); }
};
struct gdi_traits {
    using pointer = HGDIOBJ;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DeleteObject(h); }
};
struct memory_dc_traits {
    using pointer = HDC;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DeleteDC(h); }
};
struct hicon_traits {
    using pointer = HICON;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DestroyIcon(h); }
};
struct local_mem_traits {
    using pointer = HLOCAL;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::LocalFree(h); }
};

using unique_hhandle = unique_handle<handle_traits>;
using unique_hfile = unique_handle<file_handle_traits>;
using unique_hfind = unique_handle<find_handle_traits>;
using unique_hkey = unique_handle<hkey_traits>;
using unique_hmodule = unique_handle<hmodule_traits>;
using unique_hgdiobj = unique_handle<gdi_traits>;
using unique_memory_dc = unique_handle<memory_dc_traits>;
using unique_hicon = unique_handle<hicon_traits>;
using unique_hlocal = unique_handle<local_mem_traits>;
