#include <gtest/gtest.h>

#include <vector>

#include "controls/blur.h"
#include "controls/button_logic.h"
#include "controls/colour.h"
#include "controls/edit_layout.h"
#include "controls/label_layout.h"
#include "controls/progress_geometry.h"
#include "controls/resize_layout.h"
#include "util/draw_geometry.h"
#include "util/window_placement.h"

TEST(Colour, AdjustClampsEachChannelAndKeepsAlpha) {
    const argb_colour c = make_argb(0x80, 250, 10, 128);
    EXPECT_EQ(make_argb(0x80, 255, 26, 144), AdjustColor(c, 16));
    EXPECT_EQ(make_argb(0x80, 234, 0, 112), AdjustColor(c, -16));
    EXPECT_EQ(make_rgb(255, 26, 144), AdjustRgb(make_rgb(250, 10, 128), 16));
    EXPECT_EQ(make_rgb(0, 0, 0), AdjustRgb(make_rgb(20, 31, 32), -32));
}

TEST(Colour, GreyLevelRoundsHalfUp) {
    const struct {
        int r, g, b, grey;
    } cases[] = {{0, 120, 215, 95}, {0, 0, 0, 0},    {255, 255, 255, 255}, {255, 0, 0, 76},
                 {0, 255, 0, 150},  {0, 0, 255, 29}, {240, 240, 240, 240}};
    for (const auto& c : cases)
        EXPECT_EQ(c.grey, GreyLevel(c.r, c.g, c.b)) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(make_argb(0x40, 95, 95, 95), GreyColor(make_argb(0x40, 0, 120, 215)));
}

TEST(Colour, ArgbAndRgbSwapTheByteOrder) {
    EXPECT_EQ(0xFF4169E1u, ToArgb(make_rgb(65, 105, 225)));
    EXPECT_EQ(make_rgb(65, 105, 225), ToRgb(0x124169E1u));
}

TEST(Colour, ThemesGiveBackgroundTitleAndAccent) {
    theme_system_colours sys;
    sys.button_face = make_rgb(212, 208, 200);
    sys.window = make_rgb(250, 250, 250);
    const struct {
        int theme;
        rgb_colour back, title, accent;
    } cases[] = {
        {9, make_rgb(255, 255, 255), make_rgb(18, 24, 58), make_rgb(32, 178, 174)},
        {6, make_rgb(255, 255, 255), make_rgb(255, 255, 255), make_rgb(97, 132, 180)},
        {8, make_rgb(255, 255, 255), make_rgb(255, 255, 255), make_rgb(59, 69, 91)},
        {3, make_rgb(64, 64, 64), make_rgb(211, 211, 211), make_rgb(16, 16, 16)},
        {42, make_rgb(212, 208, 200), make_rgb(0, 0, 0), make_rgb(211, 211, 211)},
    };
    for (const auto& c : cases) {
        CSCColorTheme s;
        ApplyTheme(s, c.theme, sys);
        EXPECT_EQ(ToArgb(c.back), s.cr_back) << c.theme;
        EXPECT_EQ(ToArgb(c.title), s.cr_title) << c.theme;
        EXPECT_EQ(ToArgb(c.accent), s.cr_accent) << c.theme;
    }
    CSCColorTheme list;
    ApplyTheme(list, 0, sys, true);
    EXPECT_EQ(ToArgb(sys.window), list.cr_back);
    // Themes 4 and 5 leave title and accent alone.
    CSCColorTheme kept;
    kept.cr_title = 0x11223344;
    ApplyTheme(kept, 4, sys);
    EXPECT_EQ(0x11223344u, kept.cr_title);
}

