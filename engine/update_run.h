#pragma once
// One update run of the program folder against the server's file list, with no window and no
// Win32 in it: which entries are fetched and in which order, what goes into the backup, what
// the journal says before each change, what a failure leaves for the rollback. The disk, the
// network and the release's signature are reached through the interfaces below; the real ones
// are in engine/update_folder_win.h and engine/signed_check_win.h.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/fetch_ahead.h"
#include "engine/pipeline_logic.h"
#include "engine/update_journal.h"
#include "net/request_url.h"
#include "util/task_queue.h"

// What became of one entry of the file list.
enum class entry_outcome {
    skipped,   // the installed file is the listed one
    installed, // fetched, checked, unpacked
    failed,    // the run goes on and rolls back at its end
    fatal,     // the run stops here and rolls back
};

enum class view_colour { plain, normal, failure, warning, skipped, quiet };

struct update_summary {
    int total = 0;
    int installed = 0;
    int skipped = 0;
    int failed = 0;
};

// What a run shows, reported from the run's thread in the order it happens.
class update_observer {
public:
    virtual ~update_observer() = default;
    // `prefix` ("<name> (i/n) : ") opens the entry's line in the view.
    virtual void entry_started(size_t index, size_t total, const std::wstring& name,
                               const std::wstring& prefix) = 0;
    // With `ends_line` false the next text goes on the same line.
    virtual void line(view_colour colour, const std::wstring& text, bool ends_line = true) = 0;
    virtual void entry_done(size_t index, entry_outcome outcome) = 0;
    virtual void summary(const update_summary& summary) = 0;
    // The rollback puts back one file (`index` counts down), then says it is done.
    virtual void restoring(int index, int list_size, const std::wstring& shown) = 0;
    virtual void restored(int list_size) = 0;
};

// An archive fetched for an entry, open for unpacking; closed when it goes.
class update_archive {
public:
    virtual ~update_archive() = default;
    // Every member below `folder`; `written` sees each file once it is closed.
    virtual uint32_t unpack_all(const std::wstring& folder,
                                const std::function<void(const std::wstring&)>& written) = 0;
    virtual uint32_t unpack_first(const std::wstring& file) = 0;
};

constexpr unsigned k_move_replace = 1;       // an existing target is replaced
constexpr unsigned k_move_write_through = 2; // on the disk before the call returns

// The program folder as a run changes it, and the installation's record. Every path lies
// below the program folder; the real one never reaches anything through a link.
class update_folder {
public:
    virtual ~update_folder() = default;
    virtual bool exists(const std::wstring& path) = 0;
    // False when a link on the way to `path` stays.
    virtual bool clear_way(const std::wstring& path) = 0;
    virtual bool make_folders(const std::wstring& folder) = 0;
    // The backup folder as a plain folder: a link in its place goes first.
    virtual bool prepare_backup(const std::wstring& folder) = 0;
    virtual bool move(const std::wstring& from, const std::wstring& to, unsigned flags) = 0;
    virtual bool remove(const std::wstring& path) = 0;
    virtual bool same_size_and_version(const std::wstring& file, const FileInfo& entry) = 0;
    // Null when it holds no readable archive. `in_memory`: the download's bytes.
    virtual std::unique_ptr<update_archive> open_archive(const std::wstring& file,
                                                         std::string bytes, bool in_memory) = 0;
    // A file, or every file of a folder, on the disk; called on the run's flushing thread.
    virtual bool flush(const std::wstring& path) = 0;
    virtual bool read_file(const std::wstring& path, std::string& bytes) = 0;
    virtual bool write_file(const std::wstring& path, const std::string& bytes) = 0;
    virtual unsigned long last_error() const = 0; // of the last call that failed

    // The journal, created with its first line.
    virtual bool append_journal(const journal_record& record, bool flush) = 0;
    virtual void close_journal() = 0;
    virtual bool read_journal(journal_contents& journal) = 0;
    virtual undo_result undo(const journal_contents& journal,
                             const std::function<void(const undo_progress&)>& on_line) = 0;
    virtual bool clear_journal(const journal_contents& journal) = 0;
    // The installed version; 0 or the error.
    virtual long store_version(const std::wstring& version) = 0;
};

// What a release key adds to a run. This one checks nothing: a launcher without a key.
class release_check {
public:
    virtual ~release_check() = default;
    virtual bool checks_bytes() const { return false; }
    // The installed file, already of the listed size and version, has the signed bytes.
    virtual bool identical(size_t /*entry*/, const entry_paths& /*p*/, std::wstring& /*problem*/) {
        return true;
    }
    // The download is hashed on its way in (`ahead`: on a fetching thread).
    virtual void watch_download(size_t /*entry*/, RequestParam& /*param*/, bool /*ahead*/) {}
    virtual bool archive_matches(size_t /*entry*/, const entry_paths& /*p*/,
                                 std::wstring& /*problem*/) {
        return true;
    }
    virtual std::function<void(const std::wstring&)> unpack_observer() { return nullptr; }
    virtual std::vector<std::wstring> install_problems(size_t /*entry*/, const entry_paths& /*p*/) {
        return {};
    }
    virtual void downloads_done() {}
    // The statement as signed, kept in the program folder after a clean run; empty: none.
    virtual std::string statement_text() const { return {}; }
    // Once the version is stored: the release's sequence.
    virtual void release_installed() {}
};

