#include "engine/update_journal_win.h"

#include <algorithm>

#include "engine/release_check_win.h"
#include "log/sc_log.h"
#include "util/file_util_win.h"
#include "util/place_win.h"
#include "util/registry_util_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"

namespace {

// A journal of a sane run holds a few lines per listed file.
constexpr size_t k_max_journal_bytes = 16u << 20;
const wchar_t* const k_fn_recover = L"recover_unfinished_update";

place in_program(const std::wstring& program_folder, const std::wstring& relative) {
    return place::inside(program_folder, relative);
}

// Both files hold the same bytes (a file that is running can still be read).
bool same_contents(const place& a, const place& b) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    unique_hfile fa = a.open(GENERIC_READ, share, OPEN_EXISTING);
    unique_hfile fb = b.open(GENERIC_READ, share, OPEN_EXISTING);
    LARGE_INTEGER sa{}, sb{};
    if (!fa || !fb || !::GetFileSizeEx(fa.get(), &sa) || !::GetFileSizeEx(fb.get(), &sb) ||
        sa.QuadPart != sb.QuadPart)
        return false;
    std::string ba(64 * 1024, '\0'), bb(ba.size(), '\0');
    for (;;) {
        DWORD na = 0, nb = 0;
        if (!::ReadFile(fa.get(), &ba[0], static_cast<DWORD>(ba.size()), &na, nullptr) ||
            !::ReadFile(fb.get(), &bb[0], static_cast<DWORD>(bb.size()), &nb, nullptr) ||
            na != nb || ba.compare(0, na, bb, 0, nb) != 0)
            return false;
        if (na == 0)
            return true;
    }
}

