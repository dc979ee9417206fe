#include "net/request_url.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <exception>
#include <mutex>
#include <new>
#include <vector>

#include "net/unique_inet_handle.h"
#include "util/file_util_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"
#include "util/unique_handle.h"
#include "util/window_util_win.h"

namespace {

constexpr DWORD k_http_flags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_BINARY;
constexpr DWORD k_https_flags = k_http_flags | INTERNET_FLAG_SECURE |
                                INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                                INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
// Every certificate fault is accepted: the servers use certificates that no store knows.
constexpr DWORD k_security_flags =
    SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
    SECURITY_FLAG_IGNORE_WRONG_USAGE | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS |
    SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP;
static_assert(k_http_flags == 0x84000002, "request flags over HTTP");
static_assert(k_https_flags == 0x84803002, "request flags over HTTPS");
static_assert(k_security_flags == 0xF380, "certificate faults accepted");

constexpr DWORD k_url_part_chars = 2084; // INTERNET_MAX_URL_LENGTH

// The handles close request first, then connection: members are destroyed in reverse order
// of declaration. The session is the process's own (process_session).
struct wininet_handles {
    unique_hinternet connection;
    unique_hinternet request;
};

// One session for the whole process, opened on first use (again after a failure) and never
// closed: a worker cut off by the end of the process may still be using it. Opening one per
// request read the proxy settings from the registry every time.
HINTERNET process_session() {
    static std::mutex& mutex = *new std::mutex();
    static unique_hinternet& session = *new unique_hinternet();
    DWORD error = 0;
    HINTERNET handle = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!session)
            session.reset(
                ::InternetOpenW(L"request_url", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        handle = session.get();
        error = ::GetLastError();
    }
    ::SetLastError(error); // for the caller's report when there is no session
    return handle;
}

int32_t elapsed_since(ULONGLONG start) {
    return static_cast<int32_t>(::GetTickCount64() - start);
}

void set_dword_option(HINTERNET handle, DWORD option, DWORD value) {
    ::InternetSetOptionW(handle, option, &value, sizeof(value));
}

bool is_text(const RequestParam& param) {
    return param.download_file.empty() && !param.download_to_memory;
}

// What the body becomes: the file, the bytes in memory, or the text.
class body_sink {
public:
    body_sink(RequestParam& param, size_t announced)
        : m_param(param), m_text(is_text(param) ? announced : 0) {
        if (param.download_to_memory)
            param.download_bytes.clear();
    }
    // A body that did not arrive whole leaves no file behind: the callers would take a cut
    // archive for the real one.
    ~body_sink() {
        if (!m_done)
            m_param.download_bytes.clear();
        if (m_created) {
            m_file.reset();
            ::DeleteFileW(m_param.download_file.c_str());
        }
    }
    body_sink(const body_sink&) = delete;
    body_sink& operator=(const body_sink&) = delete;

    // False after a failure has been written into the record.
    bool write(const char* data, DWORD size) {
        if (m_param.download_to_memory && m_param.download_file.empty()) {
            // The limits checked before this bound what is kept.
            try {
                m_param.download_bytes.append(data, size);
            } catch (const std::bad_alloc&) {
                m_param.download_bytes.clear();
                m_param.text = L"Out of memory for the response.";
                m_param.status = -1;
                return false;
            }
            m_param.bytes_written += size;
            if (m_param.on_download_bytes)
                m_param.on_download_bytes(data, size);
            return true;
        }
        if (is_text(m_param)) {
            m_text.append_chunk(data, size);
            return true;
        }
        if (!m_file && !open_file())
            return false;
        DWORD written = 0;
        const BOOL ok = ::WriteFile(m_file.get(), data, size, &written, nullptr);
        m_param.bytes_written += written;
        if (ok && written == size) {
            if (m_param.on_download_bytes)
                m_param.on_download_bytes(data, size);
            return true;
        }
        // A short write that reports success leaves the same cut file; on a disk file its
        // likeliest cause is a full volume.
        const DWORD code = ok ? ERROR_DISK_FULL : ::GetLastError();
        m_param.text = write_failed_text(code, get_error_text(code));
        m_param.status = -1;
        return false;
    }

