#include <gtest/gtest.h>
#include <windows.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "product/product_config.h"
#include "log/sc_log.h"
#include "tests/win/alloc_limit.h"
#include "util/file_util_win.h"
#include "util/time_text.h"
#include "util/time_text_win.h"

namespace {

std::wstring temp_folder(const wchar_t* name) {
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"fenwa_" + name;
    delete_folder(folder);
    return folder;
}

std::string read_bytes(const std::wstring& path) {
    std::ifstream f(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Lines of a log file, after the byte-order mark that a new UTF-8 file starts with.
std::vector<std::string> lines_of(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos)
            end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

} // namespace

TEST(LogWriter, LeadingLineFeedsBecomeEmptyLinesAndHighLevelsStayOut) {
    const std::wstring folder = temp_folder(L"log_levels");
    CSCLog log;
    ASSERT_TRUE(log.open(folder, L"t", 6));

    EXPECT_EQ(L"", log.write(0, L"F::g", 1, L""));
    const std::wstring line = log.write(3, L"F::g", 2, L"\n\nboom %d", 7);
    EXPECT_NE(std::wstring::npos, line.find(L"[F::g][2][error] boom 7"));
    const std::wstring debug = log.write(7, L"F::g", 3, L"hidden");
    EXPECT_NE(std::wstring::npos, debug.find(L"[F::g][3][debug] hidden"));
    log.write(0, L"F::g", 4, L"tail\n");
    log.write(0, L"F::g", 5, L"%s", L"한글 텍스트");

    const std::string bytes = read_bytes(log.file_path());
    EXPECT_EQ(0u, bytes.rfind("\xEF\xBB\xBF", 0));
    const auto lines = lines_of(bytes);
    ASSERT_EQ(7u, lines.size());
    EXPECT_EQ("", lines[0]);
    EXPECT_EQ("", lines[1]);
    EXPECT_EQ("", lines[2]);
    EXPECT_NE(std::string::npos, lines[3].find("][F::g][2][error] boom 7"));
    EXPECT_NE(std::string::npos, lines[4].find("][F::g][4] tail"));
    EXPECT_EQ("", lines[5]);
    EXPECT_NE(std::string::npos, lines[6].find("][F::g][5] \xED\x95\x9C\xEA\xB8\x80"));
    delete_folder(folder);
}

TEST(LogWriter, MessageTooBigForMemoryGivesTheFixedTextAndWritesNothing) {
    const std::wstring folder = temp_folder(L"log_no_memory");
    CSCLog log;
    ASSERT_TRUE(log.open(folder, L"t", 6));
    log.write(0, L"F::g", 1, L"before");
    const std::wstring huge(200000, L'x');
    std::wstring answer;
    {
        alloc_limit limit(256 * 1024);
        EXPECT_NO_THROW(answer = log.write(0, L"F::g", 2, L"%s", huge.c_str()));
    }
    EXPECT_EQ(L"log_text.FormatV() exception.", answer);
    log.write(0, L"F::g", 3, L"after");
    const auto lines = lines_of(read_bytes(log.file_path()));
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[1].find("][F::g][3] after"));
    delete_folder(folder);
}

TEST(LogWriter, TwoThreadsNeverInterleaveLines) {
    const std::wstring folder = temp_folder(L"log_threads");
    CSCLog log;
    ASSERT_TRUE(log.open(folder, L"t", 6));
    const int per_thread = 200;
    auto writer = [&log](const wchar_t* who) {
        for (int i = 0; i < per_thread; ++i)
            log.write(0, who, i, L"%s line %d with some padding to make it longer", who, i);
    };
    std::thread a(writer, L"A");
    std::thread b(writer, L"B");
    a.join();
    b.join();

    int count_a = 0;
    int count_b = 0;
    for (const std::string& line : lines_of(read_bytes(log.file_path()))) {
        const bool is_a = line.find("][A][") != std::string::npos;
        const bool is_b = line.find("][B][") != std::string::npos;
        if (!is_a && !is_b)
            continue;
        ASSERT_NE(is_a, is_b) << line;
        const std::string who = is_a ? "A" : "B";
        EXPECT_NE(std::string::npos, line.find("] " + who + " line ")) << line;
        EXPECT_EQ(0u, line.rfind("[", 0)) << line;
        EXPECT_NE(std::string::npos, line.find("longer")) << line;
        (is_a ? count_a : count_b)++;
    }
    EXPECT_EQ(per_thread, count_a);
    EXPECT_EQ(per_thread, count_b);
    delete_folder(folder);
}

TEST(LogWriter, FileKeepsTheStartDayAndFolderIsCreated) {
    const std::wstring folder = temp_folder(L"log_day") + L"\\deeper\\still";
    CSCLog log;
    log.set_start_time(static_cast<int64_t>(::time(nullptr)) - 86400);
    ASSERT_TRUE(log.open(folder, L"Day", 6));
    log.write(0, L"f", 1, L"x");

    const calendar_time yesterday = local_time_from_unix(log.start_time());
    wchar_t expected[64];
    _snwprintf(expected, 64, L"\\Day_%d%02d%02d.log", yesterday.year, yesterday.month,
               yesterday.day);
    EXPECT_EQ(folder + expected, log.file_path());
    EXPECT_TRUE(path_exists(log.file_path()));
    delete_folder(temp_folder(L"log_day"));
}

TEST(LogWriter, RelativeAndSlashedFolders) {
    CSCLog log;
    const std::wstring folder = temp_folder(L"log_slashes");
    std::wstring slashed = folder;
    for (auto& c : slashed)
        if (c == L'\\')
            c = L'/';
    ASSERT_TRUE(log.open(slashed, L"s", 6));
    EXPECT_EQ(0u, log.file_path().find(folder + L"\\s_"));
    delete_folder(folder);

    {
        CSCLog relative;
        ASSERT_TRUE(relative.open(L"fenwa_rel_logs/sub", L"r", 6));
        EXPECT_EQ(0u, relative.file_path().find(get_exe_folder() + L"\\fenwa_rel_logs\\sub\\r_"));
    } // the file is closed here, so that its folder can go
    EXPECT_TRUE(delete_folder(get_exe_folder() + L"\\fenwa_rel_logs"));
}

TEST(LogWriter, HeldFileCanStillBeDeleted) {
    // The writer keeps the file open, yet never stands in the way of deleting it. (Where the
    // system reports the deletion, the next line starts a new file; Wine 8 neither reports it
    // nor removes the file before the writer closes it.)
    const std::wstring folder = temp_folder(L"log_deleted");
    CSCLog log;
    ASSERT_TRUE(log.open(folder, L"d", 6));
    log.write(0, L"f", 1, L"before");
    EXPECT_TRUE(::DeleteFileW(log.file_path().c_str())) << ::GetLastError();
    EXPECT_NE(std::wstring::npos, log.write(0, L"f", 2, L"after").find(L"][f][2] after"));
    delete_folder(folder);
}

// Run by the next test in a process of its own, which it kills right after a line.
TEST(LogWriterChild, DISABLED_WritesThenDies) {
    wchar_t folder[MAX_PATH] = {};
    if (!::GetEnvironmentVariableW(L"FENWA_LOG_KILL_FOLDER", folder, MAX_PATH))
        return;
    CSCLog log;
    if (!log.open(folder, L"k", 6))
        ::ExitProcess(3);
    log.write(0, L"f", 1, L"the last words");
    ::TerminateProcess(::GetCurrentProcess(), 9);
}

TEST(LogWriter, LineSurvivesAKillRightAfterIt) {
    const std::wstring folder = temp_folder(L"log_killed");
    ASSERT_TRUE(ensure_folder(folder));
    ::SetEnvironmentVariableW(L"FENWA_LOG_KILL_FOLDER", folder.c_str());
    std::wstring command = L"\"" + get_exe_name(true) +
                           L"\" --gtest_also_run_disabled_tests "
                           L"--gtest_filter=LogWriterChild.DISABLED_WritesThenDies";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &si, &pi));
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    ::SetEnvironmentVariableW(L"FENWA_LOG_KILL_FOLDER", nullptr);
    EXPECT_EQ(9u, code);

    std::vector<std::wstring> files;
    list_files(folder, L"k_*.log", L"", false, L"", true, files, false);
    ASSERT_EQ(1u, files.size());
    const auto lines = lines_of(read_bytes(files[0]));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::string::npos, lines.back().find("][f][1] the last words"));
    delete_folder(folder);
}

TEST(FolderAccess, WritableFolderPassesAndLeavesNothing) {
    const std::wstring folder = temp_folder(L"access_ok");
    ASSERT_TRUE(ensure_folder(folder));
    EXPECT_TRUE(test_folder_access_at(folder));
    EXPECT_FALSE(path_exists(folder + L"\\__test_for_create_folder__"));
    delete_folder(folder);
}

TEST(FolderAccess, UnusableFoldersFail) {
    // An unknown special folder must not become a test in the drive's root.
    EXPECT_FALSE(test_folder_access_at(L""));

    const std::wstring file = temp_folder(L"access_file");
    ASSERT_TRUE(write_text_file(file, L"not a folder", false));
    EXPECT_FALSE(test_folder_access_at(file));
    ::DeleteFileW(file.c_str());
}
