#pragma once
// One synchronous HTTP(S) request over WinINet: the caller fills a RequestParam, request_url
// performs the exchange and leaves the outcome in the same record. Nothing is thrown; the
// caller reads status and text (success is status 200, and for a text request a non-empty
// text too).
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

// Bounds on a response that no sane release reaches, so that a broken or hostile server runs
// into them instead of the customer's memory, disk or time (README.md, "HTTP client"). A
// request that passes one fails with status -1 and a text naming it, and keeps nothing partial.
struct transfer_limits {
    // The largest sane text, a file list of some thousand lines, is a few hundred KiB.
    uint64_t max_text_bytes = uint64_t(4) << 20;
    // Far above any host program archive; a caller that knows the size passes it instead.
    uint64_t max_download_bytes = uint64_t(1) << 30;
    // For the whole text, from the request's start: the largest sane one needs ~20 kbit/s,
    // less than a remote-support session does.
    uint32_t text_deadline_ms = 120000;
    // Each window must bring this much (~9 kbit/s): a big archive on a slow but live link
    // completes, a drip of a byte now and then fails.
    uint32_t progress_window_ms = 60000;
    uint64_t progress_min_bytes = uint64_t(64) << 10;
};

struct RequestParam {
    RequestParam(std::wstring host_, int32_t port_, std::wstring path_,
                 std::wstring method_ = L"GET", uint8_t is_https_ = 1,
                 const std::deque<std::wstring>& header_lines = {}, std::wstring body_ = {},
                 std::wstring download_file_ = {});

    int32_t status = -1; // HTTP status, WinINet/Win32 error, -1 local failure, 405 bad method
    std::wstring host;   // may carry "http://" or "https://"; request_url removes it
    int32_t port = 0;    // below 1: the scheme's default port
    std::wstring path;
    std::wstring method;
    uint8_t is_https = 1;
    std::wstring body; // sent as UTF-8
    uint32_t timeout_ms = 30000;
    std::deque<std::wstring> headers; // each line ends in "\r\n"
    // Non-empty on entry: the URL to request, overriding host, port, path and is_https.
    // On return: the URL that was requested. Empty it before retrying on the same record.
    std::wstring full_url;
    std::wstring text;      // response body, or the error text of a failure
    int32_t elapsed_ms = 0; // written only when a response body was read to the end
    std::wstring download_file;
    // A download kept in memory instead (download_file empty): the body's bytes, under the
    // download limits.
    bool download_to_memory = false;
    std::string download_bytes;
    // Sees a download's bytes in order once they are written to the file (e.g. to hash them
    // on the way); it must not throw.
    std::function<void(const char* data, size_t size)> on_download_bytes;
    uint64_t bytes_written = 0; // running total over every call on this record
    transfer_limits limits;     // e.g. limits.max_download_bytes for a download of known size
};

// The response's text for the log: what a server sent (any HTTP status) is escaped and
// shortened; a failure text of our own stays whole.
std::wstring text_for_log(const RequestParam& param);

void request_url(RequestParam& param);

// The product server's port for this process: 443 until a request over HTTPS brought nothing
// and its caller fell back to plain HTTP; from then on 80 for every later request.
int32_t server_port();
void fall_back_to_plain_http();

// Sets host, port and path from the URL; is_https follows the URL's scheme and keeps its value
// when the URL has none. Returns whether the URL could be cracked; when not, host and path
// are emptied so that the request fails instead of going to whatever the record held.
bool split_url(const std::wstring& url, std::wstring& host, int32_t& port, std::wstring& path,
               uint8_t& is_https);

// ---- the pieces of request_url that need no WinINet

extern const wchar_t k_content_type_line[];
constexpr size_t k_default_text_capacity = 40960;
constexpr size_t k_read_chunk = 4096;

// Step 2's scheme rule: an "http://" host or port 80 means HTTP, else an "https://" host or
// port 443 means HTTPS; the matching prefix is removed from the host wherever it occurs.
void normalize_scheme(std::wstring& host, int32_t port, uint8_t& is_https);
// A URL without "http://" or "https://" gets the one is_https names; a URL with one sets
// is_https from it.
std::wstring url_with_scheme(const std::wstring& url, uint8_t& is_https);
// The path sent on the request line: the URL path and its query; a fragment is not sent.
std::wstring request_target(const std::wstring& url_path, const std::wstring& extra_info);
void ensure_leading_slash(std::wstring& path);
std::wstring format_full_url(uint8_t is_https, const std::wstring& host, int32_t port,
                             const std::wstring& path);
int32_t effective_port(int32_t port, uint8_t is_https);
constexpr size_t k_min_host_length = 7;
std::wstring invalid_host_text(const std::wstring& host);
// Empty becomes "GET"; upper-cased in place; true for GET, PUT, POST and DELETE.
bool normalize_method(std::wstring& method);
std::wstring unknown_method_text(const std::wstring& method);
std::wstring complete_header_line(std::wstring line);
// Puts the Content-Type line at the front (once: a retry on the same record must not send it
// twice) and completes every line with "\r\n".
void prepare_headers(std::deque<std::wstring>& headers);
// Only 2xx (and below), and 4xx responses carry a body the callers want.
bool is_read_status(int32_t status);
// The status code text as a number; 0 when it is not one.
int32_t parse_status_code(const std::wstring& text);
// A mis-decoded byte-order mark (U+00EF U+00BB U+00BF) at the start of the text is removed.
void strip_decoded_bom(std::wstring& text);

// The most body bytes a response may bring.
uint64_t body_limit(const transfer_limits& limits, bool download);

// When a response has been too slow. A text has one deadline: text_deadline_ms after the
// request's start. A download has a window of progress_window_ms that must bring
// progress_min_bytes; a new window opens as soon as they are in. Bytes that arrive after a
// deadline do not save it. Times are milliseconds on any steady clock.
class transfer_clock {
public:
    transfer_clock(const transfer_limits& limits, bool download, uint64_t start_ms);
    // Call with the running total when data arrives; false once the deadline has passed.
    bool on_data(uint64_t now_ms, uint64_t total_bytes);
    uint64_t deadline_ms() const { return m_deadline; }

private:
    uint64_t m_window_ms;
    uint64_t m_window_bytes; // a text's window never fills: its deadline never moves
    uint64_t m_deadline;
    uint64_t m_window_base = 0;
};

std::wstring too_large_text(int64_t elapsed_ms, uint64_t limit);
std::wstring too_slow_text(const transfer_limits& limits, bool download, int64_t elapsed_ms,
                           uint64_t received);
std::wstring write_failed_text(uint32_t code, const std::wstring& error_text);

// Collects a text response chunk by chunk. Each chunk loses a leading UTF-8 byte-order mark
// and is taken up to its first zero byte. The buffer starts at the announced length and grows
// when the server sends more, so nothing is written past it and nothing is lost.
class text_accumulator {
public:
    explicit text_accumulator(size_t announced_length);
    void append_chunk(const char* data, size_t size);
    const std::string& bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};
