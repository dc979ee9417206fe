#include "zip/unzip.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/native/test_zip_writer.h"
#include "util/unique_handle.h"

namespace {

using ztest::build;
using ztest::entry;

std::string read_file(const std::wstring& path) {
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    while (file && ::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        data.append(buffer, got);
    return data;
}

bool write_file(const std::wstring& path, const std::string& data) {
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), data.data(), DWORD(data.size()), &written, nullptr) &&
           written == data.size();
}

bool exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    unique_hfind find(::FindFirstFileW((path + L"\\*").c_str(), &found));
    if (find) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(child);
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(find.get(), &found));
    }
    find.reset();
    ::RemoveDirectoryW(path.c_str());
}

// Everything below `path`, as relative paths.
void list_tree(const std::wstring& path, const std::wstring& prefix, std::set<std::wstring>& out) {
    WIN32_FIND_DATAW found;
    unique_hfind find(::FindFirstFileW((path + L"\\*").c_str(), &found));
    if (!find)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        out.insert(prefix + name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            list_tree(path + L"\\" + name, prefix + name + L"\\", out);
    } while (::FindNextFileW(find.get(), &found));
}

int64_t as_int(const FILETIME& ft) {
    return int64_t((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

// The writer's default DOS stamp, 2020-06-15 12:34:56 local time, in UTC.
int64_t default_dos_time_utc() {
    SYSTEMTIME st{};
    st.wYear = 2020;
    st.wMonth = 6;
    st.wDay = 15;
    st.wHour = 12;
    st.wMinute = 34;
    st.wSecond = 56;
    FILETIME local, utc;
    ::SystemTimeToFileTime(&st, &local);
    ::LocalFileTimeToFileTime(&local, &utc);
    return as_int(utc);
}

class ZipWin : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        static int serial = 0;
        m_root = std::wstring(temp) + L"zip_win_" + std::to_wstring(::GetCurrentProcessId()) +
                 L"_" + std::to_wstring(++serial);
        remove_tree(m_root);
        ASSERT_TRUE(::CreateDirectoryW(m_root.c_str(), nullptr));
        ::GetCurrentDirectoryW(MAX_PATH, m_saved_folder);
    }
    void TearDown() override {
        ::SetCurrentDirectoryW(m_saved_folder);
        remove_tree(m_root);
    }

    // Writes the archive and opens it.
    ZipHandle open(const std::string& bytes, const wchar_t* name = L"a.zip") {
        const std::wstring path = m_root + L"\\" + name;
        if (!write_file(path, bytes))
            return nullptr;
        return OpenZip(path);
    }

    std::wstring m_root;
    wchar_t m_saved_folder[MAX_PATH] = {};
};

TEST_F(ZipWin, UnzipAllWritesFilesFoldersAttributesAndTimes) {
    entry text = ztest::file("docs/readme.txt", ztest::text_data(70000));
    text.local_extra = ztest::ut_block(1, 1600000000); // modification time only
    entry locked = ztest::file("docs/sub/locked.dat", "read only", 0);
    locked.made_by = 0x0014; // MS-DOS host: attribute bits as Windows has them
    locked.external = 0x21;  // archive + read-only
    entry hidden = ztest::file("hidden.ini", "h", 0);
    hidden.made_by = 0x0B14;
    hidden.external = 0x22;
    const ZipHandle zip =
        open(build({ztest::folder("docs/"), text, ztest::folder("empty/"), locked, hidden}).bytes);
    ASSERT_NE(zip, nullptr);
    const std::wstring out = m_root + L"\\out";
    EXPECT_EQ(UnzipAll(zip, out), ZR_OK);
    EXPECT_EQ(ReleaseZip(zip), ZR_OK);

    // Times first: reading a file may move its access time.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(::GetFileAttributesExW((out + L"\\docs\\readme.txt").c_str(), GetFileExInfoStandard,
                                       &data));
    EXPECT_EQ(as_int(data.ftLastWriteTime), unix_to_filetime(1600000000));
    EXPECT_EQ(as_int(data.ftLastAccessTime), default_dos_time_utc());
    ASSERT_TRUE(
        ::GetFileAttributesExW((out + L"\\hidden.ini").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(as_int(data.ftLastWriteTime), default_dos_time_utc());
    EXPECT_EQ(read_file(out + L"\\docs\\readme.txt"), text.data);
    EXPECT_EQ(read_file(out + L"\\docs\\sub\\locked.dat"), "read only");
    EXPECT_TRUE(::GetFileAttributesW((out + L"\\empty").c_str()) & FILE_ATTRIBUTE_DIRECTORY);

    EXPECT_EQ(::GetFileAttributesW((out + L"\\docs\\sub\\locked.dat").c_str()),
              DWORD(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(::GetFileAttributesW((out + L"\\hidden.ini").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(::GetFileAttributesW((out + L"\\docs\\readme.txt").c_str()) &
                 FILE_ATTRIBUTE_READONLY);
}

TEST_F(ZipWin, UnzipItemTakesRelativeTargetsBelowTheFolderCurrentAtOpen) {
    const std::wstring base = m_root + L"\\base";
    ASSERT_TRUE(::CreateDirectoryW(base.c_str(), nullptr));
    ASSERT_TRUE(::SetCurrentDirectoryW(base.c_str()));
    const ZipHandle zip =
        open(build({ztest::file("first.bin", "1st"), ztest::file("x", "2nd")}).bytes);
    ASSERT_NE(zip, nullptr);
    ASSERT_TRUE(::SetCurrentDirectoryW(m_root.c_str())); // later changes do not count

    EXPECT_EQ(UnzipItem(zip, 0, L"deep\\er/staged.exe_"), ZR_OK);
    EXPECT_EQ(read_file(base + L"\\deep\\er\\staged.exe_"), "1st");
    EXPECT_EQ(UnzipItem(zip, 1, m_root + L"\\abs\\second.dll"), ZR_OK);
    EXPECT_EQ(read_file(m_root + L"\\abs\\second.dll"), "2nd");
    EXPECT_EQ(UnzipItem(zip, 1, L"plain.dll"), ZR_OK);
    EXPECT_EQ(read_file(base + L"\\plain.dll"), "2nd");
    EXPECT_EQ(ReleaseZip(zip), ZR_OK);
}

TEST_F(ZipWin, ExtractingOverAnExistingFileReplacesIt) {
    const std::wstring target = m_root + L"\\program.dll";
    const ZipHandle zip = open(build({ztest::file("program.dll", "new contents")}).bytes);
    ASSERT_NE(zip, nullptr);
    struct {
        const char* what;
        DWORD attributes;
    } cases[] = {
        {"ordinary file", FILE_ATTRIBUTE_NORMAL},
        {"read-only file", FILE_ATTRIBUTE_READONLY},
        {"hidden system file", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    };
    for (const auto& c : cases) {
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(write_file(target, "old contents that were longer")) << c.what;
        ::SetFileAttributesW(target.c_str(), c.attributes);
        EXPECT_EQ(UnzipItem(zip, 0, target), ZR_OK) << c.what;
        EXPECT_EQ(read_file(target), "new contents") << c.what;
    }

    // Held open elsewhere without sharing: the failure is reported and the file kept.
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(write_file(target, "in use"));
    {
        unique_hfile held(
            ::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(UnzipItem(zip, 0, target), ZR_OPEN);
    }
    EXPECT_EQ(read_file(target), "in use");
    EXPECT_EQ(ReleaseZip(zip), ZR_OK);
}

TEST_F(ZipWin, UnzipAllReportsAFailureEvenWhenTheLastEntrySucceeds) {
    entry damaged = ztest::file("bad.dll", ztest::text_data(50000));
    damaged.set_crc = true;
    damaged.crc = 0xDEADBEEF;
    const ZipHandle zip = open(build({damaged, ztest::file("good.dll", "good")}).bytes);
    ASSERT_NE(zip, nullptr);
    const std::wstring out = m_root + L"\\out";
    EXPECT_EQ(UnzipAll(zip, out), ZR_DATA);
    EXPECT_EQ(read_file(out + L"\\good.dll"), "good");
    EXPECT_FALSE(exists(out + L"\\bad.dll")); // not left half-written
    EXPECT_EQ(UnzipItem(zip, 0, out + L"\\again.dll"), ZR_DATA);
    EXPECT_FALSE(exists(out + L"\\again.dll"));
    EXPECT_EQ(ReleaseZip(zip), ZR_OK);

    const ZipHandle good =
        open(build({ztest::file("a", "a"), ztest::file("b", "b")}).bytes, L"g.zip");
    EXPECT_EQ(UnzipAll(good, out), ZR_OK);
    EXPECT_EQ(ReleaseZip(good), ZR_OK);
    const ZipHandle empty = open(build({}).bytes, L"e.zip");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(UnzipAll(empty, out), ZR_OK);
    EXPECT_EQ(ReleaseZip(empty), ZR_OK);
}

TEST_F(ZipWin, HostileNamesWriteNothingOutsideTheTarget) {
    const std::wstring out = m_root + L"\\jail\\out";
    const std::string long_name = std::string(300, 'n');
    std::vector<entry> entries;
    for (const char* name : {"..\\evil.dll", "../x", "a/../../b", "C:\\..\\x", "ab:c", "con",
                             "dir/NUL.txt", "dir/..", "...\\dots"})
        entries.push_back(ztest::file(name, "evil"));
    entries.push_back(ztest::file(long_name, "too long"));
    // Cleaned by the name rules, and then harmless.
    for (const char* name : {"C:/x", "/etc/x", "\\\\server\\share\\x", "a\\..\\b"})
        entries.push_back(ztest::file(name, "fine"));
    const ZipHandle zip = open(build(entries).bytes);
    ASSERT_NE(zip, nullptr);
    EXPECT_EQ(UnzipAll(zip, out), ZR_OPEN);
    EXPECT_EQ(UnzipItem(zip, 0, out + L"\\..\\..\\escaped.dll"), ZR_OPEN);
    EXPECT_EQ(UnzipItem(zip, 0, L"..\\escaped.dll"), ZR_OPEN);
    EXPECT_EQ(ReleaseZip(zip), ZR_OK);

    std::set<std::wstring> found;
    list_tree(m_root, L"", found);
    const std::set<std::wstring> expected = {L"a.zip",
                                             L"jail",
                                             L"jail\\out",
                                             L"jail\\out\\x",
                                             L"jail\\out\\etc",
                                             L"jail\\out\\etc\\x",
                                             L"jail\\out\\server",
                                             L"jail\\out\\server\\share",
                                             L"jail\\out\\server\\share\\x",
                                             L"jail\\out\\b"};
    EXPECT_EQ(found, expected);
}

TEST_F(ZipWin, PathsOf260CharactersAreRefused) {
    const ZipHandle zip = open(build({ztest::file("f", "data")}).bytes);
    ASSERT_NE(zip, nullptr);
    const std::wstring folder = m_root + L"\\";
    const std::wstring fits = folder + std::wstring(259 - folder.size(), L'x');
    EXPECT_EQ(UnzipItem(zip, 0, fits + L"y"), ZR_OPEN);
    EXPECT_EQ(UnzipItem(zip, 0, fits), ZR_OK);
    EXPECT_EQ(read_file(fits), "data");
    EXPECT_EQ(ReleaseZip(zip), ZR_OK);

    const ZipHandle named =
        open(build({ztest::file(std::string(250, 'n'), "data")}).bytes, L"n.zip");
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(UnzipAll(named, m_root + L"\\out"), ZR_OPEN);
    EXPECT_FALSE(exists(m_root + L"\\out"));
    EXPECT_EQ(ReleaseZip(named), ZR_OK);
}

TEST_F(ZipWin, ArgumentsAndHandlesAreChecked) {
    const ZipHandle zip = open(build({ztest::file("one", "1"), ztest::file("two", "22")}).bytes);
    ASSERT_NE(zip, nullptr);
    ZipEntry entry;
    EXPECT_EQ(GetZipEntry(zip, -1, &entry), ZR_OK);
    EXPECT_EQ(entry.index, 2);
    EXPECT_EQ(entry.name[0], L'\0');
    EXPECT_EQ(entry.uncompressed_size, 0u);
    EXPECT_EQ(GetZipEntry(zip, 1, &entry), ZR_OK);
    EXPECT_STREQ(entry.name, L"two");
    EXPECT_EQ(entry.uncompressed_size, 2u);
    EXPECT_EQ(as_int(entry.write_time), default_dos_time_utc());
    EXPECT_EQ(GetZipEntry(zip, 2, &entry), ZR_ARGS);
    EXPECT_EQ(GetZipEntry(zip, -2, &entry), ZR_ARGS);
    EXPECT_EQ(GetZipEntry(zip, 0, nullptr), ZR_ARGS);
    EXPECT_EQ(UnzipItem(zip, 2, m_root + L"\\x"), ZR_ARGS);
    EXPECT_EQ(UnzipItem(zip, -1, m_root + L"\\x"), ZR_ARGS);
    EXPECT_FALSE(exists(m_root + L"\\x"));

    ZipHandleData other;
    other.kind = 2;
    EXPECT_EQ(GetZipEntry(&other, 0, &entry), ZR_NOT_UNZIP);
    EXPECT_EQ(UnzipItem(&other, 0, m_root + L"\\x"), ZR_NOT_UNZIP);
    EXPECT_EQ(UnzipAll(&other, m_root), ZR_NOT_UNZIP);
    EXPECT_EQ(ReleaseZip(&other), ZR_NOT_UNZIP);
    EXPECT_EQ(GetZipEntry(nullptr, 0, &entry), ZR_ARGS);
    EXPECT_EQ(UnzipAll(nullptr, m_root), ZR_ARGS);
    EXPECT_EQ(ReleaseZip(nullptr), ZR_ARGS);
    EXPECT_EQ(ReleaseZip(zip), ZR_OK);
}

TEST_F(ZipWin, OpenZipFailsForMissingLockedAndForeignFiles) {
    EXPECT_EQ(OpenZip(m_root + L"\\missing.zip"), nullptr);
    EXPECT_EQ(open(ztest::text_data(3000), L"text.zip"), nullptr);
    // Two directory entries on one local header: refused before anything can be written.
    ztest::archive shared = build({ztest::file("f", "x"), ztest::file("f", "x")});
    ztest::set32(shared.bytes, shared.central_offsets[1] + 42, 0);
    EXPECT_EQ(open(shared.bytes, L"shared.zip"), nullptr);

    const std::wstring locked = m_root + L"\\locked.zip";
    ASSERT_TRUE(write_file(locked, build({ztest::file("f", "x")}).bytes));
    {
        unique_hfile held(
            ::CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(OpenZip(locked), nullptr);
    }
    // While open for extraction the archive may still be read by others, not written.
    const ZipHandle zip = OpenZip(locked);
    ASSERT_NE(zip, nullptr);
    EXPECT_FALSE(unique_hfile(::CreateFileW(locked.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr)));
    EXPECT_TRUE(unique_hfile(::CreateFileW(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr)));
    EXPECT_EQ(ReleaseZip(zip), ZR_OK);
}

} // namespace