TEST(ProgressGeometry, ShadeTableStepsBy51AndClamps) {
    const progress_shades s = make_progress_shades(make_rgb(0, 255, 100), make_rgb(160, 160, 160),
                                                   make_rgb(105, 105, 105));
    EXPECT_EQ(make_rgb(51, 255, 151), s.lighter[0]);
    EXPECT_EQ(make_rgb(102, 255, 202), s.lighter[1]);
    EXPECT_EQ(make_rgb(153, 255, 253), s.lighter[2]);
    EXPECT_EQ(make_rgb(0, 204, 49), s.darker[0]);
    EXPECT_EQ(make_rgb(0, 153, 0), s.darker[1]);
    EXPECT_EQ(make_rgb(133, 133, 133), s.mid_shadow);
}

TEST(ProgressGeometry, PillStripAndBarEnds) {
    int t = 0, b = 0;
    pill_work_strip(0, 10, t, b);
    EXPECT_EQ(1, t);
    EXPECT_EQ(9, b);
    pill_work_strip(0, 13, t, b);
    EXPECT_EQ(2, t);
    EXPECT_EQ(11, b);

    int x0 = 0, x1 = 0;
    pill_track_ends(0, 300, 8, x0, x1);
    EXPECT_EQ(4, x0);
    EXPECT_EQ(295, x1);
    pill_bar_ends(3, 8, x0, x1); // a bar shorter than its height is clamped at 0
    EXPECT_EQ(4, x0);
    EXPECT_EQ(0, x1);
}

TEST(ProgressGeometry, BarExtent) {
    const struct {
        int width, pos, lower, upper, extent;
    } cases[] = {
        {300, 0, 0, 3, 0},   {300, 1, 0, 3, 100}, {300, 3, 0, 3, 300},
        {299, 1, 0, 3, 99},  {300, 5, 5, 5, 0}, // empty range: no division, no bar
        {300, 9, 0, 3, 300}, {300, -2, 0, 3, 0},  {100, 60, 50, 150, 10},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.extent, progress_bar_extent(c.width, c.pos, c.lower, c.upper))
            << c.pos << " of " << c.lower << ".." << c.upper;
    EXPECT_EQ(60, progress_vertical_top(100, 80, 1, 0, 2));
    EXPECT_EQ(100, progress_vertical_top(100, 80, 1, 1, 1));
}

TEST(ProgressGeometry, TextsAndMarquee) {
    EXPECT_EQ(L"2 / 5", progress_text(2, 0, 5, true));
    EXPECT_EQ(L"40.0 %", progress_text(2, 0, 5, false));
    EXPECT_EQ(L"0.0 %", progress_text(4, 4, 4, false));
    EXPECT_EQ(L"33.3 %", progress_text(1, 0, 3, false));

    int pos = 0;
    for (int i = 0; i < 301; ++i)
        pos = marquee_next(pos);
    EXPECT_EQ(301, pos);
    EXPECT_EQ(0, marquee_next(pos));

    EXPECT_EQ(50, seek_position(0, 100, 100, 200));
    EXPECT_EQ(10, seek_position(10, 20, 0, 200));
    EXPECT_EQ(10, seek_position(10, 20, 5, 0));
}

namespace {

// Plots strokes as MoveTo/LineTo would (end point left out); -1 is unpainted. A stroke that
// leaves the area fails.
struct stroke_raster {
    int_rect area;
    std::vector<int> px = std::vector<int>(static_cast<size_t>(area.width() * area.height()), -1);
    int at(int x, int y) const { return px[(y - area.top) * area.width() + x - area.left]; }
    void draw(const std::vector<progress_stroke>& strokes) {
        for (const progress_stroke& k : strokes) {
            const int dx = (k.x1 > k.x0) - (k.x1 < k.x0), dy = (k.y1 > k.y0) - (k.y1 < k.y0);
            for (int x = k.x0, y = k.y0; x != k.x1 || y != k.y1; x += dx, y += dy) {
                ASSERT_TRUE(x >= area.left && x < area.right && y >= area.top && y < area.bottom);
                px[(y - area.top) * area.width() + x - area.left] = k.pen;
            }
        }
    }
};

} // namespace

