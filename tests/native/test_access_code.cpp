#include <gtest/gtest.h>

#include "launcher/access_code.h"

TEST(AccessCode, CodeBoxInsertsOneSpaceAfterTheThirdCharacter) {
    const struct {
        std::wstring typed;
        std::wstring shown;
    } cases[] = {
        {L"", L""},
        {L"1", L"1"},
        {L"123", L"123"},
        {L"1234", L"123 4"},
        {L"123456", L"123 456"},
        {L"12a4", L"12a 4"},
        // A space anywhere stops the insertion, also when the user typed it elsewhere.
        {L"123 4", L"123 4"},
        {L"1 234", L"1 234"},
        {L"1234 ", L"1234 "},
        // What the box shows is stable: another change notification adds nothing.
        {L"123 456", L"123 456"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.shown, code_box_text(c.typed)) << c.typed;
        EXPECT_EQ(c.shown, code_box_text(code_box_text(c.typed))) << c.typed;
    }
}

TEST(AccessCode, ValidityAndNumber) {
    const struct {
        std::wstring text;
        bool valid;
        int32_t number;
    } cases[] = {
        {L"123 456", true, 123456},
        {L"000 001", true, 1},
        {L"000", true, 0}, // valid to type, refused as not positive when Connect is pressed
        {L" 1 2 ", true, 12},
        {L"", false, 0},
        {L"   ", false, 0},
        {L"12a 456", false, 12}, // the number stops at the first non-digit
        {L"a12", false, 0},
        {L"-12", false, 0},
        {L"+12", false, 0},
        {L"１２３", false, 0}, // full-width digits are not 0-9
        {L"2147483647", true, INT32_MAX},
        {L"2147483648", true, 0}, // beyond a positive 32-bit code: nothing to ask for
        {L"99999999999999999999", true, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.valid, is_valid_access_code(c.text)) << c.text;
        EXPECT_EQ(c.number, access_code_number(c.text)) << c.text;
    }
}

TEST(AccessCode, OnlyTitleKeysOfFortyFiveCharactersAreAccepted) {
    EXPECT_TRUE(is_accepted_title_key(std::wstring(45, L'k')));
    EXPECT_FALSE(is_accepted_title_key(std::wstring(44, L'k')));
    EXPECT_FALSE(is_accepted_title_key(std::wstring(46, L'k')));
    EXPECT_FALSE(is_accepted_title_key(L""));
    EXPECT_FALSE(is_accepted_title_key(L"NULL"));
}

TEST(HostParam, OrdinaryParametersPassUnchanged) {
    for (const wchar_t* p : {L"AB12CD34", L"K9", L"", L"a-b_c.d", L"가나다라", L"x#y+z=/"})
        EXPECT_EQ(p, host_safe_param(p)) << p;
}

TEST(HostParam, NothingCanAddAnArgumentOrACommand) {
    const struct {
        std::wstring param;
        std::wstring safe;
    } cases[] = {
        {L"a\"b", L"ab"},
        {L"\"-u", L"u"},
        {L"ab\" -u", L"ab"},
        {L"x&calc", L"xcalc"},
        {L"x|y>z<w", L"xyzw"},
        {L"^%PATH%", L"PATH"},
        {L"%22-u%22", L"22-u22"},
        {L"x\t-u", L"x"},
        {L"x\r\n-u", L"x"},
        {L"x\v-u", L"x"},
        {L"x\x3000-u", L"x"}, // an ideographic space splits as well
        {L" AB CD", L"AB"},   // the normalisation keeps a text that begins with a blank
        {L"\t\tAB", L"AB"},
        {L"-u", L"u"},
        {L"/u", L"u"},
        {L"--/-x", L"x"},
        {L"a-u", L"a-u"},
        {L"\"\"", L""},
        {std::wstring(L"ab\0cd", 5), L"ab"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.safe, host_safe_param(c.param)) << c.param;
}
