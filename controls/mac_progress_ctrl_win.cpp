#include "controls/mac_progress_ctrl.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/framework_win.h"
#include "controls/gdiplus_win.h"
#include "util/dc_scope_win.h"

namespace {
constexpr UINT_PTR k_marquee_timer = 100;
constexpr int k_marquee_stripe_spacing = 20;

void draw_strokes(HDC dc, const unique_hgdiobj (&pens)[8],
                  const std::vector<progress_stroke>& strokes) {
    for (const progress_stroke& k : strokes) {
        gdi_select_scope keep(dc, pens[k.pen].get());
        ::MoveToEx(dc, k.x0, k.y0, nullptr);
        ::LineTo(dc, k.x1, k.y1);
    }
}

int_rect to_int_rect(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}
} // namespace

CMacProgressCtrl::CMacProgressCtrl()
    : m_trackColor(::GetSysColor(COLOR_BTNSHADOW)), m_backColor(::GetSysColor(COLOR_BTNFACE)),
      m_textColor(::GetSysColor(COLOR_BTNTEXT)), m_marqueeColors{::GetSysColor(COLOR_BTNFACE),
                                                                 RGB(64, 212, 32)} {
    // The shades follow the bar colour of construction; a later direct change of
    // m_barColor keeps them.
    make_pens();
}

void CMacProgressCtrl::make_pens() {
    m_shades = make_progress_shades(m_barColor, ::GetSysColor(COLOR_BTNSHADOW),
                                    ::GetSysColor(COLOR_3DDKSHADOW));
    const COLORREF colours[8] = {m_barColor,           m_shades.lighter[0], m_shades.lighter[1],
                                 m_shades.lighter[2],  m_shades.darker[0],  m_shades.darker[1],
                                 m_shades.dark_shadow, m_shades.shadow};
    for (int i = 0; i < 8; ++i)
        m_pens[i].reset(::CreatePen(PS_SOLID, 1, colours[i]));
}

