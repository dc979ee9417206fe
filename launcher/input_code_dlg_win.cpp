#include "launcher/input_code_dlg.h"

#include <memory>

#include "controls/colour_win.h"
#include "controls/memory_dc_win.h"
#include "util/dc_scope_win.h"
#include "launcher/access_code.h"
#include "launcher/launcher_dlg.h"
#include "log/sc_log.h"
#include "util/text_util.h"
#include "res/resource.h"
#include "util/draw_util_win.h"

namespace {

// The background picture's designed size, should the resource ever be missing.
constexpr int k_picture_width = 380;
constexpr int k_picture_height = 72;
constexpr COLORREF k_instruction_text = RGB(95, 111, 126);
constexpr COLORREF k_code_text = RGB(16, 88, 153);
constexpr COLORREF k_code_back = RGB(250, 235, 215);
const argb_colour k_white = make_argb(255, 255, 255, 255);

} // namespace

CInputCodeDlg::CInputCodeDlg() : CDialog(IDD_INPUT_CODE) {}

BOOL CInputCodeDlg::OnInitDialog() {
    ApplyTheme(m_theme, 9, m_hWnd);
    const argb_colour back = m_theme.cr_back;
    const argb_colour accent = m_theme.cr_accent;

    // The window takes the picture's width; the controls below it keep their places.
    m_back.LoadFromResource(L"PNG", IDB_PNG_CODE_BANNER);
    const int width = m_back.valid() ? m_back.m_width : k_picture_width;
    const int height = (m_back.valid() ? m_back.m_height : k_picture_height) + k_below_picture;
    ::MoveWindow(m_hWnd, 0, 0, width, height, TRUE);
    // No caption bar shows it; it names the window for the taskbar and for tools.
    ::SetWindowTextW(m_hWnd, load_string(IDS_CODE_TITLE).c_str());

    m_static_notice.SubclassDlgItem(IDC_STATIC_NOTICE, m_hWnd);
    m_static_notice.m_textColor = ToArgb(k_instruction_text);
    m_static_notice.m_backColor = back;
    m_static_notice.SetFontSize(11);
    m_static_notice.SetText(load_string(IDS_CODE_INSTRUCTION));

    m_edit_code.SubclassDlgItem(IDC_EDIT_CODE, m_hWnd);
    m_edit_code.SetTextColor(ToArgb(k_code_text));
    m_edit_code.SetBackColor(ToArgb(k_code_back));
    m_edit_code.SetAutoFontSize(true, 0.7);
    m_edit_code.SetFontWeight(FW_BOLD);
    m_edit_code.SetPlaceholder(load_string(IDS_CODE_PLACEHOLDER), k_keep_colour);
    ::SendMessageW(m_edit_code.GetSafeHwnd(), EM_LIMITTEXT, k_code_box_limit, 0);
    m_edit_code.m_ownBorder = true;
    m_edit_code.m_borderWidth = 1;
    m_edit_code.m_borderColor = ToArgb(k_border_idle);
    m_edit_code.RedrawNow();

    m_button_ok.SubclassDlgItem(IDOK, m_hWnd);
    m_button_ok.SetTextColor(m_theme.cr_title);
    m_button_ok.SetBackColors(accent, AdjustColor(accent, 16), AdjustColor(accent, -16),
                              GreyColor(accent));
    m_button_ok.SetFont11pt();
    m_button_ok.SetRound(k_white, k_white);
    ::SetWindowTextW(m_button_ok.GetSafeHwnd(), load_string(IDS_CODE_CONNECT).c_str());

    m_button_close.SubclassDlgItem(IDC_BUTTON_CODE_CLOSE, m_hWnd);
    m_button_close.AddImage(L"PNG", IDB_PNG_CLOSE);
    const argb_colour band = ToArgb(k_band);
    m_button_close.SetBackColors(band, band, band, GreyColor(band));
    const SIZE close = m_button_close.GetImageSize();
    ::SetWindowPos(m_button_close.GetSafeHwnd(), nullptr, width - close.cx - 4,
                   (k_band_height - close.cy) / 2, close.cx, close.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);

    m_static_warning.SubclassDlgItem(IDC_STATIC_WARNING, m_hWnd);
    m_static_warning.m_images.clear();
    auto sign = std::make_unique<CSCGdiplusBitmap>();
    if (sign->LoadFromResource(L"PNG", IDB_PNG_WARNING))
        m_static_warning.m_images.push_back(std::move(sign));
    m_static_warning.SetFontSize(11);
    m_static_warning.m_textColor = ToArgb(k_warning);
    m_static_warning.m_backColor = back;
    m_static_warning.SetText(load_string(IDS_CODE_WARNING));

    RECT area = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    ::SetWindowPos(m_hWnd, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0,
                   SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    // The main window has just hidden itself; the user types here at once.
    ::SetForegroundWindow(m_hWnd);

    CWndShadow::Initialize(AfxGetResourceHandle());
    m_shadow.Create(m_hWnd);
    m_shadow.SetSize(10);
    m_shadow.SetSharpness(19);
    m_shadow.SetDarkness(192);
    m_shadow.SetPosition(0, 0);
    return TRUE;
}

std::wstring CInputCodeDlg::code_text() const {
    wchar_t buffer[64] = {};
    ::GetWindowTextW(m_edit_code.GetSafeHwnd(), buffer, 64);
    return buffer;
}

void CInputCodeDlg::set_code_border(argb_colour colour) {
    m_edit_code.m_ownBorder = true;
    m_edit_code.m_borderColor = colour;
    m_edit_code.RedrawNow();
}

void CInputCodeDlg::show_warning(bool show) {
    ::ShowWindow(m_static_warning.GetSafeHwnd(), show ? SW_SHOW : SW_HIDE);
}

void CInputCodeDlg::on_code_changed() {
    HWND connect = m_button_ok.GetSafeHwnd();
    std::wstring text = code_text();
    if (text.empty()) {
        show_warning(false);
        ::EnableWindow(connect, FALSE);
        set_code_border(ToArgb(k_border_idle));
        return;
    }
    const std::wstring shown = code_box_text(text);
    if (shown != text) {
        // A multi-line box sends no change notification for text set this way.
        HWND box = m_edit_code.GetSafeHwnd();
        ::SetWindowTextW(box, shown.c_str());
        const auto end = static_cast<WPARAM>(shown.size());
        ::SendMessageW(box, EM_SETSEL, end, static_cast<LPARAM>(end));
        ::SendMessageW(box, EM_SCROLLCARET, 0, 0);
        text = shown;
    }
    const bool valid = is_valid_access_code(text);
    ::EnableWindow(connect, valid ? TRUE : FALSE);
    show_warning(!valid);
    set_code_border(valid ? m_theme.cr_accent : ToArgb(k_warning));
}

void CInputCodeDlg::OnBnClickedOk() {
    const wchar_t* fn = L"CInputCodeDlg::OnBnClickedOk";
    const std::wstring text = code_text();
    const int32_t code = access_code_number(text);
    // The number stops at the first non-digit: "12a" must not ask for code 12.
    if (code <= 0 || !is_valid_access_code(text)) {
        show_warning(true);
        return;
    }
    SCLOG(0, fn, L"user input access code = %d", code);
    CWinApp* app = CWinApp::current();
    HWND main = app ? app->m_hMainWnd : nullptr;
    if (main && ::IsWindow(main))
        ::SendMessageW(main, WM_GET_TITLE_KEY, static_cast<WPARAM>(code),
                       reinterpret_cast<LPARAM>(&m_title_key));
    SCLOG(0, fn, L"title_key by access_code = %s (len = %d)\n", printable_text(m_title_key).c_str(),
          static_cast<int>(m_title_key.size()));
    if (!is_accepted_title_key(m_title_key))
        m_title_key.clear();
    if (!m_title_key.empty()) {
        EndDialog(IDOK);
        return;
    }
    show_warning(true);
    set_code_border(m_static_warning.m_textColor);
    ::SetFocus(m_edit_code.GetSafeHwnd());
}

void CInputCodeDlg::paint() {
    paint_scope paint(m_hWnd);
    RECT client = {};
    ::GetClientRect(m_hWnd, &client);
    CMemoryDC mem(paint.dc(), &client);
    unique_hgdiobj white(::CreateSolidBrush(RGB(255, 255, 255)));
    ::FillRect(mem, &client, static_cast<HBRUSH>(white.get()));
    const RECT band = {client.left, client.top, client.right, client.top + k_band_height};
    unique_hgdiobj band_brush(::CreateSolidBrush(k_band));
    ::FillRect(mem, &band, static_cast<HBRUSH>(band_brush.get()));
    if (m_back.valid()) {
        Gdiplus::Graphics g(mem);
        m_back.DrawAt(g, 0, k_band_height);
    }

    if (!m_title_font) {
        LOGFONTW title = {};
        title.lfHeight = 18; // the character cell, not the em
        title.lfWeight = FW_BOLD;
        title.lfCharSet = DEFAULT_CHARSET;
        lstrcpynW(title.lfFaceName, load_string(IDS_CODE_TITLE_FONT).c_str(), LF_FACESIZE);
        m_title_font.reset(::CreateFontIndirectW(&title));
    }
    if (!m_icon)
        m_icon.reset(static_cast<HICON>(::LoadImageW(
            AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 20, 20, 0)));
    if (m_icon)
        ::DrawIconEx(mem, 6, 6, m_icon.get(), 20, 20, 0, nullptr, DI_NORMAL);
    {
        gdi_select_scope keep_font(mem, m_title_font.get());
        ::SetBkMode(mem, TRANSPARENT);
        ::SetTextColor(mem, RGB(255, 255, 255));
        RECT title = {28, 0, client.right, k_band_height};
        const std::wstring text = L" " + load_string(IDS_CODE_TITLE);
        ::DrawTextW(mem, text.c_str(), -1, &title,
                    DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
    }
    draw_hollow_rectangle(mem, client);
}

bool CInputCodeDlg::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) {
    switch (message) {
    case WM_PAINT:
        paint();
        result = 0;
        return true;
    case WM_ERASEBKGND:
        // Painting covers the whole client area.
        result = 1;
        return true;
    case WM_LBUTTONDOWN:
        // The band stands in for the missing caption bar.
        if (static_cast<short>(HIWORD(lparam)) < k_band_height) {
            POINT pt = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
            ::ClientToScreen(m_hWnd, &pt);
            ::ReleaseCapture();
            ::SendMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(pt.x, pt.y));
            result = 0;
            return true;
        }
        return false;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDC_EDIT_CODE && HIWORD(wparam) == EN_CHANGE) {
            on_code_changed();
            result = 0;
            return true;
        }
        if (LOWORD(wparam) == IDC_BUTTON_CODE_CLOSE && HIWORD(wparam) == BN_CLICKED) {
            EndDialog(IDCANCEL);
            result = 0;
            return true;
        }
        break;
    default:
        break;
    }
    return CDialog::OnMessage(message, wparam, lparam, result);
}
