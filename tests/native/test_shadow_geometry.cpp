#include <gtest/gtest.h>

#include "controls/shadow_geometry.h"

namespace {

std::vector<row_run> full_rows(int width, int height) {
    return std::vector<row_run>(static_cast<size_t>(height), row_run{0, width});
}

uint32_t at(const std::vector<uint32_t>& bits, int sw, int sh, int x, int row_from_top) {
    return bits[static_cast<size_t>(sh - 1 - row_from_top) * sw + x];
}

} // namespace

TEST(ShadowGeometry, AccessCodeDialogNumbers) {
    shadow_params p;
    p.size = 10;
    p.sharpness = 19;
    p.darkness = 192;
    p.x_offset = p.y_offset = 0;
    EXPECT_EQ(9, shadow_erosion_steps(p));
    EXPECT_EQ(19, shadow_kernel_radius(p));
    EXPECT_EQ(0, shadow_centre_radius(p));

    // Without a solid core the kernel's centre is the darkness itself, fading outwards.
    const std::vector<uint32_t> k = shadow_kernel(p);
    ASSERT_EQ(39u * 39u, k.size());
    EXPECT_EQ(192u << 24, k[19 * 39 + 19]);
    EXPECT_EQ(0u, k[0]);
    EXPECT_LT(k[19 * 39 + 29] >> 24, k[19 * 39 + 20] >> 24);
}

TEST(ShadowGeometry, CentreRadiusAndNegativeSteps) {
    shadow_params p;
    p.size = 12;
    p.sharpness = 4;
    EXPECT_EQ(0, shadow_erosion_steps(p));
    EXPECT_EQ(12, shadow_kernel_radius(p));
    EXPECT_EQ(8, shadow_centre_radius(p));
    EXPECT_EQ(0xFFFF0000u, shadow_pixel(0x0000FF, 255)); // red, premultiplied
    EXPECT_EQ(0x80800000u, shadow_pixel(0x0000FF, 128));
}

TEST(ShadowGeometry, PictureOfARectangularParent) {
    shadow_params p;
    p.size = 10;
    p.sharpness = 19;
    p.darkness = 192;
    p.x_offset = p.y_offset = 0;
    const int w = 120, h = 80;
    const auto bits = make_shadow(p, w, h, full_rows(w, h));
    const int sw = w + 20, sh = h + 20;
    ASSERT_EQ(static_cast<size_t>(sw) * sh, bits.size());

    // Transparent under the parent, darkest next to it, fading to nothing at the edge.
    EXPECT_EQ(0u, at(bits, sw, sh, 70, 50));
    EXPECT_EQ(0u, at(bits, sw, sh, 10, 10));
    EXPECT_EQ(0u, at(bits, sw, sh, 0, 0));
    const uint32_t near = at(bits, sw, sh, 9, 50) >> 24;
    const uint32_t far = at(bits, sw, sh, 1, 50) >> 24;
    EXPECT_GT(near, far);
    EXPECT_GT(near, 0u);
    // Symmetric left and right, top and bottom (no offset).
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(at(bits, sw, sh, x, 50), at(bits, sw, sh, sw - 1 - x, 50)) << x;
        EXPECT_EQ(at(bits, sw, sh, 70, x), at(bits, sw, sh, 70, sh - 1 - x)) << x;
    }
}

TEST(ShadowGeometry, OffsetMovesTheHole) {
    shadow_params p; // defaults: size 0, sharpness 5, offset 5,5
    const int w = 60, h = 40;
    const auto bits = make_shadow(p, w, h, full_rows(w, h));
    ASSERT_EQ(static_cast<size_t>(w) * h, bits.size());
    // The shadow shows only right of and below the parent, which covers its top-left.
    EXPECT_EQ(0u, at(bits, w, h, 20, 20));
    EXPECT_NE(0u, at(bits, w, h, 57, 20));
}

TEST(ShadowGeometry, OddOutlinesStayInsideTheBitmap) {
    // Runs wider than the window, empty rows, negative sizes: nothing may write outside.
    std::vector<row_run> runs = {{-50, 500}, {0, 0}, {30, 10}, {5, 6}};
    for (int size : {-30, -3, 0, 2, 25}) {
        for (int sharp : {0, 1, 19, 40}) {
            shadow_params p;
            p.size = size;
            p.sharpness = sharp;
            p.x_offset = -7;
            p.y_offset = 9;
            const auto bits = make_shadow(p, 10, 4, runs);
            const int sw = 10 + 2 * size, sh = 4 + 2 * size;
            EXPECT_EQ(sw > 0 && sh > 0 ? static_cast<size_t>(sw) * sh : 0u, bits.size());
        }
    }
    EXPECT_TRUE(make_shadow(shadow_params{}, 0, 10, {}).empty());
}
