#pragma once
// The program folder an update run changes, on the disk: every path is reached through a
// place (util/place_win.h), never through a link; the installed version is in the registry.
#include <windows.h>

#include <string>

#include "engine/update_journal_win.h"
#include "engine/update_run.h"
#include "util/place_win.h"

class program_folder_win : public update_folder {
public:
    program_folder_win(std::wstring program_folder, std::wstring registry_key);

    // `path`, below the program folder, as a place that is never reached through a link.
    place placed(const std::wstring& path) const;

    bool exists(const std::wstring& path) override;
    bool clear_way(const std::wstring& path) override;
    bool make_folders(const std::wstring& folder) override;
    bool prepare_backup(const std::wstring& folder) override;
    bool move(const std::wstring& from, const std::wstring& to, unsigned flags) override;
    bool remove(const std::wstring& path) override;
    bool same_size_and_version(const std::wstring& file, const FileInfo& entry) override;
    std::unique_ptr<update_archive> open_archive(const std::wstring& file, std::string bytes,
                                                 bool in_memory) override;
    bool flush(const std::wstring& path) override;
    bool read_file(const std::wstring& path, std::string& bytes) override;
    bool write_file(const std::wstring& path, const std::string& bytes) override;
    unsigned long last_error() const override { return m_last_error; }

    bool append_journal(const journal_record& record, bool flush) override;
    void close_journal() override { m_journal.close(); }
    bool read_journal(journal_contents& journal) override;
    undo_result undo(const journal_contents& journal,
                     const std::function<void(const undo_progress&)>& on_line) override;
    bool clear_journal(const journal_contents& journal) override;
    long store_version(const std::wstring& version) override;

private:
    const std::wstring m_program_folder;
    const std::wstring m_registry_key;
    update_journal m_journal;
    unsigned long m_last_error = 0;
};
