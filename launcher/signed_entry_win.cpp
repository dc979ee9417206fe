// The steps a release key adds to the pipeline: the statement before the downloads, and for
// each entry the hashes of what is installed, downloaded and unpacked. In a launcher without
// a key m_statement stays empty and every step passes.
#include <map>

#include "product/product_config.h"
#include "launcher/launcher_dlg.h"
#include "engine/release_check_win.h"
#include "log/sc_log.h"
#include "net/request_url.h"
#include "util/crypto_win.h"
#include "util/file_util_win.h"
#include "util/registry_util_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"
#include "util/window_util_win.h"

namespace {

const wchar_t* const k_fn_statement = L"CZekLauncherDlg::get_release_statement";
const wchar_t* const k_fn_entry = L"CZekLauncherDlg::download_server_files";

std::wstring slashed(const std::wstring& path) {
    return replace_all(path, L"\\", L"/");
}

} // namespace

bool CZekLauncherDlg::get_release_statement() {
    const std::wstring requesting = format_text(L"Request %s from server...", k_statement_name);
    m_log_view.AddLine(k_colour_default, L"%s", requesting.c_str());
    SCLOG(0, k_fn_statement, L"%s", requesting.c_str());
    m_statement.reset();

    std::wstring note;
    installed_release_sequence(&note);
    if (!note.empty())
        SCLOG(2, k_fn_statement, L"%s", note.c_str());

    std::unique_ptr<release_statement> statement(new release_statement);
    std::wstring problem;
    std::vector<size_t> index;
    if (!fetch_release_statement(m_server_version, *statement, problem) ||
        !match_filelist(*statement, m_filelist, index, problem)) {
        m_log_view.AddLine(k_colour_failure, L"%s", problem.c_str());
        SCLOG(3, k_fn_statement, L"%s", problem.c_str());
        return false;
    }
    const std::wstring text = format_text(
        L"signed release %s, sequence %llu: %d files, verified with the built-in key",
        statement->version.c_str(), static_cast<unsigned long long>(statement->sequence),
        static_cast<int>(statement->files.size()));
    m_log_view.AddLine(k_colour_normal, L"%s", text.c_str());
    SCLOG(0, k_fn_statement, L"%s", text.c_str());
    m_signed_index = index;
    m_statement = std::move(statement);
    return true;
}

void CZekLauncherDlg::signed_failure(const std::wstring& prefix, const std::wstring& problem) {
    SCLOG(3, k_fn_entry, L"%s%s", prefix.c_str(), problem.c_str());
    m_log_view.AddLine(k_colour_failure, L"%s", problem.c_str());
}

bool CZekLauncherDlg::signed_identical(size_t index, const entry_paths& p,
                                       const std::wstring& prefix) {
    if (!m_statement)
        return true;
    const signed_file& f = m_statement->files[m_signed_index[index]];
    std::wstring problem;
    // An earlier entry may have put this file in the flusher's queue, which opens it to write.
    wait_for_flushes_under(p.local_file);
    if (file_matches(p.local_file, f.name, f.size, f.digest, problem))
        return true;
    // Right size and FileVersion, other bytes: damaged or replaced, so fetched again.
    SCLOG(2, k_fn_entry, L"%s%s; fetched again.", prefix.c_str(), problem.c_str());
    return false;
}

void CZekLauncherDlg::arm_signed_download(RequestParam& param) {
    if (!m_statement)
        return;
    if (!m_hasher)
        m_hasher.reset(new hash_worker);
    // The listed size, which is the signed one, bounds the download already. A little more
    // than the signed archive may still arrive, so that the log can say what came instead.
    m_hasher->begin_stream();
    hash_worker* hasher = m_hasher.get();
    param.on_download_bytes = [hasher](const char* data, size_t size) { hasher->feed(data, size); };
}

bool CZekLauncherDlg::signed_archive_matches(size_t index, const entry_paths& p,
                                             const std::wstring& prefix) {
    if (!m_statement)
        return true;
    const signed_file& f = m_statement->files[m_signed_index[index]];
    sha256_digest digest{};
    uint64_t size = 0;
    std::wstring problem;
    // An archive fetched ahead was hashed on its own thread as it arrived.
    const auto early = m_early_digests.find(index);
    bool hashed = false;
    if (early != m_early_digests.end()) {
        hashed = early->second->ok && early->second->hash.finish(digest);
        size = early->second->size;
        m_early_digests.erase(early);
    } else {
        hashed = m_hasher->end_stream(digest, size);
    }
    if (!hashed)
        problem = p.server_path + L" could not be hashed";
    else if (size != f.archive_size || digest != f.archive_digest)
        problem = mismatch_text(p.server_path, size, digest, f.archive_size, f.archive_digest);
    else
        return true;
    // Never opened: what is not the signed archive leaves the PC at once.
    delete_file(p.downloaded_archive);
    signed_failure(prefix, problem);
    return false;
}

