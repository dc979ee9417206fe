#include "zip/unzip.h"

#include <algorithm>
#include <memory>
#include <new>

#include "util/text_util_win.h"
#include "util/unique_handle.h"

namespace {

class file_source : public zip_source {
public:
    file_source(HANDLE file, uint64_t size) : m_file(file), m_size(size) {}
    uint64_t size() const override { return m_size; }
    // Positioned reads: no shared file pointer to keep in step.
    size_t read_at(uint64_t offset, void* buffer, size_t count) override {
        size_t done = 0;
        while (done < count) {
            OVERLAPPED at{};
            const uint64_t position = offset + done;
            at.Offset = static_cast<DWORD>(position);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
            const DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
            DWORD got = 0;
            if (!::ReadFile(m_file, static_cast<char*>(buffer) + done, want, &got, &at) || got == 0)
                break;
            done += got;
        }
        return done;
    }

private:
    HANDLE m_file;
    uint64_t m_size;
};

class file_sink : public zip_sink {
public:
    explicit file_sink(HANDLE file) : m_file(file) {}
    bool write(const void* data, size_t count) override {
        DWORD written = 0;
        return ::WriteFile(m_file, data, static_cast<DWORD>(count), &written, nullptr) &&
               written == count;
    }

private:
    HANDLE m_file;
};

FILETIME to_filetime(int64_t value) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(value));
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
    return ft;
}

int64_t local_to_utc(int64_t local_time) {
    const FILETIME local = to_filetime(local_time);
    FILETIME utc;
    if (!::LocalFileTimeToFileTime(&local, &utc))
        return local_time;
    return static_cast<int64_t>((static_cast<uint64_t>(utc.dwHighDateTime) << 32) |
                                utc.dwLowDateTime);
}

zip_platform windows_platform() {
    zip_platform p;
    p.decode_ansi = from_ansi;
    p.local_to_utc = local_to_utc;
    return p;
}

struct zip_archive : ZipHandleData {
    unique_hfile file;
    std::string bytes; // an archive held in memory
    std::unique_ptr<zip_source> source;
    CZipReader reader{windows_platform()};
    std::wstring base_folder;
};

zip_archive* archive_of(ZipHandle handle, uint32_t& code) {
    code = !handle ? ZR_ARGS : handle->kind != k_zip_kind_unzip ? ZR_NOT_UNZIP : ZR_OK;
    return code ? nullptr : static_cast<zip_archive*>(handle);
}

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

std::wstring current_folder() {
    const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(n, L'\0');
    const DWORD got = n ? ::GetCurrentDirectoryW(n, &folder[0]) : 0;
    folder.resize(got < n ? got : 0);
    if (folder.empty() || !is_separator(folder.back()))
        folder += L'\\';
    return folder;
}

bool is_existing_folder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// CREATE_ALWAYS is refused for an existing read-only, hidden or system file whose attributes
// the new ones do not repeat; an update must still replace it.
unique_hfile create_target(const std::wstring& path, DWORD attributes) {
    unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
    if (file || ::GetLastError() != ERROR_ACCESS_DENIED)
        return file;
    const DWORD existing = ::GetFileAttributesW(path.c_str());
    const DWORD sticky = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (existing == INVALID_FILE_ATTRIBUTES || (existing & FILE_ATTRIBUTE_DIRECTORY) ||
        !(existing & sticky) || !::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL))
        return file;
    file.reset(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
    return file;
}

// `written` receives the file's path once it is complete and closed (empty for a folder).
uint32_t extract_entry(zip_archive& zip, int index, const std::wstring& target,
                       std::wstring* written = nullptr) {
    if (index < 0 || index >= zip.reader.entry_count())
        return ZR_ARGS;
    zip_entry_info info;
    if (const uint32_t code = zip.reader.describe(index, info))
        return code;
    // Some tools mark folders only by the trailing separator.
    const bool folder = (info.attributes & k_attr_directory) ||
                        (!info.name.empty() && is_separator(info.name.back()));
    zip_target_plan plan;
    if (const uint32_t code = plan_zip_target(zip.base_folder, target, folder, plan))
        return code;
    // The folders usually exist already: one look at the deepest saves a call per level.
    size_t missing = plan.folders.size();
    while (missing > 0 && !is_existing_folder(plan.folders[missing - 1]))
        --missing;
    for (size_t k = missing; k < plan.folders.size(); ++k)
        ::CreateDirectoryW(plan.folders[k].c_str(), nullptr); // checked below
    if (folder)
        return is_existing_folder(plan.folders.back()) ? ZR_OK : ZR_OPEN;

    DWORD attributes = info.attributes & ~k_attr_directory;
    if (attributes == 0)
        attributes = FILE_ATTRIBUTE_NORMAL;
    unique_hfile file = create_target(plan.file_path, attributes);
    if (!file)
        return ZR_OPEN;
    file_sink sink(file.get());
    const uint32_t code = zip.reader.extract(index, sink);
    if (code == ZR_OK) {
        const FILETIME creation = to_filetime(info.creation_time);
        const FILETIME access = to_filetime(info.access_time);
        const FILETIME write = to_filetime(info.write_time);
        ::SetFileTime(file.get(), &creation, &access, &write);
        file.reset();
        if (written)
            *written = plan.file_path;
        return ZR_OK;
    }
    // A half-written program file is worse than none: the caller's rollback restores only
    // what it backed up.
    file.reset();
    ::SetFileAttributesW(plan.file_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(plan.file_path.c_str());
    return code;
}

} // namespace

