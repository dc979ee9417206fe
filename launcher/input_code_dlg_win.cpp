#include "launcher/input_code_dlg.h"

#include <algorithm>

#include "launcher/access_code.h"
#include "launcher/launcher_dlg.h"
#include "log/sc_log.h"
#include "res/resource.h"

namespace {

constexpr int k_band_height = 32;
constexpr int k_banner_width = 380;
constexpr int k_banner_height = 72;
constexpr int k_below_banner = 212;
constexpr int k_close_size = 18;
constexpr COLORREF k_code_text = RGB(16, 88, 153);
constexpr COLORREF k_code_back = RGB(250, 235, 215);
constexpr COLORREF k_instruction_text = RGB(95, 111, 126);

// Puts back whatever the DC held when the scope began.
class select_scope {
public:
    select_scope(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(::SelectObject(dc, object)) {}
    ~select_scope() { ::SelectObject(m_dc, m_old); }
    select_scope(const select_scope&) = delete;
    select_scope& operator=(const select_scope&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

class paint_scope {
public:
    explicit paint_scope(HWND hwnd) : m_hwnd(hwnd) { m_dc = ::BeginPaint(hwnd, &m_ps); }
    ~paint_scope() { ::EndPaint(m_hwnd, &m_ps); }
    paint_scope(const paint_scope&) = delete;
    paint_scope& operator=(const paint_scope&) = delete;
    HDC dc() const { return m_dc; }

private:
    HWND m_hwnd;
    PAINTSTRUCT m_ps{};
    HDC m_dc = nullptr;
};

struct dc_traits {
    using pointer = HDC;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DeleteDC(h); }
};
using unique_hdc = unique_handle<dc_traits>;

void fill(HDC dc, const RECT& r, COLORREF colour) {
    unique_hgdiobj brush(::CreateSolidBrush(colour));
    ::FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
}

void frame(HDC dc, const RECT& r, COLORREF colour) {
    unique_hgdiobj brush(::CreateSolidBrush(colour));
    ::FrameRect(dc, &r, static_cast<HBRUSH>(brush.get()));
}

} // namespace

CInputCodeDlg::CInputCodeDlg() : CDialog(IDD_INPUT_CODE) {}

BOOL CInputCodeDlg::OnInitDialog() {
    m_back_brush.reset(::CreateSolidBrush(k_back));
    m_code_brush.reset(::CreateSolidBrush(k_code_back));

    // The window is sized to the banner picture, whatever the template's units come to.
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, k_banner_width, k_banner_height + k_below_banner,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // No caption bar shows it; it names the window for the taskbar and for tools.
    ::SetWindowTextW(m_hWnd, load_string(IDS_CODE_TITLE).c_str());

    LOGFONTW lf = {};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    {
        HDC dc = ::GetDC(m_hWnd);
        LOGFONTW label = lf;
        label.lfHeight = -::MulDiv(11, ::GetDeviceCaps(dc, LOGPIXELSY), 72);
        ::ReleaseDC(m_hWnd, dc);
        m_label_font.reset(::CreateFontIndirectW(&label));
    }

    m_instruction = GetDlgItem(IDC_STATIC_NOTICE);
    ::SendMessageW(m_instruction, WM_SETFONT, reinterpret_cast<WPARAM>(m_label_font.get()), TRUE);
    ::SetWindowTextW(m_instruction, load_string(IDS_CODE_INSTRUCTION).c_str());

    m_code = GetDlgItem(IDC_EDIT_CODE);
    // The box draws its own border, so the platform's frame goes.
    ::SetWindowLongW(m_code, GWL_STYLE, ::GetWindowLongW(m_code, GWL_STYLE) & ~WS_BORDER);
    ::SetWindowLongW(m_code, GWL_EXSTYLE,
                     ::GetWindowLongW(m_code, GWL_EXSTYLE) &
                         ~(WS_EX_CLIENTEDGE | WS_EX_STATICEDGE));
    ::SetWindowPos(m_code, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    RECT box = {};
    ::GetClientRect(m_code, &box);
    lf.lfHeight = -std::max<LONG>(1, static_cast<LONG>((box.bottom - box.top) * 0.7));
    lf.lfWeight = FW_BOLD;
    m_code_font.reset(::CreateFontIndirectW(&lf));
    ::SendMessageW(m_code, WM_SETFONT, reinterpret_cast<WPARAM>(m_code_font.get()), TRUE);
    ::SendMessageW(m_code, EM_LIMITTEXT, k_code_box_limit, 0);
    set_code_border(k_border_idle);

    m_connect = GetDlgItem(IDOK);
    ::SetWindowTextW(m_connect, load_string(IDS_CODE_CONNECT).c_str());

    ::SetWindowPos(GetDlgItem(IDC_BUTTON_CODE_CLOSE), nullptr, k_banner_width - k_close_size - 4,
                   (k_band_height - k_close_size) / 2, k_close_size, k_close_size,
                   SWP_NOZORDER | SWP_NOACTIVATE);

    m_warning = GetDlgItem(IDC_STATIC_WARNING);
    ::SendMessageW(m_warning, WM_SETFONT, reinterpret_cast<WPARAM>(m_label_font.get()), TRUE);
    ::SetWindowTextW(m_warning, load_string(IDS_CODE_WARNING).c_str());

    LOGFONTW title = {};
    title.lfHeight = 18;
    title.lfWeight = FW_BOLD;
    title.lfCharSet = DEFAULT_CHARSET;
    const std::wstring face = load_string(IDS_CODE_TITLE_FONT);
    face.copy(title.lfFaceName, LF_FACESIZE - 1);
    m_title_font.reset(::CreateFontIndirectW(&title));
    m_icon.reset(static_cast<HICON>(::LoadImageW(
        AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 20, 20, 0)));

    RECT area = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const int height = k_banner_height + k_below_banner;
    ::SetWindowPos(m_hWnd, HWND_TOPMOST, area.left + (area.right - area.left - k_banner_width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE);
    ::SetForegroundWindow(m_hWnd);
    return TRUE;
}

std::wstring CInputCodeDlg::code_text() const {
    wchar_t buffer[64] = {};
    ::GetWindowTextW(m_code, buffer, 64);
    return buffer;
}

void CInputCodeDlg::set_code_border(COLORREF colour) {
    m_own_border = true;
    m_border_colour = colour;
    RECT box = {};
    ::GetWindowRect(m_code, &box);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&box), 2);
    ::InflateRect(&box, 1, 1);
    ::RedrawWindow(m_hWnd, &box, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    ::RedrawWindow(m_code, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CInputCodeDlg::show_warning(bool show) {
    ::ShowWindow(m_warning, show ? SW_SHOW : SW_HIDE);
}

void CInputCodeDlg::on_code_changed() {
    std::wstring text = code_text();
    if (text.empty()) {
        show_warning(false);
        ::EnableWindow(m_connect, FALSE);
        set_code_border(k_border_idle);
        return;
    }
    const std::wstring shown = code_box_text(text);
    if (shown != text) {
        // A multi-line box sends no change notification for text set this way.
        ::SetWindowTextW(m_code, shown.c_str());
        const auto end = static_cast<WPARAM>(shown.size());
        ::SendMessageW(m_code, EM_SETSEL, end, static_cast<LPARAM>(end));
        ::SendMessageW(m_code, EM_SCROLLCARET, 0, 0);
        text = shown;
    }
    const bool valid = is_valid_access_code(text);
    ::EnableWindow(m_connect, valid ? TRUE : FALSE);
    show_warning(!valid);
    set_code_border(valid ? k_accent : k_warning);
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
    SCLOG(0, fn, L"title_key by access_code = %s (len = %d)\n", m_title_key.c_str(),
          static_cast<int>(m_title_key.size()));
    if (!is_accepted_title_key(m_title_key))
        m_title_key.clear();
    if (!m_title_key.empty()) {
        EndDialog(IDOK);
        return;
    }
    show_warning(true);
    set_code_border(k_warning);
    ::SetFocus(m_code);
}

void CInputCodeDlg::paint() {
    paint_scope paint(m_hWnd);
    RECT client = {};
    ::GetClientRect(m_hWnd, &client);
    // Drawn off-screen first so that nothing flickers behind the controls.
    unique_hdc mem(::CreateCompatibleDC(paint.dc()));
    unique_hgdiobj bitmap(::CreateCompatibleBitmap(paint.dc(), client.right, client.bottom));
    {
        select_scope keep_bitmap(mem.get(), bitmap.get());
        fill(mem.get(), client, k_back);
        const RECT band = {0, 0, client.right, k_band_height};
        fill(mem.get(), band, k_band);

        if (m_icon)
            ::DrawIconEx(mem.get(), 6, 6, m_icon.get(), 20, 20, 0, nullptr, DI_NORMAL);
        select_scope keep_font(mem.get(), m_title_font.get());
        ::SetBkMode(mem.get(), TRANSPARENT);
        ::SetTextColor(mem.get(), RGB(255, 255, 255));
        RECT title = {28, 0, client.right, k_band_height};
        const std::wstring text = L" " + load_string(IDS_CODE_TITLE);
        ::DrawTextW(mem.get(), text.c_str(), -1, &title, DT_SINGLELINE | DT_VCENTER | DT_LEFT);

        if (m_own_border) {
            RECT box = {};
            ::GetWindowRect(m_code, &box);
            ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&box), 2);
            ::InflateRect(&box, 1, 1);
            frame(mem.get(), box, m_border_colour);
        }
        frame(mem.get(), client, k_band);
        ::BitBlt(paint.dc(), 0, 0, client.right, client.bottom, mem.get(), 0, 0, SRCCOPY);
    }
}

bool CInputCodeDlg::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) {
    switch (message) {
    case WM_PAINT:
        paint();
        result = 0;
        return true;
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_CTLCOLORDLG:
        result = reinterpret_cast<INT_PTR>(m_back_brush.get());
        return true;
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wparam);
        const HWND control = reinterpret_cast<HWND>(lparam);
        ::SetTextColor(dc, control == m_warning ? k_warning : k_instruction_text);
        ::SetBkColor(dc, k_back);
        result = reinterpret_cast<INT_PTR>(m_back_brush.get());
        return true;
    }
    case WM_CTLCOLOREDIT: {
        HDC dc = reinterpret_cast<HDC>(wparam);
        ::SetTextColor(dc, k_code_text);
        ::SetBkColor(dc, k_code_back);
        result = reinterpret_cast<INT_PTR>(m_code_brush.get());
        return true;
    }
    case WM_LBUTTONDOWN:
        // The band stands in for the missing caption bar.
        if (static_cast<short>(HIWORD(lparam)) < k_band_height) {
            ::ReleaseCapture();
            ::SendMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
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
