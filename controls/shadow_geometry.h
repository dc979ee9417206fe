#pragma once
// The drop shadow's picture, computed from the parent's outline: erosion of the row runs, a
// round kernel stamped along the run ends, and a solid centre with a hole under the parent.
#include <cstdint>
#include <vector>

#include "controls/colour.h"

struct shadow_params {
    int size = 0;       // extent beyond the parent on every side (may be negative)
    int sharpness = 5;  // width of the soft edge
    int darkness = 150; // opacity of the darkest pixels
    int x_offset = 5;
    int y_offset = 5;
    rgb_colour colour = 0;
};

// Run of one parent row: first pixel inside and one past the last; start >= end is empty.
struct row_run {
    int start = 0;
    int end = 0;
};

int shadow_erosion_steps(const shadow_params& p);
int shadow_kernel_radius(const shadow_params& p);
int shadow_centre_radius(const shadow_params& p);

// Premultiplied BGRA pixel of a colour at an opacity.
uint32_t shadow_pixel(rgb_colour colour, int factor);

// The (2K + 1)^2 kernel, row by row.
std::vector<uint32_t> shadow_kernel(const shadow_params& p);

// The shadow picture of a parent of w x h with the given row runs (one per parent row), as a
// bottom-up 32-bit bitmap of (w + 2 size) x (h + 2 size): row i from the top is stored at line
// (height - 1 - i). Every write stays inside the bitmap whatever the outline.
std::vector<uint32_t> make_shadow(const shadow_params& p, int width, int height,
                                  const std::vector<row_run>& runs);
