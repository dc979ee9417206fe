#pragma once
// The edit box's text rectangle: vertical alignment inside its own border.
#include "util/draw_geometry.h"

// flags: 4 centre, 8 bottom, else top.
int_rect edit_text_rect(int flags, const int_rect& client, int text_height, int border_width,
                        int left_margin, int right_margin);