TEST(ProgressGeometry, ShadedBarInRowsAndTransposedInColumns) {
    // Across: darker 1, bar, lighter 1, lighter 2, fill, lighter 2, lighter 1, bar, darker 1, 2;
    // at the far end (right, or bottom when vertical): lighter 2, darker 1, darker 2.
    const std::vector<int> across = {4, 0, 1, 2, -1, -1, -1, 2, 1, 0, 4, 5}, end = {2, 4, 5};
    stroke_raster h{{0, 0, 40, 12}}, v{{10, 30, 22, 70}};
    h.draw(shaded_bar_strokes(h.area, false));
    v.draw(shaded_bar_strokes(v.area, true));
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(across[i], h.at(20, i)) << "row " << i;
        EXPECT_EQ(across[i], v.at(10 + i, 50)) << "column " << 10 + i;
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(end[i], h.at(37 + i, 5));
        EXPECT_EQ(end[i], v.at(16, 67 + i));
    }
}

TEST(ProgressGeometry, MarqueeStripesEveryTwentyPixels) {
    // Anchored at the block's top (-15): the first visible stripe starts at row 5, second shade.
    stroke_raster r{{0, 0, 30, 100}};
    r.draw(marquee_stripes({0, -15, 30, 105}, r.area, 20));
    for (int y = 0; y < 100; ++y)
        EXPECT_EQ((y + 15) % 20 ? -1 : 1 + (y + 15) / 20 % 5, r.at(0, y)) << "row " << y;
    EXPECT_EQ(r.at(0, 25), r.at(20, 5)) << "rises one row per column";

    // Clipped to the block too; a huge block costs no more than the window.
    stroke_raster block{{0, 40, 30, 60}};
    block.draw(marquee_stripes(block.area, {0, 0, 30, 100}, 20));
    EXPECT_EQ(2, block.at(10, 50));
    EXPECT_LE(marquee_stripes({0, -2000000000, 30, 2000000000}, r.area, 20).size(), 7u);
    EXPECT_TRUE(marquee_stripes(r.area, r.area, 0).empty());
}

TEST(LabelLayout, IconAndTextPlacement) {
    const struct {
        label_align align;
        bool centre_image, icon_centered, has_text;
        int cw, ch, iw, ih, w, h;
        label_layout_result expect;
    } cases[] = {
        // Left: icon at 2 and text after it; without text the icon sits at 0.
        {label_align::left, true, false, true, 300, 20, 16, 16, 100, 12, {2, 2, 22, 4}},
        {label_align::left, false, false, false, 300, 20, 16, 16, 0, 0, {0, 0, 0, 0}},
        // Centre with text: both centred together with 4 pixels between.
        {label_align::centre, true, false, true, 300, 20, 16, 16, 100, 12, {90, 2, 110, 4}},
        {label_align::centre, true, false, false, 300, 20, 16, 16, 0, 0, {142, 2, 0, 10}},
        {label_align::centre, true, true, true, 300, 20, 16, 16, 100, 12, {8, 2, 100, 4}},
        // Right.
        {label_align::right, true, false, true, 300, 20, 16, 16, 100, 12, {182, 2, 200, 4}},
        {label_align::right, true, true, true, 300, 20, 16, 16, 100, 12, {8, 2, 196, 4}},
        // Without vertical centring an icon taller than the text pushes the text down.
        {label_align::left, false, false, true, 300, 40, 16, 30, 100, 12, {2, 0, 22, 9}},
        {label_align::left, false, false, true, 300, 40, 16, 8, 100, 20, {2, 6, 22, 0}},
        // Odd sizes divide toward zero: (301 - 16 - 101 - 4) / 2 = 90.
        {label_align::centre, true, false, true, 301, 21, 16, 16, 101, 13, {90, 2, 110, 4}},
    };
    int n = 0;
    for (const auto& c : cases) {
        label_layout_input in;
        in.align = c.align;
        in.centre_image = c.centre_image;
        in.icon_centered = c.icon_centered;
        in.has_text = c.has_text;
        in.client_width = c.cw;
        in.client_height = c.ch;
        in.icon_width = c.iw;
        in.icon_height = c.ih;
        in.text_width = c.w;
        in.text_height = c.h;
        const label_layout_result r = place_label(in);
        EXPECT_EQ(c.expect.icon_x, r.icon_x) << "case " << n;
        EXPECT_EQ(c.expect.icon_y, r.icon_y) << "case " << n;
        EXPECT_EQ(c.expect.text_left, r.text_left) << "case " << n;
        EXPECT_EQ(c.expect.text_top, r.text_top) << "case " << n;
        ++n;
    }
}