bool restore(const std::wstring& program_folder, const journal_record& move) {
    const place saved = in_program(program_folder, move.backup);
    const place target = in_program(program_folder, move.item);
    if (!saved.clear_way(false))
        return false;
    const DWORD attributes = ::GetFileAttributesW(saved.path().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true; // already back, or never moved
    if (!target.make_parent())
        return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A folder comes back whole: what the run unpacked in its place goes first.
        return target.remove() && saved.move_to(target, MOVEFILE_WRITE_THROUGH);
    }
    // A file that is back already may be one Windows will not let be replaced (a running
    // launcher): nothing is left to do.
    if (target.exists() && !target.is_folder() && same_contents(saved, target))
        return true;
    if (target.is_folder() && !target.remove())
        return false;
    return saved.move_to(target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// A launcher with a key stored the release's statement before the commit.
void raise_release_sequence(const std::wstring& program_folder, const std::wstring& version) {
    if (!has_release_key())
        return;
    uint64_t sequence = 0;
    std::wstring problem;
    if (store_installed_sequence(program_folder, version, sequence, problem))
        SCLOG(0, k_fn_recover, L"%s %llu stored.", k_sequence_value,
              static_cast<unsigned long long>(sequence));
    else
        SCLOG(2, k_fn_recover, L"%s not raised: %s", k_sequence_value, problem.c_str());
}

} // namespace

update_journal::update_journal(std::wstring program_folder)
    : m_program_folder(std::move(program_folder)) {}

bool update_journal::append(const journal_record& record, bool flush) {
    if (!m_file) {
        m_file = in_program(m_program_folder, k_journal_name)
                     .open(FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS);
        if (!m_file)
            return false;
    }
    const std::string line = format_journal_record(record);
    DWORD written = 0;
    if (!::WriteFile(m_file.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                     nullptr) ||
        written != line.size())
        return false;
    return !flush || ::FlushFileBuffers(m_file.get());
}

bool read_journal(const std::wstring& program_folder, journal_contents& journal) {
    journal = journal_contents();
    std::string bytes;
    if (!read_file_bytes(journal_path(program_folder), k_max_journal_bytes, bytes))
        return false;
    journal = parse_journal(bytes);
    return true;
}

undo_result undo_changes(const std::wstring& program_folder, const journal_contents& journal,
                         bool remove_added,
                         const std::function<void(const undo_progress&)>& on_line) {
    // Every backed-up file is shown, in the order of its path; a folder is put back whole
    // at its first file.
    struct line {
        std::wstring saved;
        size_t change;
    };
    std::vector<line> lines;
    const std::wstring backup_root =
        in_program(program_folder, journal.from_version).path() + L"\\";
    for (size_t i = 0; i < journal.changes.size(); ++i) {
        const journal_record& c = journal.changes[i];
        if (c.op != journal_op::move)
            continue;
        const place saved = in_program(program_folder, c.backup);
        if (saved.is_folder()) {
            const std::vector<place> files = saved.files();
            for (const auto& f : files)
                lines.push_back({f.path(), i});
            if (files.empty())
                lines.push_back({saved.path(), i});
        } else if (saved.exists()) {
            lines.push_back({saved.path(), i});
        }
    }
    std::stable_sort(lines.begin(), lines.end(), [](const line& a, const line& b) {
        return compare_natural(b.saved, a.saved);
    });

    undo_result result;
    std::vector<int> state(journal.changes.size(), 0); // 0 not yet, 1 back, -1 failed
    const int total = static_cast<int>(lines.size());
    for (int k = total - 1; k >= 0; --k) {
        const line& l = lines[static_cast<size_t>(k)];
        int& s = state[l.change];
        if (s == 0) {
            s = restore(program_folder, journal.changes[l.change]) ? 1 : -1;
            if (s < 0)
                ++result.restore_failures;
        }
        undo_progress p;
        p.index = k;
        p.total = total;
        p.shown = l.saved.compare(0, backup_root.size(), backup_root) == 0
                      ? l.saved.substr(backup_root.size())
                      : l.saved;
        p.ok = s > 0;
        if (on_line)
            on_line(p);
    }

    for (size_t i = remove_added ? journal.changes.size() : 0; i-- > 0;) {
        const journal_record& c = journal.changes[i];
        if (c.op == journal_op::add && !in_program(program_folder, c.item).remove()) {
            ++result.remove_failures;
            SCLOG(3, k_fn_recover, L"could not remove %s", c.item.c_str());
        }
    }
    return result;
}

bool clear_journal(const std::wstring& program_folder, const journal_contents& journal) {
    // What could not be read may still name a file in the backup: both are kept.
    if (!journal.refused.empty())
        return false;
    if (journal.has_begin && !in_program(program_folder, journal.from_version).remove())
        return false;
    return in_program(program_folder, k_journal_name).remove();
}

bool recover_unfinished_update(const std::wstring& program_folder,
                               const std::wstring& registry_key) {
    const std::wstring path = journal_path(program_folder);
    if (!path_exists(path))
        return true;
    journal_contents journal;
    if (!read_journal(program_folder, journal)) {
        SCLOG(3, k_fn_recover, L"unreadable update journal: %s", path.c_str());
        return false;
    }
    for (const auto& line : journal.refused)
        SCLOG(2, k_fn_recover, L"refused journal line: %s", printable_text(line).c_str());
    if (!journal.has_begin) {
        // Cut off before its first record: nothing was changed.
        in_program(program_folder, k_journal_name).remove();
        return true;
    }
    if (journal.committed) {
        // Every file was in place and on the disk: only the version and the clean-up were
        // left to do.
        const LONG code = write_hklm_string(registry_key, L"Version", journal.to_version);
        if (code == ERROR_SUCCESS)
            raise_release_sequence(program_folder, journal.to_version);
        const bool cleared = code == ERROR_SUCCESS && clear_journal(program_folder, journal);
        SCLOG(cleared ? 0 : 3, k_fn_recover, L"update %s -> %s cut off after its files: %s",
              journal.from_version.c_str(), journal.to_version.c_str(),
              cleared ? L"finished." : L"could not be finished.");
        return cleared;
    }
    const undo_result r = undo_changes(program_folder, journal, true, [](const undo_progress& p) {
        SCLOG(p.ok ? 0 : 3, k_fn_recover, L"restore : %s%s", p.shown.c_str(),
              p.ok ? L"" : L" failed.");
    });
    if (r.restore_failures > 0) {
        SCLOG(3, k_fn_recover,
              L"update %s -> %s cut off: %d old files could not be put back; the backup is "
              L"kept for the next start.",
              journal.from_version.c_str(), journal.to_version.c_str(), r.restore_failures);
        return false;
    }
    if (!journal.refused.empty()) {
        SCLOG(3, k_fn_recover,
              L"update %s -> %s cut off: %d journal lines could not be followed; the backup "
              L"and the journal are kept.",
              journal.from_version.c_str(), journal.to_version.c_str(),
              static_cast<int>(journal.refused.size()));
        return false;
    }
    const bool cleared = clear_journal(program_folder, journal);
    SCLOG(cleared ? 0 : 3, k_fn_recover, L"update %s -> %s cut off: undone%s",
          journal.from_version.c_str(), journal.to_version.c_str(),
          cleared ? L"." : L", but the backup could not be cleared.");
    return cleared;
}
