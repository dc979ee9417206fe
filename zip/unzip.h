#pragma once
// Zip extraction for the launcher: open an archive file, describe entries, write them to
// files. Every call returns a zr code (zip/zip_reader.h), 0 for success; none throws.
// A handle belongs to the thread that opened it.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "zip/zip_reader.h"

constexpr uint32_t k_zip_kind_unzip = 1;

// What OpenZip returns; only handles of kind k_zip_kind_unzip are accepted by the calls below.
struct ZipHandleData {
    uint32_t kind = 0;
};
using ZipHandle = ZipHandleData*;

struct ZipEntry {
    int32_t index;                // for the request with index -1: the number of entries
    wchar_t name[k_zip_max_path]; // after the name rules; "/" and "\" both separate folders
    uint32_t attributes;          // FILE_ATTRIBUTE_* bits
    FILETIME access_time;         // UTC
    FILETIME creation_time;
    FILETIME write_time;
    uint32_t compressed_size;
    uint32_t uncompressed_size;
};

// Null when the file cannot be opened for reading or holds no readable archive. Relative
// targets of later calls are taken below the current directory as it is now.
ZipHandle OpenZip(const std::wstring& path);
// The same over an archive's bytes, which the handle keeps.
ZipHandle OpenZipMemory(std::string bytes);
uint32_t GetZipEntry(ZipHandle handle, int index, ZipEntry* entry);
// Writes entry `index` to `target` (absolute, or relative to the base folder), creating the
// missing folders. A target that could climb out of its folder, name a device, or reach 260
// characters is refused with ZR_OPEN. On failure no partial file is left behind.
uint32_t UnzipItem(ZipHandle handle, int index, const std::wstring& target);
// Every entry to folder + "\" + name. Entries whose names could land outside `folder` are
// refused and not written. Returns the first failure, or 0 when every entry was written.
// `written`, when given, is called with the path of each file once it is written and closed.
uint32_t UnzipAll(ZipHandle handle, const std::wstring& folder,
                  const std::function<void(const std::wstring& file)>& written = nullptr);
// Closes the archive and frees the handle.
uint32_t ReleaseZip(ZipHandle handle);
