#pragma once
// The launch pipeline's rules that need no Win32: reading the server's file list, naming
// what each entry becomes on disk and on the server, the rollback's paths and the
// normalisation of the remote-access parameter.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct FileInfo {
    std::wstring name;
    int64_t size = 0;
    std::wstring version;
};

// ---- file list

// The list's non-empty lines ("\r\n" and "\n" both end a line).
std::vector<std::wstring> filelist_lines(const std::wstring& text);

enum class filelist_line_kind { comment, too_few_fields, entry };

// Looks at one line (trimmed first; `trimmed` receives it) and fills `entry` for an entry.
filelist_line_kind classify_filelist_line(const std::wstring& line, std::wstring& trimmed,
                                          FileInfo& entry);

// Decimal with leading blanks and a sign; stops at the first non-digit. No digits give
// k_unknown_size: like any negative size it matches no file and bounds no download, where a
// 0 would let a missing file pass as identical and bound its archive to 1 MiB.
constexpr int64_t k_unknown_size = -1;
int64_t parse_size_field(const std::wstring& field);

// The page that names the server's current version.
std::wstring version_page_path(const std::wstring& download_path);

// ---- one entry's names

struct entry_paths {
    std::wstring folder_part;  // text before the last "/" of the name, or empty
    std::wstring file_name;    // text after it
    std::wstring local_folder; // ends with "\"
    std::wstring local_file;
    bool is_archive = false;         // the name ends in ".zip"
    std::wstring archive_name;       // file name, plus ".zip" unless it is an archive
    std::wstring server_path;        // download path / version / [folder /] archive name
    std::wstring downloaded_archive; // local folder + archive name
    std::wstring target;             // downloaded archive without ".zip"
    std::wstring backup_folder;      // where a replaced file goes (ends with "\" or "/")
    std::wstring backup_item;        // full backup path of the replaced file or folder
    std::wstring local_item;         // what is moved into the backup
    bool is_launcher_archive = false;
};

entry_paths derive_entry_paths(const FileInfo& entry, const std::wstring& program_folder,
                               const std::wstring& local_version, const std::wstring& download_path,
                               const std::wstring& server_version);

// Whether `inner` is `outer` or lies inside it (case-insensitive; "\" and "/" alike).
bool path_within(const std::wstring& inner, const std::wstring& outer);

// ---- remote-access parameter

struct params_steps {
    std::wstring after_blanks;     // "%20" made blanks, trimmed
    std::wstring after_url_prefix; // URL prefix removed
    bool had_title_prefix = false;
    std::wstring after_title_prefix;
    bool had_postfix = false;
    std::wstring after_postfix;
    std::wstring final_params; // at most 8 characters
};

params_steps normalise_params(const std::wstring& text, const std::wstring& url_prefix,
                              const std::wstring& title_prefix);
