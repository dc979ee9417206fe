#include <algorithm>

#include "product/product_config.h"
#include "engine/fetch_ahead.h"
#include "launcher/launcher_dlg.h"
#include "engine/update_journal_win.h"
#include "log/sc_log.h"
#include "net/request_url.h"
#include "res/resource.h"
#include "util/file_util_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"
#include "zip/unzip.h"

namespace {

// Downloads at most this far ahead of the entry being unpacked, on this many threads: the
// requests' waiting overlaps, and few archives are on the disk at once.
constexpr size_t k_fetch_depth = 4;
constexpr size_t k_fetch_threads = 3;
// A small file's archive is kept in memory, not written, read back and deleted: for a
// release of many small files those trips to the disk cost more than the unpacking.
constexpr int64_t k_memory_download_max = 256 * 1024;

bool fetched_to_memory(const FileInfo& entry, const entry_paths& p) {
    return !p.is_archive && !p.is_launcher_archive && entry.size >= 0 &&
           entry.size <= k_memory_download_max && p.file_name != g_product.program_name() + L".exe";
}

// The test that decides whether an entry is fetched; a signed run adds the file's hash.
bool same_size_and_version(const FileInfo& entry, const entry_paths& p) {
    return static_cast<int64_t>(get_path_size(p.local_file)) == entry.size &&
           get_file_version_string(p.local_file, L"FileVersion") == entry.version;
}

} // namespace

