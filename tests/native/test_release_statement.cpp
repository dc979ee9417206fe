#include <gtest/gtest.h>

#include <string>

#include "engine/release_statement.h"

namespace {

const std::string h1(64, 'a'), h2(64, '1'), h3(64, 'f');
const std::string sig(128, '7');

std::string head() {
    return "fenwa-release 1\nversion 1.0.0.5\nsequence 1718000000\n";
}

std::string body() {
    return head() + "file FenwaHostSvr.exe|300|" + h1 + "|120|" + h2 + "\n" +
           "file bin/데이터.dat|5|" + h2 + "|30|" + h3 + "\n" + "file plugin.zip|40|" + h3 +
           "|40|" + h3 + "\n" + "member plugin.zip|sub/b.txt|9|" + h1 + "\n" + "launcher 700|" +
           h1 + "|400|" + h2 + "\n";
}

std::string whole() {
    return body() + "signature " + sig + "\n";
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return text.replace(at, from.size(), to);
}

} // namespace

TEST(ReleaseStatement, ParsesAndEncodesTheSameBytes) {
    release_statement s;
    statement_error e;
    ASSERT_TRUE(parse_release_statement(whole(), s, e)) << statement_error_text(e);
    EXPECT_EQ(L"1.0.0.5", s.version);
    EXPECT_EQ(1718000000u, s.sequence);
    ASSERT_EQ(3u, s.files.size());
    EXPECT_EQ(L"bin/데이터.dat", s.files[1].name);
    EXPECT_EQ(5u, s.files[1].size);
    EXPECT_EQ(30u, s.files[1].archive_size);
    EXPECT_EQ(std::wstring(h3.begin(), h3.end()), sha256_hex(s.files[1].archive_digest));
    ASSERT_EQ(1u, s.members.size());
    EXPECT_EQ(L"sub/b.txt", s.members[0].name);
    EXPECT_EQ(1u, members_of(s, L"plugin.zip").size());
    EXPECT_TRUE(members_of(s, L"other.zip").empty());
    EXPECT_TRUE(s.has_launcher);
    EXPECT_EQ(400u, s.launcher.archive_size);
    EXPECT_EQ(std::string(64, '\x77'), s.signature);
    // The signature covers every byte before its own line, and the encoder writes them.
    EXPECT_EQ(body(), s.signed_bytes);
    EXPECT_EQ(body(), encode_release_statement(s));
    EXPECT_EQ("signature " + sig + "\n", encode_signature_line(s.signature));

    // The smallest statement: one file, no member, no launcher.
    const std::string small = head() + "file a|0|" + h1 + "|22|" + h2 + "\nsignature " + sig + "\n";
    ASSERT_TRUE(parse_release_statement(small, s, e)) << statement_error_text(e);
    EXPECT_FALSE(s.has_launcher);
    EXPECT_EQ(small, encode_release_statement(s) + encode_signature_line(s.signature));
}

