#include <gtest/gtest.h>

#include "util/folder_security.h"
#include "util/folder_security_win.h"

#include <sddl.h>

#include <string>

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
