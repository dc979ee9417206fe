#include "engine/file_check_win.h"

#include "engine/release_statement.h"
#include "util/crypto_win.h"
#include "util/text_util_win.h"

bool file_matches(const std::wstring& path, const std::wstring& shown, uint64_t size,
                  const sha256_digest& digest, std::wstring& problem) {
    unique_hfile held;
    return hold_matching_file(path, shown, size, digest, held, problem);
}

bool hold_matching_file(const std::wstring& path, const std::wstring& shown, uint64_t size,
                        const sha256_digest& digest, unique_hfile& held, std::wstring& problem) {
    // CreateFileW, dwShareMode: without FILE_SHARE_WRITE a later open for writing fails, and
    // without FILE_SHARE_DELETE one that asks for delete access, which renaming needs; an open
    // fails as well when the file is already open for writing (for anyone, this process too).
    // https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-createfilew
    held = open_for_hashing(path);
    sha256_digest actual{};
    uint64_t actual_size = 0;
    DWORD error = held ? 0 : ::GetLastError();
    if (!held || !sha256_handle(held.get(), actual, actual_size, error)) {
        held.reset();
        problem = format_text(L"%s could not be hashed (error %lu)", shown.c_str(),
                              static_cast<unsigned long>(error));
        return false;
    }
    if (actual_size == size && actual == digest)
        return true;
    held.reset();
    problem = mismatch_text(shown, actual_size, actual, size, digest);
    return false;
}
