#include "launcher/update_journal_win.h"

#include <algorithm>

#include "launcher/release_check_win.h"
#include "log/sc_log.h"
#include "util/file_util_win.h"
#include "util/registry_util_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"

namespace {

const wchar_t* const k_journal_name = L"~update.journal";
// A journal of a sane run holds a few lines per listed file.
constexpr size_t k_max_journal_bytes = 16u << 20;
const wchar_t* const k_fn_recover = L"recover_unfinished_update";

std::wstring full(const std::wstring& program_folder, const std::wstring& relative) {
    return program_folder + L"\\" + relative;
}

bool restore(const std::wstring& program_folder, const journal_record& move) {
    const std::wstring saved = full(program_folder, move.backup);
    const std::wstring place = full(program_folder, move.item);
    const DWORD attributes = ::GetFileAttributesW(saved.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true; // already back, or never moved
    ensure_folder(split_path(place, path_folder));
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A folder comes back whole: what the run unpacked in its place goes first.
        if (!delete_tree(place))
            return false;
        return ::MoveFileExW(saved.c_str(), place.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    if (is_folder(place) && !delete_tree(place))
        return false;
    return ::MoveFileExW(saved.c_str(), place.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
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

std::wstring journal_path(const std::wstring& program_folder) {
    return program_folder + L"\\" + k_journal_name;
}

update_journal::update_journal(std::wstring program_folder)
    : m_program_folder(std::move(program_folder)) {}

bool update_journal::append(const journal_record& record, bool flush) {
    if (!m_file) {
        m_file.reset(::CreateFileW(journal_path(m_program_folder).c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
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

bool update_journal::begin(const std::wstring& from_version, const std::wstring& to_version) {
    return append({journal_op::begin, from_version, to_version}, true);
}

bool update_journal::record_move(const std::wstring& item, const std::wstring& backup) {
    return append({journal_op::move, item, backup}, true);
}

bool update_journal::record_add(const std::wstring& item) {
    return append({journal_op::add, item, L""}, false);
}

bool update_journal::commit() {
    return append({journal_op::commit, L"", L""}, true);
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
    const std::wstring backup_root = full(program_folder, journal.from_version) + L"\\";
    for (size_t i = 0; i < journal.changes.size(); ++i) {
        const journal_record& c = journal.changes[i];
        if (c.op != journal_op::move)
            continue;
        const std::wstring saved = full(program_folder, c.backup);
        if (is_folder(saved)) {
            std::vector<std::wstring> files;
            list_files(saved, L"*", L"", false, L"", false, files, true);
            for (const auto& f : files)
                lines.push_back({f, i});
            if (files.empty())
                lines.push_back({saved, i});
        } else if (path_exists(saved)) {
            lines.push_back({saved, i});
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
        if (c.op == journal_op::add && !delete_tree(full(program_folder, c.item))) {
            ++result.remove_failures;
            SCLOG(3, k_fn_recover, L"could not remove %s", c.item.c_str());
        }
    }
    return result;
}

bool clear_journal(const std::wstring& program_folder, const journal_contents& journal) {
    if (journal.has_begin) {
        const std::wstring backup = full(program_folder, journal.from_version);
        if (!delete_tree(backup))
            return false;
    }
    const std::wstring path = journal_path(program_folder);
    return delete_file(path) || !path_exists(path);
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
        delete_file(path);
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
    const bool cleared = clear_journal(program_folder, journal);
    SCLOG(cleared ? 0 : 3, k_fn_recover, L"update %s -> %s cut off: undone%s",
          journal.from_version.c_str(), journal.to_version.c_str(),
          cleared ? L"." : L", but the backup could not be cleared.");
    return cleared;
}
