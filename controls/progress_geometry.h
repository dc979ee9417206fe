#pragma once
// The progress bar's arithmetic: shades, the pill's narrowed work strip, the bar's end, the
// shading strokes, the text, the marquee step and stripes, and seeking. No drawing here.
#include <string>
#include <vector>

#include "controls/colour.h"
#include "util/draw_geometry.h"

// Seven shades and the system shadows the shaded look draws with (RGB).
struct progress_shades {
    rgb_colour lighter[3] = {};
    rgb_colour darker[2] = {};
    rgb_colour dark_shadow = 0;
    rgb_colour mid_shadow = 0; // halfway from the shadow to the dark shadow
    rgb_colour shadow = 0;
};

progress_shades make_progress_shades(rgb_colour bar, rgb_colour shadow, rgb_colour dark_shadow);

// The pill's work strip inside a client strip from top to bottom.
void pill_work_strip(int top, int bottom, int& work_top, int& work_bottom);

// Right edge of the filled part, relative to the work strip's left: 0 for an empty range,
// never outside 0..width.
int progress_bar_extent(int width, int position, int lower, int upper);

// Round-capped pill line ends (x), for a strip of thickness h.
void pill_track_ends(int left, int right, int h, int& x0, int& x1);
void pill_bar_ends(int bar_right, int h, int& x0, int& x1);

// One pen stroke from (x0, y0) towards (x1, y1), the end point not drawn (as MoveTo and
// LineTo). pen: 0 the bar colour, 1..3 lighter shades 1..3, 4..5 darker shades 1..2.
struct progress_stroke {
    int pen = 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// The shaded look's strokes inside the filled part `bar`. Horizontal: shading in rows, the bar
// ending at bar.right. Vertical: the same drawing transposed, shading in columns.
std::vector<progress_stroke> shaded_bar_strokes(const int_rect& bar, bool vertical);

// A vertical shaded bar narrower than this is an outlined rectangle instead.
constexpr int k_shaded_min_vertical_width = 4;

// Diagonal stripes over a vertical marquee block: one every `spacing` pixels down the block's
// left edge, rising to the right, clipped to `clip` (so their number follows the clip's size).
// The pens cycle through the five shades from the block's top, so the stripes move with it.
std::vector<progress_stroke> marquee_stripes(const int_rect& block, const int_rect& clip,
                                             int spacing);

// Top of a vertical bar that grows from the bottom.
int progress_vertical_top(int bottom, int height, int position, int lower, int upper);

// "%ld / %ld" of the position and the range, or the percentage with one decimal.
std::wstring progress_text(int position, int lower, int upper, bool fraction);

// One marquee tick: 0, 1, ..., 301, then 0.
int marquee_next(int position);

// Position for a pointer at x over a bar of the given width.
int seek_position(int lower, int upper, int x, int width);
