#include "log/sc_log.h"

#include <windows.h>

#include <cstdarg>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "log/log_format.h"
#include "util/file_util_win.h"
#include "util/place_win.h"
#include "util/text_util.h"
#include "util/time_text.h"
#include "util/time_text_win.h"

CSCLog* g_plog = nullptr;

namespace {

// Formats with the runtime's own wide printf; false when the format cannot be applied.
bool format_message(const wchar_t* format, va_list args, std::wstring& out) {
    if (!format)
        return false;
    va_list count_args;
    va_copy(count_args, args);
    const int n = _vscwprintf(format, count_args);
    va_end(count_args);
    if (n < 0)
        return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1, L'\0');
    const int written = _vsnwprintf(buffer.data(), buffer.size(), format, args);
    if (written < 0)
        return false;
    out.assign(buffer.data(), static_cast<size_t>(written));
    return true;
}

} // namespace

CSCLog::CSCLog() : m_start_time(static_cast<int64_t>(::time(nullptr))) {
    g_plog = this;
}

CSCLog::~CSCLog() {
    write_end_log();
    std::lock_guard<std::mutex> lock(m_mutex);
    close_file();
    if (g_plog == this)
        g_plog = nullptr;
}

void CSCLog::close_file() {
    m_file.reset();
}

bool CSCLog::open_file() {
    // Appending only: every write lands at the end, even with another process writing too.
    // Only ever a plain file in a real folder: a link in place of either would send every
    // line, outside text included, into whatever it points at.
    quiet_places quiet;
    const place file = place::inside(m_folder, split_path(m_file_path, path_file_name));
    const size_t cut = m_folder.find_last_of(L'\\');
    if (cut != std::wstring::npos)
        ensure_folder(m_folder.substr(0, cut)); // above the folder: not the log's own
    if (!file.make_parent())
        return false;
    m_file = file.open(FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS);
    if (!m_file)
        return false;
    LARGE_INTEGER size = {};
    if (::GetFileSizeEx(m_file.get(), &size) && size.QuadPart == 0) {
        static const char bom[] = "\xEF\xBB\xBF";
        DWORD written = 0;
        ::WriteFile(m_file.get(), bom, 3, &written, nullptr);
    }
    return true;
}

bool CSCLog::file_gone() const {
    FILE_STANDARD_INFO info = {};
    if (!::GetFileInformationByHandleEx(m_file.get(), FileStandardInfo, &info, sizeof(info)))
        return false;
    return info.DeletePending || info.NumberOfLinks == 0;
}

bool CSCLog::open(const std::wstring& folder, const std::wstring& title, int max_level) {
    close_file();
    m_max_level = max_level;

    log_folder_choice choice = choose_log_folder(folder, get_exe_folder());
    m_folder = choice.folder;
    if (choice.relative) {
        wchar_t full[k_max_path] = {};
        const DWORD n = ::GetFullPathNameW(m_folder.c_str(), k_max_path, full, nullptr);
        if (n > 0 && n < k_max_path)
            m_folder = full;
    }
    m_file_title = title.empty() ? split_path(get_exe_name(false), path_title) : title;

    calendar_time day = local_time_from_unix(m_start_time);
    if (!day.valid)
        day = calendar_time{};
    m_file_path = log_file_name(m_folder, m_file_title, day);

    return open_file();
}

std::wstring CSCLog::write(int level, const wchar_t* function, int line, const wchar_t* format,
                           ...) {
    std::lock_guard<std::mutex> lock(m_mutex);

    // A level above the maximum is formatted for the caller but never reaches the file,
    // even while the file happens to be open from start-up.
    const bool to_file = level <= m_max_level;
    if (to_file && m_file && file_gone())
        close_file();
    if (to_file && !m_file && !open(m_folder, m_file_title, m_max_level))
        return std::wstring();

    std::wstring message;
    bool formatted = false;
    va_list args;
    va_start(args, format);
    try {
        formatted = format_message(format, args, message);
    } catch (const std::exception&) {
        // Out of memory for the message (a huge argument): the caller still gets an answer.
    }
    va_end(args);
    if (!formatted)
        return log_format_failure_text();

    std::wstring text;
    try {
        const size_t leading = cut_leading_line_feeds(message);
        const std::wstring tag = log_level_tag(level);
        const calendar_time now = local_time_now();
        const std::wstring fn = m_show_function && function ? function : L"";
        const std::wstring ln = m_show_line ? std::to_wstring(line) : L"";

        std::wstring out;
        if (leading == 0 && message.empty()) {
            out = L"\n";
        } else {
            text = format_log_line(now, fn, ln, tag, message);
            out = std::wstring(leading, L'\n') + text + L"\n";
        }
        if (to_file) {
            // One write for the whole line: nothing of it waits in a buffer of ours.
            const std::string bytes = lf_to_crlf(utf8_encode(out));
            DWORD written = 0;
            ::WriteFile(m_file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                        nullptr);
        }
    } catch (const std::exception&) {
        close_file();
    }
    return text;
}

void CSCLog::write_start_log() {
    const wchar_t* fn = L"CSCLog::write_start_log";
    write(0, fn, __LINE__, L"\n==================== Program Start ====================");
    write(0, fn, __LINE__, L"file version = %s",
          get_file_version_string(get_exe_name(true), L"FileVersion").c_str());
    write(0, fn, __LINE__, L"built datetime = %s",
          format_date_time(get_file_mtime(get_exe_name(true)), L" ", true, true).c_str());
    // A copy: a write that reopens the file rebuilds m_file_path under the argument.
    const std::wstring path = m_file_path;
    write(0, fn, __LINE__, L"log path = %s", path.c_str());
}

void CSCLog::write_end_log() {
    write(0, L"CSCLog::write_end_log", __LINE__,
          L"==================== Program Exit ====================\n");
}
