#include "util/file_util_win.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <new>

#include "util/text_util.h"
#include "util/text_util_win.h"
#include "util/unique_handle.h"

namespace {

constexpr int64_t k_unix_epoch_ticks = 116444736000000000LL;
constexpr int64_t k_ticks_per_second = 10000000LL;
constexpr size_t k_detect_bytes = 4096;
// Text files here are small (access tests, lists); a huge one is refused rather than
// exhausting memory.
constexpr uint64_t k_max_text_file = 256ull << 20;

// {374DE290-123F-4565-9164-39C4925E467B}
constexpr GUID k_folder_downloads = {
    0x374de290, 0x123f, 0x4565, {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}};

std::wstring module_path() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::wstring();
        if (n < buffer.size())
            return std::wstring(buffer.data(), n);
        if (buffer.size() >= 32768)
            return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

bool get_attributes(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return !path.empty() && ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
}

// Opened the way the runtime's fopen shares files, so a file held without sharing by
// someone else fails here instead of being read half-way.
unique_hfile open_for_read(const std::wstring& path) {
    if (path.empty())
        return unique_hfile();
    return unique_hfile(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool read_bytes(HANDLE file, size_t max, std::string& out) {
    out.assign(max, '\0');
    size_t got = 0;
    while (got < max) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(max - got, 1u << 20));
        if (!::ReadFile(file, &out[got], want, &n, nullptr))
            return false;
        if (n == 0)
            break;
        got += n;
    }
    out.resize(got);
    return true;
}

bool write_all(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!::WriteFile(file, bytes.data() + done, want, &n, nullptr) || n == 0)
            return false;
        done += n;
    }
    return true;
}

// A zero-filled buffer read back as a C string ends at the first zero.
template <typename S> S up_to_zero(const S& text) {
    return text.substr(0, text.find(typename S::value_type(0)));
}

const wchar_t* drive_root_or_null(const std::wstring& drive, std::wstring& storage) {
    if (drive.empty())
        return nullptr; // the current directory's drive
    storage = drive.size() == 1 ? drive + L":\\" : drive;
    return storage.c_str();
}

bool disk_space(const std::wstring& drive, uint64_t& total, uint64_t& free) {
    std::wstring storage;
    const wchar_t* root = drive_root_or_null(drive, storage);
    if (::GetDriveTypeW(root) == DRIVE_CDROM)
        return false;
    ULARGE_INTEGER t{}, f{};
    if (!::GetDiskFreeSpaceExW(root, nullptr, &t, &f))
        return false;
    total = t.QuadPart;
    free = f.QuadPart;
    return true;
}

bool is_drive_root(const std::wstring& path) {
    if (path.size() < 2 || path.size() > 3 || path[1] != L':')
        return false;
    const wchar_t letter = path[0];
    const bool is_letter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
    return is_letter && (path.size() == 2 || path[2] == L'\\');
}

std::vector<std::wstring> filter_tokens(const std::wstring& text) {
    std::vector<std::wstring> tokens;
    split_text(to_lower(text), L";", tokens, false);
    return tokens;
}

void collect_files(const std::wstring& folder, const std::wstring& mask,
                   const std::vector<std::wstring>& extensions, bool include_folders,
                   const std::vector<std::wstring>& excludes, std::vector<std::wstring>& list,
                   bool recursive) {
    std::wstring base = folder;
    if (base.empty() || base.back() != L'\\')
        base += L'\\';
    WIN32_FIND_DATAW data;
    unique_hfind find(::FindFirstFileW((base + mask).c_str(), &data));
    if (!find)
        return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = base + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A junction or link could lead back up the tree; it is not followed.
            if (recursive) {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    collect_files(path, mask, extensions, include_folders, excludes, list,
                                  recursive);
            } else if (include_folders) {
                list.push_back(path);
            }
            continue;
        }
        const std::wstring lower_name = split_path(to_lower(name), path_file_name);
        if (!extensions.empty()) {
            const std::wstring ext = split_path(lower_name, path_extension);
            if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end())
                continue;
        }
        const bool excluded =
            std::any_of(excludes.begin(), excludes.end(), [&](const std::wstring& token) {
                return lower_name.find(token) != std::wstring::npos;
            });
        if (!excluded)
            list.push_back(path);
    } while (::FindNextFileW(find.get(), &data));
}

} // namespace

// ---- paths and folders

std::wstring get_exe_folder() {
    return split_path(module_path(), path_folder);
}

std::wstring get_exe_name(bool full) {
    const std::wstring path = module_path();
    return full ? path : split_path(path, path_file_name);
}

