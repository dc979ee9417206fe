// Makes one request_url call from the command line and prints the record as JSON (ASCII,
// non-ASCII as \u escapes) for the Wine tests.
//   http_probe --host H --port N --path P --method M --https 0|1 --body B --download FILE
//              --full-url URL --timeout MS --header LINE ... [--fallback]
//              --max-text N --max-download N --text-deadline MS --window-ms MS --window-bytes N
// Values may hold \r, \n, \t, \\ and \uXXXX escapes, so that header line ends and Korean
// text pass through any command-line code page. --fallback retries the way the launcher's
// callers do: over HTTP on port 80 when an HTTPS request on 443 brought no text.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <deque>
#include <string>

#include "net/request_url.h"

namespace {

std::wstring unescape(const wchar_t* s) {
    std::wstring out;
    for (; *s; ++s) {
        if (*s != L'\\' || !s[1]) {
            out += *s;
            continue;
        }
        const wchar_t c = *++s;
        if (c == L'r')
            out += L'\r';
        else if (c == L'n')
            out += L'\n';
        else if (c == L't')
            out += L'\t';
        else if (c == L'u' && std::wcslen(s + 1) >= 4) {
            out += static_cast<wchar_t>(std::wcstoul(std::wstring(s + 1, 4).c_str(), nullptr, 16));
            s += 4;
        } else
            out += c;
    }
    return out;
}

std::string json(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out + "\"";
}

void print(const RequestParam& p, int calls) {
    std::string headers;
    for (const auto& line : p.headers)
        headers += (headers.empty() ? "" : ", ") + json(line);
    std::printf("{\"status\": %d, \"text\": %s, \"full_url\": %s, \"host\": %s, \"port\": %d, "
                "\"path\": %s, \"method\": %s, \"is_https\": %d, \"headers\": [%s], "
                "\"elapsed_ms\": %d, \"bytes_written\": %llu, \"calls\": %d}\n",
                static_cast<int>(p.status), json(p.text).c_str(), json(p.full_url).c_str(),
                json(p.host).c_str(), static_cast<int>(p.port), json(p.path).c_str(),
                json(p.method).c_str(), static_cast<int>(p.is_https), headers.c_str(),
                static_cast<int>(p.elapsed_ms), static_cast<unsigned long long>(p.bytes_written),
                calls);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring host, path, method = L"GET", body, download, full_url;
    int port = 0, is_https = 1;
    long long timeout = -1;
    bool fallback = false;
    std::deque<std::wstring> headers;
    transfer_limits limits;
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        if (name == L"--fallback") {
            fallback = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "missing value\n");
            return 2;
        }
        const std::wstring value = unescape(argv[++i]);
        if (name == L"--host")
            host = value;
        else if (name == L"--port")
            port = std::wcstol(value.c_str(), nullptr, 10);
        else if (name == L"--path")
            path = value;
        else if (name == L"--method")
            method = value;
        else if (name == L"--https")
            is_https = std::wcstol(value.c_str(), nullptr, 10);
        else if (name == L"--body")
            body = value;
        else if (name == L"--download")
            download = value;
        else if (name == L"--full-url")
            full_url = value;
        else if (name == L"--timeout")
            timeout = std::wcstoll(value.c_str(), nullptr, 10);
        else if (name == L"--header")
            headers.push_back(value);
        else if (name == L"--max-text")
            limits.max_text_bytes = std::wcstoull(value.c_str(), nullptr, 10);
        else if (name == L"--max-download")
            limits.max_download_bytes = std::wcstoull(value.c_str(), nullptr, 10);
        else if (name == L"--text-deadline")
            limits.text_deadline_ms = std::wcstoul(value.c_str(), nullptr, 10);
        else if (name == L"--window-ms")
            limits.progress_window_ms = std::wcstoul(value.c_str(), nullptr, 10);
        else if (name == L"--window-bytes")
            limits.progress_min_bytes = std::wcstoull(value.c_str(), nullptr, 10);
        else {
            std::fprintf(stderr, "unknown option\n");
            return 2;
        }
    }

    RequestParam p(host, port, path, method, static_cast<uint8_t>(is_https), headers, body,
                   download);
    p.full_url = full_url;
    p.limits = limits;
    if (timeout >= 0)
        p.timeout_ms = static_cast<uint32_t>(timeout);
    request_url(p);
    int calls = 1;
    if (fallback && (p.status != 200 || p.text.empty()) && p.is_https == 1 && p.port == 443) {
        p.full_url.clear();
        p.is_https = 0;
        p.port = 80;
        request_url(p);
        ++calls;
    }
    print(p, calls);
    return 0;
}
