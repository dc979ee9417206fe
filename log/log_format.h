#pragma once
// The log file's naming and line layout; no Win32 here so it is tested natively.
#include <string>

#include "util/time_text.h"

// Tag for a level: "[info]", "[warn]", "[error]", "[critical]", "[sql]", "[debug]" or "".
const wchar_t* log_level_tag(int level);

// "<folder>\<title>_YYYYMMDD.log"
std::wstring log_file_name(const std::wstring& folder, const std::wstring& title,
                           const calendar_time& day);

// "[Y/MM/DD hh:mm:ss.mmm][function][line]tag message"
std::wstring format_log_line(const calendar_time& now, const std::wstring& function,
                             const std::wstring& line, const std::wstring& tag,
                             const std::wstring& message);

// What `write` answers when the message cannot be formatted; empty when even this text
// cannot be had for want of memory.
std::wstring log_format_failure_text();

// Cuts the line feeds at the start of `message` and returns how many there were.
size_t cut_leading_line_feeds(std::wstring& message);

// How `open` reads its folder argument. An empty folder means "<exe folder>\Log"; a
// drive-qualified one is used as it is (with "/" turned into "\"); anything else lies below
// the executable's folder and still wants normalising to a full path.
struct log_folder_choice {
    std::wstring folder;
    bool relative = false;
};
log_folder_choice choose_log_folder(const std::wstring& folder_argument,
                                    const std::wstring& exe_folder);
