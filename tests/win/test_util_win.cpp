#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "build_config.h"
#include "util/file_util_win.h"
#include "util/place_win.h"
#include "util/registry_util_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"
#include "util/time_text.h"
#include "util/time_text_win.h"
#include "util/unique_handle.h"
#include "util/window_util_win.h"

namespace {

#define WIDEN2(x) L##x
#define WIDEN(x) WIDEN2(x)

std::string file_bytes(const std::wstring& path) {
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    std::string out;
    if (!file)
        return out;
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &n, nullptr) && n > 0)
        out.append(buffer, n);
    return out;
}

bool put_bytes(const std::wstring& path, const std::string& bytes) {
    unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD n = 0;
    return file &&
           ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
           n == bytes.size();
}

std::string narrow(const std::wstring& text) {
    return utf8_encode(text);
}

// Each test gets its own scratch folder under the temporary folder.
class UtilWin : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_dir = format_text(
            L"%sfenwa_util_%lu_%s", temp, ::GetCurrentProcessId(),
            utf8_decode(testing::UnitTest::GetInstance()->current_test_info()->name()).c_str());
        delete_folder(m_dir);
        ASSERT_TRUE(ensure_folder(m_dir));
    }
    void TearDown() override { delete_folder(m_dir); }
    std::wstring at(const std::wstring& name) const { return m_dir + L"\\" + name; }

    std::wstring m_dir;
};

TEST_F(UtilWin, TextFilesInBothEncodings) {
    const std::wstring u8 = at(L"u8.txt");
    const std::wstring text = L"line\n\uD55C\uAE00\n";
    ASSERT_TRUE(write_text_file(u8, text, true));
    EXPECT_EQ(file_bytes(u8), "\xEF\xBB\xBF"
                              "line\r\n\xED\x95\x9C\xEA\xB8\x80\r\n");
    EXPECT_EQ(read_text_file(u8, 65001), text);
    EXPECT_EQ(read_text_file(u8), text); // detected
    EXPECT_EQ(detect_utf8(u8), 65001);
    EXPECT_EQ(read_text_file(u8, 1, 6), L"line\n\uD55C");

    // A terminator is written only in ANSI mode; reading stops at it.
    ASSERT_TRUE(write_text_file(u8, L"x", true, true));
    EXPECT_EQ(file_bytes(u8), "\xEF\xBB\xBFx");

    const std::wstring ansi = at(L"ansi.txt");
    ASSERT_TRUE(write_text_file(ansi, L"abc\nd", false, true));
    EXPECT_EQ(file_bytes(ansi), std::string("abc\r\nd\0", 7));
    EXPECT_EQ(read_text_file(ansi, 0), L"abc\nd");
    ASSERT_TRUE(write_text_file(ansi, L"abc\nd", false, false));
    EXPECT_EQ(file_bytes(ansi), "abc\r\nd");
    EXPECT_EQ(read_text_file(ansi, 0, 2), L"ab");

    // Bytes that are not UTF-8 are read through the ANSI code page.
    const std::wstring legacy = at(L"legacy.txt");
    ASSERT_TRUE(put_bytes(legacy, "\xC7\xD1\r\n"));
    EXPECT_EQ(detect_utf8(legacy), 0);
    EXPECT_EQ(read_text_file(legacy), from_ansi("\xC7\xD1") + L"\n");

    // Characters beyond the basic plane survive, and a lone surrogate is not written raw.
    const std::wstring wide_text = L"\U0001F600 ok";
    ASSERT_TRUE(write_text_file(u8, wide_text, true));
    EXPECT_EQ(file_bytes(u8), "\xEF\xBB\xBF\xF0\x9F\x98\x80 ok");
    EXPECT_EQ(read_text_file(u8, 65001), wide_text);
    EXPECT_EQ(read_text_file(u8, 65001, 1), L""); // never half a pair
    ASSERT_TRUE(write_text_file(u8, std::wstring(1, wchar_t(0xD800)), true));
    EXPECT_EQ(file_bytes(u8), "\xEF\xBB\xBF\xEF\xBF\xBD");

    const std::wstring empty = at(L"empty.txt");
    ASSERT_TRUE(put_bytes(empty, ""));
    EXPECT_EQ(read_text_file(empty), L"");
    EXPECT_EQ(detect_utf8(empty), 65001);
    EXPECT_EQ(read_text_file(at(L"missing.txt")), L"");
    EXPECT_EQ(detect_utf8(at(L"missing.txt")), -1);
    EXPECT_EQ(read_text_file(m_dir), L"");
    EXPECT_FALSE(write_text_file(at(L"no\\such\\folder.txt"), L"x", true));
}

