#pragma once
// Utilities over Win32: folders, files and encodings, version resources, registry strings,
// window search, error texts. None throws; failure is an empty string, 0 or false.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "util/text_util.h"
#include "util/time_text.h"

constexpr int k_max_path = 260; // path buffers hold this many characters with the terminator

// ---- time texts (the UI language decides the form: 1042 is Korean)
bool is_korean_ui();
calendar_time local_time_now();
calendar_time local_time_from_unix(int64_t seconds);
std::wstring format_date(const calendar_time& t, const std::wstring& separator);
std::wstring format_time(const calendar_time& t, const std::wstring& separator, bool h24,
                         bool seconds);
std::wstring format_date_time(const calendar_time& t, const std::wstring& between, bool h24,
                              bool seconds);
std::wstring format_date_time(int64_t unix_seconds, const std::wstring& between, bool h24,
                              bool seconds);

// ---- printf-style formatting with the platform's wide conventions (%s takes a wide string)
std::wstring format_text(const wchar_t* format, ...);
std::wstring format_text_v(const wchar_t* format, va_list args);

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
std::wstring utf8_to_text(const std::string& bytes);
std::string to_ansi(const std::wstring& text);
std::wstring from_ansi(const std::string& bytes);
std::wstring get_file_version_string(const std::wstring& path, const std::wstring& key);

// ---- strings and lists
bool compare_natural(const std::wstring& a, const std::wstring& b);
void list_files(const std::wstring& folder, const std::wstring& mask,
                const std::wstring& include_extensions, bool include_folders,
                const std::wstring& exclude_names, bool sort, std::vector<std::wstring>& list,
                bool recursive);

// ---- registry (HKEY_LOCAL_MACHINE; results are registry error codes, 0 on success)
LONG read_hklm_string(const std::wstring& subkey, const std::wstring& name, std::wstring& out);
LONG write_hklm_string(const std::wstring& subkey, const std::wstring& name,
                       const std::wstring& data);

// ---- windows and messages
HWND find_window_by_title(const std::wstring& text, bool exact);
void wait_with_messages(DWORD ms);
std::wstring get_error_text(DWORD code);
int get_windows_major_version();
