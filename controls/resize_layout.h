#pragma once
// The proportional layout's arithmetic: proportions in parts of a whole (100), with the
// fractions of pixels carried from one resize to the next.
#include <string>

enum resize_edge { edge_left = 0, edge_top = 1, edge_width = 2, edge_height = 3 };

struct resize_item_state {
    int remainder[4] = {0, 0, 0, 0}; // left, top, width, height
    int part[4] = {0, 0, 0, 0};
};

struct resize_box {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// Moves and grows `box` for a change of the window's client size by (dx, dy); true when the
// control must be moved.
bool resize_step(resize_item_state& item, resize_box& box, int dx, int dy, int max_part = 100);

// The message `Add` shows for bad proportions ("" when they are good); the last failing test
// wins. %d in the result stands for the control id.
std::wstring resize_parts_message(int left, int top, int width, int height, bool is_window,
                                  int max_part = 100);