TEST_F(UtilWin, LockedFileIsNeitherReadNorWritten) {
    const std::wstring path = at(L"locked.txt");
    ASSERT_TRUE(write_text_file(path, L"keep", true));
    {
        unique_hfile lock(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        EXPECT_EQ(read_text_file(path, 65001), L"");
        EXPECT_EQ(detect_utf8(path), -1);
        EXPECT_FALSE(write_text_file(path, L"overwritten", true));
    }
    EXPECT_EQ(read_text_file(path, 65001), L"keep");
}

TEST_F(UtilWin, ListFilesOrderAndFilters) {
    for (const wchar_t* name : {L"file10.txt", L"file2.txt", L"File1.txt", L"a.log", L"skip_me.txt",
                                L"sub\\file3.TXT", L"sub\\deeper\\x.txt"}) {
        ensure_folder(split_path(at(name), path_folder));
        ASSERT_TRUE(put_bytes(at(name), "x"));
    }
    struct {
        std::wstring mask, extensions;
        bool folders;
        std::wstring excludes;
        bool recursive;
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"",
         L"",
         false,
         L"",
         false,
         {L"a.log", L"File1.txt", L"file2.txt", L"file10.txt", L"skip_me.txt"}},
        {L"*",
         L"",
         true,
         L"",
         false,
         {L"a.log", L"File1.txt", L"file2.txt", L"file10.txt", L"skip_me.txt", L"sub"}},
        {L"*", L"*.LOG", true, L"", false, {L"a.log", L"sub"}},
        {L"*",
         L".txt;;log",
         false,
         L"SKIP;nothing",
         false,
         {L"a.log", L"File1.txt", L"file2.txt", L"file10.txt"}},
        {L"*",
         L"txt",
         false,
         L"",
         true,
         {L"File1.txt", L"file2.txt", L"file10.txt", L"skip_me.txt", L"sub\\deeper\\x.txt",
          L"sub\\file3.TXT"}},
        {L"file*", L"", false, L"1", false, {L"file2.txt"}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> list;
        list_files(m_dir, c.mask, c.extensions, c.folders, c.excludes, true, list, c.recursive);
        std::vector<std::wstring> expected;
        for (const auto& name : c.expected)
            expected.push_back(at(name));
        EXPECT_EQ(list, expected) << narrow(c.mask + L"|" + c.extensions + L"|" + c.excludes);
    }

    // The list is appended to, and a trailing "\" on the folder is not doubled.
    std::vector<std::wstring> list{at(L"zzz")};
    list_files(m_dir + L"\\sub\\", L"*", L"", false, L"", false, list, false);
    EXPECT_EQ(list, (std::vector<std::wstring>{at(L"zzz"), at(L"sub\\file3.TXT")}));
    list.clear();
    list_files(at(L"missing"), L"*", L"", true, L"", true, list, true);
    EXPECT_TRUE(list.empty());

    EXPECT_TRUE(compare_natural(L"file10", L"File2"));
    EXPECT_FALSE(compare_natural(L"file2", L"file10"));
    EXPECT_FALSE(compare_natural(L"same", L"SAME"));
}

TEST_F(UtilWin, FileVersionStrings) {
    const std::wstring expected = WIDEN(FENWA_FILE_VERSION_STR);
    EXPECT_EQ(get_file_version_string(L"", L"FileVersion"), expected);
    EXPECT_EQ(get_file_version_string(get_exe_name(true), L"FileVersion"), expected);
    EXPECT_EQ(get_file_version_string(L"", L"NoSuchValue"), L"(null)");

    const std::wstring plain = at(L"plain.dll");
    ASSERT_TRUE(put_bytes(plain, "not a program"));
    EXPECT_EQ(get_file_version_string(plain, L"FileVersion"), L"");
    EXPECT_EQ(get_file_version_string(at(L"missing.exe"), L"FileVersion"), L"");
    // Only the contents count, never the name; a file too short for a header has no version.
    const std::wstring program = at(L"program.bin");
    ASSERT_TRUE(::CopyFileW(get_exe_name(true).c_str(), program.c_str(), FALSE));
    EXPECT_EQ(get_file_version_string(program, L"FileVersion"), expected);
    const std::wstring tiny = at(L"tiny.exe");
    ASSERT_TRUE(put_bytes(tiny, "M"));
    EXPECT_EQ(get_file_version_string(tiny, L"FileVersion"), L"");
    const std::wstring stub = at(L"stub.exe");
    ASSERT_TRUE(put_bytes(stub, "MZ but nothing more"));
    EXPECT_EQ(get_file_version_string(stub, L"FileVersion"), L"");
}

class UtilRegistry : public testing::Test {
protected:
    void SetUp() override {
        m_subkey = format_text(L"Software\\Fenwa\\UtilTest_%lu", ::GetCurrentProcessId());
    }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_subkey.c_str());
        unique_hkey parent;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Fenwa", 0, KEY_ALL_ACCESS,
                            parent.put()) == ERROR_SUCCESS) {
            // Leave the product's own key alone; remove the parent only if the test made it.
            DWORD subkeys = 0, values = 0;
            ::RegQueryInfoKeyW(parent.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr);
            parent.reset();
            if (subkeys == 0 && values == 0)
                ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Fenwa");
        }
    }
    LONG set_raw(const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
        unique_hkey key;
        LONG r = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_subkey.c_str(), 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
        return r ? r
                 : ::RegSetValueExW(key.get(), name.c_str(), 0, type,
                                    static_cast<const BYTE*>(data), bytes);
    }
    std::wstring m_subkey;
};

