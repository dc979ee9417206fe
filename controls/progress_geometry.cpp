#include "controls/progress_geometry.h"

#include <algorithm>
#include <cstdio>

progress_shades make_progress_shades(rgb_colour bar, rgb_colour shadow, rgb_colour dark_shadow) {
    progress_shades s;
    rgb_colour c = bar;
    for (rgb_colour& light : s.lighter) {
        c = AdjustRgb(c, 51);
        light = c;
    }
    c = bar;
    for (rgb_colour& dark : s.darker) {
        c = AdjustRgb(c, -51);
        dark = c;
    }
    s.dark_shadow = dark_shadow;
    auto mid = [](int a, int b) { return a + (b - a) / 2; };
    s.mid_shadow = make_rgb(mid(rgb_red(shadow), rgb_red(dark_shadow)),
                            mid(rgb_green(shadow), rgb_green(dark_shadow)),
                            mid(rgb_blue(shadow), rgb_blue(dark_shadow)));
    s.shadow = shadow;
    return s;
}

void pill_work_strip(int top, int bottom, int& work_top, int& work_bottom) {
    work_top = (top + bottom) / 2 - 4;
    work_bottom = (work_top + bottom) / 2 + 4;
}

int progress_bar_extent(int width, int position, int lower, int upper) {
    // An empty range would divide by zero: it draws no bar.
    if (upper == lower || width <= 0)
        return 0;
    const double extent = static_cast<double>(width) * (static_cast<double>(position) - lower) /
                          (static_cast<double>(upper) - lower);
    if (!(extent > 0))
        return 0;
    return extent >= width ? width : static_cast<int>(extent);
}

void pill_track_ends(int left, int right, int h, int& x0, int& x1) {
    x0 = left + h / 2;
    x1 = right - h / 2 - 1;
}

void pill_bar_ends(int bar_right, int h, int& x0, int& x1) {
    x0 = h / 2;
    x1 = std::max(bar_right - h / 2, 0);
}

int progress_vertical_top(int bottom, int height, int position, int lower, int upper) {
    if (upper == lower)
        return bottom;
    const long long filled = static_cast<long long>(position - lower) * height / (upper - lower);
    return bottom - static_cast<int>(std::clamp<long long>(filled, 0, height));
}

std::wstring progress_text(int position, int lower, int upper, bool fraction) {
    char buffer[64];
    if (fraction)
        std::snprintf(buffer, sizeof(buffer), "%ld / %ld", static_cast<long>(position),
                      static_cast<long>(upper) - lower);
    else if (upper == lower)
        std::snprintf(buffer, sizeof(buffer), "0.0 %%");
    else
        std::snprintf(buffer, sizeof(buffer), "%.1f %%",
                      static_cast<double>(position) / (static_cast<double>(upper) - lower) * 100.0);
    return std::wstring(buffer, buffer + std::char_traits<char>::length(buffer));
}

int marquee_next(int position) {
    const int next = position + 1;
    return next > 301 ? 0 : next;
}

int seek_position(int lower, int upper, int x, int width) {
    if (width <= 0)
        return lower;
    return static_cast<int>(lower + (static_cast<double>(upper) - lower) * x / width);
}