void CZekLauncherDlg::arm_early_signed_download(size_t index, RequestParam& param) {
    if (!m_statement)
        return;
    if (!m_hasher)
        m_hasher.reset(new hash_worker); // the unpacked files are hashed there all the same
    std::shared_ptr<early_digest> digest(new (std::nothrow) early_digest);
    if (!digest)
        return; // unhashed, so it fails its check: never installed unchecked
    m_early_digests[index] = digest;
    param.on_download_bytes = [digest](const char* data, size_t size) {
        digest->ok = digest->ok && digest->hash.update(data, size);
        digest->size += size;
    };
}

std::function<void(const std::wstring&)> CZekLauncherDlg::signed_unpack_observer() {
    if (!m_statement)
        return nullptr;
    hash_worker* hasher = m_hasher.get();
    hasher->take_files(); // nothing of an earlier entry
    return [hasher](const std::wstring& file) { hasher->add_file(file); };
}

bool CZekLauncherDlg::signed_install_matches(size_t index, const entry_paths& p,
                                             const std::wstring& prefix) {
    if (!m_statement)
        return true;
    const signed_file& f = m_statement->files[m_signed_index[index]];
    std::wstring problem;
    if (!p.is_archive) {
        const std::wstring path = p.is_launcher_archive ? p.target + L"_" : p.target;
        if (file_matches(path, f.name, f.size, f.digest, problem))
            return true;
        signed_failure(prefix, problem);
        return false;
    }

    // Every file unpacked is a signed member with its bytes, and every member was unpacked.
    std::map<std::wstring, const signed_member*> expected;
    for (const signed_member* m : members_of(*m_statement, f.name))
        expected[slashed(m->name)] = m;
    const std::wstring root = p.target + L"\\";
    bool ok = true;
    for (const hash_worker::file_result& r : m_hasher->take_files()) {
        const std::wstring name = slashed(
            r.path.compare(0, root.size(), root) == 0 ? r.path.substr(root.size()) : r.path);
        const std::wstring shown = f.name + L":" + name;
        const auto found = expected.find(name);
        if (found == expected.end())
            problem = shown + L" is not a signed member of the archive";
        else if (!r.ok)
            problem = format_text(L"%s could not be hashed (error %lu)", shown.c_str(),
                                  static_cast<unsigned long>(r.error));
        else if (r.size != found->second->size || r.digest != found->second->digest)
            problem =
                mismatch_text(shown, r.size, r.digest, found->second->size, found->second->digest);
        if (found != expected.end())
            expected.erase(found);
        if (!problem.empty()) {
            signed_failure(prefix, problem);
            problem.clear();
            ok = false;
        }
    }
    for (const auto& missing : expected) {
        signed_failure(prefix, f.name + L":" + missing.first + L" was not unpacked");
        ok = false;
    }
    return ok;
}

bool CZekLauncherDlg::keep_installed_statement() {
    if (!m_statement)
        return true;
    const wchar_t* fn = L"CZekLauncherDlg::thread_launcher";
    const std::wstring path = installed_statement_path(g_product.program_folder());
    const std::string text = statement_text(*m_statement);
    std::string stored;
    if (read_file_bytes(path, k_max_statement_bytes, stored) && stored == text)
        return true;
    // Recorded like a file of the release: an update that is undone takes the old one back.
    bool recorded = false;
    const place kept = placed(path);
    if (kept.exists()) {
        const std::wstring backup = backup_folder() + L"\\" + k_installed_statement_name;
        recorded = !backup_folder().empty() && journal_ready() &&
                   m_journal->record_move(relative(path), relative(backup)) &&
                   kept.move_to(placed(backup), MOVEFILE_WRITE_THROUGH);
    } else {
        recorded = record_absent(path);
    }
    bool written = false;
    if (recorded) {
        unique_hfile file = kept.open(GENERIC_WRITE, 0, CREATE_ALWAYS);
        DWORD done = 0;
        written =
            file &&
            ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
            done == text.size() && ::FlushFileBuffers(file.get());
    }
    if (!written)
        SCLOG(2, fn,
              L"%s could not be written (error %lu): the host is started only after a run "
              L"that writes it.",
              path.c_str(), static_cast<unsigned long>(::GetLastError()));
    return written;
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
        const std::wstring shown = relative(exe);
        uint64_t size = 0;
        sha256_digest digest{};
        if (!find_installed_file(installed, shown, size, digest))
            problem = format_text(L"%s is not in the signed release %s", shown.c_str(),
                                  installed.version.c_str());
        else if (hold_matching_file(exe, shown, size, digest, held, problem))
            return true;
    }
    SCLOG(3, L"CZekLauncherDlg::run_fenwa", L"%s; not started.", problem.c_str());
    m_log_view.AddLine(k_colour_failure, L"%s", problem.c_str());
    m_progress.SetTrackColor(RGB(255, 64, 0));
    wait_with_messages(1500);
    return false;
}
