#pragma once
// Text, path and version helpers that need no Win32: they build natively as well.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Parts of split_path.
enum path_part {
    path_drive = 0,
    path_folder = 1,
    path_last_folder = 2,
    path_title = 3,
    path_extension = 4,
    path_file_name = 5,
};

std::wstring split_path(const std::wstring& path, int part);

// Fills `list` (cleared first) and returns its size.
int split_text(const std::wstring& text, const std::wstring& separator,
               std::vector<std::wstring>& list, bool keep_empty = false, int max_count = 0,
               bool join_rest = false);

// -1, 0 or 1 comparing `a` with `b` field by field (fields are decimal numbers).
int compare_versions(const std::wstring& a, const std::wstring& b, wchar_t separator = L'.');

int count_char(const std::wstring& text, bool from_start, wchar_t ch, bool stop_at_other);
bool is_digits(const std::wstring& text);

// Windows maps these names to devices in any folder and with any extension ("NUL.txt").
bool is_device_name(const std::wstring& segment);
// One folder name that stays where it is put: at most k_max_folder_name characters, no
// separator, colon, wildcard or other character Windows refuses, no control character, not
// "." or "..", no leading or trailing blank or dot (Windows trims those), not a device.
constexpr size_t k_max_folder_name = 64;
bool is_safe_folder_name(const std::wstring& name);
// A file or folder's name relative to a folder it must stay below, as the file list, the
// update journal and the signed statement carry it ("/" or "\\" between folders): every
// segment a name Windows keeps as written (no "." or "..", no empty segment, no character it
// refuses or trims, no control character, not a device), nothing in front that a list line
// would lose (a blank, or ";" and "#" that start a comment). One rule for all three, so that
// a record written for an accepted name is always read back.
constexpr size_t k_max_relative_name = 1024;
bool is_safe_relative_name(const std::wstring& name);
// A refused outside text as one log line: control characters escaped, cut after
// k_max_shown_text characters with its full length noted.
constexpr size_t k_max_shown_text = 80;
std::wstring printable_text(const std::wstring& text);

// White space as the wide-character test sees it, trimmed at both ends.
std::wstring trim(const std::wstring& text);
std::wstring replace_all(std::wstring text, const std::wstring& from, const std::wstring& to);
std::wstring to_lower(std::wstring text);

// 65001 when the bytes are acceptable UTF-8 (only the first 4096 are looked at), else 0.
int detect_utf8_bytes(const unsigned char* data, size_t size);

// Strict conversions; invalid sequences become U+FFFD.
std::string utf8_encode(const std::wstring& text);
std::wstring utf8_decode(const std::string& bytes);

// What a text-mode UTF-8 read returns: byte-order mark skipped, "\r\n" read as "\n".
std::wstring decode_utf8_text_mode(const std::string& bytes);
// Text mode's line-end translation on bytes.
std::string crlf_to_lf(const std::string& bytes);
std::string lf_to_crlf(const std::string& bytes);
