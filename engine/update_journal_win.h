#pragma once
// The update journal on disk and what undoes or finishes a run from it.
#include <windows.h>

#include <functional>
#include <string>

#include "engine/update_journal.h"
#include "util/unique_handle.h"

// Beside the backup folders, in the program folder.
std::wstring journal_path(const std::wstring& program_folder);

class update_journal {
public:
    explicit update_journal(std::wstring program_folder);

    // The file is created with the first record, so a run that changes nothing leaves none.
    // A record that puts an old file aside is on the disk before the call returns; the
    // others reach it with the next flushed record (a process that is killed loses none).
    bool begin(const std::wstring& from_version, const std::wstring& to_version);
    bool record_move(const std::wstring& item, const std::wstring& backup);
    bool record_add(const std::wstring& item);
    bool commit();
    void close() { m_file.reset(); }

private:
    bool append(const journal_record& record, bool flush);

    std::wstring m_program_folder;
    unique_hfile m_file;
};

// One line of a rollback as it is shown: the backed-up file and its place in the count.
struct undo_progress {
    int index = 0; // 0-based
    int total = 0;
    std::wstring shown; // path relative to the program folder
    bool ok = true;
};

struct undo_result {
    int restore_failures = 0; // old files or folders that could not be put back
    int remove_failures = 0;  // added items that could not be removed
};

// Puts every old file back and, with `remove_added`, removes what the run added (a rollback
// inside the run keeps what had no old version, so that a first installation can still
// start the host). Safe to run again after any interruption: what is back is left alone.
undo_result undo_changes(const std::wstring& program_folder, const journal_contents& journal,
                         bool remove_added,
                         const std::function<void(const undo_progress&)>& on_line);

// The backup folder of the journal's run, then the journal. Only when nothing in the backup
// still waits to be put back.
bool clear_journal(const std::wstring& program_folder, const journal_contents& journal);

bool read_journal(const std::wstring& program_folder, journal_contents& journal);

// At start-up: an update cut off by the end of its process is undone, or finished when every
// file was already in place. Writes what it repaired to the log. True when nothing is left
// to repair.
bool recover_unfinished_update(const std::wstring& program_folder,
                               const std::wstring& registry_key);