ZipHandle OpenZip(const std::wstring& path) {
    std::unique_ptr<zip_archive> zip(new (std::nothrow) zip_archive);
    if (!zip)
        return nullptr;
    zip->base_folder = current_folder();
    zip->file.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!zip->file || !::GetFileSizeEx(zip->file.get(), &size))
        return nullptr;
    zip->source.reset(new (std::nothrow) file_source(zip->file.get(), size.QuadPart));
    if (!zip->source || zip->reader.open(zip->source.get()) != ZR_OK)
        return nullptr;
    zip->kind = k_zip_kind_unzip;
    return zip.release();
}

ZipHandle OpenZipMemory(std::string bytes) {
    std::unique_ptr<zip_archive> zip(new (std::nothrow) zip_archive);
    if (!zip)
        return nullptr;
    zip->base_folder = current_folder();
    zip->bytes = std::move(bytes);
    zip->source.reset(new (std::nothrow) memory_source(zip->bytes.data(), zip->bytes.size()));
    if (!zip->source || zip->reader.open(zip->source.get()) != ZR_OK)
        return nullptr;
    zip->kind = k_zip_kind_unzip;
    return zip.release();
}

uint32_t GetZipEntry(ZipHandle handle, int index, ZipEntry* entry) {
    uint32_t code;
    zip_archive* zip = archive_of(handle, code);
    if (!zip)
        return code;
    if (!entry)
        return ZR_ARGS;
    zip_entry_info info;
    if ((code = zip->reader.describe(index, info)) != ZR_OK)
        return code;
    *entry = {};
    entry->index = info.index;
    // Display copy only: extraction works from the reader's untruncated name.
    const size_t n = std::min(info.name.size(), k_zip_max_path - 1);
    info.name.copy(entry->name, n);
    entry->name[n] = L'\0';
    if (index == -1)
        return ZR_OK;
    entry->attributes = info.attributes;
    entry->access_time = to_filetime(info.access_time);
    entry->creation_time = to_filetime(info.creation_time);
    entry->write_time = to_filetime(info.write_time);
    entry->compressed_size = info.compressed_size;
    entry->uncompressed_size = info.uncompressed_size;
    return ZR_OK;
}

uint32_t UnzipItem(ZipHandle handle, int index, const std::wstring& target) {
    uint32_t code;
    zip_archive* zip = archive_of(handle, code);
    return zip ? extract_entry(*zip, index, target) : code;
}

uint32_t UnzipAll(ZipHandle handle, const std::wstring& folder,
                  const std::function<void(const std::wstring& file)>& written) {
    uint32_t code;
    zip_archive* zip = archive_of(handle, code);
    if (!zip)
        return code;
    const int count = zip->reader.entry_count();
    // A failure is kept even when later entries succeed: the caller rolls back on it.
    uint32_t first_failure = ZR_OK;
    for (int i = 0; i < count; ++i) {
        zip_entry_info info;
        code = zip->reader.describe(i, info);
        std::wstring file;
        if (code == ZR_OK)
            code = is_safe_entry_name(info.name)
                       ? extract_entry(*zip, i, folder + L"\\" + info.name, &file)
                       : ZR_OPEN;
        if (code == ZR_OK && written && !file.empty())
            written(file);
        if (code != ZR_OK && first_failure == ZR_OK)
            first_failure = code;
    }
    return first_failure;
}

uint32_t ReleaseZip(ZipHandle handle) {
    uint32_t code;
    zip_archive* zip = archive_of(handle, code);
    if (!zip)
        return code;
    zip->kind = 0;
    delete zip;
    return ZR_OK;
}
