#include "launcher/launcher_dlg.h"

#include <richedit.h>

#include <algorithm>
#include <thread>

#include "product/product_config.h"
#include "controls/colour.h"
#include "controls/memory_dc_win.h"
#include "framework/window_placement_win.h"
#include "launcher/about_dlg.h"
#include "engine/release_check_win.h"
#include "net/request_url.h"
#include "log/sc_log.h"
#include "res/resource.h"
#include "util/draw_util_win.h"
#include "util/file_util_win.h"
#include "util/registry_util_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"
#include "util/window_util_win.h"
#include "util/dc_scope_win.h"

namespace {

const wchar_t* const k_fn_thread = L"CZekLauncherDlg::thread_launcher";

// Height of the title band, which drags the window and maximises it on a double click.
constexpr int k_title_band = 32;

update_settings run_settings() {
    update_settings s;
    s.program_folder = g_product.program_folder();
    s.download_path = g_product.download_path();
    s.server_host = g_product.server_host();
    s.launcher_file = g_product.program_name() + L".exe";
    s.statement_file = k_installed_statement_name;
    s.text = [](unsigned id) { return load_string(id); };
    s.log = [](int level, const wchar_t* function, const std::wstring& line) {
        SCLOG(level, function, L"%s", line.c_str());
    };
    return s;
}

COLORREF colour_of(view_colour colour) {
    switch (colour) {
    case view_colour::normal:
        return k_colour_normal;
    case view_colour::failure:
        return k_colour_failure;
    case view_colour::warning:
        return k_colour_warning;
    case view_colour::skipped:
        return k_colour_skipped;
    case view_colour::quiet:
        return RGB(160, 82, 45);
    case view_colour::plain:
        break;
    }
    return k_colour_default;
}

} // namespace

