#pragma once
// The record an update keeps of what it changes in the program folder, so that a run cut off
// at any moment can be undone (or, once every file is in place, finished) by the next start.
// One UTF-8 line per record, written before the change it describes; paths are relative to
// the program folder with "\" between folders.
//
//   begin|<installed version>|<server version>
//   move|<item>|<backup item>    the old file or folder at <item> is put into the backup
//   add|<item>                   <item> did not exist and is about to be created
//   commit                       every file is in place and flushed: finish, never undo
#include <string>
#include <vector>

enum class journal_op { begin, move, add, commit };

struct journal_record {
    journal_op op = journal_op::add;
    std::wstring item;   // begin: installed version
    std::wstring backup; // begin: server version
};

// Beside the backup folders, in the program folder.
constexpr wchar_t k_journal_name[] = L"~update.journal";
std::wstring journal_path(const std::wstring& program_folder);

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

std::string format_journal_record(const journal_record& record);

struct journal_contents {
    bool has_begin = false;
    std::wstring from_version;
    std::wstring to_version;
    bool committed = false;
    std::vector<journal_record> changes; // move and add records, in the order written
    std::vector<std::wstring> refused;   // lines that are not records of a sane run
};

// Reads what a run wrote. A last line without its line end was cut off while being written
// and is dropped; any record that could reach outside the program folder or its backup
// folder is refused.
journal_contents parse_journal(const std::string& bytes);
