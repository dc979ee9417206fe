#include "app/batch_script_win.h"

#include "app/self_update.h"
#include "util/text_util.h"
#include "util/unique_handle.h"

namespace {

// Only when every character survives the round trip: a best-fit or default character would
// name another file.
bool to_oem(const std::wstring& text, std::string& out) {
    out.clear();
    if (text.empty())
        return true;
    BOOL used_default = FALSE;
    const int size = static_cast<int>(text.size());
    const int n = ::WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr,
                                        0, nullptr, &used_default);
    if (n <= 0 || used_default)
        return false;
    std::string bytes(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, text.data(), size, &bytes[0], n, nullptr,
                          &used_default);
    const int back = ::MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), n, nullptr, 0);
    std::wstring check(static_cast<size_t>(back > 0 ? back : 0), L'\0');
    if (back > 0)
        ::MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), n, &check[0], back);
    if (used_default || check != text)
        return false;
    out.swap(bytes);
    return true;
}

} // namespace

std::wstring short_path_form(const std::wstring& path) {
    const size_t name_at = path.find_last_of(L'\\');
    if (name_at == std::wstring::npos)
        return path;
    // The name stays: a short name only exists while its file does, and the scripts delete
    // and create files by these names.
    const std::wstring name = path.substr(name_at);
    std::wstring head = path.substr(0, name_at);
    std::wstring tail;
    for (;;) {
        // A drive root has nothing to shorten.
        if (head.size() <= 3)
            return path;
        const DWORD needed = ::GetShortPathNameW(head.c_str(), nullptr, 0);
        if (needed > 0) {
            std::wstring shorter(needed, L'\0');
            const DWORD n = ::GetShortPathNameW(head.c_str(), &shorter[0], needed);
            if (n > 0 && n < needed) {
                shorter.resize(n);
                return shorter + tail + name;
            }
        }
        const size_t cut = head.find_last_of(L'\\');
        if (cut == std::wstring::npos)
            return path;
        tail = head.substr(cut) + tail;
        head.resize(cut);
    }
}

std::string batch_script_bytes(const std::vector<std::wstring>& paths, const batch_builder& build,
                               batch_encoding* used) {
    std::string bytes;
    const std::wstring text = build(paths);
    if (to_oem(text, bytes)) {
        if (used)
            *used = batch_encoding::oem;
        return bytes;
    }
    std::vector<std::wstring> shorter;
    for (const std::wstring& p : paths)
        shorter.push_back(short_path_form(p));
    if (to_oem(build(shorter), bytes)) {
        if (used)
            *used = batch_encoding::oem_short_paths;
        return bytes;
    }
    if (used)
        *used = batch_encoding::utf8;
    return k_batch_utf8_line + utf8_encode(text);
}

bool write_file_bytes(const std::wstring& path, const std::string& bytes) {
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    // A short write is not detected here any more than the runtime's stream would have.
    ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return true;
}
