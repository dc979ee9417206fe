#include <gtest/gtest.h>

#include "util/folder_security.h"
#include "util/folder_security_win.h"

#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "util/file_util_win.h"

namespace {

std::wstring sddl_of(PSECURITY_DESCRIPTOR sd) {
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
            nullptr))
        return L"(error " + std::to_wstring(::GetLastError()) + L")";
    unique_hlocal keep(text);
    return text;
}

std::vector<std::wstring> report_lines() {
    std::vector<std::wstring> lines;
    for (const security_note& n : take_program_root_report())
        lines.push_back(std::to_wstring(n.level) + L" " + n.text);
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

TEST(FolderSecurity, TheListTheLauncherSets) {
    // Owner Administrators; protected; SYSTEM and Administrators full control, Users read and
    // execute; each inherited by folders (CI) and files (OI) below.
    const unique_hlocal root = program_root_descriptor();
    ASSERT_TRUE(root);
    EXPECT_EQ(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
              sddl_of(root.get()));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(root.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);

    // A folder someone else made, while it is emptied: administrators only.
    const unique_hlocal taken = program_root_descriptor(true);
    ASSERT_TRUE(taken);
    EXPECT_EQ(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", sddl_of(taken.get()));
}

TEST(FolderSecurity, OwnerRule) {
    const std::wstring me = current_user_sid();
    ASSERT_EQ(0u, me.rfind(L"S-1-5-", 0)) << me;
    const struct {
        std::wstring owner;
        bool trusted;
    } cases[] = {
        {L"S-1-5-18", true},     // SYSTEM
        {L"S-1-5-32-544", true}, // Administrators
        {L"s-1-5-32-544", true},
        {L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", true},
        {me, true},
        {L"S-1-5-21-1-2-3-1001", false}, // another user
        {L"S-1-1-0", false},             // Everyone
        {L"S-1-5-32-545", false},        // Users
        {L"S-1-5-32-5440", false},
        {L"S-1-5-80-956008885-3418522649-1831038044-1853292631-227147846", false},
        {L"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.trusted, is_trusted_owner(c.owner, me)) << c.owner;
    // Without a known user only the three system accounts remain.
    EXPECT_FALSE(is_trusted_owner(me, L""));
    EXPECT_TRUE(is_trusted_owner(L"S-1-5-18", L""));
}

// Wine reports the prefix user as the owner of every file: named as someone else, that user's
// entries are what another local user left behind.
TEST(FolderSecurity, WalkRemovesWhatOthersOwnAndKeepsTheRest) {
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    const std::wstring root = std::wstring(base) + L"fenwa_secure_root";
    delete_folder(root);
    const auto plant = [&] {
        ASSERT_TRUE(ensure_folder(root + L"\\sub\\deeper"));
        ASSERT_TRUE(write_text_file(root + L"\\a.txt", L"a", true, false));
        ASSERT_TRUE(write_text_file(root + L"\\sub\\deeper\\c.txt", L"c", true, false));
        ASSERT_TRUE(write_text_file(root + L"\\sub\\b.txt", L"b", true, false));
        ASSERT_TRUE(
            ::SetFileAttributesW((root + L"\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    };
    plant();
    const std::wstring me = current_user_sid();
    take_program_root_report();
    EXPECT_TRUE(secure_program_root(root, me));
    EXPECT_TRUE(path_exists(root + L"\\sub\\b.txt"));
    EXPECT_TRUE(path_exists(root + L"\\sub\\deeper\\c.txt"));
    // Wine reads back a list made from the Unix mode, never the one set.
    EXPECT_EQ(std::vector<std::wstring>{L"0 " + root +
                                        L" secured (it was another owner or access "
                                        L"list): owner Administrators; SYSTEM and Administrators "
                                        L"full control, Users read and execute"},
              report_lines());

    EXPECT_TRUE(secure_program_root(root, L"S-1-5-21-1-2-3-1001"));
    EXPECT_TRUE(path_exists(root));
    EXPECT_FALSE(path_exists(root + L"\\a.txt"));
    EXPECT_FALSE(path_exists(root + L"\\sub"));
    const std::vector<std::wstring> want = {
        L"0 " + root +
            L" secured (it was another owner or access list): owner Administrators; "
            L"SYSTEM and Administrators full control, Users read and execute",
        L"2 removed a.txt, owned by " + me,
        L"2 removed sub, owned by " + me,
    };
    EXPECT_EQ(want, report_lines());

    // A plain file where the folder belongs is removed and the folder made.
    delete_folder(root);
    ASSERT_TRUE(write_text_file(root, L"x", true, false));
    EXPECT_TRUE(secure_program_root(root, me));
    EXPECT_TRUE(::GetFileAttributesW(root.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(std::vector<std::wstring>{L"0 " + root +
                                        L" secured (it was a file): owner "
                                        L"Administrators; SYSTEM and Administrators full "
                                        L"control, Users read and execute"},
              report_lines());
    delete_folder(root);
}
