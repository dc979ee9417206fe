#include "controls/wnd_shadow.h"

#include <commctrl.h>

#include <vector>

#include "util/system_library_win.h"
#include "util/unique_handle.h"
#include "util/dc_scope_win.h"

namespace {

using update_layered_fn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                        BLENDFUNCTION*, DWORD);
using composition_fn = HRESULT(WINAPI*)(BOOL*);

update_layered_fn g_update_layered = nullptr;
composition_fn g_composition = nullptr;
HINSTANCE g_instance = nullptr;
bool g_initialized = false;
const wchar_t* const k_class = L"CorvoShadowWnd";
constexpr UINT_PTR k_subclass_id = 0xF3A2;

bool composition_on() {
    BOOL on = FALSE;
    return g_composition && SUCCEEDED(g_composition(&on)) && on;
}

// The parent's window region as row runs (the whole rectangle without a region).
std::vector<row_run> parent_runs(HWND parent, int w, int h) {
    std::vector<row_run> runs(static_cast<size_t>(h), row_run{0, w});
    unique_hgdiobj region(::CreateRectRgn(0, 0, 0, 0));
    if (::GetWindowRgn(parent, static_cast<HRGN>(region.get())) == ERROR)
        return runs;
    HRGN rgn = static_cast<HRGN>(region.get());
    for (int y = 0; y < h; ++y) {
        int start = 0;
        while (start < w && !::PtInRegion(rgn, start, y))
            ++start;
        if (start >= w) {
            runs[static_cast<size_t>(y)] = {w, 0};
            continue;
        }
        int end = w - 1;
        while (end > start && !::PtInRegion(rgn, end, y))
            --end;
        runs[static_cast<size_t>(y)] = {start, end + 1};
    }
    return runs;
}

} // namespace

bool CWndShadow::Initialize(HINSTANCE instance) {
    if (g_initialized)
        return false;
    HMODULE user = ::GetModuleHandleW(L"USER32.DLL");
    g_update_layered = user ? reinterpret_cast<update_layered_fn>(reinterpret_cast<void*>(
                                  ::GetProcAddress(user, "UpdateLayeredWindow")))
                            : nullptr;
    if (!g_update_layered)
        return false;
    // Kept loaded for the life of the process.
    if (HMODULE dwm = load_system_library(L"dwmapi.dll"))
        g_composition = reinterpret_cast<composition_fn>(
            reinterpret_cast<void*>(::GetProcAddress(dwm, "DwmIsCompositionEnabled")));
    g_instance = instance;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = k_class;
    ::RegisterClassExW(&wc);
    g_initialized = true;
    return true;
}

bool CWndShadow::available() {
    return g_initialized && g_update_layered;
}

