#include "controls/shadow_geometry.h"

#include <algorithm>
#include <cmath>

int shadow_erosion_steps(const shadow_params& p) {
    return std::max(p.sharpness - p.size, 0);
}

int shadow_kernel_radius(const shadow_params& p) {
    return std::max(p.size, p.sharpness);
}

int shadow_centre_radius(const shadow_params& p) {
    return std::max(p.size - p.sharpness, 0);
}

uint32_t shadow_pixel(rgb_colour colour, int factor) {
    const uint32_t f = static_cast<uint32_t>(std::clamp(factor, 0, 255));
    return f << 24 | (rgb_red(colour) * f / 255) << 16 | (rgb_green(colour) * f / 255) << 8 |
           (rgb_blue(colour) * f / 255);
}

std::vector<uint32_t> shadow_kernel(const shadow_params& p) {
    const int k = shadow_kernel_radius(p);
    const int c = shadow_centre_radius(p);
    const int side = 2 * k + 1;
    std::vector<uint32_t> kernel(static_cast<size_t>(side) * side, 0);
    for (int i = 0; i < side; ++i) {
        for (int j = 0; j < side; ++j) {
            const double d = std::sqrt(static_cast<double>((i - k) * (i - k) + (j - k) * (j - k)));
            uint32_t value = 0;
            if (d < c)
                value = shadow_pixel(p.colour, p.darkness);
            else if (d <= k)
                value = shadow_pixel(
                    p.colour, static_cast<int>((1 - (d - c) / (p.sharpness + 1)) * p.darkness));
            kernel[static_cast<size_t>(i) * side + j] = value;
        }
    }
    return kernel;
}

std::vector<uint32_t> make_shadow(const shadow_params& p, int width, int height,
                                  const std::vector<row_run>& runs) {
    const int sw = width + 2 * p.size;
    const int sh = height + 2 * p.size;
    if (sw <= 0 || sh <= 0 || width <= 0 || height <= 0)
        return {};
    std::vector<uint32_t> bits(static_cast<size_t>(sw) * sh, 0);

    // Anchors in shadow rows, with one empty row before and after (index = shadow row + 1).
    // Rows beyond the parent, and the padding of a positive size, are empty.
    const int n = std::max(height, sh);
    const row_run empty{width, 0};
    std::vector<row_run> anchors(static_cast<size_t>(n) + 2, empty);
    std::vector<row_run> parent(static_cast<size_t>(height), empty);
    for (int i = 0; i < height; ++i) {
        row_run r = i < static_cast<int>(runs.size()) ? runs[static_cast<size_t>(i)] : empty;
        if (r.start >= r.end)
            r = empty;
        parent[static_cast<size_t>(i)] = r;
        const int at = i + 1 + std::max(p.size, 0);
        if (at < n + 1)
            anchors[static_cast<size_t>(at)] =
                r.start >= r.end ? empty : row_run{r.start + p.size, r.end + p.size};
    }

    std::vector<row_run> eroded(anchors.size(), empty);
    for (int step = 0; step < shadow_erosion_steps(p); ++step) {
        for (int j = 1; j < n + 1; ++j) {
            const row_run& a = anchors[static_cast<size_t>(j - 1)];
            const row_run& b = anchors[static_cast<size_t>(j)];
            const row_run& c = anchors[static_cast<size_t>(j + 1)];
            eroded[static_cast<size_t>(j)] = {std::max({a.start, b.start, c.start}) + 1,
                                              std::min({a.end, b.end, c.end}) - 1};
        }
        std::swap(anchors, eroded);
    }

    // From here on, anchor(i) is the run of shadow row i.
    const int shift = (p.size < 0 ? -p.size : 0) + 1;
    auto anchor = [&](int i) -> row_run {
        const int at = i + shift;
        return at >= 0 && at < static_cast<int>(anchors.size()) ? anchors[static_cast<size_t>(at)]
                                                                : empty;
    };
    auto put = [&](int row, int x, uint32_t value, bool keep_larger) {
        if (row < 0 || row >= sh || x < 0 || x >= sw)
            return;
        uint32_t& px = bits[static_cast<size_t>(sh - 1 - row) * sw + x];
        if (!keep_larger || px < value)
            px = value;
    };

    const int k = shadow_kernel_radius(p);
    const int side = 2 * k + 1;
    const std::vector<uint32_t> kernel = shadow_kernel(p);
    auto stamp = [&](int row, int x) {
        for (int a = 0; a < side; ++a)
            for (int b = 0; b < side; ++b)
                put(row - k + a, x - k + b, kernel[static_cast<size_t>(a) * side + b], true);
    };

    for (int i = k; i < sh - k; ++i) {
        const row_run r = anchor(i);
        if (r.start >= r.end)
            continue;
        const row_run up = anchor(i - 1);
        const row_run down = anchor(i + 1);
        int j = r.start;
        for (; j < std::min(std::max(up.start, down.start) + 1, r.end); ++j)
            stamp(i, j);
        for (j = std::max(j, std::min(up.end, down.end) - 1); j < r.end; ++j)
            stamp(i, j);
    }

    const uint32_t full = shadow_pixel(p.colour, p.darkness);
    const int from = std::min(k, std::max(p.size - p.y_offset, 0));
    const int to = std::max(sh - k, std::min(height + p.size - p.y_offset, height + 2 * p.size));
    for (int i = from; i < to; ++i) {
        const row_run r = anchor(i);
        const int parent_row = i - p.size + p.y_offset;
        if (parent_row < 0 || parent_row >= height) {
            for (int j = r.start; j < r.end; ++j)
                put(i, j, full, false);
            continue;
        }
        const row_run own = parent[static_cast<size_t>(parent_row)];
        const int hole_start = own.start + p.size - p.x_offset;
        const int hole_end = own.end + p.size - p.x_offset;
        for (int j = r.start; j < std::min(hole_start, r.end); ++j)
            put(i, j, full, false);
        for (int j = std::max(hole_start, 0); j < std::min(hole_end, sw); ++j)
            put(i, j, 0, false);
        for (int j = std::max(hole_end, r.start); j < r.end; ++j)
            put(i, j, full, false);
    }
    return bits;
}
