#include <gtest/gtest.h>

#include "engine/pipeline_logic.h"
#include "util/text_util.h"

TEST(FileList, LinesIgnoreEmptyOnesAndMixedLineEnds) {
    EXPECT_EQ((std::vector<std::wstring>{L"a|1|2", L"b|3|4", L"  "}),
              filelist_lines(L"a|1|2\r\n\r\nb|3|4\n\n  \r\n"));
    EXPECT_TRUE(filelist_lines(L"\r\n\n\n").empty());
}

TEST(FileList, LineKinds) {
    const struct {
        std::wstring line;
        filelist_line_kind kind;
        std::wstring name;
        int64_t size;
        std::wstring version;
    } cases[] = {
        {L"bin/engine.dll|1234567|1.0.0.5", filelist_line_kind::entry, L"bin/engine.dll", 1234567,
         L"1.0.0.5"},
        {L"a.dll|10|1.0|extra", filelist_line_kind::entry, L"a.dll", 10, L"1.0"},
        {L"a.dll|0|", filelist_line_kind::entry, L"a.dll", 0, L""},
        {L"a.dll||", filelist_line_kind::entry, L"a.dll", k_unknown_size, L""},
        {L"a.dll| -x|", filelist_line_kind::entry, L"a.dll", k_unknown_size, L""},
        {L"a.dll|-0|", filelist_line_kind::entry, L"a.dll", 0, L""},
        {L"a.dll|10", filelist_line_kind::too_few_fields, L"", 0, L""},
        {L"  ", filelist_line_kind::too_few_fields, L"", 0, L""},
        {L"  # a word", filelist_line_kind::comment, L"", 0, L""},
        {L"; note", filelist_line_kind::comment, L"", 0, L""},
        {L"x#y|1|2", filelist_line_kind::entry, L"x#y", 1, L"2"},
        // Blanks at the ends go; blanks next to a separator stay in the field.
        {L"\t a b | 12x|v \r", filelist_line_kind::entry, L"a b ", 12, L"v"},
        {L"big|99999999999999999999|v", filelist_line_kind::entry, L"big", INT64_MAX, L"v"},
        {L"neg|-5|v", filelist_line_kind::entry, L"neg", -5, L"v"},
    };
    for (const auto& c : cases) {
        FileInfo entry;
        std::wstring trimmed;
        EXPECT_EQ(c.kind, classify_filelist_line(c.line, trimmed, entry)) << c.line;
        if (c.kind == filelist_line_kind::entry) {
            EXPECT_EQ(c.name, entry.name);
            EXPECT_EQ(c.size, entry.size);
            EXPECT_EQ(c.version, entry.version);
        }
    }
}

// One rule for the file list, the journal and the statement: a name one accepts, the others
// read back, and it always names the same place below the program folder.
TEST(FileList, NamesThatWouldLeaveTheProgramFolderOrChangeOnTheWayAreRefused) {
    for (const wchar_t* bad : {L"..\\evil.dll",
                               L"../evil.dll",
                               L"bin/../../x.dll",
                               L"bin\\..",
                               L"/etc/x",
                               L"\\x.dll",
                               L"C:/x.dll",
                               L"C:x.dll",
                               L"a.dll:stream",
                               L"\\\\server\\share\\x",
                               L"..",
                               L"",
                               L"./FenwaHostSvr.exe",
                               L"bin//engine.dll",
                               L"a/./b",
                               L"bin/",
                               L"x.dll.",
                               L"x.dll ",
                               L"..a/b..",
                               L"NUL",
                               L"bin/com1.txt",
                               L"a|b",
                               L"a\nb",
                               L"a\x85"
                               L"b",
                               L" x",
                               L";x",
                               L"#x",
                               L"a*b",
                               L"a?b"})
        EXPECT_FALSE(is_safe_relative_name(bad)) << bad;
    for (const wchar_t* good : {L"a.dll", L"bin/engine.dll", L"bin\\x.dll", L"..a/b", L".cfg/x",
                                L"plugin.zip", L"x#y", L"lang/\uD55C\uAE00.txt", L"a b/c d"})
        EXPECT_TRUE(is_safe_relative_name(good)) << good;
    EXPECT_TRUE(is_safe_relative_name(std::wstring(255, L'a')));
    EXPECT_FALSE(is_safe_relative_name(std::wstring(256, L'a')));
    EXPECT_FALSE(is_safe_relative_name(std::wstring(1025, L'a')));
}

