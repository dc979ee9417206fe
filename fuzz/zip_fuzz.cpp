// libFuzzer target over the zip reader: directory walk, descriptions, extraction, and the
// promise that a name passing the escape check stays below the folder it is extracted into,
// and that entries of an opened archive do not share their bytes.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "zip/zip_reader.h"

namespace {

struct checking_sink : zip_sink {
    bool write(const void* data, size_t count) override {
        crc = crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(count));
        total += count;
        return true;
    }
    uLong crc = crc32(0, Z_NULL, 0);
    uint64_t total = 0;
};

bool has_dot_dot_segment(const std::wstring& path) {
    size_t begin = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\' || path[i] == L'/') {
            if (path.compare(begin, i - begin, L"..") == 0)
                return true;
            begin = i + 1;
        }
    }
    return false;
}

void check_name(const std::wstring& name) {
    if (!is_safe_entry_name(name))
        return;
    const std::wstring folder = L"C:\\out";
    zip_target_plan plan;
    const bool is_folder = name.back() == L'/' || name.back() == L'\\';
    if (plan_zip_target(L"C:\\base\\", folder + L"\\" + name, is_folder, plan) != ZR_OK)
        return;
    const std::wstring& written = is_folder ? plan.folders.back() : plan.file_path;
    if (written.compare(0, folder.size() + 1, folder + L"\\") != 0 || has_dot_dot_segment(written))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The raw bytes as a name, through the same rules an entry name goes through.
    std::wstring raw(data, data + std::min<size_t>(size, 300));
    check_name(apply_zip_name_rules(raw));

    memory_source source(data, size);
    CZipReader reader;
    if (reader.open(&source) != ZR_OK)
        return 0;
    const int count = std::min(reader.entry_count(), 32);
    uint64_t compressed = 0;
    for (int i = 0; i < count; ++i) {
        zip_entry_info info;
        if (reader.describe(i, info) != ZR_OK)
            continue;
        compressed += info.compressed_size;
        if (compressed > size)
            abort();
        check_name(info.name);
        checking_sink sink;
        const uint32_t code = reader.extract(i, sink);
        if (sink.total > info.uncompressed_size)
            abort();
        if (code == ZR_OK && (sink.total != info.uncompressed_size || sink.crc != info.crc))
            abort();
    }
    if (count > 1) {
        zip_entry_info info;
        reader.describe(count - 1, info);
        reader.describe(0, info);
    }
    return 0;
}
