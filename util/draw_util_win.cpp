#include "util/draw_util_win.h"

#include <algorithm>
#include <mutex>

#include "util/draw_geometry.h"
#include "util/system_library_win.h"
#include "util/unique_handle.h"

namespace {

using gradient_fill_fn = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

gradient_fill_fn load_gradient_fill() {
    static gradient_fill_fn fn = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        // Kept loaded for the life of the process.
        HMODULE lib = load_system_library(L"msimg32.dll");
        if (lib)
            fn = reinterpret_cast<gradient_fill_fn>(
                reinterpret_cast<void*>(::GetProcAddress(lib, "GradientFill")));
    });
    return fn;
}

TRIVERTEX vertex(int x, int y, COLORREF c) {
    TRIVERTEX v = {};
    v.x = x;
    v.y = y;
    v.Red = static_cast<COLOR16>(GetRValue(c) << 8);
    v.Green = static_cast<COLOR16>(GetGValue(c) << 8);
    v.Blue = static_cast<COLOR16>(GetBValue(c) << 8);
    v.Alpha = 0;
    return v;
}

} // namespace

bool gradient_fill(HDC dc, RECT rect, const std::vector<COLORREF>& colours, bool vertical) {
    gradient_fill_fn fill = load_gradient_fill();
    if (!fill || colours.empty())
        return false;
    std::vector<COLORREF> stops = colours;
    if (stops.size() == 1)
        stops.push_back(::GetSysColor(COLOR_BTNFACE));
    const int_rect r{rect.left, rect.top, rect.right, rect.bottom};
    const std::vector<int_rect> bands = gradient_bands(r, static_cast<int>(stops.size()), vertical);
    for (size_t i = 0; i < bands.size(); ++i) {
        TRIVERTEX v[2] = {vertex(bands[i].left, bands[i].top, stops[i]),
                          vertex(bands[i].right, bands[i].bottom, stops[i + 1])};
        GRADIENT_RECT g = {0, 1};
        fill(dc, v, 2, &g, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
    }
    return true;
}

void draw_rectangle(Gdiplus::Graphics& g, const RECT& r, uint32_t pen_colour, float width,
                    uint32_t fill) {
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    if (fill != 0x00FFFFFF) {
        Gdiplus::SolidBrush brush{Gdiplus::Color(fill)};
        g.FillRectangle(&brush, r.left, r.top, w, h);
    }
    Gdiplus::Pen pen(Gdiplus::Color(pen_colour), width);
    pen.SetAlignment(Gdiplus::PenAlignmentInset);
    if (width <= 1.0f)
        g.DrawRectangle(&pen, r.left, r.top, w - 1, h - 1);
    else
        g.DrawRectangle(&pen, r.left, r.top, w, h);
}

void draw_two_colour_frame(HDC dc, const RECT& r, COLORREF first, COLORREF second) {
    unique_hgdiobj light(::CreatePen(PS_SOLID, 1, first));
    unique_hgdiobj dark(::CreatePen(PS_SOLID, 1, second));
    {
        gdi_select_scope keep(dc, light.get());
        ::MoveToEx(dc, r.left, r.bottom - 1, nullptr);
        ::LineTo(dc, r.left, r.top);
        ::LineTo(dc, r.right, r.top);
    }
    gdi_select_scope keep(dc, dark.get());
    ::MoveToEx(dc, r.right - 1, r.top, nullptr);
    ::LineTo(dc, r.right - 1, r.bottom - 1);
    ::LineTo(dc, r.left - 1, r.bottom - 1);
}

void round_rect_path(Gdiplus::GraphicsPath& path, const Gdiplus::RectF& r, float radius,
                     float pen_width) {
    path.Reset();
    if (radius <= 0.0f) {
        path.AddRectangle(r);
        return;
    }
    const float smaller = std::max(std::min(r.Width, r.Height) - pen_width, 0.0f);
    const float d = 2.0f * std::min(radius, smaller / 2.0f);
    if (d <= 0.0f) {
        path.AddRectangle(r);
        return;
    }
    path.AddArc(r.X, r.Y, d, d, 180.0f, 90.0f);
    path.AddArc(r.X + r.Width - d, r.Y, d, d, 270.0f, 90.0f);
    path.AddArc(r.X + r.Width - d, r.Y + r.Height - d, d, d, 0.0f, 90.0f);
    path.AddArc(r.X, r.Y + r.Height - d, d, d, 90.0f, 90.0f);
    path.CloseFigure();
}

void fill_round_rect(Gdiplus::Graphics& g, const RECT& r, uint32_t fill, float radius,
                     uint32_t pen_colour, float pen_width) {
    const Gdiplus::RectF box(static_cast<float>(r.left), static_cast<float>(r.top),
                             static_cast<float>(r.right - r.left),
                             static_cast<float>(r.bottom - r.top));
    if (radius < 0.0f)
        radius = box.Height / 2.0f;
    Gdiplus::GraphicsPath path;
    round_rect_path(path, box, radius, pen_width);
    Gdiplus::SolidBrush brush{Gdiplus::Color(fill)};
    g.FillPath(&brush, &path);
    if (pen_width > 0.0f)
        draw_round_rect(g, r, pen_colour, radius, pen_width);
}

void draw_round_rect(Gdiplus::Graphics& g, const RECT& r, uint32_t pen_colour, float radius,
                     float pen_width) {
    // The outline lies inside the rectangle: half the pen in from each edge.
    const float half = pen_width / 2.0f;
    const Gdiplus::RectF box(r.left + half, r.top + half, r.right - r.left - pen_width,
                             r.bottom - r.top - pen_width);
    Gdiplus::GraphicsPath path;
    round_rect_path(path, box, radius, 0.0f);
    Gdiplus::Pen pen(Gdiplus::Color(pen_colour), pen_width);
    g.DrawPath(&pen, &path);
}

void draw_hollow_rectangle(HDC dc, const RECT& r) {
    LOGBRUSH lb = {BS_SOLID, RGB(59, 70, 92), 0};
    unique_hgdiobj pen(::ExtCreatePen(PS_GEOMETRIC | PS_SOLID, 1, &lb, 0, nullptr));
    gdi_select_scope keep_pen(dc, pen.get());
    gdi_select_scope keep_brush(dc, ::GetStockObject(NULL_BRUSH));
    const int old_rop = ::SetROP2(dc, R2_COPYPEN);
    ::Rectangle(dc, r.left, r.top, r.right, r.bottom);
    ::SetROP2(dc, old_rop);
}

SIZE icon_size(HICON icon) {
    SIZE size = {0, 0};
    ICONINFO info = {};
    if (!icon || !::GetIconInfo(icon, &info))
        return size;
    unique_hgdiobj colour(info.hbmColor);
    unique_hgdiobj mask(info.hbmMask);
    BITMAP bm = {};
    if (colour && ::GetObjectW(colour.get(), sizeof(bm), &bm)) {
        size = {bm.bmWidth, bm.bmHeight};
    } else if (mask && ::GetObjectW(mask.get(), sizeof(bm), &bm)) {
        // A monochrome icon stacks its AND and XOR masks.
        size = {bm.bmWidth, bm.bmHeight / 2};
    }
    return size;
}

SIZE draw_centred_icon(HDC dc, HICON icon, const RECT& r) {
    const SIZE size = icon_size(icon);
    if (size.cx <= 0 || size.cy <= 0)
        return size;
    const int x = r.left + (r.right - r.left - size.cx) / 2;
    const int y = r.top + (r.bottom - r.top - size.cy) / 2;
    ::DrawIconEx(dc, x, y, icon, size.cx, size.cy, 0, nullptr, DI_NORMAL);
    return size;
}