TEST(EntryPaths, PlainFileInSubFolder) {
    const entry_paths p = derive_entry_paths({L"bin/engine.dll", 5, L"1"}, L"P", L"1.0.0.4",
                                             L"download/Customer/program_kr", L"1.0.0.5");
    EXPECT_EQ(L"bin", p.folder_part);
    EXPECT_EQ(L"engine.dll", p.file_name);
    EXPECT_EQ(L"P\\bin\\", p.local_folder);
    EXPECT_EQ(L"P\\bin\\engine.dll", p.local_file);
    EXPECT_FALSE(p.is_archive);
    EXPECT_EQ(L"download/Customer/program_kr/1.0.0.5/bin/engine.dll.zip", p.server_path);
    EXPECT_EQ(L"P\\bin\\engine.dll.zip", p.downloaded_archive);
    EXPECT_EQ(L"P\\bin\\engine.dll", p.target);
    EXPECT_EQ(L"P\\1.0.0.4\\bin/", p.backup_folder);
    EXPECT_EQ(L"P\\1.0.0.4\\bin/engine.dll", p.backup_item);
    EXPECT_EQ(L"P\\bin\\engine.dll", p.local_item);
}

TEST(EntryPaths, ArchiveEntryAndLauncherArchive) {
    entry_paths p = derive_entry_paths({L"plugin.zip", 5, L""}, L"P", L"0.0.0.0", L"d", L"2");
    EXPECT_TRUE(p.is_archive);
    EXPECT_EQ(L"plugin.zip", p.archive_name);
    EXPECT_EQ(L"d/2/plugin.zip", p.server_path);
    EXPECT_EQ(L"P\\plugin.zip", p.downloaded_archive);
    EXPECT_EQ(L"P\\plugin", p.target);
    EXPECT_EQ(L"P\\0.0.0.0\\plugin", p.backup_item);
    EXPECT_EQ(L"P\\plugin", p.local_item);
    EXPECT_FALSE(p.is_launcher_archive);

    // ".ZIP" is not an archive entry: the check is case-sensitive.
    p = derive_entry_paths({L"Data.ZIP", 1, L""}, L"P", L"v", L"d", L"2");
    EXPECT_FALSE(p.is_archive);
    EXPECT_EQ(L"Data.ZIP.zip", p.archive_name);

    p = derive_entry_paths({L"orvexlauncher.EXE", 1, L""}, L"P", L"v", L"d", L"2");
    EXPECT_TRUE(p.is_launcher_archive);
    p = derive_entry_paths({L"OrvexLauncher.zip", 1, L""}, L"P", L"v", L"d", L"2");
    EXPECT_TRUE(p.is_launcher_archive);
    EXPECT_EQ(L"P\\OrvexLauncher", p.target);
}

TEST(Params, Normalisation) {
    const std::wstring url = L"orvexlauncher.fenwa.service.host://param=";
    const std::wstring title = L"Fenwa Launcher - ";
    const struct {
        std::wstring in;
        std::wstring out;
    } cases[] = {
        {url + L"Fenwa%20Launcher%20-%20AB12CD34%20more%20text", L"AB12CD34"},
        {url + L"ABCDEFGHIJKL", L"ABCDEFGH"},
        {url + L"abc def", L"abc"},
        {L"Fenwa Launcher - XY7 - Browser", L"XY7"},
        {L"  Some page - Fenwa Launcher - 12345678 - Chrome ", L"12345678"},
        {url, L""},
        {L" leading", L"leading"},
        {L"null", L"null"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.out, normalise_params(c.in, url, title).final_params) << c.in;

    const params_steps s = normalise_params(url + L"Fenwa%20Launcher%20-%20A%20B", url, title);
    EXPECT_EQ(url + L"Fenwa Launcher - A B", s.after_blanks);
    EXPECT_EQ(L"Fenwa Launcher - A B", s.after_url_prefix);
    EXPECT_TRUE(s.had_title_prefix);
    EXPECT_EQ(L"A B", s.after_title_prefix);
    EXPECT_TRUE(s.had_postfix);
    EXPECT_EQ(L"A", s.after_postfix);
}