CWndShadow::~CWndShadow() {
    if (m_parent && ::IsWindow(m_parent))
        ::RemoveWindowSubclass(m_parent, &CWndShadow::parent_proc, k_subclass_id);
    if (m_hWnd && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

void CWndShadow::Create(HWND parent) {
    if (m_hWnd || !available() || !parent)
        return;
    m_parent = parent;
    m_hWnd = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT, k_class, nullptr, WS_POPUP,
                               CW_USEDEFAULT, 0, 0, 0, parent, nullptr, g_instance, nullptr);
    if (!m_hWnd)
        return;
    RECT desk;
    ::GetWindowRect(::GetDesktopWindow(), &desk);
    ::SetWindowPos(m_hWnd, nullptr, (desk.right - desk.left) / 2, (desk.bottom - desk.top) / 2, 0,
                   0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
    m_status = ss_enabled | (composition_on() ? ss_composition : 0);
    ::SetWindowSubclass(parent, &CWndShadow::parent_proc, k_subclass_id,
                        reinterpret_cast<DWORD_PTR>(this));
}

shadow_params CWndShadow::params() const {
    shadow_params p;
    p.size = m_size;
    p.sharpness = m_sharpness;
    p.darkness = m_darkness;
    p.x_offset = m_xOffset;
    p.y_offset = m_yOffset;
    p.colour = m_color;
    return p;
}

void CWndShadow::SetSize(int size) {
    m_size = static_cast<signed char>(size);
    if (m_status & ss_visible)
        Update(m_parent);
}
void CWndShadow::SetSharpness(int sharpness) {
    m_sharpness = static_cast<unsigned char>(sharpness);
    if (m_status & ss_visible)
        Update(m_parent);
}
void CWndShadow::SetDarkness(int darkness) {
    m_darkness = static_cast<unsigned char>(darkness);
    if (m_status & ss_visible)
        Update(m_parent);
}
void CWndShadow::SetPosition(int x, int y) {
    m_xOffset = static_cast<signed char>(x);
    m_yOffset = static_cast<signed char>(y);
    if (m_status & ss_visible)
        Update(m_parent);
}
void CWndShadow::SetColor(COLORREF colour) {
    m_color = colour;
    if (m_status & ss_visible)
        Update(m_parent);
}

void CWndShadow::Show(HWND parent) {
    m_status &= ss_enabled | ss_composition;
    if ((m_status & ss_enabled) && !::IsZoomed(parent) && !::IsIconic(parent)) {
        m_status |= ss_visible;
        ::ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
        Update(parent);
    } else {
        ::ShowWindow(m_hWnd, SW_HIDE);
    }
}

void CWndShadow::Update(HWND parent) {
    if (!m_hWnd || !parent || !g_update_layered)
        return;
    RECT r;
    ::GetWindowRect(parent, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const shadow_params p = params();
    const int sw = w + 2 * p.size, sh = h + 2 * p.size;
    if (sw <= 0 || sh <= 0)
        return;
    const std::vector<uint32_t> pixels = make_shadow(p, w, h, parent_runs(parent, w, h));
    if (pixels.empty())
        return;

    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = sw;
    bmi.bmiHeader.biHeight = sh; // bottom-up, as the picture is laid out
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    unique_hgdiobj bitmap(::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits)
        return;
    std::copy(pixels.begin(), pixels.end(), static_cast<uint32_t*>(bits));

    unique_memory_dc mem(::CreateCompatibleDC(nullptr));
    gdi_select_scope keep(mem, bitmap.get());
    POINT dst = {r.left + p.x_offset - p.size, r.top + p.y_offset - p.size};
    ::MoveWindow(m_hWnd, dst.x, dst.y, sw, sh, FALSE);
    POINT src = {0, 0};
    SIZE size = {sw, sh};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    g_update_layered(m_hWnd, nullptr, &dst, &size, mem.get(), &src, 0, &blend, ULW_ALPHA);
}

LRESULT CALLBACK CWndShadow::parent_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR, DWORD_PTR data) {
    return reinterpret_cast<CWndShadow*>(data)->handle(hwnd, message, wparam, lparam);
}

LRESULT CWndShadow::handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_MOVE:
        if (m_status & ss_visible) {
            RECT r;
            ::GetWindowRect(hwnd, &r);
            ::SetWindowPos(m_hWnd, nullptr, r.left + m_xOffset - m_size, r.top + m_yOffset - m_size,
                           0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
        }
        break;
    case WM_SIZE:
        if (m_status & ss_enabled) {
            if (wparam == SIZE_MAXIMIZED || wparam == SIZE_MINIMIZED) {
                ::ShowWindow(m_hWnd, SW_HIDE);
                m_status &= ~ss_visible;
            } else if (::IsWindowVisible(hwnd)) {
                m_status |= ss_parent_visible;
                const WORD w = LOWORD(lparam), h = HIWORD(lparam);
                if (!(m_status & ss_visible)) {
                    m_status |= ss_visible;
                    Update(hwnd);
                    ::ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
                } else if (w <= m_lastWidth && h <= m_lastHeight) {
                    Update(hwnd);
                } else {
                    // Growing: the parent is not yet painted at its new size.
                    m_updatePending = true;
                }
            }
            m_lastWidth = LOWORD(lparam);
            m_lastHeight = HIWORD(lparam);
        }
        break;
    case WM_PAINT:
        if (m_status & ss_enabled) {
            Update(hwnd);
            m_updatePending = false;
        }
        break;
    case WM_SHOWWINDOW:
        if (m_status & ss_enabled) {
            const LRESULT result = ::DefSubclassProc(hwnd, message, wparam, lparam);
            if (wparam) {
                m_status |= ss_visible | ss_parent_visible;
                ::ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
                Update(hwnd);
                m_updatePending = true;
                Show(hwnd);
            } else {
                ::ShowWindow(m_hWnd, SW_HIDE);
                m_status &= ~(ss_visible | ss_parent_visible);
            }
            return result;
        }
        break;
    case WM_EXITSIZEMOVE:
        if (m_status & ss_enabled)
            Update(hwnd);
        break;
    case 0x031E: // WM_DWMCOMPOSITIONCHANGED
        if (composition_on())
            m_status |= ss_composition;
        else
            m_status &= ~ss_composition;
        Show(hwnd);
        break;
    case WM_DESTROY:
        if (m_hWnd && ::IsWindow(m_hWnd))
            ::DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
        m_status = 0;
        break;
    case WM_NCDESTROY: {
        const LRESULT result = ::DefSubclassProc(hwnd, message, wparam, lparam);
        ::RemoveWindowSubclass(hwnd, &CWndShadow::parent_proc, k_subclass_id);
        m_parent = nullptr;
        return result;
    }
    default:
        break;
    }
    return ::DefSubclassProc(hwnd, message, wparam, lparam);
}