TEST(ReleaseStatement, RefusesEveryOtherText) {
    const std::string good = whole();
    const struct {
        std::string text;
        statement_fault fault;
        size_t line;
    } cases[] = {
        {"", statement_fault::not_text, 0},
        {replaced(good, "\n", "\r\n"), statement_fault::not_text, 1},
        {good.substr(0, good.size() - 1), statement_fault::not_text, 0},
        {"\xEF\xBB\xBF" + good, statement_fault::header, 1},
        {replaced(good, "데이터", "\xC3\x28"), statement_fault::not_text, 0},
        {replaced(good, "bin/", std::string("bin\0/", 5)), statement_fault::not_text, 5},
        {replaced(good, "bin/", "bin\t/"), statement_fault::not_text, 5},
        {std::string(k_max_statement_bytes + 1, 'a'), statement_fault::too_large, 0},
        {replaced(good, "fenwa-release 1", "fenwa-release 2"), statement_fault::header, 1},
        {replaced(good, "version 1.0.0.5\n", ""), statement_fault::unexpected, 2},
        {replaced(good, "version 1.0.0.5", "version  1.0.0.5"), statement_fault::bad_field, 2},
        {replaced(good, "version 1.0.0.5", "version ..\\x"), statement_fault::bad_field, 2},
        {replaced(good, "version 1.0.0.5", "Version 1.0.0.5"), statement_fault::unexpected, 2},
        {replaced(good, "sequence 1718000000", "sequence 01718000000"), statement_fault::bad_field,
         3},
        {replaced(good, "sequence 1718000000", "sequence -1"), statement_fault::bad_field, 3},
        {replaced(good, "sequence 1718000000", "sequence 9223372036854775808"),
         statement_fault::bad_field, 3},
        {replaced(good, "sequence 1718000000", "sequence 1718000000 "), statement_fault::bad_field,
         3},
        {replaced(good, "|300|", "|+300|"), statement_fault::bad_field, 4},
        {replaced(good, "|300|" + h1, "|300|" + h1.substr(1) + "A"), statement_fault::bad_field, 4},
        {replaced(good, "|300|" + h1, "|300|" + h1 + "0"), statement_fault::bad_field, 4},
        {replaced(good, "|120|" + h2 + "\n", "|120|" + h2 + "|\n"), statement_fault::bad_field, 4},
        {replaced(good, "FenwaHostSvr.exe|", "../FenwaHostSvr.exe|"), statement_fault::bad_field,
         4},
        {replaced(good, "FenwaHostSvr.exe|", "C:\\x.exe|"), statement_fault::bad_field, 4},
        {replaced(good, "FenwaHostSvr.exe|", "/etc/x|"), statement_fault::bad_field, 4},
        {replaced(good, "FenwaHostSvr.exe|", " x|"), statement_fault::bad_field, 4},
        {replaced(good, "FenwaHostSvr.exe|", "#x|"), statement_fault::bad_field, 4},
        {replaced(good, "FenwaHostSvr.exe|", "a/b/|"), statement_fault::bad_field, 4},
        {replaced(good, "FenwaHostSvr.exe|", "|"), statement_fault::bad_field, 4},
        {replaced(good, "bin/데이터.dat", "FenwaHostSvr.exe"), statement_fault::duplicate, 5},
        {replaced(good, "sub/b.txt|9", "../b.txt|9"), statement_fault::bad_field, 7},
        {replaced(good, "member plugin.zip", "member other.zip"), statement_fault::archive_mismatch,
         7},
        {replaced(good, "member plugin.zip", "member FenwaHostSvr.exe"),
         statement_fault::archive_mismatch, 7},
        {replaced(good, "|40|" + h3 + "|40|", "|40|" + h3 + "|41|"),
         statement_fault::archive_mismatch, 6},
        {replaced(good, "launcher", "member plugin.zip|sub/b.txt|9|" + h1 + "\nlauncher"),
         statement_fault::duplicate, 8},
        {replaced(good, "launcher", "file late|1|" + h1 + "|1|" + h1 + "\nlauncher"),
         statement_fault::unexpected, 8},
        {replaced(good, "signature", "launcher 1|" + h1 + "|1|" + h1 + "\nsignature"),
         statement_fault::unexpected, 9},
        {replaced(good, "launcher 700|", "launcher 700||"), statement_fault::bad_field, 8},
        {body(), statement_fault::no_signature, 0},
        {head() + "signature " + sig + "\n", statement_fault::no_files, 4},
        {head(), statement_fault::no_files, 0},
        {replaced(good, "signature " + sig, "signature " + sig.substr(2)),
         statement_fault::bad_field, 9},
        {replaced(good, "signature " + sig, "signature " + sig + "00"), statement_fault::bad_field,
         9},
        {replaced(good, "signature " + sig, "signature " + sig.substr(1) + "G"),
         statement_fault::bad_field, 9},
        {good + "\n", statement_fault::unexpected, 10},
        {good + "signature " + sig + "\n", statement_fault::unexpected, 10},
        {replaced(good, "launcher", "\nlauncher"), statement_fault::unexpected, 8},
    };
    for (const auto& c : cases) {
        release_statement s;
        statement_error e;
        EXPECT_FALSE(parse_release_statement(c.text, s, e)) << c.text.substr(0, 200);
        EXPECT_EQ(static_cast<int>(c.fault), static_cast<int>(e.fault)) << c.text.substr(0, 200);
        EXPECT_EQ(c.line, e.line) << c.text.substr(0, 200);
        EXPECT_FALSE(statement_error_text(e).empty());
    }
}

