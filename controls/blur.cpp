#include "controls/blur.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

int blur_box_radius(double sigma) {
    const double ideal = std::sqrt(12.0 * sigma * sigma + 1.0);
    int wl = static_cast<int>(std::floor(ideal));
    if (wl % 2 == 0)
        --wl;
    const int wu = wl + 2;
    const double m =
        std::round((12.0 * sigma * sigma - wl * wl - 4.0 * wl - 3.0) / (-4.0 * wl - 4.0));
    const int width = 0 < m ? wl : wu;
    return std::max((width - 1) / 2, 0);
}

namespace {

template <int C> void blur_rows(const uint8_t* src, uint8_t* dst, int width, int height, int r) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = src + static_cast<size_t>(y) * width * C;
        uint8_t* out = dst + static_cast<size_t>(y) * width * C;
        if (r >= width) {
            // The window always covers the whole row.
            for (int c = 0; c < C; ++c) {
                long sum = 0;
                for (int x = 0; x < width; ++x)
                    sum += in[x * C + c];
                const uint8_t avg = static_cast<uint8_t>(static_cast<double>(sum) / width + 0.5);
                for (int x = 0; x < width; ++x)
                    out[x * C + c] = avg;
            }
            continue;
        }
        // Running sum over [x - r, x + r] clipped to the row; the count shrinks at the ends.
        for (int c = 0; c < C; ++c) {
            long sum = 0;
            int count = 0;
            for (int x = 0; x <= std::min(r, width - 1); ++x) {
                sum += in[x * C + c];
                ++count;
            }
            for (int x = 0; x < width; ++x) {
                out[x * C + c] = static_cast<uint8_t>(static_cast<double>(sum) / count + 0.5);
                const int add = x + r + 1;
                const int drop = x - r;
                if (add < width) {
                    sum += in[add * C + c];
                    ++count;
                }
                if (drop >= 0) {
                    sum -= in[drop * C + c];
                    --count;
                }
            }
        }
    }
}

template <int C> void flip(const uint8_t* src, uint8_t* dst, int width, int height) {
    const int block = 256;
    for (int by = 0; by < height; by += block)
        for (int bx = 0; bx < width; bx += block)
            for (int y = by; y < std::min(by + block, height); ++y)
                for (int x = bx; x < std::min(bx + block, width); ++x)
                    for (int c = 0; c < C; ++c)
                        dst[(static_cast<size_t>(x) * height + y) * C + c] =
                            src[(static_cast<size_t>(y) * width + x) * C + c];
}

} // namespace

bool horizontal_blur(const uint8_t* src, uint8_t* dst, int width, int height, int channels,
                     int radius) {
    if (width <= 0 || height <= 0)
        return true;
    radius = std::max(radius, 0);
    switch (channels) {
    case 1:
        blur_rows<1>(src, dst, width, height, radius);
        return true;
    case 2:
        blur_rows<2>(src, dst, width, height, radius);
        return true;
    case 3:
        blur_rows<3>(src, dst, width, height, radius);
        return true;
    case 4:
        blur_rows<4>(src, dst, width, height, radius);
        return true;
    default:
        std::printf("horizontal_blur over %d channels is not supported yet. Add a specific case "
                    "if possible or fall back to the generic version.\n",
                    channels);
        return false;
    }
}

bool flip_block(const uint8_t* src, uint8_t* dst, int width, int height, int channels) {
    if (width <= 0 || height <= 0)
        return true;
    switch (channels) {
    case 1:
        flip<1>(src, dst, width, height);
        return true;
    case 2:
        flip<2>(src, dst, width, height);
        return true;
    case 3:
        flip<3>(src, dst, width, height);
        return true;
    case 4:
        flip<4>(src, dst, width, height);
        return true;
    default:
        std::printf("flip_block over %d channels is not supported yet. Add a specific case if "
                    "possible or fall back to the generic version.\n",
                    channels);
        return false;
    }
}

bool blur_pixels(std::vector<uint8_t>& pixels, int width, int height, int channels, double sigma) {
    if (width <= 0 || height <= 0 || channels <= 0 ||
        pixels.size() < static_cast<size_t>(width) * height * channels)
        return false;
    const int r = blur_box_radius(sigma);
    std::vector<uint8_t> other(pixels.size());
    if (!horizontal_blur(pixels.data(), other.data(), width, height, channels, r))
        return false;
    if (!flip_block(other.data(), pixels.data(), width, height, channels))
        return false;
    horizontal_blur(pixels.data(), other.data(), height, width, channels, r);
    flip_block(other.data(), pixels.data(), height, width, channels);
    return true;
}