CZekLauncherDlg::CZekLauncherDlg(CWinApp* app, const std::wstring& uri_params)
    : CDialog(IDD_FENWALAUNCHER_DIALOG), m_app(app), m_uri_params(uri_params),
      m_folder(g_product.program_folder(), g_product.registry_key()),
      m_run(run_settings(), m_folder, request_url, *this) {
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CZekLauncherDlg::~CZekLauncherDlg() = default;

BOOL CZekLauncherDlg::OnInitDialog() {
    if (m_app)
        m_app->m_hMainWnd = m_hWnd;

    const std::wstring about = load_string(IDS_ABOUTBOX);
    if (HMENU menu = ::GetSystemMenu(m_hWnd, FALSE); menu && !about.empty()) {
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    m_log_view.SubclassDlgItem(IDC_RICHEDIT_LOG, m_hWnd);
    m_progress.SubclassDlgItem(IDC_PROGRESS, m_hWnd);
    m_status.SubclassDlgItem(IDC_STATIC_STATUS, m_hWnd);
    m_count.SubclassDlgItem(IDC_STATIC_COUNT, m_hWnd);
    m_title.SubclassDlgItem(IDC_STATIC_TITLE, m_hWnd);
    m_notice.SubclassDlgItem(IDC_STATIC_NOTICE, m_hWnd);
    m_button_close.SubclassDlgItem(IDC_BUTTON_CLOSE, m_hWnd);

    m_resize.Create(m_hWnd);
    m_resize.Add(IDC_STATIC_TITLE, 0, 0, 100, 0);
    m_resize.Add(IDC_BUTTON_CLOSE, 100, 0, 0, 0);
    m_resize.Add(IDC_PROGRESS, 0, 100, 100, 0);
    m_resize.Add(IDC_STATIC_STATUS, 0, 100, 100, 0);
    m_resize.Add(IDC_STATIC_COUNT, 100, 100, 0, 0);
    // The log view is never shown, yet collects every line of the run.
    ::ShowWindow(m_log_view.GetSafeHwnd(), SW_HIDE);
    m_resize.Add(IDC_STATIC_NOTICE, 0, 0, 100, 100);

    m_notice.m_textColor = ToArgb(RGB(128, 128, 128));
    m_notice.m_logFont.lfWeight = FW_BOLD;
    m_notice.RecreateFont();
    m_notice.SetFontSize(10);
    m_notice.SetText(load_string(IDS_NOTICE), CSCStatic::keep_colour);

    // No caption bar and no frame; the system menu and the minimise and maximise commands
    // stay reachable from the taskbar.
    ::SetWindowLongW(m_hWnd, GWL_STYLE,
                     WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);

    m_log_view.m_showTime = false;
    m_log_view.m_useContextMenu = false;
    m_log_view.SetFontSize(9);
    m_log_view.SetLineSpacingAll(1);

    m_title.SetFontSize(9);
    m_title.SetText(format_text(L" %s (ver. %s)", g_product.program_name().c_str(),
                                get_file_version_string(L"", L"FileVersion").c_str()),
                    CSCStatic::keep_colour);
    if (m_title.GetSafeHwnd())
        m_title.SetIcon(
            static_cast<HICON>(::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                            IMAGE_ICON, 16, 16, LR_SHARED)));
    m_status.SetFontSize(9);
    m_count.SetFontSize(9);

    m_button_close.AddImage(L"PNG", IDB_PNG_CLOSE);
    ::SetWindowTextW(m_button_close.GetSafeHwnd(), L"");

    m_progress.m_style = 1;
    m_progress.Invalidate();
    m_progress.m_border = false;
    m_progress.m_borderColor = RGB(188, 188, 188);
    m_progress.RedrawNow();
    m_progress.m_barColor = RGB(65, 105, 225);

    ::SetCurrentDirectoryW(g_product.program_folder().c_str());
    apply_colour_scheme();

    ::MoveWindow(m_hWnd, 0, 0, 320, 140, TRUE);
    RECT area = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    ::SetWindowPos(m_hWnd, nullptr, area.left + (area.right - area.left - 320) / 2,
                   area.top + (area.bottom - area.top - 140) / 2, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    ::ShowWindow(m_hWnd, SW_SHOW);

    std::thread([this] {
        thread_launcher();
        m_worker_finished = true;
    }).detach();
    return TRUE;
}

void CZekLauncherDlg::apply_colour_scheme() {
    m_text_colour = ::GetSysColor(COLOR_BTNTEXT);
    m_face_colour = ::GetSysColor(COLOR_BTNFACE);
    m_grey_text_colour = ::GetSysColor(COLOR_GRAYTEXT);
    m_title_band_colour = AdjustRgb(m_face_colour, -32);
    m_border_colour = ::GetSysColor(COLOR_ACTIVEBORDER);

    const argb_colour band = ToArgb(m_title_band_colour);
    m_button_close.SetBackColors(band, AdjustColor(band, 16), AdjustColor(band, -16),
                                 GreyColor(band));
    m_log_view.m_textColor = m_text_colour;
    m_log_view.SetBackColor(m_face_colour);
    m_title.m_textColor = ToArgb(m_text_colour);
    m_title.m_backColor = band;
    m_title.Invalidate();
    m_status.m_textColor = ToArgb(m_grey_text_colour);
    m_status.m_backColor = ToArgb(m_face_colour);
    m_status.Invalidate();
    m_count.m_textColor = ToArgb(m_grey_text_colour);
    m_count.m_backColor = ToArgb(m_face_colour);
    m_count.Invalidate();
    m_notice.m_backColor = ToArgb(m_face_colour);
    m_notice.Invalidate();
    m_progress.m_backColor = m_face_colour;
    m_progress.Invalidate();
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CZekLauncherDlg::paint() {
    paint_scope scope(m_hWnd);
    HDC dc = scope.dc();
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    if (::IsIconic(m_hWnd)) {
        ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
        ::DrawIcon(dc, x, y, m_hIcon);
    } else {
        CMemoryDC mem(dc, &client);
        unique_hgdiobj face(::CreateSolidBrush(m_face_colour));
        unique_hgdiobj band_brush(::CreateSolidBrush(m_title_band_colour));
        unique_hgdiobj border(::CreateSolidBrush(m_border_colour));
        ::FillRect(mem, &client, static_cast<HBRUSH>(face.get()));
        RECT band = {client.left, client.top, client.right, client.top + k_title_band};
        ::FillRect(mem, &band, static_cast<HBRUSH>(band_brush.get()));
        ::FrameRect(mem, &client, static_cast<HBRUSH>(border.get()));
    }
}

bool CZekLauncherDlg::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) {
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == IDM_ABOUTBOX) {
            CAboutDlg about(m_hWnd);
            about.DoModal();
            result = 0;
            return true;
        }
        return false;
    case WM_PAINT:
        paint();
        result = 0;
        return true;
    case WM_ERASEBKGND:
        result = 0;
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<INT_PTR>(m_hIcon);
        return true;
    case WM_LBUTTONDOWN:
        if (!::IsZoomed(m_hWnd) && static_cast<short>(HIWORD(lparam)) < k_title_band)
            ::SendMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, lparam);
        return false;
    case WM_LBUTTONDBLCLK:
        if (static_cast<short>(HIWORD(lparam)) < k_title_band)
            ::ShowWindow(m_hWnd, ::IsZoomed(m_hWnd) ? SW_RESTORE : SW_MAXIMIZE);
        return false;
    case WM_WINDOWPOSCHANGED:
        // The default handling first (it sends the size and move messages), then the record.
        ::DefWindowProcW(m_hWnd, message, wparam, lparam);
        save_window_placement(m_hWnd, L"");
        result = 0;
        return true;
    case WM_GETMINMAXINFO:
        adjust_min_max_info(*reinterpret_cast<MINMAXINFO*>(lparam));
        return false;
    case WM_SIZE:
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
        return false;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDC_BUTTON_CLOSE) {
            EndDialog(IDCANCEL);
            result = TRUE;
            return true;
        }
        break;
    case WM_GET_TITLE_KEY:
        result = on_get_title_key(wparam, lparam);
        return true;
    default:
        break;
    }
    return CDialog::OnMessage(message, wparam, lparam, result);
}

