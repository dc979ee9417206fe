#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/batch_script_win.h"
#include "app/self_update.h"
#include "app/url_scheme_win.h"
#include "util/file_util_win.h"
#include "util/text_util.h"
#include "util/unique_handle.h"

namespace {

const wchar_t k_test_root[] = L"Software\\FenwaShellTest";
const wchar_t k_scheme[] = L"orvexlauncher.fenwa.service.host";

struct reg_value {
    bool found = false;
    DWORD type = 0;
    DWORD bytes = 0;
    std::wstring text;
};

reg_value read_value(HKEY root, const std::wstring& key, const wchar_t* name) {
    reg_value v;
    unique_hkey k;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS)
        return v;
    wchar_t buffer[1024] = {};
    v.bytes = sizeof(buffer);
    v.found = ::RegQueryValueExW(k.get(), name, nullptr, &v.type, reinterpret_cast<BYTE*>(buffer),
                                 &v.bytes) == ERROR_SUCCESS;
    v.text = buffer;
    return v;
}

class UrlSchemeRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, k_test_root);
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, k_test_root, 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, root.put(), nullptr));
    }
    void TearDown() override {
        root.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, k_test_root);
    }
    std::wstring key(const std::wstring& sub = L"") const {
        return url_scheme_key(k_scheme) + (sub.empty() ? L"" : L"\\" + sub);
    }
    unique_hkey root;
};

TEST_F(UrlSchemeRegistry, ValuesWithTheirTerminatorsCounted) {
    const std::wstring path = L"C:\\P F\\FenwaLauncher.exe";
    ASSERT_TRUE(
        write_url_scheme(root.get(), k_scheme, L"URL:orvexlauncher Fenwa Service Protocol", path));
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring data;
    } expected[] = {
        {key(), nullptr, L"URL:orvexlauncher Fenwa Service Protocol"},
        {key(), L"URL Protocol", L""},
        {key(L"DefaultIcon"), nullptr, path},
        {key(L"shell\\open\\command"), nullptr, L"\"C:\\P F\\FenwaLauncher.exe\" \"%1\""},
    };
    for (const auto& e : expected) {
        const reg_value v = read_value(root.get(), e.key, e.name);
        ASSERT_TRUE(v.found) << e.key;
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), v.type) << e.key;
        EXPECT_EQ((e.data.size() + 1) * sizeof(wchar_t), v.bytes) << e.key;
        EXPECT_EQ(e.data, v.text) << e.key;
    }
}

TEST_F(UrlSchemeRegistry, RewritesOwnValuesAndLeavesOthers) {
    unique_hkey scheme;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root.get(), key().c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, scheme.put(), nullptr));
    const wchar_t old[] = L"old";
    ::RegSetValueExW(scheme.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(old),
                     sizeof(old));
    ::RegSetValueExW(scheme.get(), L"Other", 0, REG_SZ, reinterpret_cast<const BYTE*>(old),
                     sizeof(old));
    ASSERT_TRUE(write_url_scheme(root.get(), k_scheme, L"D", L"C:\\X\\L.exe"));
    EXPECT_EQ(L"D", read_value(root.get(), key(), nullptr).text);
    EXPECT_EQ(L"old", read_value(root.get(), key(), L"Other").text);
    EXPECT_EQ(L"C:\\X\\L.exe \"%1\"",
              read_value(root.get(), key(L"shell\\open\\command"), nullptr).text);
}

TEST_F(UrlSchemeRegistry, NoSchemeKeyNoSuccess) {
    EXPECT_FALSE(write_url_scheme(nullptr, k_scheme, L"D", L"C:\\X\\L.exe"));
}

class BatchScripts : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        base = std::wstring(temp) + L"fenwa_batch_test";
        delete_folder(base);
        korean = base + L"\\김철수 다운로드";
        ASSERT_TRUE(ensure_folder(korean));
    }
    void TearDown() override { delete_folder(base); }
    std::wstring base;
    std::wstring korean;
};

std::wstring from_oem(const std::string& bytes) {
    const int n = ::MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                        nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
    return out;
}

const batch_builder removal = [](const std::vector<std::wstring>& p) {
    return removal_script_text(p[0], p[1]);
};

TEST_F(BatchScripts, PlainPathsAsTheyAreWithoutAByteOrderMark) {
    batch_encoding used = batch_encoding::utf8;
    const std::string bytes =
        batch_script_bytes({base + L"\\A*.exe", base + L"\\B*.exe"}, removal, &used);
    EXPECT_EQ(batch_encoding::oem, used);
    EXPECT_EQ(0u, bytes.rfind(":Repeat\r\n", 0));
    EXPECT_EQ(removal({base + L"\\A*.exe", base + L"\\B*.exe"}), from_oem(bytes));
}

TEST_F(BatchScripts, PathsOutsideTheOemCodePageTakeTheirShortNames) {
    if (::GetOEMCP() == 949)
        GTEST_SKIP() << "Korean is the OEM code page here";
    batch_encoding used = batch_encoding::oem;
    const std::vector<std::wstring> paths = {korean + L"\\A*.exe", korean + L"\\B*.exe"};
    const std::string bytes = batch_script_bytes(paths, removal, &used);
    ASSERT_EQ(batch_encoding::oem_short_paths, used);
    const std::wstring text = from_oem(bytes);
    const std::wstring pattern = short_path_form(korean + L"\\A*.exe");
    ASSERT_EQ(L"\\A*.exe", pattern.substr(pattern.size() - 7));
    const std::wstring shorter = pattern.substr(0, pattern.size() - 7);
    EXPECT_NE(korean, shorter);
    EXPECT_NE(std::wstring::npos, text.find(L"del /f /q \"" + pattern + L"\""));
    // The short form names the same folder.
    EXPECT_TRUE(is_folder(shorter));
    EXPECT_EQ(shorter + L"\\not\\there.exe", short_path_form(korean + L"\\not\\there.exe"));
    // The file name keeps its long form even where the file exists: the scripts delete it
    // and create it again under that name.
    const std::wstring file = korean + L"\\FenwaLauncher.exe";
    ASSERT_TRUE(write_file_bytes(file, "x"));
    EXPECT_EQ(shorter + L"\\FenwaLauncher.exe", short_path_form(file));
}

TEST_F(BatchScripts, WithoutAShortNameTheScriptSwitchesToUtf8) {
    if (::GetOEMCP() == 949)
        GTEST_SKIP() << "Korean is the OEM code page here";
    // A folder that does not exist has no short name.
    const std::vector<std::wstring> paths = {L"Q:\\없는\\A*.exe", L"Q:\\없는\\B*.exe"};
    EXPECT_EQ(paths[0], short_path_form(paths[0]));
    batch_encoding used = batch_encoding::oem;
    const std::string bytes = batch_script_bytes(paths, removal, &used);
    EXPECT_EQ(batch_encoding::utf8, used);
    EXPECT_EQ(std::string(k_batch_utf8_line) + utf8_encode(removal(paths)), bytes);
}

TEST_F(BatchScripts, WrittenBytesAreExactlyTheScript) {
    const std::wstring path = base + L"\\s.bat";
    ASSERT_TRUE(write_file_bytes(path, "a\r\nb"));
    ASSERT_TRUE(write_file_bytes(path, ":x\r\n"));
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    char buffer[16] = {};
    DWORD n = 0;
    ASSERT_TRUE(::ReadFile(file.get(), buffer, sizeof(buffer), &n, nullptr));
    EXPECT_EQ(":x\r\n", std::string(buffer, n));
    EXPECT_FALSE(write_file_bytes(base + L"\\missing\\s.bat", "x"));
}

} // namespace
