#pragma once
// Writing and starting the batch scripts of the launcher's own update and removal.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The path with the longest existing part of its folder replaced by the short (8.3) name the
// file system gives it; the rest of the folder, which need not exist yet, and the file name
// follow unchanged. The path itself when the file system has no short name for the folder.
std::wstring short_path_form(const std::wstring& path);

enum class batch_encoding { oem, oem_short_paths, utf8 };

using batch_builder = std::function<std::wstring(const std::vector<std::wstring>& paths)>;

// The bytes of a batch script that names `paths`, as the command interpreter will read them:
// in the OEM code page (no byte-order mark, which would stick to the first label) when the
// text fits it; else with the paths in their short form when that fits; else UTF-8 behind a
// line that switches the interpreter to UTF-8.
std::string batch_script_bytes(const std::vector<std::wstring>& paths, const batch_builder& build,
                               batch_encoding* used = nullptr);

// Creates or truncates the file and writes the bytes; false when it cannot be opened.
bool write_file_bytes(const std::wstring& path, const std::string& bytes);