    void finish() {
        m_done = true;
        if (!is_text(m_param)) {
            m_file.reset();
            m_created = false;
            m_param.text.clear();
            return;
        }
        m_param.text = utf8_to_text(m_text.bytes());
        strip_decoded_bom(m_param.text);
    }

private:
    // Only when the first bytes arrive: an empty body leaves an existing file alone.
    bool open_file() {
        const std::wstring& path = m_param.download_file;
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
            !::DeleteFileW(path.c_str())) {
            m_param.text = L"error=" + path + L"\n\nfail to DeleteFile().";
            m_param.status = -1;
            return false;
        }
        m_file.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_file) {
            m_param.text = L"error=" + path + L"\n\nfail to CreateFile().";
            m_param.status = -1;
            return false;
        }
        m_created = true;
        return true;
    }

    RequestParam& m_param;
    text_accumulator m_text;
    unique_hfile m_file;
    bool m_created = false;
    bool m_done = false;
};

void perform(RequestParam& param) {
    const ULONGLONG start = ::GetTickCount64();

    normalize_scheme(param.host, param.port, param.is_https);
    if (!param.full_url.empty())
        split_url(param.full_url, param.host, param.port, param.path, param.is_https);
    ensure_leading_slash(param.path);
    // Written before the default port is filled in, so a port below 1 shows as given.
    param.full_url = format_full_url(param.is_https, param.host, param.port, param.path);
    if (param.host.size() < k_min_host_length) {
        param.text = invalid_host_text(param.host);
        param.status = -1;
        return;
    }
    param.port = effective_port(param.port, param.is_https);
    if (!normalize_method(param.method)) {
        param.text = unknown_method_text(param.method);
        param.status = 405;
        return;
    }

    wininet_handles h;
    HINTERNET session = process_session();
    if (!session) {
        param.status = static_cast<int32_t>(::GetLastError());
        param.text = L"InternetOpen() failed.";
        return;
    }
    h.connection.reset(::InternetConnectW(session, param.host.c_str(),
                                          static_cast<INTERNET_PORT>(param.port), L"", L"",
                                          INTERNET_SERVICE_HTTP, 0, 0));
    if (!h.connection) {
        param.status = static_cast<int32_t>(::GetLastError());
        param.text = L"hInternetConnect() failed.";
        return;
    }
    // A request handle that cannot be opened is reported by the send below, which fails on it.
    h.request.reset(::HttpOpenRequestW(h.connection.get(), param.method.c_str(), param.path.c_str(),
                                       L"HTTP/1.0", L"", nullptr,
                                       param.is_https ? k_https_flags : k_http_flags, 0));
    // Time-outs on the session are not inherited everywhere; on the request they hold.
    set_dword_option(h.request.get(), INTERNET_OPTION_CONNECT_TIMEOUT, param.timeout_ms);
    set_dword_option(h.request.get(), INTERNET_OPTION_SEND_TIMEOUT, param.timeout_ms);
    set_dword_option(h.request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, param.timeout_ms);
    if (param.is_https)
        set_dword_option(h.request.get(), INTERNET_OPTION_SECURITY_FLAGS, k_security_flags);

    prepare_headers(param.headers);
    for (const auto& line : param.headers)
        ::HttpAddRequestHeadersW(h.request.get(), line.c_str(), static_cast<DWORD>(-1),
                                 HTTP_ADDREQ_FLAG_ADD);

    std::string body = utf8_encode(param.body);
    if (!::HttpSendRequestW(h.request.get(), nullptr, 0, body.empty() ? nullptr : &body[0],
                            static_cast<DWORD>(body.size()))) {
        const DWORD code = ::GetLastError();
        param.status = static_cast<int32_t>(code);
        param.text = format_text(L"HttpSendRequest failed. elapsed = %ldms. error code = %d(%s)",
                                 static_cast<long>(elapsed_since(start)), static_cast<int>(code),
                                 get_error_text(code).c_str());
        return;
    }

    wchar_t status_text[32] = {};
    DWORD status_size = sizeof(status_text);
    if (!::HttpQueryInfoW(h.request.get(), HTTP_QUERY_STATUS_CODE, status_text, &status_size,
                          nullptr)) {
        param.status = 0;
        param.text = L"HttpQueryInfo(HTTP_QUERY_STATUS_CODE) failed.";
        return;
    }
    status_text[31] = L'\0';
    param.status = parse_status_code(status_text);
    if (!is_read_status(param.status))
        return;

    DWORD announced = 0;
    DWORD announced_size = sizeof(announced);
    const bool has_length =
        ::HttpQueryInfoW(h.request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                         &announced, &announced_size, nullptr) != FALSE;
    const bool download = !is_text(param);
    const uint64_t limit = body_limit(param.limits, download);
    if (has_length && announced > limit) {
        param.status = -1;
        param.text = too_large_text(elapsed_since(start), limit);
        return;
    }

    if (!param.download_file.empty())
        ensure_folder(split_path(param.download_file, path_folder));
    param.text.clear();
    body_sink sink(param, has_length ? announced : k_default_text_capacity);
    transfer_clock clock(param.limits, download, start);
    std::vector<char> chunk(k_read_chunk);
    uint64_t received = 0;
    for (;;) {
        // Only what has arrived is read: InternetReadFile waits until it has filled the whole
        // buffer, so a drip of a byte now and then would hold it far past any deadline. Each
        // wait here lasts one receive time-out at most. (Lowering the time-out to the time left
        // would not help: Wine ignores a change made after the send.)
        DWORD available = 0;
        DWORD got = 0;
        BOOL ok = ::InternetQueryDataAvailable(h.request.get(), &available, 0, 0);
        if (ok && available > 0)
            ok = ::InternetReadFile(h.request.get(), chunk.data(),
                                    std::min(available, static_cast<DWORD>(chunk.size())), &got);
        if (!ok) {
            // A body cut off by a time-out or a reset must not pass for a complete one. Either
            // call's failure is the read's, under the text the callers have always logged.
            const DWORD code = ::GetLastError();
            param.status = static_cast<int32_t>(code);
            param.text = format_text(L"InternetReadFile failed. elapsed = %ldms. error code = "
                                     L"%d(%s)",
                                     static_cast<long>(elapsed_since(start)),
                                     static_cast<int>(code), get_error_text(code).c_str());
            return;
        }
        if (got == 0)
            break;
        received += got;
        if (received > limit) {
            param.status = -1;
            param.text = too_large_text(elapsed_since(start), limit);
            return;
        }
        if (!clock.on_data(::GetTickCount64(), received)) {
            param.status = -1;
            param.text = too_slow_text(param.limits, download, elapsed_since(start), received);
            return;
        }
        if (!sink.write(chunk.data(), got))
            return;
    }
    // The connection closed before the announced length: the body is incomplete. (More than
    // announced is kept: the callers have always taken what the server sent.)
    if (has_length && received < announced) {
        param.status = -1;
        param.text = format_text(L"Incomplete response. elapsed = %ldms. received %lu of %lu "
                                 L"bytes.",
                                 static_cast<long>(elapsed_since(start)),
                                 static_cast<unsigned long>(received),
                                 static_cast<unsigned long>(announced));
        return;
    }
    sink.finish();
    param.elapsed_ms = elapsed_since(start);
}

} // namespace

