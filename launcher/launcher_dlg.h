#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "framework/framework_win.h"
#include "controls/gdi_button.h"
#include "controls/mac_progress_ctrl.h"
#include "controls/resize_ctrl.h"
#include "controls/rich_edit_ctrl_ex.h"
#include "controls/sc_static.h"
#include "engine/update_folder_win.h"
#include "engine/update_run.h"
#include "util/unique_handle.h"

// Sent by the access-code dialog to the main window: wparam the code, lparam a
// std::wstring* that receives the title key.
constexpr UINT WM_GET_TITLE_KEY = 7375;

// Log-view colours of the pipeline.
constexpr COLORREF k_colour_default = static_cast<COLORREF>(-1);
constexpr COLORREF k_colour_normal = RGB(65, 105, 225);
constexpr COLORREF k_colour_failure = RGB(255, 0, 0);
constexpr COLORREF k_colour_warning = RGB(218, 165, 32);
constexpr COLORREF k_colour_skipped = RGB(128, 128, 128);

// The launcher's progress window. Its worker runs the launch pipeline over one update run
// (engine/update_run.h) and ends the dialog; whatever the worker shows is handed to the
// window's own thread, one call per report.
class CZekLauncherDlg : public CDialog, private update_observer {
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

protected:
    BOOL OnInitDialog() override;
    void OnOK() override {}
    bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

private:
    void apply_colour_scheme();
    void paint();

    // What the update run reports.
    void entry_started(size_t index, size_t total, const std::wstring& name,
                       const std::wstring& prefix) override;
    void line(view_colour colour, const std::wstring& text, bool ends_line) override;
    void entry_done(size_t, entry_outcome) override {}
    void summary(const update_summary& summary) override;
    void restoring(int index, int list_size, const std::wstring& shown) override;
    void restored(int list_size) override;

    // The rest of what the worker shows, each handed to the window's thread.
    void on_window_thread(std::function<void()> show);
    void show_line(COLORREF colour, const std::wstring& text, bool ends_line = true);
    void show_status(const std::wstring& text);
    void show_bar_colour(COLORREF colour);

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
    program_folder_win m_folder;
    update_run m_run; // the run's state: versions, file list, journal, look-ahead, check
};
