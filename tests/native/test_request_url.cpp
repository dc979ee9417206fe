#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "net/request_url.h"

namespace {

struct scheme_case {
    std::wstring host;
    int32_t port;
    uint8_t is_https;
    std::wstring want_host;
    uint8_t want_https;
};

TEST(RequestUrl, SchemeFromHostAndPort) {
    const scheme_case cases[] = {
        // The "http://" test comes first, so it wins over port 443.
        {L"http://127.0.0.1", 443, 1, L"127.0.0.1", 0},
        {L"https://127.0.0.1", 0, 0, L"127.0.0.1", 1},
        {L"127.0.0.1", 80, 1, L"127.0.0.1", 0},
        {L"127.0.0.1", 443, 0, L"127.0.0.1", 1},
        // No prefix and another port: the caller's choice stays.
        {L"127.0.0.1", 8080, 1, L"127.0.0.1", 1},
        {L"127.0.0.1", 8080, 0, L"127.0.0.1", 0},
        {L"127.0.0.1", 0, 1, L"127.0.0.1", 1},
        // The prefixes are case-sensitive.
        {L"HTTP://example.com", 0, 1, L"HTTP://example.com", 1},
        {L"Https://example.com", 0, 0, L"Https://example.com", 0},
        // Every occurrence goes, not only the leading one.
        {L"http://a.example/http://b", 0, 1, L"a.example/b", 0},
        {L"https://a.examplehttps://", 8080, 0, L"a.example", 1},
        // Port 80 decides HTTP, and "https://" is not an "http://" occurrence.
        {L"https://example.com", 80, 1, L"https://example.com", 0},
    };
    for (const auto& c : cases) {
        std::wstring host = c.host;
        uint8_t is_https = c.is_https;
        normalize_scheme(host, c.port, is_https);
        EXPECT_EQ(c.want_host, host) << c.host.c_str();
        EXPECT_EQ(c.want_https, is_https) << c.host.c_str() << " port " << c.port;
    }
}

TEST(RequestUrl, UrlSchemeDecidesOrIsAdded) {
    struct url_case {
        std::wstring url;
        uint8_t is_https;
        std::wstring want_url;
        uint8_t want_https;
    };
    const url_case cases[] = {
        {L"127.0.0.1/a", 1, L"https://127.0.0.1/a", 1},
        {L"127.0.0.1/a", 0, L"http://127.0.0.1/a", 0},
        {L"http://h.example/", 1, L"http://h.example/", 0},
        {L"https://h.example/", 0, L"https://h.example/", 1},
        // Not a recognised scheme: the record's scheme is put in front of it.
        {L"HTTPS://h.example/", 0, L"http://HTTPS://h.example/", 0},
        {L"", 1, L"https://", 1},
    };
    for (const auto& c : cases) {
        uint8_t is_https = c.is_https;
        EXPECT_EQ(c.want_url, url_with_scheme(c.url, is_https)) << c.url.c_str();
        EXPECT_EQ(c.want_https, is_https) << c.url.c_str();
    }
}

TEST(RequestUrl, PathPortAndFullUrl) {
    const std::pair<std::wstring, std::wstring> paths[] = {
        {L"", L"/"}, {L"a/b", L"/a/b"}, {L"/a", L"/a"}, {L"?q=1", L"/?q=1"}, {L"//x", L"//x"}};
    for (const auto& p : paths) {
        std::wstring path = p.first;
        ensure_leading_slash(path);
        EXPECT_EQ(p.second, path);
    }

    EXPECT_EQ(L"/a?b=1", request_target(L"/a", L"?b=1"));
    EXPECT_EQ(L"/a?b=1", request_target(L"/a", L"?b=1#top"));
    EXPECT_EQ(L"/a", request_target(L"/a", L"#top"));
    EXPECT_EQ(L"/", request_target(L"/", L""));

    EXPECT_EQ(443, effective_port(0, 1));
    EXPECT_EQ(80, effective_port(0, 0));
    EXPECT_EQ(80, effective_port(-5, 0));
    EXPECT_EQ(8443, effective_port(8443, 0));
    EXPECT_EQ(1, effective_port(1, 1));

    // Formed before the default port is filled in: a port below 1 shows as given.
    EXPECT_EQ(L"https://127.0.0.1:0/", format_full_url(1, L"127.0.0.1", 0, L"/"));
    EXPECT_EQ(L"http://h.example:-1/a?b=c", format_full_url(0, L"h.example", -1, L"/a?b=c"));
    EXPECT_EQ(L"https://h.example:443/p", format_full_url(1, L"h.example", 443, L"/p"));
}

TEST(RequestUrl, FailureTexts) {
    EXPECT_EQ(L"Invalid IP address = a.b.cd", invalid_host_text(L"a.b.cd"));
    EXPECT_EQ(L"Invalid IP address = ", invalid_host_text(L""));
    EXPECT_EQ(L"Unknown HTTP Request method(\"PATCH\")", unknown_method_text(L"PATCH"));
}

TEST(RequestUrl, MethodUpperCasedAndChecked) {
    struct method_case {
        std::wstring method, want;
        bool known;
    };
    const method_case cases[] = {
        {L"", L"GET", true},          {L"get", L"GET", true},
        {L"Post", L"POST", true},     {L"put", L"PUT", true},
        {L"dElEtE", L"DELETE", true}, {L"GET", L"GET", true},
        {L"patch", L"PATCH", false},  {L"HEAD", L"HEAD", false},
        {L"GET ", L"GET ", false},    {L"GE", L"GE", false},
        {L"GETS", L"GETS", false},    {L"g\u00e9t", L"G\u00e9T", false},
    };
    for (const auto& c : cases) {
        std::wstring method = c.method;
        EXPECT_EQ(c.known, normalize_method(method)) << c.method.c_str();
        EXPECT_EQ(c.want, method);
    }
}

TEST(RequestUrl, HeaderLinesCompleted) {
    const std::pair<std::wstring, std::wstring> lines[] = {
        {L"X-A: 1", L"X-A: 1\r\n"},
        {L"X-A: 1\r\n", L"X-A: 1\r\n"},
        {L"X-A: 1\n", L"X-A: 1\n\r\n"},
        {L"X-A: 1\r", L"X-A: 1\r\r\n"},
        {L"", L"\r\n"},
        {L"\n", L"\n\r\n"},
        {L"\r\n", L"\r\n"},
    };
    for (const auto& l : lines)
        EXPECT_EQ(l.second, complete_header_line(l.first));

    RequestParam param(L"127.0.0.1", 8080, L"p", L"get", 0, {L"X-A: 1", L"X-B: 2\r\n"}, L"b",
                       L"f.zip");
    EXPECT_EQ((std::deque<std::wstring>{L"X-A: 1\r\n", L"X-B: 2\r\n"}), param.headers);
    EXPECT_EQ(-1, param.status);
    EXPECT_EQ(30000u, param.timeout_ms);
    EXPECT_EQ(0, param.elapsed_ms);
    EXPECT_EQ(0u, param.bytes_written);
    EXPECT_EQ(L"get", param.method); // upper-cased by the request, not the constructor
    EXPECT_TRUE(param.full_url.empty());
}

TEST(RequestUrl, ContentTypeLineFirstAndOnlyOnce) {
    std::deque<std::wstring> headers{L"X-A: 1\r\n"};
    headers.push_back(L"X-Late: 2"); // added after construction, not yet completed
    prepare_headers(headers);
    const std::deque<std::wstring> want{k_content_type_line, L"X-A: 1\r\n", L"X-Late: 2\r\n"};
    EXPECT_EQ(want, headers);
    EXPECT_EQ(L"Content-Type: application/json; charset=utf-8\r\n", headers.front());
    // A retry on the same record must not send the line twice.
    prepare_headers(headers);
    EXPECT_EQ(want, headers);

    std::deque<std::wstring> none;
    prepare_headers(none);
    EXPECT_EQ(std::deque<std::wstring>{k_content_type_line}, none);
}

TEST(RequestUrl, WhichStatusesAreRead) {
    for (int32_t s : {0, 100, 200, 201, 204, 299, 400, 401, 404, 499})
        EXPECT_TRUE(is_read_status(s)) << s;
    for (int32_t s : {300, 301, 302, 304, 399, 500, 502, 503, 599, 600})
        EXPECT_FALSE(is_read_status(s)) << s;
}

TEST(RequestUrl, StatusCodeText) {
    const std::pair<std::wstring, int32_t> cases[] = {
        {L"200", 200}, {L"404", 404}, {L" 302", 302},         {L"", 0},
        {L"OK", 0},    {L"20x", 20},  {L"99999999999999", 0}, {L"-1", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, parse_status_code(c.first)) << c.first.c_str();
}

TEST(RequestUrl, DecodedBomRemovedOnce) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"\u00ef\u00bb\u00bfabc", L"abc"},
        {L"\u00ef\u00bb\u00bf\u00ef\u00bb\u00bf", L"\u00ef\u00bb\u00bf"},
        {L"\u00ef\u00bb", L"\u00ef\u00bb"},
        {L"a\u00ef\u00bb\u00bf", L"a\u00ef\u00bb\u00bf"},
        {L"\ufeffabc", L"\ufeffabc"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        std::wstring text = c.first;
        strip_decoded_bom(text);
        EXPECT_EQ(c.second, text);
    }
}

