#include <gtest/gtest.h>

#include "log/log_format.h"

namespace {

calendar_time at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    calendar_time t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    t.millisecond = ms;
    t.valid = true;
    return t;
}

} // namespace

TEST(LogFormat, LevelTags) {
    const struct {
        int level;
        const wchar_t* tag;
    } cases[] = {{0, L""},           {1, L"[info]"}, {2, L"[warn]"}, {3, L"[error]"},
                 {4, L"[critical]"}, {5, L"[sql]"},  {6, L""},       {7, L"[debug]"},
                 {8, L""},           {-1, L""},      {1000, L""}};
    for (const auto& c : cases)
        EXPECT_STREQ(c.tag, log_level_tag(c.level)) << c.level;
}

TEST(LogFormat, FileNameIsDatedByStartDay) {
    EXPECT_EQ(L"C:\\logs\\FenwaLauncher_20240501.log",
              log_file_name(L"C:\\logs", L"FenwaLauncher", at(2024, 5, 1, 23, 59, 59)));
    EXPECT_EQ(L"D:\\x\\a_20241231.log", log_file_name(L"D:\\x", L"a", at(2024, 12, 31)));
    // A failed time conversion dates the file with zeros rather than garbage.
    EXPECT_EQ(L"D:\\x\\a_00000.log", log_file_name(L"D:\\x", L"a", calendar_time{}));
}

TEST(LogFormat, LineLayoutPutsTheTagBeforeTheSpace) {
    const calendar_time t = at(2024, 3, 5, 7, 8, 9, 45);
    EXPECT_EQ(L"[2024/03/05 07:08:09.045][CZekLauncherApp::InitInstance][120] uri_params = ",
              format_log_line(t, L"CZekLauncherApp::InitInstance", L"120", L"", L"uri_params = "));
    EXPECT_EQ(L"[2024/03/05 07:08:09.045][f][7][error] boom",
              format_log_line(t, L"f", L"7", L"[error]", L"boom"));
    EXPECT_EQ(L"[2024/12/31 23:59:59.999][][] x",
              format_log_line(at(2024, 12, 31, 23, 59, 59, 999), L"", L"", L"", L"x"));
}

TEST(LogFormat, LeadingLineFeedsAreCountedAndCut) {
    struct {
        std::wstring in;
        size_t n;
        std::wstring rest;
    } cases[] = {{L"", 0, L""},
                 {L"\n", 1, L""},
                 {L"\n\nabc", 2, L"abc"},
                 {L"abc\n\n", 0, L"abc\n\n"},
                 {L"\n\r\nx", 1, L"\r\nx"}};
    for (auto& c : cases) {
        std::wstring m = c.in;
        EXPECT_EQ(c.n, cut_leading_line_feeds(m));
        EXPECT_EQ(c.rest, m);
    }
}

TEST(LogFormat, FolderChoice) {
    const std::wstring exe = L"C:\\Program Files\\Fenwa";
    auto c = choose_log_folder(L"", exe);
    EXPECT_EQ(L"C:\\Program Files\\Fenwa\\Log", c.folder);
    EXPECT_FALSE(c.relative);

    c = choose_log_folder(L"D:/data/logs", exe);
    EXPECT_EQ(L"D:\\data\\logs", c.folder);
    EXPECT_FALSE(c.relative);

    c = choose_log_folder(L"logs/today", exe);
    EXPECT_EQ(L"C:\\Program Files\\Fenwa\\logs\\today", c.folder);
    EXPECT_TRUE(c.relative);

    // ":\" at the very start is no drive letter.
    c = choose_log_folder(L":\\odd", exe);
    EXPECT_EQ(L"C:\\Program Files\\Fenwa\\:\\odd", c.folder);
    EXPECT_TRUE(c.relative);
}
