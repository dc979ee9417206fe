#include <gtest/gtest.h>

#include "util/time_text.h"

namespace {

calendar_time at(int hour, int minute, int second) {
    calendar_time t;
    t.year = 2024;
    t.month = 3;
    t.day = 5;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.valid = true;
    return t;
}

const std::wstring am = L"\uC624\uC804";
const std::wstring pm = L"\uC624\uD6C4";

TEST(TimeText, FormatTime) {
    struct {
        int h, m, s;
        std::wstring sep;
        bool h24, seconds, korean;
        std::wstring expected;
    } cases[] = {
        {0, 30, 15, L":", false, false, false, L" 0:30 AM"},
        {0, 30, 15, L":", false, true, false, L" 0:30:15 AM"},
        {12, 5, 9, L":", false, false, false, L"12:05 PM"},
        {12, 5, 9, L":", false, true, false, L"12:05:09 PM"},
        {11, 59, 59, L":", false, true, false, L"11:59:59 AM"},
        {23, 1, 2, L":", false, true, false, L"11:01:02 PM"},
        {9, 7, 5, L"-", false, false, false, L" 9-07 AM"},
        {0, 30, 15, L":", false, false, true, am + L"  0:30"},
        {0, 30, 15, L":", false, true, true, am + L"  0:30:15"},
        {12, 5, 9, L":", false, false, true, pm + L" 12:05"},
        {13, 0, 0, L":", false, true, true, pm + L"  1:00:00"},
        {9, 7, 5, L":", true, true, false, L"09:07:05"},
        {9, 7, 5, L":", true, false, false, L"09:07"},
        {21, 7, 5, L":", true, true, true, L"21:07:05"},
        // The cut without seconds removes the whole separator, however long.
        {21, 7, 5, L" : ", true, false, false, L"21 : 07"},
        {21, 7, 5, L"", true, false, true, L"2107"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_time(at(c.h, c.m, c.s), c.sep, c.h24, c.seconds, c.korean), c.expected)
            << c.h << ":" << c.m << " h24=" << c.h24 << " seconds=" << c.seconds
            << " korean=" << c.korean;
}

TEST(TimeText, FormatDateAndDateTime) {
    const calendar_time t = at(9, 7, 5);
    EXPECT_EQ(format_date(t, L".", true), L"2024.03.05");
    EXPECT_EQ(format_date(t, L"-", true), L"2024-03-05");
    // Other languages ignore the separator and do not pad.
    EXPECT_EQ(format_date(t, L".", false), L"3/5/2024");
    calendar_time late = t;
    late.month = 12;
    late.day = 31;
    EXPECT_EQ(format_date(late, L"", false), L"12/31/2024");
    EXPECT_EQ(format_date(late, L"", true), L"20241231");

    EXPECT_EQ(format_date_time(t, L" ", true, true, true), L"2024-03-05 09:07:05");
    EXPECT_EQ(format_date_time(t, L" ", true, true, false), L"3/5/2024 09:07:05");
    EXPECT_EQ(format_date_time(t, L"T", false, false, true), L"2024-03-05T" + am + L"  9:07");
    EXPECT_EQ(format_date_time(t, L" ", false, false, false), L"3/5/2024  9:07 AM");
}

TEST(TimeText, OutOfRangeFieldsFormatLikePrintf) {
    // Fields come straight from callers; they must not break the fixed-width cut.
    calendar_time t = at(-1, -5, 0);
    t.year = -12;
    EXPECT_EQ(format_time(t, L":", true, true, false), L"-1:-5:00");
    EXPECT_EQ(format_time(t, L":", true, false, false), L"-1:-5");
    EXPECT_EQ(format_date(t, L".", true), L"-12.03.05");
    calendar_time zero;
    EXPECT_EQ(format_date_time(zero, L" ", true, true, true), L"0-00-00 00:00:00");
}

} // namespace
