// What a release key adds to the pipeline: the statement before the downloads, which gives
// the run its check (engine/signed_check_win.h), and the installed host checked before it is
// started.
#include "product/product_config.h"
#include "launcher/launcher_dlg.h"
#include "engine/release_check_win.h"
#include "engine/signed_check_win.h"
#include "log/sc_log.h"
#include "util/registry_util_win.h"
#include "util/text_util_win.h"
#include "util/window_util_win.h"

namespace {

const wchar_t* const k_fn_statement = L"CZekLauncherDlg::get_release_statement";

} // namespace

bool CZekLauncherDlg::get_release_statement() {
    const std::wstring requesting = format_text(L"Request %s from server...", k_statement_name);
    show_line(k_colour_default, requesting);
    SCLOG(0, k_fn_statement, L"%s", requesting.c_str());
    m_run.set_check(nullptr);

    std::wstring note;
    installed_release_sequence(&note);
    if (!note.empty())
        SCLOG(2, k_fn_statement, L"%s", note.c_str());

    std::unique_ptr<release_statement> statement(new release_statement);
    std::wstring problem;
    std::vector<size_t> index;
    if (!fetch_release_statement(m_run.server_version, *statement, problem) ||
        !match_filelist(*statement, m_run.filelist, index, problem)) {
        show_line(k_colour_failure, problem);
        SCLOG(3, k_fn_statement, L"%s", problem.c_str());
        return false;
    }
    const std::wstring text = format_text(
        L"signed release %s, sequence %llu: %d files, verified with the built-in key",
        statement->version.c_str(), static_cast<unsigned long long>(statement->sequence),
        static_cast<int>(statement->files.size()));
    show_line(k_colour_normal, text);
    SCLOG(0, k_fn_statement, L"%s", text.c_str());
    m_run.set_check(
        std::unique_ptr<release_check>(new signed_check(std::move(statement), std::move(index))));
    return true;
}

bool CZekLauncherDlg::hold_signed_host(const std::wstring& exe, unique_hfile& held) {
    held.reset();
    if (!has_release_key())
        return true;
    const std::wstring folder = g_product.program_folder();
    std::wstring version, problem;
    read_hklm_string(g_product.registry_key(), L"Version", version);
    release_statement installed;
    if (read_installed_statement(folder, version, installed, problem)) {
        const std::wstring shown = exe.substr(std::min(exe.size(), folder.size() + 1));
        uint64_t size = 0;
        sha256_digest digest{};
        if (!find_installed_file(installed, shown, size, digest))
            problem = format_text(L"%s is not in the signed release %s", shown.c_str(),
                                  installed.version.c_str());
        else if (hold_matching_file(exe, shown, size, digest, held, problem))
            return true;
    }
    SCLOG(3, L"CZekLauncherDlg::run_fenwa", L"%s; not started.", problem.c_str());
    show_line(k_colour_failure, problem);
    show_bar_colour(RGB(255, 64, 0));
    wait_with_messages(1500);
    return false;
}
