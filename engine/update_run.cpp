#include "engine/update_run.h"

#include <algorithm>
#include <utility>

#include "engine/release_statement.h"
#include "res/resource.h"
#include "util/text_util.h"

namespace {

// Downloads at most this far ahead of the entry being unpacked, on this many threads: the
// requests' waiting overlaps, and few archives are on the disk at once.
constexpr size_t k_fetch_depth = 4;
constexpr size_t k_fetch_threads = 3;
// A small file's archive is kept in memory, not written, read back and deleted: for a
// release of many small files those trips to the disk cost more than the unpacking.
constexpr int64_t k_memory_download_max = 256 * 1024;
// A zr code for a step of ours around the unpacking that failed.
constexpr uint32_t k_place_failed = 0x200;

const wchar_t* const k_fn_thread = L"CZekLauncherDlg::thread_launcher";
const wchar_t* const k_fn_rollback = L"CZekLauncherDlg::rollback_files";

std::wstring number(int64_t n) {
    return std::to_wstring(n);
}

} // namespace

update_run::update_run(update_settings settings, update_folder& folder, fetch_ahead::fetch_fn fetch,
                       update_observer& observer)
    : m_settings(std::move(settings)), m_folder(folder), m_fetch(std::move(fetch)),
      m_observer(observer), m_check(new release_check) {}

update_run::~update_run() = default;

void update_run::set_check(std::unique_ptr<release_check> check) {
    m_check = check ? std::move(check) : std::unique_ptr<release_check>(new release_check);
}

void update_run::log(int level, const std::wstring& line) const {
    if (m_settings.log)
        m_settings.log(level, m_fn, line);
}

std::wstring update_run::backup_folder() const {
    if (!is_safe_folder_name(local_version))
        return std::wstring();
    return m_settings.program_folder + L"\\" + local_version;
}

int update_run::install() {
    m_fn = L"CZekLauncherDlg::download_server_files";
    m_observer.line(view_colour::plain, m_settings.text(IDS_DOWNLOAD_START));
    // What an earlier run left to repair comes first; the rollback tries again.
    const std::wstring journal = journal_path(m_settings.program_folder);
    if (m_folder.exists(journal)) {
        log(3, L"an earlier update is not yet undone: " + journal);
        return -1;
    }
    if (backup_folder().empty() || !m_folder.prepare_backup(backup_folder()))
        return -1;

    update_summary summary;
    summary.total = static_cast<int>(filelist.size());
    {
        fetch_ahead ahead(m_fetch, k_fetch_threads);
        m_next_to_plan = 0;
        m_ready_folders.clear();
        for (size_t i = 0; i < filelist.size(); ++i) {
            const entry_outcome outcome = install_entry(i, ahead);
            m_observer.entry_done(i, outcome);
            summary.skipped += outcome == entry_outcome::skipped;
            summary.failed += outcome == entry_outcome::failed || outcome == entry_outcome::fatal;
            if (outcome == entry_outcome::fatal)
                break;
        }
        // Archives fetched for entries that then did not need them (or after a failure) go.
        for (const RequestParam& left : ahead.finish())
            if (!left.download_file.empty())
                m_folder.remove(left.download_file);
    }
    m_check->downloads_done();
    flush_unpacked();
    // Entries a fatal failure left untouched count with the installed ones, as they always
    // have in this summary.
    summary.installed = summary.total - summary.skipped - summary.failed;
    report_summary(summary);
    return summary.failed;
}

update_run::entry_plan update_run::plan(size_t index) const {
    entry_plan e;
    const FileInfo& entry = filelist[index];
    // A listed name must not reach outside the program folder.
    e.safe = is_safe_relative_name(entry.name);
    if (!e.safe)
        return e;
    e.p = derive_entry_paths(entry, m_settings.program_folder, local_version,
                             m_settings.download_path, server_version);
    e.size = entry.size;
    e.is_self = e.p.file_name == m_settings.launcher_file;
    e.in_memory = !e.p.is_archive && !e.p.is_launcher_archive && entry.size >= 0 &&
                  entry.size <= k_memory_download_max && !e.is_self;
    return e;
}

bool update_run::prepare(const entry_plan& e, bool back_up, bool archive_place) {
    return record_new_folders(e.p.local_folder) && (!back_up || back_up_entry(e.p)) &&
           (!archive_place || e.in_memory ||
            (m_folder.clear_way(e.p.downloaded_archive) && record_added(e.p.downloaded_archive)));
}