TEST(LabelLayout, FontFittingSteps) {
    EXPECT_EQ(-1, label_fit_step(95, 100, 14));
    EXPECT_EQ(0, label_fit_step(95, 100, 11)); // the smallest size stops the search
    EXPECT_EQ(1, label_fit_step(70, 100, 14));
    EXPECT_EQ(0, label_fit_step(85, 100, 14));
    EXPECT_EQ(0, label_fit_step(90, 100, 14));
    EXPECT_EQ(0, label_fit_step(80, 100, 14));
}

TEST(ResizeLayout, FullShareFollowsExactly) {
    resize_item_state item;
    item.part[edge_width] = 100;
    resize_box box{10, 10, 50, 20};
    EXPECT_TRUE(resize_step(item, box, 3, 0));
    EXPECT_EQ(53, box.width);
    EXPECT_EQ(10, box.left);
    EXPECT_EQ(0, item.remainder[edge_width]);
}

TEST(ResizeLayout, HalfShareCarriesTheFraction) {
    resize_item_state item;
    item.part[edge_width] = 50;
    resize_box box{0, 0, 40, 10};
    const int growth[] = {0, 1, 0};
    for (int g : growth) {
        const int before = box.width;
        resize_step(item, box, 1, 0);
        EXPECT_EQ(g, box.width - before);
    }
    EXPECT_EQ(50, item.remainder[edge_width]);
    // And back: the control returns to exactly its width.
    for (int i = 0; i < 3; ++i)
        resize_step(item, box, -1, 0);
    EXPECT_EQ(40, box.width);
    EXPECT_EQ(0, item.remainder[edge_width]);
}

TEST(ResizeLayout, RepeatedMaximiseAndRestoreLoseNoPixel) {
    // The main window's shares, 320 x 140 maximised to odd screen sizes and back, many times.
    const struct {
        int l, t, w, h;
        resize_box box;
    } items[] = {{0, 0, 100, 0, {3, 5, 337, 20}},     {100, 0, 0, 0, {345, 3, 21, 21}},
                 {0, 100, 100, 0, {9, 119, 351, 10}}, {100, 100, 0, 0, {306, 98, 54, 13}},
                 {0, 0, 100, 100, {9, 39, 351, 49}},  {50, 50, 50, 50, {7, 7, 7, 7}},
                 {33, 67, 17, 29, {40, 40, 40, 40}}};
    const int sizes[][2] = {{1280, 1022}, {1279, 1001}, {320, 140}, {641, 333}, {321, 141}};
    for (const auto& it : items) {
        resize_item_state st;
        st.part[edge_left] = it.l;
        st.part[edge_top] = it.t;
        st.part[edge_width] = it.w;
        st.part[edge_height] = it.h;
        resize_box box = it.box;
        int cx = 320, cy = 140;
        for (int round = 0; round < 50; ++round) {
            for (const auto& s : sizes) {
                resize_step(st, box, s[0] - cx, s[1] - cy);
                cx = s[0];
                cy = s[1];
                // The exact position is the original plus share x change, within one pixel.
                const double exact_left = it.box.left + it.l * (cx - 320) / 100.0;
                const double exact_width = it.box.width + it.w * (cx - 320) / 100.0;
                EXPECT_LT(std::abs(box.left - exact_left), 1.0);
                EXPECT_LT(std::abs(box.width - exact_width), 1.0);
            }
            resize_step(st, box, 320 - cx, 140 - cy);
            cx = 320;
            cy = 140;
            EXPECT_EQ(it.box.left, box.left);
            EXPECT_EQ(it.box.top, box.top);
            EXPECT_EQ(it.box.width, box.width);
            EXPECT_EQ(it.box.height, box.height);
        }
    }
}

