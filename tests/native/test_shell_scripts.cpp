#include <gtest/gtest.h>

#include "app/self_update.h"
#include "app/url_scheme.h"
#include "engine/pipeline_logic.h"

TEST(SelfUpdate, FileNamesInTheProgramFolder) {
    const self_update_files f = self_update_files_in(L"C:\\P F", L"FenwaLauncher");
    EXPECT_EQ(L"C:\\P F\\FenwaLauncher_patch_temp_.exe.zip", f.temp_archive);
    EXPECT_EQ(L"C:\\P F\\FenwaLauncher_patch_temp_.exe", f.temp_exe);
    EXPECT_EQ(L"C:\\P F\\FenwaLauncher.exe_", f.staged);
    EXPECT_EQ(L"C:\\P F\\FenwaLauncher.exe", f.installed);
    EXPECT_EQ(L"C:\\P F\\self_updater.bat", f.updater_script);
    EXPECT_EQ(L"C:\\P F\\self_delete.bat", f.removal_script);
    // A folder whose own name holds the marker still stages beside the installed launcher.
    EXPECT_EQ(L"C:\\a_patch_temp_\\X.exe_",
              self_update_files_in(L"C:\\a_patch_temp_", L"X").staged);
}

TEST(SelfUpdate, ServerPaths) {
    EXPECT_EQ(L"download/Customer/program_kr/version.html",
              version_page_path(L"download/Customer/program_kr"));
    EXPECT_EQ(L"d/1.0.0.7/FenwaLauncher.exe.zip",
              launcher_archive_path(L"d", L"1.0.0.7", L"FenwaLauncher"));
    // The page's text is taken as it came, untrimmed.
    EXPECT_EQ(L"d/2.0\r\n/X.exe.zip", launcher_archive_path(L"d", L"2.0\r\n", L"X"));
}

TEST(SelfUpdate, OnlyAStrictlyNewerLauncherIsStaged) {
    const struct {
        const wchar_t* local;
        const wchar_t* server;
        bool newer;
    } cases[] = {
        {L"1.0.0.1", L"1.0.0.2", true},  {L"1.0.0.1", L"9.9.9.9", true},
        {L"1.0.0.9", L"1.0.0.10", true}, {L"1.0.0.1", L"1.0.0.1", false},
        {L"1.2", L"1.2.0.0", false},     {L"2.0.0.0", L"1.9.9.9", false},
        {L"1.0.0.1", L"", false}, // no version resource in the download
        {L"", L"0.0.0.1", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.newer, is_newer_launcher(c.local, c.server)) << c.local << " " << c.server;
}

TEST(SelfUpdate, RemovalPatterns) {
    EXPECT_EQ((std::vector<std::wstring>{L"D\\ZEKLauncher*.exe", L"D\\FenwaLauncher*.exe"}),
              removal_patterns(L"D", L"FenwaLauncher"));
}

TEST(BatchScripts, PathsAreQuotedAndPercentSignsDoubled) {
    EXPECT_EQ(L"\"C:\\a b\\x.exe\"", batch_quoted(L"C:\\a b\\x.exe"));
    EXPECT_EQ(L"\"C:\\100%%\\%%USERNAME%%\\a&b^c.exe\"",
              batch_quoted(L"C:\\100%\\%USERNAME%\\a&b^c.exe"));
}

TEST(BatchScripts, UpdaterText) {
    const std::wstring plain = updater_script_text(L"C:\\P\\L.exe", L"C:\\P\\L.exe_", false);
    const std::wstring head = L"set tries=0 \r\n"
                              L":Repeat \r\n"
                              L"move /y \"C:\\P\\L.exe_\" \"C:\\P\\L.exe\" >nul 2>&1 \r\n"
                              L"if not exist \"C:\\P\\L.exe_\" goto Moved \r\n"
                              L"set /a tries+=1 \r\n";
    const std::wstring wait = L"ping -n 2 127.0.0.1 >nul \r\n"
                              L"goto Repeat \r\n"
                              L":Moved \r\n";
    EXPECT_EQ(head + L"if %tries% geq 15 goto End \r\n" + wait + L":End \r\n", plain);
    // With a restart, giving up still starts the installed launcher, which then skips its
    // own update; the first run's argument follows when it can be written safely.
    const std::wstring restart = head + L"if %tries% geq 15 goto GiveUp \r\n" + wait +
                                 L"timeout /t 1 \r\nstart \"\" \"C:\\P\\L.exe\" \r\n"
                                 L"goto End \r\n:GiveUp \r\n"
                                 L"start \"\" \"C:\\P\\L.exe\" --skip-self-update";
    const struct {
        std::wstring argument;
        std::wstring written;
    } cases[] = {
        {L"", L""},
        {L"s://param=A%20B&C|D^E/", L" \"s://param=A%%20B&C|D^E/\""},
        {L"s://x\" & calc", L""},
        {L"s://x\r\ncalc", L""},
        {L"s://!PATH!", L""},
        {L"s://x\\", L""},
        {L"s://\u00e9", L""},
        {L"s://" + std::wstring(2044, L'a'), L" \"s://" + std::wstring(2044, L'a') + L"\""},
        {L"s://" + std::wstring(2045, L'a'), L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(restart + c.written + L" \r\n:End \r\n",
                  updater_script_text(L"C:\\P\\L.exe", L"C:\\P\\L.exe_", true, c.argument))
            << c.argument;
    EXPECT_NE(std::wstring::npos, updater_script_text(L"C:\\5%\\L.exe", L"C:\\5%\\L.exe_", true)
                                      .find(L"start \"\" \"C:\\5%%\\L.exe\" \r\n"));
}

TEST(BatchScripts, RemovalText) {
    EXPECT_EQ(L":Repeat\r\n"
              L"del /f /q \"D\\ZEKLauncher*.exe\"\r\n"
              L"del /f /q \"D\\FenwaLauncher*.exe\"\r\n"
              L"if exist \"D\\ZEKLauncher*.exe\" goto Repeat\r\n"
              L"if exist \"D\\FenwaLauncher*.exe\" goto Repeat\r\n",
              removal_script_text(L"D\\ZEKLauncher*.exe", L"D\\FenwaLauncher*.exe"));
}

TEST(UrlScheme, KeyAndCommand) {
    EXPECT_EQ(L"Software\\Classes\\orvexlauncher.fenwa.service.host",
              url_scheme_key(L"orvexlauncher.fenwa.service.host"));
    EXPECT_EQ(L"C:\\users\\Public\\Documents\\Fenwa\\FenwaLauncher\\FenwaLauncher.exe \"%1\"",
              url_scheme_command(
                  L"C:\\users\\Public\\Documents\\Fenwa\\FenwaLauncher\\FenwaLauncher.exe"));
    EXPECT_EQ(L"\"C:\\Users\\Kim Min\\Documents\\F\\L.exe\" \"%1\"",
              url_scheme_command(L"C:\\Users\\Kim Min\\Documents\\F\\L.exe"));
}