entry_outcome update_run::failure(entry_outcome outcome, const std::wstring& log_line,
                                  const std::wstring& view_line) {
    log(3, log_line);
    if (!view_line.empty())
        m_observer.line(view_colour::failure, view_line);
    return outcome;
}

entry_outcome update_run::install_entry(size_t index, fetch_ahead& ahead) {
    const FileInfo& entry = filelist[index];
    const std::wstring& fail = m_settings.text(IDS_DOWNLOAD_FAIL);
    m_prefix = printable_text(entry.name) + L" (" + number(static_cast<int64_t>(index) + 1) + L"/" +
               number(static_cast<int64_t>(filelist.size())) + L") : ";
    m_observer.entry_started(index, filelist.size(), entry.name, m_prefix);

    const entry_plan e = plan(index);
    if (!e.safe)
        return failure(entry_outcome::failed, m_prefix + L"unsafe file name refused.", fail);
    // An entry fetched ahead was found to differ, and nothing before it touched its place.
    const bool early = ahead.started(index);
    if (!early && is_identical(index, e)) {
        log(0, m_prefix + L"skip");
        m_observer.line(view_colour::skipped, m_settings.text(IDS_IDENTICAL_FILE));
        return entry_outcome::skipped;
    }
    if (!prepare(e, !e.is_self, !early))
        return failure(entry_outcome::fatal, m_prefix + L"update journal could not be written.",
                       fail);

    plan_downloads(index, ahead);
    RequestParam param = archive_request(e);
    const entry_outcome fetched = fetch_entry(index, e, ahead, param);
    return fetched != entry_outcome::installed ? fetched : unpack_entry(index, e, param);
}

bool update_run::is_identical(size_t index, const entry_plan& e) {
    if (!m_folder.same_size_and_version(e.p.local_file, filelist[index]))
        return false;
    if (!m_check->checks_bytes())
        return true;
    // An earlier entry may have put this file in the flusher's queue, which opens it to write.
    wait_for_flushes_under(e.p.local_file);
    std::wstring problem;
    if (m_check->identical(index, e.p, problem))
        return true;
    // Right size and FileVersion, other bytes: damaged or replaced, so fetched again.
    log(2, m_prefix + problem + L"; fetched again.");
    return false;
}

entry_outcome update_run::fetch_entry(size_t index, const entry_plan& e, fetch_ahead& ahead,
                                      RequestParam& param) {
    if (!ahead.take(index, param)) {
        m_check->watch_download(index, param, false);
        m_fetch(param);
    }
    if (param.status != 200) {
        // An error page written in the archive's place is no archive.
        if (!e.in_memory)
            m_folder.remove(e.p.downloaded_archive);
        log(3, m_prefix + L"error = " + number(param.status));
        // A local failure (the file could not be written, a bound was passed, the connection
        // broke) says what it was; an HTTP status speaks for itself.
        if ((param.status < 100 || param.status > 599) && !param.text.empty())
            failure(entry_outcome::failed, m_prefix + text_for_log(param), param.text);
        m_observer.line(view_colour::failure, m_settings.text(IDS_DOWNLOAD_FAIL));
        return entry_outcome::failed;
    }
    std::wstring problem;
    if (m_check->archive_matches(index, e.p, problem))
        return entry_outcome::installed;
    // Never opened: what is not the signed archive leaves the PC at once.
    if (!e.in_memory)
        m_folder.remove(e.p.downloaded_archive);
    return failure(entry_outcome::failed, m_prefix + problem, problem);
}

entry_outcome update_run::unpack_entry(size_t index, const entry_plan& e, RequestParam& param) {
    const std::wstring& archive_file = e.p.downloaded_archive;
    std::unique_ptr<update_archive> archive =
        m_folder.open_archive(archive_file, std::move(param.download_bytes), e.in_memory);
    if (!archive) {
        const std::wstring text = L"OpenZip() failed. " + archive_file;
        return failure(entry_outcome::fatal, text, text);
    }
    wait_for_flushes_under(e.p.target);
    const uint32_t code = unpack_into_place(e, *archive);
    // Closed at once, so that the archive file is not held open for the rest of the process.
    archive.reset();
    if (code != 0)
        return failure(entry_outcome::fatal,
                       L"UnzipItem() failed. " + archive_file + L". zr error code = " +
                           number(static_cast<int>(code)),
                       L"UnzipItem() failed. " + archive_file);
    if (!e.in_memory)
        m_folder.remove(archive_file);
    // Hashed before its flush is queued: the flusher holds each file open for writing.
    const std::vector<std::wstring> problems = m_check->install_problems(index, e.p);
    for (const std::wstring& problem : problems)
        failure(entry_outcome::failed, m_prefix + problem, problem);
    if (!problems.empty())
        return entry_outcome::failed;
    flush_later(e.p.is_launcher_archive ? e.p.target + L"_" : e.p.target);
    log(0, m_prefix + L"download and unzip success.");
    m_observer.line(view_colour::normal, L"success");
    return entry_outcome::installed;
}

