#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/text_util.h"

namespace {

// Code points to a wide string in whatever form wchar_t has on this build.
std::wstring wide(const std::u32string& cps) {
    std::wstring out;
    for (char32_t cp : cps) {
        if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
            out.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
    }
    return out;
}

struct split_path_case {
    std::wstring path;
    std::wstring drive, folder, last_folder, title, ext, name;
};

TEST(TextUtil, SplitPathParts) {
    const std::wstring long_title(255, L'n');
    const split_path_case cases[] = {
        {L"C:\\a\\b\\file.txt", L"C:", L"C:\\a\\b", L"b", L"file", L"txt", L"file.txt"},
        // A file in a drive's root: folder and last folder are both the root.
        {L"C:\\file.txt", L"C:", L"C:\\", L"C:\\", L"file", L"txt", L"file.txt"},
        {L"C:", L"C:", L"C:\\", L"C:\\", L"", L"", L""},
        // A bare name stands in for its own folder.
        {L"setup.exe", L"", L"setup.exe", L"setup.exe", L"setup", L"exe", L"setup.exe"},
        {L"\\setup.exe", L"", L"setup.exe", L"setup.exe", L"setup", L"exe", L"setup.exe"},
        {L"C:\\a\\b\\", L"C:", L"C:\\a\\b", L"b", L"", L"", L""},
        // Only "\" separates the last folder name, but both slashes end the directory.
        {L"a/b/c.tar.gz", L"", L"a/b", L"a/b", L"c.tar", L"gz", L"c.tar.gz"},
        {L"C:\\dir.v2\\name", L"C:", L"C:\\dir.v2", L"dir.v2", L"name", L"", L"name"},
        {L"\\\\server\\share\\x.dll", L"", L"\\\\server\\share", L"share", L"x", L"dll", L"x.dll"},
        {L".profile", L"", L".profile", L".profile", L"", L"profile", L".profile"},
        {L"D:\\t\\" + long_title + L".x", L"D:", L"D:\\t", L"t", long_title, L"x",
         long_title + L".x"},
        {L"", L"", L"", L"", L"", L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "path of " << c.path.size()
                                        << " chars: " << std::string(c.path.begin(), c.path.end()));
        EXPECT_EQ(split_path(c.path, path_drive), c.drive);
        EXPECT_EQ(split_path(c.path, path_folder), c.folder);
        EXPECT_EQ(split_path(c.path, path_last_folder), c.last_folder);
        EXPECT_EQ(split_path(c.path, path_title), c.title);
        EXPECT_EQ(split_path(c.path, path_extension), c.ext);
        EXPECT_EQ(split_path(c.path, path_file_name), c.name);
    }
}

TEST(TextUtil, SplitPathSpecialAndRefused) {
    for (int part = 0; part <= 5; ++part) {
        EXPECT_EQ(split_path(L"C:\\x\\smile :)", part), L"C:\\x\\smile :)");
        // A component the platform splitter cannot hold gives nothing rather than a cut text.
        EXPECT_EQ(split_path(L"C:\\t\\" + std::wstring(256, L'n') + L".txt", part), L"");
        EXPECT_EQ(split_path(L"C:\\" + std::wstring(300, L'd') + L"\\f.txt", part), L"");
        EXPECT_EQ(split_path(L"C:\\f." + std::wstring(256, L'e'), part), L"");
    }
    EXPECT_EQ(split_path(L"C:\\a\\b.c", 6), L"");
    EXPECT_EQ(split_path(L"C:\\a\\b.c", -1), L"");
}

struct split_text_case {
    std::wstring text, sep;
    bool keep_empty;
    int max_count;
    bool join_rest;
    std::vector<std::wstring> expected;
};

TEST(TextUtil, SplitText) {
    const split_text_case cases[] = {
        {L"a|b|c|d|e", L"|", false, 3, true, {L"a", L"b", L"c|d|e"}},
        {L"a|b|c|d|e", L"|", false, 3, false, {L"a", L"b", L"c"}},
        {L"a|b|c", L"|", true, 3, true, {L"a", L"b", L"c"}},
        {L"a||b", L"|", false, 0, false, {L"a", L"b"}},
        {L"a||b", L"|", true, 0, false, {L"a", L"", L"b"}},
        {L"a|b|", L"|", true, 0, false, {L"a", L"b", L""}},
        {L"|a", L"|", true, 3, false, {L"", L"a"}},
        {L"", L"|", true, 3, false, {L""}},
        {L"", L"|", false, 0, false, {}},
        // Skipped empty tokens do not count towards the limit.
        {L"a||b|c", L"|", false, 2, true, {L"a", L"b|c"}},
        {L"a||b|c", L"|", true, 2, true, {L"a", L"|b|c"}},
        {L"x\r\ny\r\n\r\nz", L"\r\n", false, 0, false, {L"x", L"y", L"z"}},
        {L"one two", L"", true, 0, false, {L"one two"}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> list{L"stale"};
        const int n = split_text(c.text, c.sep, list, c.keep_empty, c.max_count, c.join_rest);
        EXPECT_EQ(list, c.expected) << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(n, static_cast<int>(list.size()));
    }
}

TEST(TextUtil, CompareVersions) {
    struct {
        std::wstring a, b;
        wchar_t sep;
        int expected;
    } cases[] = {
        {L"1.2", L"1.2.0", L'.', 0},
        {L"1.2.0.0", L"1.2", L'.', 0},
        {L"1.2.", L"1.2", L'.', 0},
        {L"1.10", L"1.9", L'.', 1},
        {L"1.0.0.5", L"1.0.0.10", L'.', -1},
        {L"2.0", L"10.0", L'.', -1},
        {L"", L"0.0", L'.', 0},
        {L"", L"0.1", L'.', -1},
        {L"1..3", L"1.0.3", L'.', 0},
        // Letters count as (character - '0'): 'a' is 49.
        {L"1.a", L"1.9", L'.', 1},
        {L"1.a", L"1.49", L'.', 0},
        {L"1.a", L"1.50", L'.', -1},
        {L"1.2b", L"1.69", L'.', 1},
        {L"1-2-3", L"1-2-4", L'-', -1},
        {L"1.2-3", L"1.2-4", L'-', -1},
        // Long fields: no 32-bit wrap-around, and overflowing ones saturate instead of UB.
        {L"1.4294967296", L"1.1", L'.', 1},
        {L"1.2147483648", L"1.5", L'.', 1},
        {L"1.99999999999999999999999", L"1.2", L'.', 1},
        {L"1.2", L"1.99999999999999999999999", L'.', -1},
        {L"1.99999999999999999999999", L"1.99999999999999999999999", L'.', 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compare_versions(c.a, c.b, c.sep), c.expected)
            << std::string(c.a.begin(), c.a.end()) << " vs " << std::string(c.b.begin(), c.b.end());
        EXPECT_EQ(compare_versions(c.b, c.a, c.sep), -c.expected);
    }
    // Characters far above '9' must not overflow either.
    EXPECT_EQ(compare_versions(std::wstring(40, static_cast<wchar_t>(0xFFFF)), L"1"), 1);
}

TEST(TextUtil, SmallStringHelpers) {
    EXPECT_EQ(count_char(L"\n\nab\n", true, L'\n', true), 2);
    EXPECT_EQ(count_char(L"\n\nab\n", false, L'\n', true), 1);
    EXPECT_EQ(count_char(L"\n\nab\n", true, L'\n', false), 3);
    EXPECT_EQ(count_char(L"ab\n", true, L'\n', true), 0);
    EXPECT_EQ(count_char(L"", false, L'x', false), 0);

    EXPECT_TRUE(is_digits(L"0123456789"));
    EXPECT_FALSE(is_digits(L""));
    EXPECT_FALSE(is_digits(L"12a"));
    EXPECT_FALSE(is_digits(L" 12"));
    EXPECT_FALSE(is_digits(L"-1"));

    EXPECT_EQ(trim(L" \t\r\n a b \r\n"), L"a b");
    EXPECT_EQ(trim(L" \t "), L"");
    EXPECT_EQ(trim(L""), L"");

    EXPECT_EQ(replace_all(L"a\r\nb\r\n", L"\r\n", L"\n"), L"a\nb\n");
    EXPECT_EQ(replace_all(L"aa", L"a", L"aa"), L"aaaa"); // replacement holds the pattern
    EXPECT_EQ(replace_all(L"abc", L"", L"x"), L"abc");
    EXPECT_EQ(to_lower(L"Setup.EXE"), L"setup.exe");
}

TEST(TextUtil, DetectUtf8) {
    const std::string hangul = "\xED\x95\x9C"; // U+D55C
    struct {
        std::string bytes;
        int expected;
    } cases[] = {
        {"", 65001},
        {"plain ascii\r\n", 65001},
        {"x" + hangul + "\xC3\xA9", 65001},
        {"\xEF\xBB\xBF"
         "bom",
         65001},
        {"\xF0\x9F\x98\x80", 0}, // four-byte sequences are not accepted
        {"\x80"
         "abc",
         0},             // continuation byte in lead position
        {"\xC7\xD1", 0}, // the same letter in the Korean ANSI code page
        {"\xC3"
         "A",
         0}, // missing continuation
        {"\xFF", 0},
        {"ab\xE1\x84", 65001}, // cut off by the end: still UTF-8
        {"ab\xC3", 65001},
    };
    for (const auto& c : cases) {
        const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
        EXPECT_EQ(detect_utf8_bytes(p, c.bytes.size()), c.expected) << c.bytes;
    }

    // Only the first 4096 bytes are looked at; a sequence cut at that border is accepted.
    std::string big(4096, 'a');
    big += "\xFF";
    EXPECT_EQ(detect_utf8_bytes(reinterpret_cast<const unsigned char*>(big.data()), big.size()),
              65001);
    big[4095] = '\xFF';
    EXPECT_EQ(detect_utf8_bytes(reinterpret_cast<const unsigned char*>(big.data()), big.size()), 0);
    std::string cut(4095, 'a');
    cut += hangul;
    EXPECT_EQ(detect_utf8_bytes(reinterpret_cast<const unsigned char*>(cut.data()), cut.size()),
              65001);
}

TEST(TextUtil, Utf8RoundTripAndInvalidInput) {
    const std::wstring text = wide(U"a\u00E9\uD55C\u20AC\U0001F600\U0010FFFF\uFFFD");
    const std::string bytes = utf8_encode(text);
    EXPECT_EQ(bytes, "a\xC3\xA9\xED\x95\x9C\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"
                     "\xEF\xBF\xBD");
    EXPECT_EQ(utf8_decode(bytes), text);

    const std::wstring bad = wide(U"\uFFFD");
    struct {
        std::string bytes;
        std::wstring expected;
    } cases[] = {
        {"\xC0\xAF", bad + bad},                     // overlong
        {"\xED\xA0\x80", bad + bad + bad},           // encoded surrogate
        {"\xF4\x90\x80\x80", bad + bad + bad + bad}, // above U+10FFFF
        {"\xE2\x82", bad},                           // truncated at the end
        {"a\xFF"
         "b",
         L"a" + bad + L"b"},
        {"\xE2\x82"
         "A",
         bad + L"A"}, // the byte that broke it is kept
        {std::string("x\0y", 3), std::wstring(L"x\0y", 3)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf8_decode(c.bytes), c.expected) << c.bytes;

    // Not a character on any build: encoded as the replacement character.
    if (sizeof(wchar_t) == 4) {
        EXPECT_EQ(utf8_encode(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
    }
    EXPECT_EQ(utf8_encode(std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x"), "\xEF\xBF\xBD"
                                                                                 "x");
}

TEST(TextUtil, TextModeLineEnds) {
    EXPECT_EQ(decode_utf8_text_mode("\xEF\xBB\xBF"
                                    "a\r\nb\rc\n"),
              L"a\nb\rc\n");
    EXPECT_EQ(decode_utf8_text_mode("no bom\r\n"), L"no bom\n");
    EXPECT_EQ(decode_utf8_text_mode("\xEF\xBB"), wide(U"\uFFFD"));
    EXPECT_EQ(crlf_to_lf("a\r\n\r\nb\r"), "a\n\nb\r");
    EXPECT_EQ(lf_to_crlf("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(crlf_to_lf(lf_to_crlf("x\ny\n\n")), "x\ny\n\n");
}

} // namespace

// Outside texts that become one folder name (the server's version): anything that could
// climb, name another place, vanish under Windows' trimming or reach a device is refused.
TEST(TextUtil, SafeFolderNameTable) {
    const std::wstring accepted[] = {L"1.0.0.5",   L"2.0",     L"0.0.0.0",
                                     L"v1_2-beta", L"1.0 (b)", std::wstring(64, L'9'),
                                     L"버전1",     L"COM10",   L"console"};
    for (const auto& name : accepted)
        EXPECT_TRUE(is_safe_folder_name(name)) << std::string(name.begin(), name.end());
    const std::wstring refused[] = {L"",
                                    L".",
                                    L"..",
                                    L"...",
                                    L"..\\x",
                                    L"..\\..\\x",
                                    L"../x",
                                    L"a/b",
                                    L"a\\b",
                                    L"C:",
                                    L"1.0:stream",
                                    L"1.0\n",
                                    L"1.0\r\n",
                                    L"\t1.0",
                                    std::wstring(L"1\0"
                                                 L"0",
                                                 3),
                                    L"1.0\x7f",
                                    L"1.0\x85",
                                    L" 1.0",
                                    L"1.0 ",
                                    L".1.0",
                                    L"1.0.",
                                    L"<html><body>login</body></html>",
                                    L"a*",
                                    L"a?",
                                    L"a\"b",
                                    L"a|b",
                                    L"a>b",
                                    std::wstring(65, L'9'),
                                    std::wstring(100 * 1024, L'1'),
                                    L"NUL",
                                    L"nul.1.0",
                                    L"Com1",
                                    L"LPT9.txt",
                                    L"CON ",
                                    L"CONOUT$",
                                    std::wstring(L"COM") + wchar_t(0xB9)};
    for (const auto& name : refused)
        EXPECT_FALSE(is_safe_folder_name(name)) << name.size();
}

TEST(TextUtil, PrintableTextEscapesAndCuts) {
    EXPECT_EQ(L"1.0\\r\\n", printable_text(L"1.0\r\n"));
    EXPECT_EQ(L"a\\x00b\\x1Bc", printable_text(std::wstring(L"a\0b\x1b"
                                                            L"c",
                                                            5)));
    EXPECT_EQ(std::wstring(80, L'x') + L"... (102400 characters)",
              printable_text(std::wstring(100 * 1024, L'x')));
}