void CMacProgressCtrl::PreSubclassWindow() {
    HWND source = GetParent();
    HFONT font =
        source ? reinterpret_cast<HFONT>(::SendMessageW(source, WM_GETFONT, 0, 0)) : nullptr;
    LOGFONTW lf = {};
    if (!font || !::GetObjectW(font, sizeof(lf), &lf))
        ::GetObjectW(::GetStockObject(SYSTEM_FONT), sizeof(lf), &lf);
    m_font.reset(::CreateFontIndirectW(&lf));
    PBRANGE range = {};
    ::SendMessageW(m_hWnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    m_lower = range.iLow;
    m_upper = range.iHigh;
}

void CMacProgressCtrl::SetRange(int lower, int upper) {
    ui_invoke(m_hWnd, [&] {
        ::SendMessageW(m_hWnd, PBM_SETRANGE32, static_cast<WPARAM>(lower), upper);
        m_lower = lower;
        m_upper = upper;
        if (m_autoHide)
            ::ShowWindow(m_hWnd, SW_SHOW);
        Invalidate();
    });
}

int CMacProgressCtrl::read_pos() const {
    return static_cast<int>(::SendMessageW(m_hWnd, PBM_GETPOS, 0, 0));
}

void CMacProgressCtrl::SetPos(int position) {
    const unsigned ticket = ++m_pos_ticket;
    ui_post(m_root, [this, position, ticket] {
        if (!m_hWnd)
            return;
        // A later position sets the bar anyway; only auto-hide looks at every one.
        if (ticket != m_pos_ticket.load() && !m_autoHide)
            return;
        ::SendMessageW(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        const int now = read_pos();
        Invalidate();
        if (m_autoHide && (now >= m_upper || now < 0))
            ::ShowWindow(m_hWnd, SW_HIDE);
    });
}

int CMacProgressCtrl::GetPos() const {
    int position = 0;
    ui_invoke(m_hWnd, [&] { position = read_pos(); });
    return position;
}

void CMacProgressCtrl::SetTrackColor(COLORREF colour) {
    ui_invoke(m_hWnd, [&] {
        m_trackColor = colour;
        if (!m_marqueeColors.empty())
            m_marqueeColors[0] = colour;
        RedrawNow();
    });
}

void CMacProgressCtrl::SetMarquee(bool on) {
    ui_invoke(m_hWnd, [&] {
        m_marquee = on;
        if (on)
            ::SetTimer(m_hWnd, k_marquee_timer, 10, nullptr);
        else
            ::KillTimer(m_hWnd, k_marquee_timer);
        Invalidate();
    });
}

LRESULT CMacProgressCtrl::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT painted = 0;
    if (paint_message(message, wparam, painted))
        return painted;
    switch (message) {
    case WM_NCPAINT: {
        // The template's border area takes the background, so that it never shows stale
        // pixels; the bar draws its own border when asked.
        RECT window;
        ::GetWindowRect(m_hWnd, &window);
        const RECT client = client_rect();
        if (window.right - window.left == client.right &&
            window.bottom - window.top == client.bottom)
            return 0;
        window_dc dc(m_hWnd, window_dc::whole_window);
        if (dc) {
            RECT all = {0, 0, window.right - window.left, window.bottom - window.top};
            unique_hgdiobj brush(::CreateSolidBrush(m_backColor));
            ::FrameRect(dc.dc(), &all, static_cast<HBRUSH>(brush.get()));
        }
        return 0;
    }
    case WM_TIMER:
        if (wparam == k_marquee_timer) {
            ::KillTimer(m_hWnd, k_marquee_timer);
            m_marqueePos = marquee_next(m_marqueePos);
            RedrawNow();
            if (m_marquee)
                ::SetTimer(m_hWnd, k_marquee_timer, 10, nullptr);
        }
        return 0;
    case WM_LBUTTONDOWN:
        if (m_seekable && !m_marquee) {
            m_dragging = true;
            ::SetCapture(m_hWnd);
            seek_to(static_cast<short>(LOWORD(lparam)));
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
        if (m_dragging) {
            seek_to(static_cast<short>(LOWORD(lparam)));
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (m_dragging) {
            m_dragging = false;
            ::ReleaseCapture();
            return 0;
        }
        break;
    default:
        break;
    }
    return Default(message, wparam, lparam);
}

void CMacProgressCtrl::seek_to(int x) {
    PBRANGE range = {};
    ::SendMessageW(m_hWnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const int position = seek_position(range.iLow, range.iHigh, x, client_rect().right);
    SetPos(position);
    if (HWND parent = GetParent())
        ::SendMessageW(parent, WM_PROGRESS_SEEK, static_cast<WPARAM>(m_notifyParam), position);
}

void CMacProgressCtrl::paint(HDC dc) {
    gdi_select_scope keep_font(dc, m_font.get());
    const RECT client = client_rect();
    RECT work = client;
    // The pill keeps its narrow strip in the shaded look too.
    if (m_style == 1) {
        int top = 0, bottom = 0;
        pill_work_strip(client.top, client.bottom, top, bottom);
        work.top = top;
        work.bottom = bottom;
    }
    const int position = read_pos();
    const bool vertical = (::GetWindowLongW(m_hWnd, GWL_STYLE) & PBS_VERTICAL) != 0;
    const int work_w = work.right - work.left;
    const int bar_right = progress_bar_extent(work_w, position, m_lower, m_upper);

    Gdiplus::Graphics g(dc);
    set_quality(g);

    // Track.
    if (m_style == 1) {
        unique_hgdiobj back(::CreateSolidBrush(m_backColor));
        ::FillRect(dc, &client, static_cast<HBRUSH>(back.get()));
    }
    if (m_shaded) {
        unique_hgdiobj brush(::CreateSolidBrush(m_shades.lighter[2]));
        ::FillRect(dc, &work, static_cast<HBRUSH>(brush.get()));
    } else if (m_style == 1) {
        const int h = work.bottom - work.top;
        const float middle = (work.top + work.bottom) / 2.0f;
        int x0 = 0, x1 = 0;
        pill_track_ends(work.left, work.right, h, x0, x1);
        Gdiplus::Pen pen(rgb_to_color(m_trackColor), static_cast<float>(h));
        pen.SetStartCap(Gdiplus::LineCapRound);
        pen.SetEndCap(Gdiplus::LineCapRound);
        g.DrawLine(&pen, static_cast<float>(x0), middle, static_cast<float>(x1), middle);
    } else {
        unique_hgdiobj track(::CreateSolidBrush(m_trackColor));
        ::FillRect(dc, &work, static_cast<HBRUSH>(track.get()));
    }

    if (m_marquee) {
        RECT block = client;
        if (vertical) {
            block.top = m_marqueeReverse ? m_marqueePos - m_marqueeWidth : m_marqueePos;
            block.bottom = block.top + m_marqueeWidth;
        } else {
            block.left = m_marqueeReverse ? m_marqueePos - m_marqueeWidth : m_marqueePos;
            block.right = block.left + m_marqueeWidth;
        }
        gradient_fill(dc, block, m_marqueeColors, vertical);
        if (vertical)
            draw_strokes(
                dc, m_pens,
                marquee_stripes(to_int_rect(block), to_int_rect(client), k_marquee_stripe_spacing));
    } else if (vertical) {
        RECT bar = work;
        bar.top =
            progress_vertical_top(work.bottom, work.bottom - work.top, position, m_lower, m_upper);
        if (bar.top < bar.bottom) {
            if (!m_shaded) {
                unique_hgdiobj brush(::CreateSolidBrush(m_barColor));
                ::FillRect(dc, &bar, static_cast<HBRUSH>(brush.get()));
            } else if (bar.right - bar.left < k_shaded_min_vertical_width) {
                // Too narrow for the shading.
                unique_hgdiobj brush(::CreateSolidBrush(m_barColor));
                gdi_select_scope keep_brush(dc, brush.get());
                gdi_select_scope keep_pen(dc, m_pens[4].get());
                ::Rectangle(dc, bar.left, bar.top, bar.right, bar.bottom);
            } else {
                unique_hgdiobj brush(::CreateSolidBrush(m_shades.lighter[2]));
                ::FillRect(dc, &bar, static_cast<HBRUSH>(brush.get()));
                draw_strokes(dc, m_pens, shaded_bar_strokes(to_int_rect(bar), true));
            }
        }
    } else if (bar_right > 0) {
        if (m_shaded) {
            RECT bar = work;
            bar.right = work.left + bar_right;
            draw_strokes(dc, m_pens, shaded_bar_strokes(to_int_rect(bar), false));
        } else if (m_style == 1) {
            const int h = work.bottom - work.top;
            const float middle = (work.top + work.bottom) / 2.0f;
            int x0 = 0, x1 = 0;
            pill_bar_ends(work.left + bar_right, h, x0, x1);
            Gdiplus::Pen pen(rgb_to_color(m_barColor), static_cast<float>(h));
            pen.SetStartCap(Gdiplus::LineCapRound);
            pen.SetEndCap(Gdiplus::LineCapRound);
            g.DrawLine(&pen, static_cast<float>(x0), middle, static_cast<float>(x1), middle);
        } else {
            RECT bar = work;
            bar.right = work.left + bar_right;
            unique_hgdiobj brush(::CreateSolidBrush(m_barColor));
            ::FillRect(dc, &bar, static_cast<HBRUSH>(brush.get()));
        }
    }

    if (m_showText)
        paint_text(dc, client, work.left + bar_right);

    if (m_border) {
        unique_hgdiobj pen(::CreatePen(PS_SOLID, 1, m_borderColor));
        gdi_select_scope keep_pen(dc, pen.get());
        gdi_select_scope keep_brush(dc, ::GetStockObject(NULL_BRUSH));
        ::Rectangle(dc, client.left, client.top, client.right, client.bottom);
    }
}

void CMacProgressCtrl::paint_text(HDC dc, const RECT& client, int bar_right) {
    const int position = read_pos();
    m_text = progress_text(position, m_lower, m_upper, m_textFraction);
    ::SetBkMode(dc, TRANSPARENT);
    const UINT flags = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    RECT r = client;
    if (m_textShadow) {
        RECT shadow = client;
        ::OffsetRect(&shadow, 1, 0);
        ::SetTextColor(dc, m_shades.mid_shadow);
        ::DrawTextW(dc, m_text.c_str(), -1, &shadow, flags);
        ::OffsetRect(&r, 0, -1);
    }
    if (!m_twoColorText) {
        ::SetTextColor(dc, m_textColor);
        ::DrawTextW(dc, m_text.c_str(), -1, &r, flags);
        return;
    }
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, client.left, client.top, bar_right, client.bottom);
    ::SetTextColor(dc, m_textColor);
    ::DrawTextW(dc, m_text.c_str(), -1, &r, flags);
    ::RestoreDC(dc, saved);
    ::IntersectClipRect(dc, bar_right, client.top, client.right, client.bottom);
    ::SetTextColor(dc, m_textColorTrack);
    ::DrawTextW(dc, m_text.c_str(), -1, &r, flags);
}
