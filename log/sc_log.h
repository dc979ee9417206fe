#pragma once
// The process-wide log file writer: one daily file in UTF-8 with CR LF line ends. The file
// stays open from the first line on, shared for reading, writing and deletion; every line
// reaches the system with one write before write() returns, so a process killed right after
// it leaves the line in the file. A file deleted meanwhile is created again.
#include <cstdint>
#include <mutex>
#include <string>

#include "util/unique_handle.h"

class CSCLog {
public:
    CSCLog();
    virtual ~CSCLog();

    CSCLog(const CSCLog&) = delete;
    CSCLog& operator=(const CSCLog&) = delete;

    bool open(const std::wstring& folder, const std::wstring& title, int max_level);

    // printf-style with the platform's wide conventions (%s takes a wide string). Returns
    // the line as built; empty when nothing could be written; the fixed text
    // "log_text.FormatV() exception." when the message cannot be formatted, out of memory
    // included. Never throws.
    std::wstring write(int level, const wchar_t* function, int line, const wchar_t* format, ...);

    void write_start_log();
    void write_end_log();

    std::wstring file_path() const { return m_file_path; }
    int64_t start_time() const { return m_start_time; }

    // Lets tests date the file as if the process had started at another moment.
    void set_start_time(int64_t seconds) { m_start_time = seconds; }

private:
    void close_file();
    // Opens m_file_path for appending; a new file starts with the byte-order mark.
    bool open_file();
    // True when the open file has been deleted (or is about to be) under us.
    bool file_gone() const;

    std::mutex m_mutex;
    int64_t m_start_time = 0;
    std::wstring m_file_path;
    std::wstring m_file_title;
    std::wstring m_folder;
    int m_max_level = 6;
    bool m_show_function = true;
    bool m_show_line = true;
    unique_hfile m_file;
};

// Set by CSCLog's constructor; all code logs through it.
extern CSCLog* g_plog;

#define SCLOG(level, function, ...)                                                                \
    (g_plog ? g_plog->write((level), (function), __LINE__, __VA_ARGS__) : std::wstring())