std::wstring get_current_folder() {
    const DWORD need = ::GetCurrentDirectoryW(0, nullptr);
    if (need == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(need);
    const DWORD n = ::GetCurrentDirectoryW(need, buffer.data());
    return n > 0 && n < need ? std::wstring(buffer.data(), n) : std::wstring();
}

bool path_exists(const std::wstring& path) {
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_folder(const std::wstring& path) {
    if (path.empty())
        return false;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ensure_folder(const std::wstring& path) {
    if (path.empty() || path.size() >= static_cast<size_t>(k_max_path))
        return false;
    if (path_exists(path))
        return true;
    // The shell wants a full path.
    wchar_t full[k_max_path] = {};
    const DWORD n = ::GetFullPathNameW(path.c_str(), k_max_path, full, nullptr);
    if (n == 0 || n >= static_cast<DWORD>(k_max_path))
        return false;
    const int result = ::SHCreateDirectoryExW(nullptr, full, nullptr);
    if (result == ERROR_SUCCESS)
        return true;
    // Someone else may have created it meanwhile.
    return (result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS) && path_exists(path);
}

bool delete_folder(const std::wstring& path) {
    // The shell would expand wildcards and delete everything they match; an empty path
    // means nothing sensible; a long one does not fit its path buffers.
    if (path.empty() || path.size() >= static_cast<size_t>(k_max_path) ||
        path.find_first_of(L"*?") != std::wstring::npos)
        return false;
    std::wstring from = path;
    from.push_back(L'\0'); // the list ends with a second terminator (c_str adds it)
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_SIMPLEPROGRESS | FOF_NOERRORUI;
    op.lpszProgressTitle = path.c_str();
    return ::SHFileOperationW(&op) == 0;
}

bool delete_file(const std::wstring& path) {
    return !path.empty() && ::DeleteFileW(path.c_str());
}

bool read_file_bytes(const std::wstring& path, size_t max_bytes, std::string& out) {
    out.clear();
    unique_hfile file = open_for_read(path);
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > max_bytes)
        return false;
    return read_bytes(file.get(), static_cast<size_t>(size.QuadPart), out);
}

bool flush_file(const std::wstring& path) {
    // Only a handle with write access can be flushed.
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && ::FlushFileBuffers(file.get());
}

bool is_link(const std::wstring& path) {
    const DWORD attributes =
        path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool delete_tree(const std::wstring& path) {
    if (path.empty() || path.size() >= static_cast<size_t>(k_max_path) ||
        path.find_first_of(L"*?") != std::wstring::npos)
        return false;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    }
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A junction or symbolic link goes as a link: what it points at is never looked into.
    // (Windows removes a folder link with RemoveDirectory; Wine 8 refuses to remove a Unix
    // symbolic link either way, so there the caller sees a failure and leaves it alone.)
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return (folder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str())) != FALSE;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!folder)
        return ::DeleteFileW(path.c_str()) != FALSE;
    bool all = true;
    WIN32_FIND_DATAW data;
    unique_hfind find(::FindFirstFileW((path + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..")
                all = delete_tree(path + L"\\" + name) && all;
        } while (::FindNextFileW(find.get(), &data));
    }
    find.reset();
    return all && ::RemoveDirectoryW(path.c_str());
}

std::wstring get_special_folder(int csidl) {
    wchar_t buffer[k_max_path] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE))
        return std::wstring();
    return std::wstring(buffer, wcsnlen(buffer, k_max_path));
}

std::wstring get_known_folder(const GUID& folder_id) {
    if (!IsEqualGUID(folder_id, k_folder_downloads))
        return std::wstring();
    const std::wstring profile = get_special_folder(CSIDL_PROFILE);
    // Without a profile the result would be a root-relative "\Downloads".
    return profile.empty() ? std::wstring() : profile + L"\\Downloads";
}

uint64_t get_path_size(const std::wstring& path) {
    if (is_drive_root(path)) {
        const uint64_t total = get_drive_total(path);
        const uint64_t free = get_drive_free(path);
        return total > free ? total - free : 0;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!get_attributes(path, data))
        return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

uint64_t get_drive_total(const std::wstring& drive) {
    uint64_t total = 0, free = 0;
    return disk_space(drive, total, free) ? total : 0;
}

uint64_t get_drive_free(const std::wstring& drive) {
    uint64_t total = 0, free = 0;
    return disk_space(drive, total, free) ? free : 0;
}

int64_t get_file_mtime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!get_attributes(path, data))
        return 0;
    const int64_t ticks =
        static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                             data.ftLastWriteTime.dwLowDateTime);
    return (ticks - k_unix_epoch_ticks) / k_ticks_per_second;
}

// ---- files and encodings

int detect_utf8(const std::wstring& path) {
    unique_hfile file = open_for_read(path);
    if (!file)
        return -1;
    std::string head;
    if (!read_bytes(file.get(), k_detect_bytes, head))
        return -1;
    return detect_utf8_bytes(reinterpret_cast<const unsigned char*>(head.data()), head.size());
}