int CZekLauncherDlg::download_server_files() {
    const wchar_t* fn = L"CZekLauncherDlg::download_server_files";
    const int n = static_cast<int>(m_filelist.size());
    const std::wstring program_folder = g_product.program_folder();
    m_log_view.AddLine(k_colour_default, L"%s", load_string(IDS_DOWNLOAD_START).c_str());

    // What an earlier run left to repair comes first; the rollback tries again.
    if (path_exists(journal_path(program_folder))) {
        SCLOG(3, fn, L"an earlier update is not yet undone: %s",
              journal_path(program_folder).c_str());
        return -1;
    }
    if (!prepare_backup_folder())
        return -1;

    m_progress.SetRange(0, n);
    m_progress.SetPos(0);

    fetch_ahead ahead(request_url, k_fetch_threads);
    m_next_to_plan = 0;
    m_ready_folders.clear();
    int identical_count = 0;
    int fail_count = 0;
    for (int i = 0; i < n; ++i) {
        const FileInfo& entry = m_filelist[static_cast<size_t>(i)];
        m_progress.SetPos(i + 1);
        m_count.SetTextF(L"%d / %d", i + 1, n);
        m_status.SetText(entry.name);
        const std::wstring prefix =
            format_text(L"%s (%d/%d) : ", printable_text(entry.name).c_str(), i + 1, n);
        m_log_view.AppendText(k_colour_default, prefix);

        // A listed name must not reach outside the program folder: such an entry fails, and
        // the run then rolls back like any other failure.
        if (!is_safe_relative_name(entry.name)) {
            SCLOG(3, fn, L"%sunsafe file name refused.", prefix.c_str());
            m_log_view.AddLine(k_colour_failure, L"%s", load_string(IDS_DOWNLOAD_FAIL).c_str());
            ++fail_count;
            continue;
        }

        const entry_paths p = derive_entry_paths(entry, program_folder, m_local_version,
                                                 g_product.download_path(), m_server_version);
        // An entry fetched ahead was found to differ, and nothing before it touched its place.
        const bool early = ahead.started(static_cast<size_t>(i));
        const bool identical = !early && same_size_and_version(entry, p) &&
                               signed_identical(static_cast<size_t>(i), p, prefix);
        if (identical) {
            SCLOG(0, fn, L"%sskip", prefix.c_str());
            ++identical_count;
            m_log_view.AddLine(k_colour_skipped, L"%s", load_string(IDS_IDENTICAL_FILE).c_str());
            continue;
        }

        const bool is_self = p.file_name == g_product.program_name() + L".exe";
        const bool in_memory = fetched_to_memory(entry, p);
        if (!record_new_folders(p.local_folder) || (!is_self && !back_up_entry(p)) ||
            (!early && !in_memory &&
             !(placed(p.downloaded_archive).clear_way() && record_added(p.downloaded_archive)))) {
            SCLOG(3, fn, L"%supdate journal could not be written.", prefix.c_str());
            m_log_view.AddLine(k_colour_failure, L"%s", load_string(IDS_DOWNLOAD_FAIL).c_str());
            ++fail_count;
            break;
        }

        plan_downloads(static_cast<size_t>(i), ahead);
        RequestParam param = archive_request(entry, p);
        if (!ahead.take(static_cast<size_t>(i), param)) {
            arm_signed_download(param);
            request_url(param);
        }
        if (param.status != 200) {
            // An error page written in the archive's place is no archive.
            if (!in_memory)
                placed(p.downloaded_archive).remove();
            SCLOG(3, fn, L"%serror = %d", prefix.c_str(), param.status);
            // A local failure (the file could not be written, a bound was passed, the
            // connection broke) says what it was; an HTTP status speaks for itself.
            if ((param.status < 100 || param.status > 599) && !param.text.empty()) {
                SCLOG(3, fn, L"%s%s", prefix.c_str(), text_for_log(param).c_str());
                m_log_view.AddLine(k_colour_failure, L"%s", param.text.c_str());
            }
            m_log_view.AddLine(k_colour_failure, L"%s", load_string(IDS_DOWNLOAD_FAIL).c_str());
            ++fail_count;
            continue;
        }
        if (!signed_archive_matches(static_cast<size_t>(i), p, prefix)) {
            ++fail_count;
            continue;
        }

        ZipHandle zip = in_memory ? OpenZipMemory(std::move(param.download_bytes))
                                  : OpenZip(p.downloaded_archive);
        if (!zip) {
            const std::wstring text =
                format_text(L"OpenZip() failed. %s", p.downloaded_archive.c_str());
            SCLOG(3, fn, L"%s", text.c_str());
            m_log_view.AddLine(k_colour_failure, L"%s", text.c_str());
            ++fail_count;
            break;
        }

        wait_for_flushes_under(p.target);
        uint32_t code = 0;
        // Unpacked only where no link leads elsewhere.
        if (!placed(p.is_launcher_archive ? p.target + L"_" : p.target).clear_way())
            code = 0x200;
        else if (is_self)
            code = replace_launcher(zip, p);
        else if (p.is_launcher_archive)
            code = record_added(p.target + L"_") ? UnzipItem(zip, 0, p.target + L"_") : 0x200;
        else if (p.is_archive)
            code = UnzipAll(zip, p.target, signed_unpack_observer());
        else
            code = UnzipItem(zip, 0, p.target);
        if (code != 0) {
            SCLOG(3, fn, L"UnzipItem() failed. %s. zr error code = %d",
                  p.downloaded_archive.c_str(), static_cast<int>(code));
            m_log_view.AddLine(k_colour_failure, L"UnzipItem() failed. %s",
                               p.downloaded_archive.c_str());
            ++fail_count;
            // Released so that the archive file is not held open for the rest of the process.
            ReleaseZip(zip);
            break;
        }

        ReleaseZip(zip);
        if (!in_memory)
            placed(p.downloaded_archive).remove();
        // Hashed before its flush is queued: the flusher holds each file open for writing.
        if (!signed_install_matches(static_cast<size_t>(i), p, prefix)) {
            ++fail_count;
            continue;
        }
        flush_later(p.is_launcher_archive ? p.target + L"_" : p.target);
        SCLOG(0, fn, L"%sdownload and unzip success.", prefix.c_str());
        m_log_view.AddLine(k_colour_normal, L"success");
    }

    // Archives fetched for entries that then did not need them (or after a failure) go.
    for (const RequestParam& left : ahead.finish())
        placed(left.download_file).remove();
    m_early_digests.clear();
    flush_unpacked();

    const std::wstring total = format_text(L"\n%s : %d", load_string(IDS_SUM_TOTAL).c_str(), n);
    const std::wstring patched = format_text(L"  %s : %d", load_string(IDS_SUM_PATCHED).c_str(),
                                             n - identical_count - fail_count);
    const std::wstring same =
        format_text(L"  %s : %d", load_string(IDS_SUM_IDENTICAL).c_str(), identical_count);
    const std::wstring failed =
        format_text(L"  %s : %d\n", load_string(IDS_SUM_FAIL).c_str(), fail_count);
    m_log_view.AppendText(k_colour_default, total);
    m_log_view.AppendText(k_colour_normal, patched);
    m_log_view.AppendText(k_colour_default, same);
    m_log_view.AppendText(fail_count != 0 ? k_colour_failure : RGB(160, 82, 45), failed);
    SCLOG(0, fn, L"%s", (total + patched + same + failed).c_str());
    m_status.SetText(load_string(IDS_JOB_COMPLETED));
    return fail_count;
}