uint32_t update_run::unpack_into_place(const entry_plan& e, update_archive& archive) {
    const std::wstring where = e.p.is_launcher_archive ? e.p.target + L"_" : e.p.target;
    // Unpacked only where no link leads elsewhere.
    if (!m_folder.clear_way(where))
        return k_place_failed;
    if (e.is_self)
        return replace_launcher(e, archive);
    if (e.p.is_launcher_archive)
        return record_added(where) ? archive.unpack_first(where) : k_place_failed;
    if (e.p.is_archive)
        return archive.unpack_all(e.p.target, m_check->unpack_observer());
    return archive.unpack_first(e.p.target);
}

uint32_t update_run::replace_launcher(const entry_plan& e, update_archive& archive) {
    // The launcher is what the URL scheme starts, and this process may run from that very
    // file. Windows lets a running image be renamed but neither replaced nor deleted
    // (MoveFileEx and DeleteFile documentation), so the old file is renamed into the backup,
    // as the journal says first, and the new one, unpacked beside it, renamed into its place.
    // A rollback or the next start renames the old one back.
    const std::wstring& target = e.p.target;
    const std::wstring fresh = target + L".new";
    if (!m_folder.remove(fresh) || !record_added(fresh))
        return k_place_failed;
    const uint32_t code = archive.unpack_first(fresh);
    if (code != 0)
        return code;
    if (!m_folder.flush(fresh))
        return k_place_failed;
    if (m_folder.exists(target)) {
        if (!m_folder.make_folders(e.p.backup_folder) || !record_move(target, e.p.backup_item) ||
            !m_folder.move(target, e.p.backup_item, k_move_write_through))
            return k_place_failed;
        m_old_launcher = e.p.backup_item;
    }
    return m_folder.move(fresh, target, k_move_replace | k_move_write_through) ? 0 : k_place_failed;
}

RequestParam update_run::archive_request(const entry_plan& e) const {
    RequestParam param(m_settings.server_host, server_port(), L"", L"GET", 1, {}, L"",
                       e.p.downloaded_archive);
    param.path = e.p.server_path;
    if (e.in_memory) {
        param.download_file.clear();
        param.download_to_memory = true;
    }
    // An archive is hardly larger than what it holds (deflate adds at most a few bytes per
    // block; an archive entry is listed with its own size): more is not this file.
    if (e.size >= 0)
        param.limits.max_download_bytes =
            std::min<uint64_t>(param.limits.max_download_bytes,
                               static_cast<uint64_t>(e.size) + e.size / 8 + (1u << 20));
    return param;
}

void update_run::plan_downloads(size_t current, fetch_ahead& ahead) {
    // Entry `current` is being fetched now; the next few that will want their archive are
    // fetched beside it. The entries in between must not touch where an early download goes
    // (an earlier folder moved into the backup, a duplicate name): such an entry waits for
    // its turn. Every place is recorded in the journal before the download creates it.
    const size_t end = std::min(filelist.size(), current + 1 + k_fetch_depth);
    std::vector<entry_paths> before;
    for (size_t j = current; j < end; ++j) {
        const entry_plan e = plan(j);
        if (!e.safe)
            continue;
        const bool planned = j <= current || j < m_next_to_plan;
        bool clear = true;
        for (const entry_paths& b : before)
            for (const std::wstring* taken : {&b.local_item, &b.target, &b.downloaded_archive})
                if (path_within(e.p.downloaded_archive, *taken) ||
                    path_within(e.p.local_folder, *taken))
                    clear = false;
        before.push_back(e.p);
        if (planned)
            continue;
        m_next_to_plan = j + 1;
        // An archive entry's download lands where its own identical test looks: it is
        // fetched in its turn.
        if (!clear || e.p.is_archive || ahead.started(j) ||
            m_folder.same_size_and_version(e.p.local_file, filelist[j]))
            continue;
        if (!prepare(e, false, true))
            return; // the entry's own turn reports it
        RequestParam param = archive_request(e);
        m_check->watch_download(j, param, true);
        ahead.start(j, std::move(param));
    }
}

