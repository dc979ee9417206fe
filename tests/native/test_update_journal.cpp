#include <gtest/gtest.h>

#include <string>

#include "engine/update_journal.h"

namespace {

std::string lines(std::initializer_list<journal_record> records) {
    std::string out;
    for (const auto& r : records)
        out += format_journal_record(r);
    return out;
}

} // namespace

TEST(UpdateJournal, RoundTripAndCutOffLastLine) {
    const std::string bytes =
        lines({{journal_op::begin, L"1.0", L"1.1"},
               {journal_op::move, L"bin\\engine.dat", L"1.0\\bin\\engine.dat"},
               {journal_op::add, L"새 폴더", L""}});
    journal_contents j = parse_journal(bytes);
    EXPECT_TRUE(j.has_begin);
    EXPECT_EQ(L"1.0", j.from_version);
    EXPECT_EQ(L"1.1", j.to_version);
    ASSERT_EQ(2u, j.changes.size());
    EXPECT_EQ(L"1.0\\bin\\engine.dat", j.changes[0].backup);
    EXPECT_EQ(L"새 폴더", j.changes[1].item);
    EXPECT_FALSE(j.committed);
    EXPECT_TRUE(j.refused.empty());

    // A record cut off while being written never happened.
    j = parse_journal(bytes + "commit");
    EXPECT_FALSE(j.committed);
    EXPECT_TRUE(j.refused.empty());
    EXPECT_TRUE(parse_journal(bytes + "commit\n").committed);
    EXPECT_FALSE(parse_journal("begin|1.0|1.1").has_begin);
}

TEST(UpdateJournal, RecordsThatCouldReachOutsideAreRefused) {
    const std::string begin = format_journal_record({journal_op::begin, L"1.0", L"1.1"});
    const char* hostile[] = {"move|..\\x|1.0\\x\n",
                             "move|a|1.0\\..\\..\\x\n",
                             "move|a|0.9\\a\n",
                             "move|C:\\Windows|1.0\\w\n",
                             "move|\\\\srv\\s|1.0\\s\n",
                             "move|a|1.0\n",
                             "add|..\n",
                             "add|\\x\n",
                             "add|a:stream\n",
                             "add|1.0\n",
                             "add|nul\n",
                             "add|a\\\\b\n",
                             "move|a|1.0\\a|extra\n",
                             "begin|1.0|2.0\n",
                             "delete|a\n",
                             "add|a\tb\n"};
    for (const char* line : hostile) {
        const journal_contents j = parse_journal(begin + line);
        EXPECT_TRUE(j.changes.empty()) << line;
        EXPECT_EQ(1u, j.refused.size()) << line;
    }
    // Without a sane beginning nothing counts.
    EXPECT_TRUE(parse_journal("begin|..|1.1\nadd|a\n").changes.empty());
    EXPECT_TRUE(parse_journal("add|a\n").changes.empty());
}
