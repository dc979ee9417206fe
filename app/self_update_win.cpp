#include "app/batch_script_win.h"

#include <shellapi.h>

#include "app/launcher_app.h"
#include "product/product_config.h"
#include "app/self_update.h"
#include "engine/release_check_win.h"
#include "engine/version_page_win.h"
#include "log/sc_log.h"
#include "net/request_url.h"
#include "util/file_util_win.h"
#include "util/place_win.h"
#include "util/text_util.h"
#include "util/unique_handle.h"
#include "util/window_util_win.h"
#include "zip/unzip.h"

namespace {

// {374DE290-123F-4565-9164-39C4925E467B}
constexpr GUID k_folder_downloads = {
    0x374de290, 0x123f, 0x4565, {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}};

const wchar_t* const k_fn_check = L"CZekLauncherApp::check_new_version_itself";
const wchar_t* const k_fn_update = L"CZekLauncherApp::self_update";
const wchar_t* const k_fn_delete = L"CZekLauncherApp::self_delete";

// Set once this process has staged a launcher that passed its own version check: a staged
// file found at any other time was left by someone else and is never swapped in.
bool g_staged_by_this_process = false;
// With a release key: the `launcher` line of the statement that staged it, and the handle that
// keeps the staged file as it was checked until this process ends. It lets others only read,
// so the file can be neither changed nor renamed meanwhile; the updater moves it after this
// process has ended (it retries while the move fails), when the handle is closed.
signed_file g_staged_signed;
unique_hfile g_staged_held;

// Every file of the self-update is in the program folder, and is written only there: a link
// planted in its place or on the way is removed, or the step is skipped.
bool way_clear(const std::wstring& path) {
    return place::inside(g_product.program_folder(), split_path(path, path_file_name)).clear_way();
}

bool run_hidden(const std::wstring& script, const wchar_t* verb) {
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, verb, script.c_str(), nullptr, nullptr, SW_HIDE));
    return result > 32;
}

bool write_script(const std::wstring& path, const std::vector<std::wstring>& paths,
                  const batch_builder& build, const wchar_t* fn) {
    batch_encoding used = batch_encoding::oem;
    const std::string bytes = batch_script_bytes(paths, build, &used);
    if (!way_clear(path) || !write_file_bytes(path, bytes))
        return false;
    if (used == batch_encoding::utf8)
        SCLOG(2, fn,
              L"%s names a path outside the OEM code page without a short name; "
              L"written as UTF-8.",
              path.c_str());
    return true;
}

// The body of self_update; true when the updater was started. `argument` goes to the
// launcher the updater starts when it gives up.
bool start_updater(bool restart, const std::wstring& argument = L"") {
    SCLOG(0, k_fn_update, L"");
    try {
        const self_update_files files =
            self_update_files_in(g_product.program_folder(), g_product.program_name());
        if (!path_exists(files.staged)) {
            SCLOG(0, k_fn_update, L"not exist a new launcher or patcher. skip.");
            return false;
        }
        if (!g_staged_by_this_process) {
            const bool deleted = delete_file(files.staged);
            SCLOG(2, k_fn_update, L"%s was not staged by this run: %s", files.staged.c_str(),
                  deleted ? L"deleted." : L"could not be deleted; not swapped in.");
            return false;
        }
        std::wstring problem;
        if (has_release_key() &&
            !hold_matching_file(files.staged, files.staged, g_staged_signed.size,
                                g_staged_signed.digest, g_staged_held, problem)) {
            const bool deleted = delete_file(files.staged);
            SCLOG(3, k_fn_update, L"%s; not swapped in (%s).", problem.c_str(),
                  deleted ? L"deleted" : L"could not be deleted");
            return false;
        }
        const bool written = write_script(
            files.updater_script, {files.installed, files.staged},
            [restart, &argument](const std::vector<std::wstring>& p) {
                return updater_script_text(p[0], p[1], restart, argument);
            },
            k_fn_update);
        if (!written) {
            AfxMessageBox(L"fail to create updater.bat", MB_OK);
            return false;
        }
        return run_hidden(files.updater_script, L"OPEN");
    } catch (...) {
        SCLOG(0, k_fn_update, L"[error] SelfUpdate Exception");
        return false;
    }
}

} // namespace