void CZekLauncherDlg::on_window_thread(std::function<void()> show) {
    ui_post(m_hWnd, std::move(show));
}

void CZekLauncherDlg::show_line(COLORREF colour, const std::wstring& text, bool ends_line) {
    on_window_thread([this, colour, text, ends_line] {
        if (ends_line)
            m_log_view.AddLine(colour, L"%s", text.c_str());
        else
            m_log_view.AppendText(colour, text);
    });
}

void CZekLauncherDlg::show_status(const std::wstring& text) {
    on_window_thread([this, text] { m_status.SetText(text); });
}

void CZekLauncherDlg::show_bar_colour(COLORREF colour) {
    on_window_thread([this, colour] { m_progress.SetTrackColor(colour); });
}

void CZekLauncherDlg::entry_started(size_t index, size_t total, const std::wstring& name,
                                    const std::wstring& prefix) {
    on_window_thread([this, index, total, name, prefix] {
        m_progress.SetPos(static_cast<int>(index) + 1);
        m_count.SetTextF(L"%d / %d", static_cast<int>(index) + 1, static_cast<int>(total));
        m_status.SetText(name);
        m_log_view.AppendText(k_colour_default, prefix);
    });
}

void CZekLauncherDlg::line(view_colour colour, const std::wstring& text, bool ends_line) {
    show_line(colour_of(colour), text, ends_line);
}

void CZekLauncherDlg::summary(const update_summary&) {
    show_status(load_string(IDS_JOB_COMPLETED));
}

void CZekLauncherDlg::restoring(int index, int list_size, const std::wstring& shown) {
    on_window_thread([this, index, list_size, shown] {
        m_progress.SetPos(index);
        m_count.SetTextF(L"%d / %d", index + 1, list_size);
        m_status.SetText(L"rollback : " + shown);
    });
    ::Sleep(50); // long enough to be seen
}

void CZekLauncherDlg::restored(int list_size) {
    on_window_thread([this, list_size] {
        m_status.SetText(load_string(IDS_ROLLBACK_COMPLETED));
        m_count.SetTextF(L"0 / %d", list_size);
    });
}

void CZekLauncherDlg::close_on_failure() {
    m_run.finish();
    show_bar_colour(RGB(255, 64, 0));
    wait_with_messages(1500);
    EndDialog(IDCANCEL);
}

void CZekLauncherDlg::thread_launcher() {
    ::Sleep(500);

    show_status(load_string(IDS_STATUS_LOCAL_VERSION));
    get_local_version();

    show_status(load_string(IDS_STATUS_SERVER_VERSION));
    if (!get_server_version()) {
        show_status(load_string(IDS_SERVER_VERSION_FAIL));
        close_on_failure();
        return;
    }

    show_status(load_string(IDS_STATUS_FILELIST));
    if (!get_server_filelist(m_run.server_version) ||
        (has_release_key() && !get_release_statement())) {
        show_status(load_string(IDS_FILELIST_FAIL));
        close_on_failure();
        return;
    }

    show_status(load_string(IDS_STATUS_DOWNLOAD));
    // A run whose commit record could not be written is undone like a failed one.
    const bool installed = download_server_files() == 0 && m_run.commit();

    std::wstring closing;
    if (installed) {
        closing = load_string(IDS_ALL_UP_TO_DATE);
        show_status(load_string(IDS_STATUS_REMOTE_INFO));
        if (!parse_browser_title()) {
            close_on_failure();
            return;
        }
        show_status(load_string(IDS_STATUS_RUN));
    } else {
        show_bar_colour(RGB(255, 0, 0));
        show_line(k_colour_warning, load_string(IDS_ROLLBACK_NOTICE));
        rollback_files();
        closing = load_string(IDS_RESTORED);
        ::Sleep(500);
    }

    m_run.finish();
    SCLOG(0, k_fn_thread, L"%s", closing.c_str());
    show_line(k_colour_normal, closing);
    run_fenwa();
    EndDialog(IDCANCEL);
}