TEST(ResizeLayout, ShrinkingBelowZeroKeepsTheExcess) {
    resize_item_state item;
    item.part[edge_width] = 100;
    resize_box box{0, 0, 5, 5};
    resize_step(item, box, -8, 0);
    EXPECT_EQ(0, box.width);
    EXPECT_EQ(-300, item.remainder[edge_width]);
    resize_step(item, box, 4, 0); // pays the debt first
    EXPECT_EQ(1, box.width);
    resize_step(item, box, 4, 0);
    EXPECT_EQ(5, box.width);
}

TEST(ResizeLayout, ValidationMessagesLastOneWins) {
    EXPECT_EQ(L"", resize_parts_message(0, 100, 100, 0, true));
    EXPECT_EQ(L"CtrlID(%d) : (left + width) > m_maxPart", resize_parts_message(60, 0, 50, 0, true));
    EXPECT_EQ(L"CtrlID(%d) : top + height) > m_maxPart", resize_parts_message(-1, 60, 0, 50, true));
    EXPECT_EQ(L"CtrlID(%d) : left < 0 || left > m_maxPart",
              resize_parts_message(-1, 0, 0, 0, true));
    EXPECT_EQ(L"CtrlID(%d) : height < 0 || height > m_maxPart",
              resize_parts_message(0, 0, 0, -1, true));
    EXPECT_EQ(L"CtrlID(%d) : invalid control's ID", resize_parts_message(101, 0, 0, 0, false));
}

TEST(ButtonLogic, StatesAndColourLists) {
    EXPECT_EQ(state_disabled, button_state_of(true, true, true));
    EXPECT_EQ(state_pressed, button_state_of(false, true, true));
    EXPECT_EQ(state_hover, button_state_of(false, false, true));
    EXPECT_EQ(state_normal, button_state_of(false, false, false));

    const colour_list d = derived_colours(ToArgb(make_rgb(32, 178, 174)));
    EXPECT_EQ(ToArgb(make_rgb(48, 194, 190)), d[1]);
    EXPECT_EQ(ToArgb(make_rgb(16, 162, 158)), d[2]);
    EXPECT_EQ(GreyColor(d[0]), d[3]);

    const argb_colour n = ToArgb(make_rgb(59, 70, 92));
    EXPECT_EQ(GreyColor(n), explicit_colours(n, n, n, k_keep_colour)[3]);
    EXPECT_EQ(0xFFFFFFFFu, explicit_colours(n, n, n, 0xFFFFFFFF)[3]);

    EXPECT_EQ(1, next_check_state(0, false));
    EXPECT_EQ(0, next_check_state(1, false));
    EXPECT_EQ(2, next_check_state(1, true));
    EXPECT_EQ(0, next_check_state(2, true));
}

TEST(ButtonLogic, DerivedPictureMatrices) {
    const colour_matrix d = disabled_matrix();
    for (int out = 0; out < 3; ++out) {
        EXPECT_FLOAT_EQ(0.299f, d[0][out]);
        EXPECT_FLOAT_EQ(0.101f, d[4][out]);
    }
    EXPECT_FLOAT_EQ(1.0f, d[3][3]);
    EXPECT_FLOAT_EQ(0.0f, d[4][3]);
    EXPECT_FLOAT_EQ(1.15f, hover_matrix()[1][1]);
    EXPECT_FLOAT_EQ(0.8f, pressed_matrix()[2][2]);
    EXPECT_FLOAT_EQ(0.0f, pressed_matrix()[0][1]);

    int x = 0, y = 0;
    button_icon_place(1 | 4, 100, 30, 40, 18, 18, 2, x, y);
    EXPECT_EQ(20, x);
    EXPECT_EQ(6, y);
    button_icon_place(2 | 8, 100, 30, 40, 18, 18, 2, x, y);
    EXPECT_EQ(54, x);
    EXPECT_EQ(8, y);
    button_icon_place(0, 100, 30, 40, 18, 18, 2, x, y);
    EXPECT_EQ(2, x);
    EXPECT_EQ(4, y);
}

