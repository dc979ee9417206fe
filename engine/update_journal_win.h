#pragma once
// The update journal on disk and what undoes or finishes a run from it.
#include <windows.h>

#include <functional>
#include <string>

#include "engine/update_journal.h"
#include "util/unique_handle.h"

class update_journal {
public:
    explicit update_journal(std::wstring program_folder);

    // The file is created with the first record, so a run that changes nothing leaves none.
    // With `flush` (the run's opening, a move of an old file aside, the commit) the record is
    // on the disk before the call returns; the others reach it with the next flushed record.
    bool append(const journal_record& record, bool flush);
    void close() { m_file.reset(); }

private:
    std::wstring m_program_folder;
    unique_hfile m_file;
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