void update_run::report_summary(const update_summary& s) {
    const std::wstring total = L"\n" + m_settings.text(IDS_SUM_TOTAL) + L" : " + number(s.total);
    const std::wstring patched =
        L"  " + m_settings.text(IDS_SUM_PATCHED) + L" : " + number(s.installed);
    const std::wstring same =
        L"  " + m_settings.text(IDS_SUM_IDENTICAL) + L" : " + number(s.skipped);
    const std::wstring failed =
        L"  " + m_settings.text(IDS_SUM_FAIL) + L" : " + number(s.failed) + L"\n";
    m_observer.line(view_colour::plain, total, false);
    m_observer.line(view_colour::normal, patched, false);
    m_observer.line(view_colour::plain, same, false);
    m_observer.line(s.failed != 0 ? view_colour::failure : view_colour::quiet, failed, false);
    log(0, total + patched + same + failed);
    m_observer.summary(s);
}

// ---- the journal

std::wstring update_run::relative(const std::wstring& path) const {
    const std::wstring root = m_settings.program_folder + L"\\";
    std::wstring rest = path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : path;
    while (!rest.empty() && (rest.back() == L'\\' || rest.back() == L'/'))
        rest.pop_back();
    return replace_all(rest, L"/", L"\\");
}

bool update_run::journal_ready() {
    if (!m_journal_open)
        m_journal_open =
            m_folder.append_journal({journal_op::begin, local_version, server_version}, true);
    return m_journal_open;
}

bool update_run::record_added(const std::wstring& path) {
    return m_folder.exists(path) || record_absent(path);
}

bool update_run::record_absent(const std::wstring& path) {
    return journal_ready() &&
           m_folder.append_journal({journal_op::add, relative(path), L""}, false);
}

bool update_run::record_move(const std::wstring& item, const std::wstring& backup) {
    return journal_ready() &&
           m_folder.append_journal({journal_op::move, relative(item), relative(backup)}, true);
}

bool update_run::record_new_folders(const std::wstring& folder) {
    // Each look-up costs a trip to the file system; most entries share their folder.
    if (m_ready_folders.count(to_lower(folder)) != 0)
        return true;
    // Only the topmost folder that does not exist yet is recorded: removing it removes the
    // ones below.
    std::wstring top;
    for (std::wstring f = relative(folder); !f.empty(); f = split_path(f, path_folder)) {
        if (m_folder.exists(m_settings.program_folder + L"\\" + f))
            break;
        top = f;
        if (f.find(L'\\') == std::wstring::npos)
            break;
    }
    if (!top.empty() && !record_absent(m_settings.program_folder + L"\\" + top))
        return false;
    // A link on the way that cannot be removed fails the entry.
    if (!m_folder.make_folders(folder))
        return false;
    m_ready_folders.insert(to_lower(folder));
    return true;
}

bool update_run::back_up_entry(const entry_paths& p) {
    if (!m_folder.clear_way(p.local_item))
        return false;
    if (!m_folder.exists(p.local_item))
        return record_absent(p.local_item);
    if (p.is_archive)
        m_ready_folders.clear(); // a folder and what is below it move away
    else if (m_ready_folders.count(to_lower(p.backup_folder)) == 0 &&
             m_folder.make_folders(p.backup_folder))
        m_ready_folders.insert(to_lower(p.backup_folder));
    if (!record_move(p.local_item, p.backup_item))
        return false;
    // A file that cannot be moved (held open) is left to fail at its unpacking.
    m_folder.move(p.local_item, p.backup_item, 0);
    return true;
}

// ---- the flusher

void update_run::flush_later(const std::wstring& path) {
    m_flushing.emplace_back(m_flush_posted++, path);
    m_flusher.post(
        [this, path] {
            if (!m_folder.flush(path))
                m_flush_failed = true;
            ++m_flushed;
        },
        1);
}

void update_run::wait_for_flushes_under(const std::wstring& target) {
    // A file being flushed is open: unpacking over it would fail. The queue runs in order,
    // so whatever it has done is dropped from the front.
    while (!m_flushing.empty() && m_flushing.front().first < m_flushed)
        m_flushing.pop_front();
    for (const auto& queued : m_flushing)
        if (path_within(queued.second, target) || path_within(target, queued.second)) {
            flush_unpacked();
            return;
        }
}

void update_run::flush_unpacked() {
    m_flusher.drain();
    m_flushing.clear();
}

// ---- the end of a run

