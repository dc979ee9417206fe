#include "util/draw_geometry.h"

#include <algorithm>
#include <cmath>

int_rect normalise_rect(int_rect r) {
    if (r.left > r.right)
        std::swap(r.left, r.right);
    if (r.top > r.bottom)
        std::swap(r.top, r.bottom);
    return r;
}

int_rect aspect_fit(const int_rect& target, int width, int height) {
    if (target.empty() || width <= 0 || height <= 0)
        return {};
    const double scale = std::min(static_cast<double>(target.width()) / width,
                                  static_cast<double>(target.height()) / height);
    const int w = static_cast<int>(width * scale);
    const int h = static_cast<int>(height * scale);
    const int x = target.left + (target.width() - w) / 2;
    const int y = target.top + (target.height() - h) / 2;
    return {x, y, x + w, y + h};
}

int corner_diameter(int radius, int width, int height, int pen_width) {
    if (radius <= 0)
        return 0;
    const int smaller = std::min(width, height) - std::max(pen_width, 0);
    const int limited = std::min(radius, std::max(smaller, 0) / 2);
    return 2 * limited;
}

std::vector<int_rect> gradient_bands(const int_rect& rect, int stops, bool vertical) {
    std::vector<int_rect> bands;
    const int_rect r = normalise_rect(rect);
    if (stops < 2)
        return bands;
    const int n = stops - 1;
    const int length = vertical ? r.height() : r.width();
    for (int i = 0; i < n; ++i) {
        const int from = static_cast<int>(static_cast<long long>(length) * i / n);
        const int to =
            i + 1 == n ? length : static_cast<int>(static_cast<long long>(length) * (i + 1) / n);
        if (vertical)
            bands.push_back({r.left, r.top + from, r.right, r.top + to});
        else
            bands.push_back({r.left + from, r.top, r.left + to, r.bottom});
    }
    return bands;
}

int_rect picture_rect(int mode, const int_rect& target, int width, int height) {
    int_rect out = target;
    if (mode == 3) {
        out = aspect_fit(target, width, height);
    } else if (mode == 1) {
        const int x = target.left + (target.width() - width) / 2;
        const int y = target.top + (target.height() - height) / 2;
        out = {x, y, x + width, y + height};
        if (x < target.left || y < target.top || out.right > target.right ||
            out.bottom > target.bottom)
            out = aspect_fit(target, width, height);
    }
    if (out.width() <= 0)
        out.right = out.left + width;
    if (out.height() <= 0)
        out.bottom = out.top + height;
    return out;
}

bool keep_aspect(int width, int height, int& new_width, int& new_height) {
    if (new_width <= 0 && new_height <= 0)
        return false;
    if (width <= 0 || height <= 0)
        return new_width > 0 && new_height > 0;
    if (new_width <= 0)
        new_width = static_cast<int>(std::lround(static_cast<double>(width) * new_height / height));
    else if (new_height <= 0)
        new_height = static_cast<int>(std::lround(static_cast<double>(height) * new_width / width));
    return new_width > 0 && new_height > 0;
}