TEST_F(UtilRegistry, RoundTripAndLimits) {
    std::wstring out = L"stale";
    EXPECT_NE(read_hklm_string(m_subkey, L"Version", out), 0);
    EXPECT_EQ(out, L"");

    ASSERT_EQ(write_hklm_string(m_subkey, L"Version", L"1.0.0.7"), 0);
    EXPECT_EQ(read_hklm_string(m_subkey, L"Version", out), 0);
    EXPECT_EQ(out, L"1.0.0.7");
    const std::wstring longest(999, L'9');
    EXPECT_EQ(write_hklm_string(m_subkey, L"Version", longest), 0);
    EXPECT_EQ(read_hklm_string(m_subkey, L"Version", out), 0);
    EXPECT_EQ(out, longest);
    EXPECT_EQ(write_hklm_string(m_subkey, L"Version", longest + L"9"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(read_hklm_string(m_subkey, L"Version", out), 0);
    EXPECT_EQ(out, longest);

    EXPECT_EQ(write_hklm_string(m_subkey, L"Empty", L""), 0);
    EXPECT_EQ(read_hklm_string(m_subkey, L"Empty", out), 0);
    EXPECT_EQ(out, L"");
}

TEST_F(UtilRegistry, OversizedOrForeignValuesAreReadSafely) {
    // Unterminated data just inside the buffer: all of it, nothing beyond. (The system
    // stores a terminator it finds right after the data, so the source runs on.)
    const std::wstring source(1100, L'f');
    ASSERT_EQ(set_raw(L"Inside", REG_SZ, source.data(), 2046), 0);
    std::wstring out;
    EXPECT_EQ(read_hklm_string(m_subkey, L"Inside", out), 0);
    EXPECT_EQ(out, source.substr(0, 1023));
    // Filling the buffer exactly: Windows hands it over whole, Wine wants room for a
    // terminator and refuses. Either way nothing past the buffer is read.
    ASSERT_EQ(set_raw(L"Full", REG_SZ, source.data(), 2048), 0);
    const LONG r = read_hklm_string(m_subkey, L"Full", out);
    EXPECT_TRUE((r == 0 && out == source.substr(0, 1024)) || (r == ERROR_MORE_DATA && out.empty()))
        << r;

    // Longer than the buffer: refused, not cut.
    const std::wstring longer(1500, L'x');
    ASSERT_EQ(set_raw(L"Long", REG_SZ, longer.c_str(), 3002), 0);
    out = L"stale";
    EXPECT_EQ(read_hklm_string(m_subkey, L"Long", out), ERROR_MORE_DATA);
    EXPECT_EQ(out, L"");

    const DWORD number = 0x00410041;
    ASSERT_EQ(set_raw(L"Number", REG_DWORD, &number, sizeof(number)), 0);
    EXPECT_EQ(read_hklm_string(m_subkey, L"Number", out), ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(out, L"");
}

TEST_F(UtilWin, FoldersAndPaths) {
    const std::wstring nested = at(L"a\\b\\c");
    EXPECT_TRUE(ensure_folder(nested));
    EXPECT_TRUE(is_folder(nested));
    EXPECT_TRUE(ensure_folder(nested));
    ASSERT_TRUE(write_text_file(nested + L"\\f.txt", L"12345", false));
    EXPECT_EQ(get_path_size(nested + L"\\f.txt"), 5u);
    EXPECT_EQ(get_path_size(nested + L"\\none"), 0u);
    EXPECT_GT(get_file_mtime(nested + L"\\f.txt"), static_cast<int64_t>(std::time(nullptr)) - 600);
    EXPECT_EQ(get_file_mtime(nested + L"\\none"), 0);

    // Wildcards would let the shell delete whatever they match.
    EXPECT_FALSE(delete_folder(at(L"a\\b\\*")));
    EXPECT_TRUE(path_exists(nested + L"\\f.txt"));
    EXPECT_TRUE(delete_folder(at(L"a")));
    EXPECT_FALSE(path_exists(at(L"a")));
    EXPECT_FALSE(delete_folder(at(L"a")));
    EXPECT_FALSE(delete_folder(L""));

    std::wstring deep = m_dir;
    while (deep.size() < 259)
        deep += L"\\d";
    deep.resize(259);
    const std::wstring too_long = deep + L"x";
    EXPECT_FALSE(ensure_folder(too_long));
    EXPECT_FALSE(path_exists(too_long));
    EXPECT_FALSE(delete_folder(too_long));

    EXPECT_EQ(get_exe_folder() + L"\\" + get_exe_name(false), get_exe_name(true));
    EXPECT_FALSE(get_current_folder().empty());
    EXPECT_GT(get_drive_total(L"C"), 0u);
    EXPECT_EQ(get_drive_total(L"C"), get_drive_total(L"C:\\"));
    // A drive root's size is its used space (other processes write meanwhile).
    EXPECT_GT(get_path_size(L"C:"), 0u);
    EXPECT_LT(get_path_size(L"c:\\"), get_drive_total(L"c"));
}

TEST(UtilWinShell, SpecialAndKnownFolders) {
    const std::wstring public_docs = get_special_folder(46);
    EXPECT_FALSE(public_docs.empty());
    EXPECT_TRUE(is_folder(public_docs));
    const GUID downloads = {
        0x374de290, 0x123f, 0x4565, {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}};
    const GUID desktop = {
        0xb4bfcc3a, 0xdb2c, 0x424c, {0xb0, 0x29, 0x7f, 0xe9, 0x9a, 0x87, 0xc6, 0x41}};
    EXPECT_EQ(get_known_folder(downloads), get_special_folder(40) + L"\\Downloads");
    EXPECT_FALSE(get_special_folder(40).empty());
    EXPECT_EQ(get_known_folder(desktop), L"");
}

TEST(UtilWinText, FormatAndConversions) {
    EXPECT_EQ(format_text(L"%s=%d", L"\uD55C", 42), L"\uD55C=42");
    // Far beyond any first buffer: the whole text, not a cut one.
    const std::wstring big(70000, L'z');
    const std::wstring formatted = format_text(L"[%s]", big.c_str());
    EXPECT_EQ(formatted.size(), big.size() + 2);
    EXPECT_EQ(formatted, L"[" + big + L"]");
    EXPECT_EQ(format_text(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
    EXPECT_EQ(format_text(nullptr), L"");

    EXPECT_EQ(utf8_to_text(std::string("abc\0def", 7)), L"abc");
    if (::GetACP() == 1252) {
        EXPECT_EQ(utf8_to_text("\xC3\xA9"), L"\u00E9");
        EXPECT_EQ(utf8_to_text("\xED\x95\x9C"), L"?"); // not in the code page
    }
    // The 16-bit forms of the UTF-8 helpers: pairs combine, lone halves are replaced.
    EXPECT_EQ(utf8_encode(L"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8_decode("\xF0\x9F\x98\x80"), L"\U0001F600");
    EXPECT_EQ(utf8_encode(std::wstring{wchar_t(0xDC00), wchar_t(0xD800)}),
              "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(UtilWinText, TimeTextsAndErrors) {
    const calendar_time epoch = local_time_from_unix(0);
    EXPECT_TRUE(epoch.valid);
    EXPECT_TRUE(epoch.year == 1970 || epoch.year == 1969);
    EXPECT_FALSE(local_time_from_unix(INT64_MAX).valid);
    EXPECT_EQ(format_date_time(INT64_MAX, L" ", true, true), L"");
    EXPECT_TRUE(local_time_now().valid);

    const std::wstring refused = get_error_text(12029);
    EXPECT_FALSE(refused.empty());
    EXPECT_EQ(refused, trim(refused));
    EXPECT_EQ(refused.find(L"WinINet error"), std::wstring::npos); // from WinINet's own table
    // Wine's WinINet has no message for these; there must still be a text.
    EXPECT_NE(get_error_text(12045).find(L"certificate"), std::wstring::npos);
    EXPECT_FALSE(get_error_text(12157).empty());
    EXPECT_FALSE(get_error_text(12174).empty());
    EXPECT_FALSE(get_error_text(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_EQ(get_error_text(ERROR_FILE_NOT_FOUND), trim(get_error_text(ERROR_FILE_NOT_FOUND)));

    EXPECT_GE(get_windows_major_version(), 5);
}

// Windows for the search and message tests; skipped where no window can be made.
struct test_window {
    explicit test_window(const wchar_t* caption, bool visible = true) {
        hwnd = ::CreateWindowExW(0, L"STATIC", caption, WS_POPUP | (visible ? WS_VISIBLE : 0), 0, 0,
                                 10, 10, nullptr, nullptr, nullptr, nullptr);
    }
    ~test_window() {
        if (hwnd)
            ::DestroyWindow(hwnd);
    }
    HWND hwnd = nullptr;
};

// Other processes' windows (the browser) are searched in the scenario tests; here only
// that the launcher never takes a window of its own for the browser.
TEST(UtilWinWindows, FindWindowByTitleLeavesOwnWindowsOut) {
    test_window mine(L"  Fenwa Util Probe - page  ");
    if (!mine.hwnd)
        GTEST_SKIP() << "no window station";
    ::SetWindowPos(mine.hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_EQ(find_window_by_title(L"Fenwa Util Probe - page", true), nullptr);
    EXPECT_EQ(find_window_by_title(L"Util Probe", false), nullptr);
}

UINT g_seen = 0;
LRESULT CALLBACK count_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP + 7)
        ++g_seen;
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

TEST(UtilWinWindows, WaitWithMessages) {
    test_window window(L"Fenwa Util Wait", false);
    if (!window.hwnd)
        GTEST_SKIP() << "no window station";
    ::SetWindowLongPtrW(window.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&count_proc));
    g_seen = 0;
    ::PostMessageW(window.hwnd, WM_APP + 7, 0, 0);
    const ULONGLONG start = ::GetTickCount64();
    wait_with_messages(150);
    EXPECT_GE(::GetTickCount64() - start, 140u);
    EXPECT_EQ(g_seen, 1u);

    // A quit request ends the wait and stays queued for the caller's loop.
    ::PostQuitMessage(3);
    const ULONGLONG quit_start = ::GetTickCount64();
    wait_with_messages(5000);
    EXPECT_LT(::GetTickCount64() - quit_start, 2000u);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

} // namespace

TEST_F(UtilWin, PlacesStayBelowTheirRootAndNeverMeetAFileOnTheWay) {
    // Only names the one rule accepts become places, and only below the root.
    EXPECT_EQ(at(L"a\\b.txt"), place(m_dir, L"a/b.txt").path());
    // The folder itself is walked too: its name is the first step below its parent.
    EXPECT_EQ(m_dir.substr(m_dir.rfind(L'\\') + 1) + L"\\b.txt",
              place::inside(m_dir, L"b.txt").relative());
    for (const place& bad : {place(m_dir, L"../x"), place(m_dir, L"a//b"), place(L"", L"a"),
                             place::at(m_dir, m_dir + L"x\\y"), place::at(m_dir, L"C:\\x"),
                             place::at(m_dir, m_dir + L"\\..\\x"), place(m_dir, L"a").child(L"..")})
        EXPECT_FALSE(bad.valid()) << bad.path();
    EXPECT_EQ(L"a\\b", place::at(m_dir, m_dir + L"\\a/b\\").relative());

    const place deep(m_dir, L"one/two/three");
    ASSERT_TRUE(deep.make_folders());
    EXPECT_TRUE(is_folder(at(L"one\\two\\three")));
    ASSERT_TRUE(write_text_file(at(L"one\\two\\three\\f.txt"), L"x", true));
    const std::vector<place> files = place(m_dir, L"one").files();
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(L"one\\two\\three\\f.txt", files[0].relative());

    // A file where a folder must be stops the walk: nothing is created behind it.
    const place behind(m_dir, L"one/two/three/f.txt/new.txt");
    EXPECT_FALSE(behind.make_parent());
    EXPECT_FALSE(behind.open(GENERIC_WRITE, 0, CREATE_ALWAYS));
    EXPECT_TRUE(place(m_dir, L"one").remove());
    EXPECT_FALSE(path_exists(at(L"one")));
}
