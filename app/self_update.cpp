#include "app/self_update.h"

#include "util/text_util.h"

self_update_files self_update_files_in(const std::wstring& program_folder,
                                       const std::wstring& program_name) {
    self_update_files f;
    const std::wstring base = program_folder + L"\\" + program_name;
    f.temp_archive = base + L"_patch_temp_.exe.zip";
    f.temp_exe = base + L"_patch_temp_.exe";
    f.staged = base + L".exe_";
    f.installed = base + L".exe";
    f.updater_script = program_folder + L"\\self_updater.bat";
    f.removal_script = program_folder + L"\\self_delete.bat";
    return f;
}

std::wstring launcher_archive_path(const std::wstring& download_path,
                                   const std::wstring& server_version,
                                   const std::wstring& program_name) {
    return download_path + L"/" + server_version + L"/" + program_name + L".exe.zip";
}

bool is_newer_launcher(const std::wstring& local_version, const std::wstring& new_version) {
    return compare_versions(local_version, new_version, L'.') < 0;
}

std::vector<std::wstring> removal_patterns(const std::wstring& downloads_folder,
                                           const std::wstring& program_name) {
    return {downloads_folder + L"\\ZEKLauncher*.exe",
            downloads_folder + L"\\" + program_name + L"*.exe"};
}

std::wstring batch_quoted(const std::wstring& path) {
    return L"\"" + replace_all(path, L"%", L"%%") + L"\"";
}

const wchar_t k_skip_self_update_arg[] = L"--skip-self-update";

bool fits_updater_script(const std::wstring& argument) {
    if (argument.empty() || argument.size() > 2048 || argument.back() == L'\\')
        return false;
    for (const wchar_t c : argument)
        // "!" would expand when the interpreter has delayed expansion switched on.
        if (c < 0x20 || c > 0x7e || c == L'"' || c == L'!')
            return false;
    return true;
}

std::wstring updater_script_text(const std::wstring& installed, const std::wstring& staged,
                                 bool restart, const std::wstring& argument) {
    const std::wstring i = batch_quoted(installed);
    const std::wstring s = batch_quoted(staged);
    // The new launcher is moved over the old one, which is never deleted first: until the
    // move succeeds the old one stays. A launcher still running refuses the move; after
    // k_updater_tries pauses of about a second the script gives up and leaves both.
    std::wstring text = L"set tries=0 \r\n";
    text += L":Repeat \r\n";
    text += L"move /y " + s + L" " + i + L" >nul 2>&1 \r\n";
    text += L"if not exist " + s + L" goto Moved \r\n";
    text += L"set /a tries+=1 \r\n";
    text += L"if %tries% geq " + std::to_wstring(k_updater_tries) +
            (restart ? L" goto GiveUp \r\n" : L" goto End \r\n");
    // Wine's command interpreter has no "timeout"; ping waits about a second everywhere.
    text += L"ping -n 2 127.0.0.1 >nul \r\n";
    text += L"goto Repeat \r\n";
    text += L":Moved \r\n";
    if (restart) {
        text += L"timeout /t 1 \r\n";
        text += L"start \"\" " + i + L" \r\n";
        text += L"goto End \r\n";
        text += L":GiveUp \r\n";
        text += L"start \"\" " + i + L" " + k_skip_self_update_arg;
        if (fits_updater_script(argument))
            text += L" " + batch_quoted(argument);
        text += L" \r\n";
    }
    text += L":End \r\n";
    return text;
}

std::wstring removal_script_text(const std::wstring& first_pattern,
                                 const std::wstring& second_pattern) {
    const std::wstring a = batch_quoted(first_pattern);
    const std::wstring b = batch_quoted(second_pattern);
    return L":Repeat\r\n"
           L"del /f /q " +
           a + L"\r\ndel /f /q " + b + L"\r\nif exist " + a + L" goto Repeat\r\nif exist " + b +
           L" goto Repeat\r\n";
}

const char k_batch_utf8_line[] = "chcp 65001 >nul\r\n";
