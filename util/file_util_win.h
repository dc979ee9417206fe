#pragma once
// Folders, files and their encodings, version resources. None throws; failure is an empty
// string, 0 or false.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

constexpr int k_max_path = 260; // path buffers hold this many characters with the terminator

// ---- paths and folders
std::wstring get_exe_folder();
std::wstring get_exe_name(bool full);
std::wstring get_current_folder();
bool path_exists(const std::wstring& path);
bool is_folder(const std::wstring& path);
bool ensure_folder(const std::wstring& path);
bool delete_folder(const std::wstring& path);
bool delete_file(const std::wstring& path);
// The whole file when it holds at most `max_bytes`.
bool read_file_bytes(const std::wstring& path, size_t max_bytes, std::string& out);
// Writes what the system still caches of the file to the disk.
bool flush_file(const std::wstring& path);
// A junction or symbolic link (of a file or a folder).
bool is_link(const std::wstring& path);
// Deletes a file or a folder with everything in it, never following a link: a link met on the
// way (or `path` itself, if it is one) is removed as a link. True when nothing is left.
bool delete_tree(const std::wstring& path);
std::wstring get_special_folder(int csidl);
std::wstring get_known_folder(const GUID& folder_id);
uint64_t get_path_size(const std::wstring& path);
uint64_t get_drive_total(const std::wstring& drive);
uint64_t get_drive_free(const std::wstring& drive);
int64_t get_file_mtime(const std::wstring& path);

// ---- files and encodings
int detect_utf8(const std::wstring& path);
std::wstring read_text_file(const std::wstring& path, int encoding = -1, int max_chars = 0);
bool write_text_file(const std::wstring& path, const std::wstring& text, bool utf8,
                     bool terminate = false);
std::wstring get_file_version_string(const std::wstring& path, const std::wstring& key);

// ---- lists
void list_files(const std::wstring& folder, const std::wstring& mask,
                const std::wstring& include_extensions, bool include_folders,
                const std::wstring& exclude_names, bool sort, std::vector<std::wstring>& list,
                bool recursive);