bool CZekLauncherApp::check_new_version_itself() {
    m_self_updating = false;
    SCLOG(0, k_fn_check, L"get_server_version for self patch.");

    version_page_steps steps;
    steps.failed = [](const RequestParam& param) {
        SCLOG(3, k_fn_check,
              L"full_url = %s, is_https = %d, port = %d, param.status = %d, "
              L"get_windows_major_version() = %d",
              param.full_url.c_str(), param.is_https, param.port, param.status,
              get_windows_major_version());
    };
    steps.retrying = [] {
        SCLOG(2, k_fn_check, L"https(443) request failed. retry to http(80) request...");
    };
    steps.refetched = [](const RequestParam& param) {
        SCLOG(0, k_fn_check, L"%s", param.full_url.c_str());
        if (param.status != 200 || param.text.empty())
            SCLOG(3, k_fn_check,
                  L"http request failed. can't get server product version.\n(error code = "
                  L"%d. %s)",
                  param.status, text_for_log(param).c_str());
    };
    const version_page page = fetch_version_page(steps);
    // Not even a successful retry updates in this run; the port switch to 80 is what lasts,
    // for the pipeline's requests too.
    if (!page.ok || page.retried)
        return false;

    const std::wstring server_version = page.param.text;
    if (!is_safe_folder_name(server_version)) {
        SCLOG(3, k_fn_check, L"refused server version text: %s",
              printable_text(server_version).c_str());
        return false;
    }
    const self_update_files files =
        self_update_files_in(g_product.program_folder(), g_product.program_name());
    const std::wstring archive_path =
        launcher_archive_path(g_product.download_path(), server_version, g_product.program_name());

    // With a release key only a launcher the signed statement names is staged.
    release_statement statement;
    const bool signed_only = has_release_key();
    std::wstring problem;
    if (signed_only && !fetch_release_statement(server_version, statement, problem)) {
        SCLOG(3, k_fn_check, L"%s. skip self_update().", problem.c_str());
        return false;
    }
    if (signed_only && !statement.has_launcher) {
        SCLOG(2, k_fn_check, L"%s is not in the signed release %s. skip self_update().",
              archive_path.c_str(), server_version.c_str());
        return false;
    }

    if (!way_clear(files.temp_archive) || !way_clear(files.temp_exe) || !way_clear(files.staged))
        return false;
    RequestParam download(g_product.server_host(), server_port(), L"", L"GET", 1, {}, L"",
                          files.temp_archive);
    download.path = archive_path;
    // A little more than the signed archive still arrives, so that the log can say what came.
    if (signed_only)
        download.limits.max_download_bytes =
            statement.launcher.archive_size + statement.launcher.archive_size / 8 + (1u << 20);
    request_url(download);
    SCLOG(0, k_fn_check, L"status = %d. full_url = %s", download.status, download.full_url.c_str());
    if (download.status != 200) {
        if (path_exists(files.temp_archive))
            delete_file(files.temp_archive);
        SCLOG(3, k_fn_check, L"%s file download failed.\n(error code = %d. %s)",
              archive_path.c_str(), download.status, text_for_log(download).c_str());
        return false;
    }
    if (signed_only &&
        !file_matches(files.temp_archive, archive_path, statement.launcher.archive_size,
                      statement.launcher.archive_digest, problem)) {
        delete_file(files.temp_archive);
        SCLOG(3, k_fn_check, L"%s. skip self_update().", problem.c_str());
        return false;
    }

    ZipHandle zip = OpenZip(files.temp_archive);
    if (!zip) {
        SCLOG(3, k_fn_check, L"OpenZip() failed. %s", files.temp_archive.c_str());
        delete_file(files.temp_archive);
        return false;
    }
    const uint32_t unzipped = UnzipItem(zip, 0, files.temp_exe);
    ReleaseZip(zip);
    delete_file(files.temp_archive);
    if (unzipped != 0) {
        SCLOG(3, k_fn_check, L"UnzipItem() failed. %s", files.temp_archive.c_str());
        return false;
    }
    if (signed_only && !file_matches(files.temp_exe, files.temp_exe, statement.launcher.size,
                                     statement.launcher.digest, problem)) {
        delete_file(files.temp_exe);
        SCLOG(3, k_fn_check, L"%s. skip self_update().", problem.c_str());
        return false;
    }

    const std::wstring local_version = get_file_version_string(L"", L"FileVersion");
    const std::wstring new_version = get_file_version_string(files.temp_exe, L"FileVersion");
    if (!is_newer_launcher(local_version, new_version)) {
        SCLOG(0, k_fn_check, L"local : %s, server : %s. skip self_update().", local_version.c_str(),
              new_version.c_str());
        delete_file(files.temp_exe);
        return false;
    }

    SCLOG(0, k_fn_check,
          L"new version exists. exit for self_update() and re run! (%s.exe version of local : "
          L"%s, server : %s)",
          g_product.program_name().c_str(), local_version.c_str(), new_version.c_str());
    // A staged launcher left by an earlier run that could not write its updater is older.
    g_staged_by_this_process =
        ::MoveFileExW(files.temp_exe.c_str(), files.staged.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!m_command_param.empty() && !fits_updater_script(m_command_param))
        SCLOG(2, k_fn_check,
              L"%s cannot be written into the updater; should it give up, it "
              L"starts the launcher without it.",
              printable_text(m_command_param).c_str());
    g_staged_signed = statement.launcher;
    // Start-up skips the dialog only when something will start the launcher again.
    return start_updater(true, m_command_param);
}

void CZekLauncherApp::self_update(bool restart) {
    start_updater(restart);
}

void CZekLauncherApp::self_delete() {
    SCLOG(0, k_fn_delete, L" ");
    const std::wstring downloads = get_known_folder(k_folder_downloads);
    // Without it the patterns would name the root of the current drive.
    if (downloads.empty())
        return;
    const std::wstring script =
        self_update_files_in(g_product.program_folder(), g_product.program_name()).removal_script;
    const std::vector<std::wstring> patterns =
        removal_patterns(downloads, g_product.program_name());
    const bool written = write_script(
        script, patterns,
        [](const std::vector<std::wstring>& p) { return removal_script_text(p[0], p[1]); },
        k_fn_delete);
    if (written)
        run_hidden(script, L"open");
}
