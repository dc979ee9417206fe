#pragma once
// The imaging library (GDI+) for the controls. objidl.h comes first (in draw_util_win.h): the
// lean Windows headers leave out the property types the library's headers need.
#include "util/draw_util_win.h"

#include "controls/colour.h"

// True once the library has been started (during static initialisation of the program).
bool gdiplus_ready();

inline Gdiplus::Color argb(argb_colour c) {
    return Gdiplus::Color(static_cast<Gdiplus::ARGB>(c));
}
inline Gdiplus::Color rgb_to_color(COLORREF c) {
    return Gdiplus::Color(255, GetRValue(c), GetGValue(c), GetBValue(c));
}

// Anti-aliased drawing with high-quality interpolation, as every custom control draws.
void set_quality(Gdiplus::Graphics& g);