// Each chunk lives in its own exactly sized heap block, so a read past it shows under ASan.
std::string accumulate(size_t announced, const std::vector<std::string>& chunks) {
    text_accumulator acc(announced);
    for (const auto& c : chunks) {
        std::vector<char> block(c.begin(), c.end());
        acc.append_chunk(block.data(), block.size());
    }
    return acc.bytes();
}

TEST(RequestUrl, TextChunksLoseBomAndStopAtZero) {
    const std::string bom = "\xEF\xBB\xBF";
    struct chunk_case {
        std::vector<std::string> chunks;
        std::string want;
    };
    const chunk_case cases[] = {
        {{"hello"}, "hello"},
        {{bom + "hello"}, "hello"},
        // The mark is looked for at the start of every chunk, and only there.
        {{bom + "ab", bom + "cd", "e" + bom}, "abcde" + bom},
        {{bom}, ""},
        {{bom + bom + "x"}, bom + "x"},
        // Too short to hold a mark: kept, and nothing beyond the chunk is looked at.
        {{"\xEF\xBB"}, "\xEF\xBB"},
        {{"\xEF"}, "\xEF"},
        {{""}, ""},
        // A zero byte ends that chunk's contribution; the next chunk still counts.
        {{std::string("ab\0cd", 5), "ef"}, "abef"},
        {{std::string("\0x", 2)}, ""},
        {{bom + std::string("\0", 1) + "z", "y"}, "y"},
        {{"\xED\x95\x9C", "\xEA\xB8\x80"}, "\xED\x95\x9C\xEA\xB8\x80"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, accumulate(100, c.chunks));
}

TEST(RequestUrl, TextLongerThanItsBufferComesBackWhole) {
    // Above 40960 bytes without an announced length, in 4096-byte reads.
    std::string body;
    for (int i = 0; body.size() < 50000; ++i)
        body += std::to_string(i) + ",";
    std::vector<std::string> chunks;
    for (size_t at = 0; at < body.size(); at += k_read_chunk)
        chunks.push_back(body.substr(at, k_read_chunk));
    EXPECT_EQ(body, accumulate(k_default_text_capacity, chunks));

    // More than the server announced.
    EXPECT_EQ(body, accumulate(10, chunks));
    EXPECT_EQ(body, accumulate(0, chunks));
    // An announced length that is a lie of gigabytes reserves nothing of the kind.
    text_accumulator huge(0xFFFFFFFFu);
    EXPECT_LT(huge.bytes().capacity(), size_t(64) << 20);
    huge.append_chunk("ok", 2);
    EXPECT_EQ("ok", huge.bytes());
}

TEST(RequestUrl, NullChunkIgnored) {
    text_accumulator acc(8);
    acc.append_chunk(nullptr, 5);
    acc.append_chunk("abc", 3);
    EXPECT_EQ("abc", acc.bytes());
}

// Feeds the clock `bytes` every `every_ms` until `until_ms`; returns when it failed, or -1.
int64_t first_failure(transfer_clock clock, uint64_t bytes, uint64_t every_ms, uint64_t until_ms) {
    uint64_t total = 0;
    for (uint64_t now = every_ms; now <= until_ms; now += every_ms) {
        total += bytes;
        if (!clock.on_data(now, total))
            return static_cast<int64_t>(now);
    }
    return -1;
}

TEST(RequestUrl, TextHasOneDeadlineFromTheStart) {
    const transfer_limits limits;
    transfer_clock clock(limits, false, 5000);
    EXPECT_TRUE(clock.on_data(5000 + 119999, uint64_t(1) << 30));
    EXPECT_EQ(5000u + 120000, clock.deadline_ms()) << "data does not move it";
    EXPECT_FALSE(clock.on_data(5000 + 120000, 1));
    EXPECT_EQ(120000, first_failure(transfer_clock(limits, false, 0), 1, 20000, 3600000));
}

TEST(RequestUrl, DownloadMustProgressInEveryWindow) {
    const transfer_limits limits; // 64 KiB in every 60 s
    // A slow but live link (2 KiB/s) runs for a day; a drip fails with its first window.
    EXPECT_EQ(-1, first_failure(transfer_clock(limits, true, 0), 2048, 1000, 86400000));
    EXPECT_EQ(60000, first_failure(transfer_clock(limits, true, 0), 1, 20000, 3600000));
    // Just below the rate fails, in whichever window first falls short.
    EXPECT_EQ(60000, first_failure(transfer_clock(limits, true, 0), 1000, 1000, 3600000));

    transfer_clock clock(limits, true, 0);
    EXPECT_TRUE(clock.on_data(10000, 65536));
    EXPECT_EQ(70000u, clock.deadline_ms()) << "a window opens when the last one is full";
    EXPECT_TRUE(clock.on_data(69999, 65536 + 65535));
    EXPECT_EQ(70000u, clock.deadline_ms());
    // Bytes that arrive after the deadline do not save it.
    EXPECT_FALSE(clock.on_data(70500, 65536 + 65536 + 10000));
}

TEST(RequestUrl, FailureTextsNameTheBound) {
    const transfer_limits limits;
    EXPECT_EQ(L"Response too large. elapsed = 17ms. limit = 4194304 bytes.",
              too_large_text(17, 4194304));
    EXPECT_EQ(L"Response too slow. elapsed = 120003ms. received 6 bytes. limit = the whole body "
              L"in 120000ms.",
              too_slow_text(limits, false, 120003, 6));
    EXPECT_EQ(L"Response too slow. elapsed = 60001ms. received 3 bytes. limit = 65536 bytes in "
              L"every 60000ms.",
              too_slow_text(limits, true, 60001, 3));
    EXPECT_EQ(L"WriteFile failed. error code = 112(Disk full.)",
              write_failed_text(112, L"Disk full."));
}

} // namespace