std::wstring read_text_file(const std::wstring& path, int encoding, int max_chars) {
    unique_hfile file = open_for_read(path);
    if (!file)
        return std::wstring();
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        static_cast<uint64_t>(size.QuadPart) > k_max_text_file)
        return std::wstring();
    const size_t file_size = static_cast<size_t>(size.QuadPart);
    const size_t limit =
        max_chars >= 1 && static_cast<size_t>(max_chars) < file_size ? max_chars : file_size;

    try {
        std::string head;
        if (!read_bytes(file.get(), std::min(file_size, k_detect_bytes), head))
            return std::wstring();
        const bool utf8 =
            encoding > 0 ||
            (encoding < 0 && detect_utf8_bytes(reinterpret_cast<const unsigned char*>(head.data()),
                                               head.size()) == 65001);
        // Enough raw bytes for `limit` characters after "\r\n" pairs collapse: at most three
        // bytes per character in UTF-8 (plus the byte-order mark), two in ANSI.
        const size_t wanted = std::min(file_size, utf8 ? 3 * limit + 4 : 2 * limit + 1);
        std::string bytes = head;
        if (bytes.size() < wanted) {
            std::string more;
            if (!read_bytes(file.get(), wanted - bytes.size(), more))
                return std::wstring();
            bytes += more;
        }
        bytes.resize(std::min(bytes.size(), wanted));

        if (utf8) {
            std::wstring text = decode_utf8_text_mode(bytes);
            if (text.size() > limit) {
                size_t keep = limit;
                // Never end on half of a surrogate pair.
                if (sizeof(wchar_t) == 2 && text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF)
                    --keep;
                text.resize(keep);
            }
            return up_to_zero(text);
        }
        std::string ansi = crlf_to_lf(bytes);
        if (ansi.size() > limit)
            ansi.resize(limit);
        return from_ansi(up_to_zero(ansi));
    } catch (const std::bad_alloc&) {
        return std::wstring();
    }
}

bool write_text_file(const std::wstring& path, const std::wstring& text, bool utf8,
                     bool terminate) {
    if (path.empty())
        return false;
    std::string bytes;
    try {
        bytes = utf8 ? "\xEF\xBB\xBF" + lf_to_crlf(utf8_encode(text)) : lf_to_crlf(to_ansi(text));
        if (!utf8 && terminate)
            bytes.push_back('\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    // A short write (a full disk) is a failure, not a written file.
    return write_all(file.get(), bytes);
}

namespace {

// True when `path` names a file that is readable and does not begin like an executable image
// ("MZ") nor like a compressed file that Wine unpacks before looking ("SZDD"): no version
// resource can be in it. The version functions would find that out only after loading the
// file as a module, at many times the cost. Relative names are left to those functions,
// which look for them along the module search path.
bool cannot_hold_version(const std::wstring& path) {
    const bool absolute = path.size() >= 3 && ((path[1] == L':' && path[2] == L'\\') ||
                                               (path[0] == L'\\' && path[1] == L'\\'));
    if (!absolute)
        return false;
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    char head[4] = {};
    DWORD got = 0;
    if (!::ReadFile(file.get(), head, sizeof(head), &got, nullptr))
        return false;
    if (got >= 2 && head[0] == 'M' && head[1] == 'Z')
        return false;
    return !(got == 4 && std::memcmp(head, "SZDD", 4) == 0);
}

} // namespace

std::wstring get_file_version_string(const std::wstring& path, const std::wstring& key) {
    const std::wstring file = path.empty() ? module_path() : path;
    if (cannot_hold_version(file))
        return std::wstring();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return std::wstring();
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data()))
        return std::wstring();

    // What the runtime's formatter prints for a missing string argument, which callers
    // have always been given when the value is absent.
    const std::wstring missing = L"(null)";
    void* value = nullptr;
    UINT len = 0;
    if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &len) || !value ||
        len < 2 * sizeof(WORD))
        return missing;
    const WORD* pair = static_cast<const WORD*>(value);
    const std::wstring sub =
        format_text(L"\\StringFileInfo\\%04x%04x\\%s", pair[0], pair[1], key.c_str());
    value = nullptr;
    len = 0;
    if (!::VerQueryValueW(block.data(), sub.c_str(), &value, &len) || !value)
        return missing;
    // The length is in characters; the text need not be terminated inside it, and it must
    // lie inside the block that was read.
    const BYTE* begin = block.data();
    const BYTE* at = static_cast<const BYTE*>(value);
    if (at < begin || at >= begin + block.size())
        return missing;
    const size_t room = static_cast<size_t>(begin + block.size() - at) / sizeof(wchar_t);
    const wchar_t* text = static_cast<const wchar_t*>(value);
    return std::wstring(text, wcsnlen(text, std::min<size_t>(len, room)));
}

// ---- lists

void list_files(const std::wstring& folder, const std::wstring& mask,
                const std::wstring& include_extensions, bool include_folders,
                const std::wstring& exclude_names, bool sort, std::vector<std::wstring>& list,
                bool recursive) {
    const std::wstring pattern = mask.empty() ? L"*" : mask;
    const std::vector<std::wstring> extensions =
        filter_tokens(replace_all(replace_all(include_extensions, L"*", L""), L".", L""));
    const std::vector<std::wstring> excludes = filter_tokens(exclude_names);
    collect_files(folder, pattern, extensions, include_folders, excludes, list, recursive);
    // Sorting once at the end gives the order sorting after every level would; a stable
    // sort stays inside the list even if the shell's order were not strictly consistent.
    if (sort && !list.empty())
        std::stable_sort(
            list.begin(), list.end(),
            [](const std::wstring& a, const std::wstring& b) { return compare_natural(b, a); });
}
