#pragma once
#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>
#include <string>

#include "framework/framework_win.h"
#include "controls/gdi_button.h"
#include "controls/mac_progress_ctrl.h"
#include "controls/resize_ctrl.h"
#include "controls/rich_edit_ctrl_ex.h"
#include "controls/sc_static.h"
#include "engine/pipeline_logic.h"
#include "engine/release_statement.h"
#include "engine/update_journal_win.h"
#include "util/hash_worker_win.h"
#include "util/place_win.h"
#include "util/task_queue.h"
#include "util/unique_handle.h"
#include "zip/unzip.h"

struct RequestParam;
class fetch_ahead;

// Sent by the access-code dialog to the main window: wparam the code, lparam a
// std::wstring* that receives the title key.
constexpr UINT WM_GET_TITLE_KEY = 7375;

// Log-view colours of the pipeline.
constexpr COLORREF k_colour_default = static_cast<COLORREF>(-1);
constexpr COLORREF k_colour_normal = RGB(65, 105, 225);
constexpr COLORREF k_colour_failure = RGB(255, 0, 0);
constexpr COLORREF k_colour_warning = RGB(218, 165, 32);
constexpr COLORREF k_colour_skipped = RGB(128, 128, 128);

// The launcher's progress window. Its worker runs the launch pipeline and ends the dialog.
class CZekLauncherDlg : public CDialog {
public:
    CZekLauncherDlg(CWinApp* app, const std::wstring& uri_params);
    ~CZekLauncherDlg() override;

    // The pipeline, run by the worker thread.
    void thread_launcher();
    void get_local_version();
    bool get_server_version();
    bool get_server_filelist(std::wstring version);
    // Only in a launcher with a release key: the signed statement of the server's release.
    bool get_release_statement();
    int download_server_files();
    int rollback_files();
    bool parse_browser_title();
    bool run_fenwa();
    void close_on_failure();

    // Access-code look-up; runs on the dialog's own thread.
    LRESULT on_get_title_key(WPARAM code, LPARAM title_key);

    // True once the worker can no longer touch the dialog.
    bool worker_finished() const { return m_worker_finished.load(); }

    std::wstring m_params;
    std::wstring m_local_version;
    std::wstring m_server_version;
    std::deque<FileInfo> m_filelist;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override {}
    bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

private:
    void apply_colour_scheme();
    void paint();
    // Where this run keeps the files it replaces: directly inside the program folder, named
    // by the installed version. Empty when the version could name any other place.
    std::wstring backup_folder() const;
    // The backup folder as a plain folder: a link planted in its place is removed first.
    bool prepare_backup_folder();
    void delete_backup_folder();
    void put_old_launcher_aside();

    // The download step's work on one entry, each change recorded in the journal first.
    std::wstring relative(const std::wstring& path) const;
    // `path`, below the program folder, as a place that is never reached through a link.
    place placed(const std::wstring& path) const;
    bool journal_ready();
    bool record_added(const std::wstring& path);
    bool record_absent(const std::wstring& path); // known not to exist
    bool folder_ready(const std::wstring& folder) const;
    bool record_new_folders(const std::wstring& folder);
    bool back_up_entry(const entry_paths& p);
    uint32_t replace_launcher(ZipHandle zip, const entry_paths& p);
    RequestParam archive_request(const FileInfo& entry, const entry_paths& p) const;
    // Starts the downloads of the next entries that will need one (engine/fetch_ahead.h).
    void plan_downloads(size_t current, fetch_ahead& ahead);
    // Unpacked files reach the disk on a thread of their own while the run goes on.
    void flush_later(const std::wstring& path);
    void wait_for_flushes_under(const std::wstring& target);
    // Returns once everything unpacked so far is flushed.
    void flush_unpacked();
    // The steps a release key adds to one entry (launcher/signed_entry_win.cpp); each passes
    // when the run has no signed statement.
    bool signed_identical(size_t index, const entry_paths& p, const std::wstring& prefix);
    void arm_signed_download(RequestParam& param);
    // The same for an archive fetched ahead: hashed on the fetching thread as it arrives.
    void arm_early_signed_download(size_t index, RequestParam& param);
    bool signed_archive_matches(size_t index, const entry_paths& p, const std::wstring& prefix);
    std::function<void(const std::wstring&)> signed_unpack_observer();
    bool signed_install_matches(size_t index, const entry_paths& p, const std::wstring& prefix);
    void signed_failure(const std::wstring& prefix, const std::wstring& problem);
    // After a clean run, before its commit: the verified statement kept in the program folder.
    bool keep_installed_statement();
    // With a release key: the host checked against the installed release's statement and held
    // against writers (`held`) until it has been started; false, shown, when it is not that.
    bool hold_signed_host(const std::wstring& exe, unique_hfile& held);
    // Runs the access-code dialog; IDCANCEL when the user gave up.
    INT_PTR ask_for_access_code(std::wstring& title_key);

    CWinApp* m_app;
    std::wstring m_uri_params;
    HICON m_hIcon = nullptr;

    CRichEditCtrlEx m_log_view;
    CMacProgressCtrl m_progress;
    CSCStatic m_status;
    CSCStatic m_count;
    CSCStatic m_title;
    CSCStatic m_notice;
    CGdiButton m_button_close;
    CResizeCtrl m_resize;

    COLORREF m_text_colour = 0;
    COLORREF m_face_colour = 0;
    COLORREF m_grey_text_colour = 0;
    COLORREF m_title_band_colour = 0;
    COLORREF m_border_colour = 0;

    std::atomic<bool> m_worker_finished{false};
    std::unique_ptr<update_journal> m_journal;
    std::wstring m_old_launcher; // the running launcher, renamed into the backup
    task_queue m_flusher{64};    // flushes what this run unpacked, before "Version"
    std::deque<std::pair<size_t, std::wstring>> m_flushing; // queued for it: number, path
    size_t m_flush_posted = 0;
    std::atomic<size_t> m_flushed{0};       // tasks it has run
    std::set<std::wstring> m_ready_folders; // lower case; known to exist in this step
    size_t m_next_to_plan = 0;              // the first entry plan_downloads has not looked at
    std::unique_ptr<release_statement> m_statement; // verified; only with a release key
    std::vector<size_t> m_signed_index;             // file-list entry -> its signed file
    std::unique_ptr<hash_worker> m_hasher;
    struct early_digest {
        sha256_hash hash;
        uint64_t size = 0;
        bool ok = true;
    };
    // Archives fetched ahead in a signed run, by entry; touched by the fetching thread
    // only until the entry takes its download.
    std::map<size_t, std::shared_ptr<early_digest>> m_early_digests;
};