struct update_settings {
    std::wstring program_folder;
    std::wstring download_path;
    std::wstring server_host;
    std::wstring launcher_file;  // the launcher's own file name
    std::wstring statement_file; // the kept statement's name in the program folder
    std::function<std::wstring(unsigned id)> text; // the string table
    std::function<void(int level, const wchar_t* function, const std::wstring& line)> log;
};

class update_run {
public:
    update_run(update_settings settings, update_folder& folder, fetch_ahead::fetch_fn fetch,
               update_observer& observer);
    ~update_run();
    update_run(const update_run&) = delete;
    update_run& operator=(const update_run&) = delete;

    std::wstring local_version = L"0.0.0.0";
    std::wstring server_version;
    std::deque<FileInfo> filelist;
    void set_check(std::unique_ptr<release_check> check);

    // Every entry's way, then the summary: the number of failures, or -1 when the run could
    // not begin (an earlier update still to undo, no backup folder).
    int install();
    // After a run without failures: everything on the disk, the statement kept, the commit
    // record, then the version. False, with nothing stored, when a file could not be flushed
    // or the commit record could not be written: the rollback (or the next start) undoes the
    // run.
    bool commit();
    // Puts back what the journal moved; the number of failures.
    int rollback();
    // The backup folder goes, unless the journal still names files in it.
    void finish();

    // Where this run keeps the files it replaces; empty when the version could name any
    // other place.
    std::wstring backup_folder() const;

private:
    struct entry_plan {
        bool safe = false;
        entry_paths p;
        int64_t size = 0;
        bool in_memory = false; // a small archive is never written to the disk
        bool is_self = false;   // the running launcher
    };
    entry_plan plan(size_t index) const;
    // What must be recorded before an entry's download starts.
    bool prepare(const entry_plan& e, bool back_up, bool archive_place);
    entry_outcome install_entry(size_t index, fetch_ahead& ahead);
    entry_outcome fetch_entry(size_t index, const entry_plan& e, fetch_ahead& ahead,
                              RequestParam& param);
    entry_outcome unpack_entry(size_t index, const entry_plan& e, RequestParam& param);
    uint32_t unpack_into_place(const entry_plan& e, update_archive& archive);
    uint32_t replace_launcher(const entry_plan& e, update_archive& archive);
    bool is_identical(size_t index, const entry_plan& e);
    void plan_downloads(size_t current, fetch_ahead& ahead);
    RequestParam archive_request(const entry_plan& e) const;
    void report_summary(const update_summary& s);
    entry_outcome failure(entry_outcome outcome, const std::wstring& log_line,
                          const std::wstring& view_line);
    void keep_statement();
    void put_old_launcher_aside();

    // The journal, each change recorded before it is made.
    std::wstring relative(const std::wstring& path) const;
    bool journal_ready();
    bool record_added(const std::wstring& path);
    bool record_absent(const std::wstring& path);
    bool record_move(const std::wstring& item, const std::wstring& backup);
    bool record_new_folders(const std::wstring& folder);
    bool back_up_entry(const entry_paths& p);

    // Unpacked files reach the disk on a thread of their own while the run goes on.
    void flush_later(const std::wstring& path);
    void wait_for_flushes_under(const std::wstring& target);
    void flush_unpacked();

    void log(int level, const std::wstring& line) const;
    const wchar_t* m_fn = L"CZekLauncherDlg::download_server_files"; // the operation's log name
    std::wstring m_prefix; // the entry's opening of its log lines

    const update_settings m_settings;
    update_folder& m_folder;
    const fetch_ahead::fetch_fn m_fetch;
    update_observer& m_observer;
    std::unique_ptr<release_check> m_check;
    bool m_journal_open = false;
    std::wstring m_old_launcher;            // the running launcher, renamed into the backup
    std::set<std::wstring> m_ready_folders; // lower case; known to exist in this step
    size_t m_next_to_plan = 0;              // the first entry the look-ahead has not looked at
    std::deque<std::pair<size_t, std::wstring>> m_flushing; // queued: number, path
    size_t m_flush_posted = 0;
    std::atomic<size_t> m_flushed{0}; // tasks the flusher has run
    std::atomic<bool> m_flush_failed{false};
    task_queue m_flusher{64}; // last: its thread ends before the rest goes
};