TEST(ReleaseStatement, FitsTheVersionPageAndTheInstalledSequence) {
    release_statement s;
    statement_error e;
    ASSERT_TRUE(parse_release_statement(whole(), s, e));
    std::wstring problem;
    EXPECT_TRUE(statement_fits(s, L"1.0.0.5", 0, problem));
    EXPECT_TRUE(statement_fits(s, L"1.0.0.5", 1718000000, problem)) << "the same one again";
    EXPECT_FALSE(statement_fits(s, L"1.0.0.5", 1718000001, problem));
    EXPECT_NE(std::wstring::npos, problem.find(L"1718000001")) << problem;
    EXPECT_FALSE(statement_fits(s, L"1.0.0.6", 0, problem));
    EXPECT_NE(std::wstring::npos, problem.find(L"1.0.0.6")) << problem;
}

TEST(ReleaseStatement, FileListMustNameExactlyTheSignedFiles) {
    release_statement s;
    statement_error e;
    ASSERT_TRUE(parse_release_statement(whole(), s, e));
    const std::deque<FileInfo> listed = {
        {L"plugin.zip", 40, L""}, {L"FenwaHostSvr.exe", 300, L"5.0"}, {L"bin/데이터.dat", 5, L""}};
    std::vector<size_t> index;
    std::wstring problem;
    ASSERT_TRUE(match_filelist(s, listed, index, problem)) << problem;
    EXPECT_EQ((std::vector<size_t>{2, 0, 1}), index);

    const struct {
        std::deque<FileInfo> entries;
        const wchar_t* named;
    } cases[] = {
        {{listed[0], listed[1]}, L"leaves out"},
        {{listed[0], listed[1], listed[2], {L"extra.dll", 1, L""}}, L"extra.dll"},
        {{listed[0], listed[1], listed[1]}, L"twice"},
        {{listed[0], {L"FenwaHostSvr.exe", 301, L""}, listed[2]}, L"301"},
        {{listed[0], {L"FenwaHostSvr.exe", -1, L""}, listed[2]}, L"-1"},
        {{listed[0], {L"fenwahostsvr.exe", 300, L""}, listed[2]}, L"fenwahostsvr.exe"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(match_filelist(s, c.entries, index, problem)) << c.named;
        EXPECT_NE(std::wstring::npos, problem.find(c.named)) << problem;
    }
}

TEST(ReleaseStatement, StoredSequenceAndHex) {
    const struct {
        const wchar_t* text;
        bool ok;
        uint64_t value;
    } cases[] = {
        {L"0", true, 0},
        {L"1718000000", true, 1718000000},
        {L"007", true, 7},
        {L"9223372036854775807", true, 9223372036854775807ull},
        {L"9223372036854775808", false, 0},
        {L"99999999999999999999999", false, 0},
        {L"", false, 0},
        {L"12 ", false, 0},
        {L"-3", false, 0},
        {L"１２", false, 0},
    };
    for (const auto& c : cases) {
        uint64_t value = 99;
        EXPECT_EQ(c.ok, parse_sequence(c.text, value)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.value, value) << c.text;
        }
    }
    std::string raw;
    EXPECT_TRUE(decode_hex("00ff7a", 3, raw));
    EXPECT_EQ(std::string("\x00\xff\x7a", 3), raw);
    EXPECT_FALSE(decode_hex("00FF7A", 3, raw));
    EXPECT_FALSE(decode_hex("00ff7", 3, raw));
}
