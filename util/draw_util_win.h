#pragma once
// Drawing steps the dialogs and controls share: gradients, rectangles with a pen, frames,
// rounded paths, the hollow frame and a centred icon. Colours for GDI+ are ARGB.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <vector>

#include "util/dc_scope_win.h"

// Multi-stop gradient (RGB stops) through msimg32's GradientFill, loaded once; one colour
// gets the button face as its second stop. False when nothing could be drawn.
bool gradient_fill(HDC dc, RECT rect, const std::vector<COLORREF>& colours, bool vertical);

// GDI+ rectangle: inset pen of `width`, filled first unless `fill` is 0x00FFFFFF.
void draw_rectangle(Gdiplus::Graphics& g, const RECT& r, uint32_t pen_colour, float width,
                    uint32_t fill);

// Left and top edges in `first`, right and bottom (at right - 1, bottom - 1) in `second`.
void draw_two_colour_frame(HDC dc, const RECT& r, COLORREF first, COLORREF second);

// Rounded-rectangle path (radius <= 0: a plain rectangle).
void round_rect_path(Gdiplus::GraphicsPath& path, const Gdiplus::RectF& r, float radius,
                     float pen_width = 0.0f);
// Filled rounded rectangle; a negative radius is half the height (a pill). The outline is
// drawn only for a pen width above 0.
void fill_round_rect(Gdiplus::Graphics& g, const RECT& r, uint32_t fill, float radius,
                     uint32_t pen_colour = 0, float pen_width = 0.0f);
void draw_round_rect(Gdiplus::Graphics& g, const RECT& r, uint32_t pen_colour, float radius,
                     float pen_width);

// One-pixel frame in RGB(59, 70, 92), not filled.
void draw_hollow_rectangle(HDC dc, const RECT& r);

// Draws the icon at its own size centred in `r`; returns that size.
SIZE draw_centred_icon(HDC dc, HICON icon, const RECT& r);
SIZE icon_size(HICON icon);