bool split_url(const std::wstring& url, std::wstring& host, int32_t& port, std::wstring& path,
               uint8_t& is_https) {
    const std::wstring full = url_with_scheme(url, is_https);

    std::vector<wchar_t> canonical(std::max<size_t>(full.size() * 3 + 1, k_url_part_chars));
    DWORD size = static_cast<DWORD>(canonical.size());
    BOOL ok = ::InternetCanonicalizeUrlW(full.c_str(), canonical.data(), &size, ICU_BROWSER_MODE);
    if (!ok && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        canonical.assign(size + 1, L'\0');
        size = static_cast<DWORD>(canonical.size());
        ok = ::InternetCanonicalizeUrlW(full.c_str(), canonical.data(), &size, ICU_BROWSER_MODE);
    }

    // No part of a URL is longer than the URL, so these never truncate.
    const DWORD part_chars = std::max<DWORD>(k_url_part_chars, size + 1);
    std::vector<wchar_t> host_part(part_chars), path_part(part_chars), extra_part(part_chars);
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host_part.data();
    parts.dwHostNameLength = part_chars;
    parts.lpszUrlPath = path_part.data();
    parts.dwUrlPathLength = part_chars;
    parts.lpszExtraInfo = extra_part.data();
    parts.dwExtraInfoLength = part_chars;
    if (!ok || !::InternetCrackUrlW(canonical.data(), 0, 0, &parts)) {
        host.clear();
        path.clear();
        return false;
    }
    host.assign(host_part.data(), parts.dwHostNameLength);
    path = request_target(std::wstring(path_part.data(), parts.dwUrlPathLength),
                          std::wstring(extra_part.data(), parts.dwExtraInfoLength));
    port = parts.nPort;
    return true;
}

void request_url(RequestParam& param) {
    try {
        perform(param);
    } catch (const std::exception&) {
        // A response too large for memory; the handles and buffers are already released.
        param.status = -1;
        param.text = L"Out of memory.";
    }
}
