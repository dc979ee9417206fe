#include "net/request_url.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <string_view>
#include <utility>

#include "util/text_util.h"

namespace {

// Constants with nothing to destroy: a worker cut off by the end of the process may still be
// building a request while static objects are torn down.
constexpr wchar_t k_http[] = L"http://";
constexpr wchar_t k_https[] = L"https://";
constexpr wchar_t k_line_end[] = L"\r\n";

// The announced length is the server's word; a lie of gigabytes must not reserve them.
constexpr size_t k_max_initial_capacity = size_t(8) << 20;

bool starts_with(const std::wstring& text, std::wstring_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

void remove_all(std::wstring& text, std::wstring_view what) {
    for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at))
        text.erase(at, what.size());
}

} // namespace

const wchar_t k_content_type_line[] = L"Content-Type: application/json; charset=utf-8\r\n";

RequestParam::RequestParam(std::wstring host_, int32_t port_, std::wstring path_,
                           std::wstring method_, uint8_t is_https_,
                           const std::deque<std::wstring>& header_lines, std::wstring body_,
                           std::wstring download_file_)
    : host(std::move(host_)), port(port_), path(std::move(path_)), method(std::move(method_)),
      is_https(is_https_), body(std::move(body_)), download_file(std::move(download_file_)) {
    for (const auto& line : header_lines)
        headers.push_back(complete_header_line(line));
}

void normalize_scheme(std::wstring& host, int32_t port, uint8_t& is_https) {
    if (starts_with(host, k_http) || port == 80) {
        is_https = 0;
        remove_all(host, k_http);
    } else if (starts_with(host, k_https) || port == 443) {
        is_https = 1;
        remove_all(host, k_https);
    }
}

std::wstring url_with_scheme(const std::wstring& url, uint8_t& is_https) {
    if (starts_with(url, k_http)) {
        is_https = 0;
        return url;
    }
    if (starts_with(url, k_https)) {
        is_https = 1;
        return url;
    }
    return (is_https ? k_https : k_http) + url;
}

std::wstring request_target(const std::wstring& url_path, const std::wstring& extra_info) {
    return url_path + extra_info.substr(0, extra_info.find(L'#'));
}

void ensure_leading_slash(std::wstring& path) {
    if (path.empty() || path[0] != L'/')
        path.insert(0, 1, L'/');
}

std::wstring format_full_url(uint8_t is_https, const std::wstring& host, int32_t port,
                             const std::wstring& path) {
    return (is_https ? k_https : k_http) + host + L":" + std::to_wstring(port) + path;
}

int32_t effective_port(int32_t port, uint8_t is_https) {
    if (port >= 1)
        return port;
    return is_https ? 443 : 80;
}

std::wstring invalid_host_text(const std::wstring& host) {
    return L"Invalid IP address = " + host;
}

bool normalize_method(std::wstring& method) {
    if (method.empty())
        method = L"GET";
    // Only ASCII letters change: the known verbs are ASCII, and the result must not depend on
    // the locale of the build.
    for (auto& ch : method) {
        if (ch >= L'a' && ch <= L'z')
            ch = static_cast<wchar_t>(ch - L'a' + L'A');
    }
    return method == L"GET" || method == L"PUT" || method == L"POST" || method == L"DELETE";
}

std::wstring unknown_method_text(const std::wstring& method) {
    return L"Unknown HTTP Request method(\"" + method + L"\")";
}

std::wstring complete_header_line(std::wstring line) {
    const size_t n = line.size();
    if (n < 2 || line.compare(n - 2, 2, k_line_end) != 0)
        line += k_line_end;
    return line;
}

void prepare_headers(std::deque<std::wstring>& headers) {
    if (headers.empty() || headers.front() != k_content_type_line)
        headers.push_front(k_content_type_line);
    for (auto& line : headers)
        line = complete_header_line(std::move(line));
}

bool is_read_status(int32_t status) {
    return status < 300 || (status >= 400 && status <= 499);
}

int32_t parse_status_code(const std::wstring& text) {
    int32_t value = 0;
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t'))
        ++i;
    bool any = false;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        any = true;
        if (value > 99999) // no status has this many digits; stop before overflowing
            return 0;
        value = value * 10 + (text[i] - L'0');
    }
    return any ? value : 0;
}

void strip_decoded_bom(std::wstring& text) {
    if (text.size() >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF)
        text.erase(0, 3);
}

text_accumulator::text_accumulator(size_t announced_length) {
    m_bytes.reserve(std::min(announced_length, k_max_initial_capacity) + 1);
}

void text_accumulator::append_chunk(const char* data, size_t size) {
    if (!data)
        return;
    if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
        data += 3;
        size -= 3;
    }
    const void* zero = std::memchr(data, 0, size);
    if (zero)
        size = static_cast<size_t>(static_cast<const char*>(zero) - data);
    m_bytes.append(data, size);
}

uint64_t body_limit(const transfer_limits& limits, bool download) {
    return download ? limits.max_download_bytes : limits.max_text_bytes;
}

transfer_clock::transfer_clock(const transfer_limits& limits, bool download, uint64_t start_ms)
    : m_window_ms(download ? limits.progress_window_ms : limits.text_deadline_ms),
      m_window_bytes(download ? limits.progress_min_bytes : UINT64_MAX),
      m_deadline(start_ms + m_window_ms) {}

bool transfer_clock::on_data(uint64_t now_ms, uint64_t total_bytes) {
    if (now_ms >= m_deadline)
        return false;
    if (total_bytes - m_window_base >= m_window_bytes) {
        m_window_base = total_bytes;
        m_deadline = now_ms + m_window_ms;
    }
    return true;
}

std::wstring too_large_text(int64_t elapsed_ms, uint64_t limit) {
    return L"Response too large. elapsed = " + std::to_wstring(elapsed_ms) + L"ms. limit = " +
           std::to_wstring(limit) + L" bytes.";
}

std::wstring too_slow_text(const transfer_limits& limits, bool download, int64_t elapsed_ms,
                           uint64_t received) {
    std::wstring text = L"Response too slow. elapsed = " + std::to_wstring(elapsed_ms) +
                        L"ms. received " + std::to_wstring(received) + L" bytes. limit = ";
    if (download)
        return text + std::to_wstring(limits.progress_min_bytes) + L" bytes in every " +
               std::to_wstring(limits.progress_window_ms) + L"ms.";
    return text + L"the whole body in " + std::to_wstring(limits.text_deadline_ms) + L"ms.";
}

std::wstring write_failed_text(uint32_t code, const std::wstring& error_text) {
    return L"WriteFile failed. error code = " + std::to_wstring(code) + L"(" + error_text + L")";
}

std::wstring text_for_log(const RequestParam& param) {
    return param.status >= 100 && param.status <= 599 ? printable_text(param.text) : param.text;
}

namespace {
std::atomic<int32_t> g_server_port{443};
} // namespace

int32_t server_port() {
    return g_server_port.load();
}

void fall_back_to_plain_http() {
    g_server_port = 80;
}
