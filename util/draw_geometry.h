#pragma once
// Geometry of the drawing steps, apart from any drawing: fitting pictures, rounded corners,
// gradient bands. Pure arithmetic so that both builds test it.
#include <vector>

struct int_rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
    bool operator==(const int_rect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

// Left <= right and top <= bottom.
int_rect normalise_rect(int_rect r);

// The largest rectangle of the picture's proportions, centred in `target`; empty for an empty
// target or a zero size.
int_rect aspect_fit(const int_rect& target, int width, int height);

// Diameter of the corner arcs of a rounded rectangle of the given size, or 0 for square
// corners (radius <= 0). The pen width is taken off the sides first.
int corner_diameter(int radius, int width, int height, int pen_width);

// The rectangles of a multi-stop gradient: stops - 1 equal bands across the width (or the
// height when vertical), the last one reaching the far edge.
std::vector<int_rect> gradient_bands(const int_rect& rect, int stops, bool vertical);

// Where a picture of w x h lands in `target`: mode 2 stretches, 3 fits, 1 centres at its own
// size (fitting when it does not lie inside). A zero or negative result side uses the
// picture's own.
int_rect picture_rect(int mode, const int_rect& target, int width, int height);

// New size keeping the aspect ratio when one side is 0 or less; false when both are.
bool keep_aspect(int width, int height, int& new_width, int& new_height);