place CZekLauncherDlg::placed(const std::wstring& path) const {
    const std::wstring program_folder = g_product.program_folder();
    const size_t cut = program_folder.find_last_of(L'\\');
    return cut == std::wstring::npos ? place() : place::at(program_folder.substr(0, cut), path);
}

std::wstring CZekLauncherDlg::relative(const std::wstring& path) const {
    const std::wstring root = g_product.program_folder() + L"\\";
    std::wstring rest = path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : path;
    while (!rest.empty() && (rest.back() == L'\\' || rest.back() == L'/'))
        rest.pop_back();
    return replace_all(rest, L"/", L"\\");
}

bool CZekLauncherDlg::journal_ready() {
    if (!m_journal) {
        m_journal.reset(new update_journal(g_product.program_folder()));
        if (!m_journal->begin(m_local_version, m_server_version)) {
            m_journal.reset();
            return false;
        }
    }
    return true;
}

bool CZekLauncherDlg::record_added(const std::wstring& path) {
    if (placed(path).exists())
        return true;
    return record_absent(path);
}

bool CZekLauncherDlg::record_absent(const std::wstring& path) {
    return journal_ready() && m_journal->record_add(relative(path));
}

bool CZekLauncherDlg::folder_ready(const std::wstring& folder) const {
    return m_ready_folders.count(to_lower(folder)) != 0;
}

bool CZekLauncherDlg::record_new_folders(const std::wstring& folder) {
    // Each look-up costs a trip to the file system; most entries share their folder.
    if (folder_ready(folder))
        return true;
    // Only the topmost folder that does not exist yet is recorded: removing it removes the
    // ones below.
    std::wstring top;
    for (std::wstring f = relative(folder); !f.empty(); f = split_path(f, path_folder)) {
        if (placed(g_product.program_folder() + L"\\" + f).exists())
            break;
        top = f;
        if (f.find(L'\\') == std::wstring::npos)
            break;
    }
    if (!top.empty() && !(journal_ready() && m_journal->record_add(top)))
        return false;
    // A link on the way that cannot be removed fails the entry.
    if (!placed(folder).make_folders())
        return false;
    m_ready_folders.insert(to_lower(folder));
    return true;
}

bool CZekLauncherDlg::back_up_entry(const entry_paths& p) {
    const place item = placed(p.local_item);
    if (!item.clear_way())
        return false;
    if (!item.exists())
        return record_absent(p.local_item);
    if (p.is_archive)
        m_ready_folders.clear(); // a folder and what is below it move away
    else if (!folder_ready(p.backup_folder) && placed(p.backup_folder).make_folders())
        m_ready_folders.insert(to_lower(p.backup_folder));
    if (!journal_ready() ||
        !m_journal->record_move(relative(p.local_item), relative(p.backup_item)))
        return false;
    // A file that cannot be moved (held open) is left to fail at its unpacking.
    item.move_to(placed(p.backup_item), 0);
    return true;
}

