#include "controls/progress_geometry.h"

#include <algorithm>
#include <cstdio>
#include <utility>

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

std::vector<progress_stroke> shaded_bar_strokes(const int_rect& bar, bool vertical) {
    // A vertical bar is drawn as the horizontal one in swapped coordinates, so both keep the
    // light on the top-left and the shadow on the bottom-right.
    const int L = vertical ? bar.top : bar.left, R = vertical ? bar.bottom : bar.right;
    const int T = vertical ? bar.left : bar.top, B = vertical ? bar.right : bar.bottom;
    std::vector<progress_stroke> s = {
        {1, L + 2, B - 4, R - 2, B - 4},
        {1, L + 2, T + 2, R - 2, T + 2},
        {2, L + 2, B - 5, R - 3, B - 5},
        {2, R - 3, B - 5, R - 3, T + 3},
        {2, R - 3, T + 3, L + 1, T + 3},
        {0, L, B - 1, L, T},
        {0, L, T, L + 2, T},
        {0, L + 2, B - 3, R - 2, B - 3},
        {0, L + 2, T + 1, R - 1, T + 1},
        {4, L + 2, B - 2, R - 2, B - 2},
        {4, R - 2, B - 2, R - 2, T + 1},
        {4, L + 2, T, R, T},
        {5, L + 2, B - 1, R - 1, B - 1},
        {5, R - 1, B - 1, R - 1, T},
        // Corner pixels.
        {4, L + 1, T, L + 2, T},
        {5, L + 1, B - 1, L + 2, B - 1},
    };
    if (vertical)
        for (progress_stroke& k : s) {
            std::swap(k.x0, k.y0);
            std::swap(k.x1, k.y1);
        }
    return s;
}

std::vector<progress_stroke> marquee_stripes(const int_rect& block, const int_rect& clip,
                                             int spacing) {
    std::vector<progress_stroke> out;
    // 64-bit: the block comes from fields a caller may set to anything.
    const long long left = std::max(block.left, clip.left),
                    right = std::min(block.right, clip.right);
    const long long top = std::max(block.top, clip.top),
                    bottom = std::min(block.bottom, clip.bottom);
    if (spacing <= 0 || left >= right || top >= bottom)
        return out;
    // Stripe k starts at (block.left, y) with y = block.top + k * spacing and rises to the right:
    // it passes (x, y - (x - block.left)). It touches the visible part when y - (x - block.left)
    // lies in [top, bottom) for some x in [left, right).
    const long long lo = top + (left - block.left);
    const long long hi = (bottom - 1) + (right - 1 - block.left);
    auto ceil_div = [](long long a, long long b) { return a >= 0 ? (a + b - 1) / b : -(-a / b); };
    auto floor_div = [](long long a, long long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
    const long long first = ceil_div(lo - block.top, spacing);
    const long long last = floor_div(hi - block.top, spacing);
    for (long long k = first; k <= last; ++k) {
        const long long y = block.top + k * spacing;
        // x range where the stripe's row stays inside [top, bottom).
        const long long x0 = std::max(left, block.left + y - (bottom - 1));
        const long long x1 = std::min(right - 1, block.left + y - top);
        if (x0 > x1)
            continue;
        const long long y0 = y - (x0 - block.left), y1 = y - (x1 - block.left);
        const int pen = 1 + static_cast<int>(((k % 5) + 5) % 5);
        out.push_back({pen, static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 + 1),
                       static_cast<int>(y1 - 1)});
    }
    return out;
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