TEST(EditLayout, VerticalAlignment) {
    const int_rect client{0, 0, 200, 30};
    EXPECT_EQ((int_rect{3, 7, 195, 29}), edit_text_rect(4, client, 13, 1, 2, 4));
    EXPECT_EQ((int_rect{3, 16, 195, 29}), edit_text_rect(8, client, 13, 1, 2, 4));
    EXPECT_EQ((int_rect{3, 1, 195, 29}), edit_text_rect(0, client, 13, 1, 2, 4));
}

TEST(DrawGeometry, AspectFitAndPictureModes) {
    EXPECT_EQ((int_rect{0, 25, 200, 125}), aspect_fit({0, 0, 200, 150}, 400, 200));
    EXPECT_EQ((int_rect{}), aspect_fit({0, 0, 0, 10}, 4, 2));
    EXPECT_EQ((int_rect{}), aspect_fit({0, 0, 10, 10}, 0, 2));
    // Mode 1: own size centred, but fitted when larger than the rectangle.
    EXPECT_EQ((int_rect{41, 41, 59, 59}), picture_rect(1, {0, 0, 100, 100}, 18, 18));
    EXPECT_EQ((int_rect{0, 25, 100, 75}), picture_rect(1, {0, 0, 100, 100}, 400, 200));
    EXPECT_EQ((int_rect{5, 5, 50, 60}), picture_rect(2, {5, 5, 50, 60}, 400, 200));
    EXPECT_EQ((int_rect{5, 5, 23, 23}), picture_rect(2, {5, 5, 5, 5}, 18, 18));

    int w = 0, h = 50;
    EXPECT_TRUE(keep_aspect(200, 100, w, h));
    EXPECT_EQ(100, w);
    EXPECT_EQ(50, h);
    w = 50;
    h = 0;
    EXPECT_TRUE(keep_aspect(200, 100, w, h));
    EXPECT_EQ(25, h);
    w = h = 0;
    EXPECT_FALSE(keep_aspect(200, 100, w, h));
}

TEST(DrawGeometry, CornersAndGradientBands) {
    EXPECT_EQ(0, corner_diameter(0, 100, 30, 1));
    EXPECT_EQ(16, corner_diameter(8, 100, 30, 1));
    EXPECT_EQ(28, corner_diameter(40, 100, 30, 1)); // half of the smaller side after the pen
    EXPECT_EQ((int_rect{1, 2, 9, 12}), normalise_rect({9, 12, 1, 2}));

    const auto bands = gradient_bands({0, 0, 100, 10}, 4, false);
    ASSERT_EQ(3u, bands.size());
    EXPECT_EQ((int_rect{0, 0, 33, 10}), bands[0]);
    EXPECT_EQ((int_rect{33, 0, 66, 10}), bands[1]);
    EXPECT_EQ((int_rect{66, 0, 100, 10}), bands[2]);
    const auto vertical = gradient_bands({0, 10, 5, 0}, 2, true);
    ASSERT_EQ(1u, vertical.size());
    EXPECT_EQ((int_rect{0, 0, 5, 10}), vertical[0]);
    EXPECT_TRUE(gradient_bands({0, 0, 10, 10}, 1, false).empty());
}