uint32_t CZekLauncherDlg::replace_launcher(ZipHandle zip, const entry_paths& p) {
    // The launcher is what the URL scheme starts, and this process may run from that very
    // file. Windows lets a running image be renamed but neither replaced nor deleted
    // (MoveFileEx and DeleteFile documentation), so the old file is renamed into the backup,
    // as the journal says first, and the new one, unpacked beside it, renamed into its place.
    // A rollback or the next start renames the old one back.
    const place target = placed(p.target);
    const place fresh = placed(p.target + L".new");
    if (!fresh.remove() || !journal_ready() || !record_added(fresh.path()))
        return 0x200;
    uint32_t code = UnzipItem(zip, 0, fresh.path());
    if (code != 0)
        return code;
    flush_file(fresh.path());
    if (target.exists()) {
        if (!placed(p.backup_folder).make_folders() ||
            !m_journal->record_move(relative(p.target), relative(p.backup_item)) ||
            !target.move_to(placed(p.backup_item), MOVEFILE_WRITE_THROUGH))
            return 0x200;
        m_old_launcher = p.backup_item;
    }
    if (!fresh.move_to(target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0x200;
    return 0;
}

RequestParam CZekLauncherDlg::archive_request(const FileInfo& entry, const entry_paths& p) const {
    RequestParam param(g_product.server_host(), server_port(), L"", L"GET", 1, {}, L"",
                       p.downloaded_archive);
    param.path = p.server_path;
    if (fetched_to_memory(entry, p)) {
        param.download_file.clear();
        param.download_to_memory = true;
    }
    // An archive is hardly larger than what it holds (deflate adds at most a few bytes per
    // block; an archive entry is listed with its own size): more is not this file.
    if (entry.size >= 0)
        param.limits.max_download_bytes =
            std::min<uint64_t>(param.limits.max_download_bytes,
                               static_cast<uint64_t>(entry.size) + entry.size / 8 + (1u << 20));
    return param;
}

void CZekLauncherDlg::plan_downloads(size_t current, fetch_ahead& ahead) {
    // Entry `current` is being fetched now; the next few that will want their archive are
    // fetched beside it. The entries in between must not touch where an early download goes
    // (an earlier folder moved into the backup, a duplicate name): such an entry waits for
    // its turn. Every place is recorded in the journal before the download creates it.
    const std::wstring program_folder = g_product.program_folder();
    const size_t n = m_filelist.size();
    const size_t end = std::min(n, current + 1 + k_fetch_depth);
    std::vector<entry_paths> before;
    for (size_t j = current; j < end; ++j) {
        const FileInfo& entry = m_filelist[j];
        if (!is_safe_relative_name(entry.name))
            continue;
        const entry_paths p = derive_entry_paths(entry, program_folder, m_local_version,
                                                 g_product.download_path(), m_server_version);
        const bool planned = j <= current || j < m_next_to_plan;
        bool clear = true;
        for (const entry_paths& b : before)
            for (const std::wstring* place : {&b.local_item, &b.target, &b.downloaded_archive})
                if (path_within(p.downloaded_archive, *place) ||
                    path_within(p.local_folder, *place))
                    clear = false;
        before.push_back(p);
        if (planned)
            continue;
        m_next_to_plan = j + 1;
        // An archive entry's download lands where its own identical test looks: it is
        // fetched in its turn.
        if (!clear || p.is_archive || ahead.started(j) || same_size_and_version(entry, p))
            continue;
        if (!record_new_folders(p.local_folder) ||
            (!fetched_to_memory(entry, p) &&
             !(placed(p.downloaded_archive).clear_way() && record_added(p.downloaded_archive))))
            return; // the entry's own turn reports it
        RequestParam param = archive_request(entry, p);
        arm_early_signed_download(j, param);
        ahead.start(j, std::move(param));
    }
}

void CZekLauncherDlg::flush_later(const std::wstring& path) {
    m_flushing.emplace_back(m_flush_posted++, path);
    m_flusher.post(
        [this, path] {
            const place unpacked = placed(path);
            if (unpacked.is_folder()) {
                for (const place& f : unpacked.files())
                    flush_file(f.path());
            } else {
                flush_file(path);
            }
            ++m_flushed;
        },
        1);
}

void CZekLauncherDlg::wait_for_flushes_under(const std::wstring& target) {
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

void CZekLauncherDlg::flush_unpacked() {
    m_flusher.drain();
    m_flushing.clear();
}