bool update_run::commit() {
    m_fn = k_fn_thread;
    // Every new file reaches the disk before the version says it is there; from the commit
    // on, a cut-off run is finished at the next start, not undone.
    flush_unpacked();
    if (m_flush_failed) {
        log(3, L"unpacked files could not be flushed to the disk; the update is undone.");
        return false;
    }
    keep_statement();
    if (m_journal_open && !m_folder.append_journal({journal_op::commit, L"", L""}, true)) {
        log(3, L"the update's commit record could not be written: " +
                   journal_path(m_settings.program_folder) + L"; the update is undone.");
        return false;
    }
    const long code = m_folder.store_version(server_version);
    // Only a release installed whole raises the sequence a later one must not go below.
    m_check->release_installed();
    if (m_journal_open) {
        m_folder.close_journal();
        m_journal_open = false;
        put_old_launcher_aside(); // committed: it never goes back now
        journal_contents journal;
        if (m_folder.read_journal(journal))
            m_folder.clear_journal(journal);
    }
    if (code != 0) {
        const std::wstring text = L"\n" + m_settings.text(IDS_VERSION_REG_FAIL) +
                                  L". error code = " + number(static_cast<int>(code));
        m_observer.line(view_colour::warning, text);
        log(2, text);
    }
    return true;
}

void update_run::keep_statement() {
    // After a clean run, before its commit: the verified statement kept in the program folder.
    const std::string text = m_check->statement_text();
    if (text.empty())
        return;
    const std::wstring path = m_settings.program_folder + L"\\" + m_settings.statement_file;
    std::string stored;
    if (m_folder.read_file(path, stored) && stored == text)
        return;
    // Recorded like a file of the release: an update that is undone takes the old one back.
    bool recorded = false;
    if (m_folder.exists(path)) {
        const std::wstring backup = backup_folder() + L"\\" + m_settings.statement_file;
        recorded = !backup_folder().empty() && record_move(path, backup) &&
                   m_folder.move(path, backup, k_move_write_through);
    } else {
        recorded = record_absent(path);
    }
    if (!recorded || !m_folder.write_file(path, text))
        log(2, path + L" could not be written (error " + number(m_folder.last_error()) +
                   L"): the host is started only after a run that writes it.");
}

int update_run::rollback() {
    m_fn = k_fn_rollback;
    const int n = static_cast<int>(filelist.size());
    m_folder.close_journal();
    m_journal_open = false;

    // The journal says what moved where; a run that changed nothing has none.
    journal_contents journal;
    int failed = 0;
    if (m_folder.exists(journal_path(m_settings.program_folder))) {
        if (!m_folder.read_journal(journal))
            ++failed;
        // A line it cannot follow may name an old file: nothing is deleted then.
        for (const auto& line : journal.refused) {
            log(3, L"refused journal line: " + printable_text(line));
            ++failed;
        }
        m_folder.undo(journal, [&](const undo_progress& p) {
            m_observer.restoring(p.index, n, p.shown);
            m_observer.line(view_colour::plain, L"rollback : " + p.shown);
            log(0, L"rollback : " + p.shown);
            if (!p.ok) {
                log(0, L"rollback : " + p.shown + L" failed.");
                ++failed;
            }
        });
        if (failed == 0)
            m_folder.clear_journal(journal);
    }

    if (failed > 0) {
        failure(entry_outcome::failed, L"rollback fail count = " + number(failed),
                L"rollback fail count = " + number(failed));
        const wchar_t* kept = L"The backup is kept; the next start puts the files back.";
        failure(entry_outcome::failed, kept, kept);
        return failed;
    }
    m_observer.line(view_colour::normal, L"rollback success.");
    log(0, L"rollback success.");
    m_observer.restored(n);
    return 0;
}

void update_run::put_old_launcher_aside() {
    // The old launcher may be this very process, which Windows does not let be deleted: it
    // waits beside the program for a later start to remove it, so that the backup can go.
    if (m_old_launcher.empty())
        return;
    const std::wstring aside =
        m_settings.program_folder + L"\\" + m_settings.launcher_file + L".old";
    if (m_folder.exists(m_old_launcher) && m_folder.move(m_old_launcher, aside, k_move_replace))
        m_folder.remove(aside);
    m_old_launcher.clear();
}

void update_run::finish() {
    // Never while the journal still names files in it that are not back in place (the next
    // start puts them back); only ever the backup folder itself, and no link found in it is
    // followed.
    m_folder.close_journal();
    m_journal_open = false;
    if (m_folder.exists(journal_path(m_settings.program_folder)))
        return;
    const std::wstring folder = backup_folder();
    if (folder.empty())
        return;
    put_old_launcher_aside();
    m_folder.remove(folder);
}
