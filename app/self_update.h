#pragma once
// The launcher's own update and removal without Win32: file names, server paths, the version
// decision and the texts of the two batch scripts.
#include <string>
#include <vector>

struct self_update_files {
    std::wstring temp_archive;   // download target of the launcher archive
    std::wstring temp_exe;       // the archive's first entry
    std::wstring staged;         // the new launcher waiting to be swapped in
    std::wstring installed;      // what the URL scheme starts
    std::wstring updater_script; // swaps `staged` in
    std::wstring removal_script; // removes downloaded copies
};

self_update_files self_update_files_in(const std::wstring& program_folder,
                                       const std::wstring& program_name);

// The server version is used as it came, as one path segment.
std::wstring launcher_archive_path(const std::wstring& download_path,
                                   const std::wstring& server_version,
                                   const std::wstring& program_name);

// Only a strictly higher version is staged; an equal or lower one is skipped.
bool is_newer_launcher(const std::wstring& local_version, const std::wstring& new_version);

// The downloaded copies the removal script deletes: the old product name first, then ours.
std::vector<std::wstring> removal_patterns(const std::wstring& downloads_folder,
                                           const std::wstring& program_name);

// A path between double quotes on a batch line. Inside quotes "&", "^" and the like are
// plain characters, but "%" still starts a variable in a batch file, so it is doubled.
std::wstring batch_quoted(const std::wstring& path);

// The first argument of a launcher that an updater started after giving up: that run skips
// its own update, so the two cannot start each other for ever. The URL scheme always puts
// the URL (which begins with the scheme name) first, so a link can never pass it; and it
// holds for that one run only.
extern const wchar_t k_skip_self_update_arg[];

// Whether the first argument of the run that stages a launcher can follow the marker on the
// updater's start line: printable ASCII without a double quote (which would end the quoted
// argument) or "!", no trailing backslash (which would escape the closing quote), at most
// 2048 characters. Anything else is left out.
bool fits_updater_script(const std::wstring& argument);

// The updater: move the staged launcher over the installed one (in use until the process
// that wrote the script has ended), retrying k_updater_tries times with a pause, and, with
// `restart`, start it after a second. With `restart`, a script that gives up still starts
// the installed launcher, with k_skip_self_update_arg and then `argument` when it fits the
// script, so that the user's click still ends in a window. Lines end in "\r\n"; no label on
// the first line.
constexpr int k_updater_tries = 15;
std::wstring updater_script_text(const std::wstring& installed, const std::wstring& staged,
                                 bool restart, const std::wstring& argument = L"");

// The removal script: delete both patterns until neither matches anything.
std::wstring removal_script_text(const std::wstring& first_pattern,
                                 const std::wstring& second_pattern);

// The line that makes the command interpreter read the rest of a script as UTF-8; used only
// when a path can be written neither in the OEM code page nor through short names.
extern const char k_batch_utf8_line[];