TEST(WindowPlacement, SectionAndMaximisedSize) {
    EXPECT_EQ(L"screen", placement_section(L""));
    EXPECT_EQ(L"code\\screen", placement_section(L"code"));

    const struct {
        taskbar_info bar;
        int w, h;
    } cases[] = {
        {{false, false, 0, 0}, 1280, 1024},    // no taskbar: as proposed
        {{true, true, 1280, 40}, 1280, 1022},  // hides itself: 2 pixels
        {{true, false, 1280, 40}, 1280, 984},  // at the bottom or top: its height
        {{true, false, 62, 1024}, 1218, 1024}, // on a side: its width, not the screen height
        {{true, false, 1280, 4000}, 0, 1024},  // never negative
    };
    for (const auto& c : cases) {
        int w = 1280, h = 1024;
        adjust_max_size(c.bar, w, h);
        EXPECT_EQ(c.w, w);
        EXPECT_EQ(c.h, h);
    }
    EXPECT_TRUE(appbar_state_auto_hide(1));
    EXPECT_FALSE(appbar_state_auto_hide(3)) << "with always-on-top it is not auto-hide";
    EXPECT_FALSE(appbar_state_auto_hide(2));
    EXPECT_FALSE(appbar_state_auto_hide(0));
}

TEST(Blur, BoxRadiusFromSigma) {
    EXPECT_EQ(1, blur_box_radius(1.0));
    EXPECT_EQ(8, blur_box_radius(5.0));
    EXPECT_EQ(0, blur_box_radius(0.0));
}

TEST(Blur, EdgesAverageOverFewerPixels) {
    const uint8_t row[] = {0, 30, 60, 90, 120};
    uint8_t out[5] = {};
    ASSERT_TRUE(horizontal_blur(row, out, 5, 1, 1, 1));
    EXPECT_EQ(15, out[0]); // (0 + 30) / 2
    EXPECT_EQ(30, out[1]);
    EXPECT_EQ(105, out[4]);
    ASSERT_TRUE(horizontal_blur(row, out, 5, 1, 1, 3)); // radius past half the row
    EXPECT_EQ(45, out[0]);                              // (0+30+60+90) / 4
    EXPECT_EQ(60, out[2]);
    ASSERT_TRUE(horizontal_blur(row, out, 5, 1, 1, 9)); // the whole row, everywhere
    for (uint8_t v : out)
        EXPECT_EQ(60, v);
    EXPECT_FALSE(horizontal_blur(row, out, 1, 1, 5, 1));
}

TEST(Blur, ChannelsStaySeparateAndTransposeRoundTrips) {
    std::vector<uint8_t> px(7 * 3 * 4);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = static_cast<uint8_t>(i * 37);
    std::vector<uint8_t> t(px.size()), back(px.size());
    ASSERT_TRUE(flip_block(px.data(), t.data(), 7, 3, 4));
    EXPECT_EQ(px[(1 * 7 + 5) * 4 + 2], t[(5 * 3 + 1) * 4 + 2]);
    ASSERT_TRUE(flip_block(t.data(), back.data(), 3, 7, 4));
    EXPECT_EQ(px, back);

    // A flat picture stays flat; a single bright pixel spreads symmetrically.
    std::vector<uint8_t> flat(9 * 9 * 4, 77);
    ASSERT_TRUE(blur_pixels(flat, 9, 9, 4, 2.0));
    for (uint8_t v : flat)
        EXPECT_EQ(77, v);
    std::vector<uint8_t> dot(9 * 9, 0);
    dot[4 * 9 + 4] = 255;
    ASSERT_TRUE(blur_pixels(dot, 9, 9, 1, 1.0));
    EXPECT_EQ(dot[3 * 9 + 4], dot[5 * 9 + 4]);
    EXPECT_EQ(dot[4 * 9 + 3], dot[4 * 9 + 5]);
    EXPECT_EQ(28, dot[4 * 9 + 4]); // 255 / 9 over the 3 x 3 box
    EXPECT_EQ(0, dot[4 * 9 + 6]);
    EXPECT_EQ(0, dot[0]);
    std::vector<uint8_t> short_buffer(10);
    EXPECT_FALSE(blur_pixels(short_buffer, 9, 9, 1, 1.0));
}
