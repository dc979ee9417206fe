#pragma once
// The owner-drawn button's choices that need no drawing: the state, the derived colour
// lists, the colour matrices of derived pictures and where the small icon goes.
#include <array>

#include "controls/colour.h"

enum button_state { state_normal = 0, state_hover = 1, state_pressed = 2, state_disabled = 3 };

// Disabled wins over pressed, pressed over hover.
button_state button_state_of(bool disabled, bool pressed, bool hover);

using colour_list = std::array<argb_colour, 4>;

// colour, lightened by 16, darkened by 16, its grey.
colour_list derived_colours(argb_colour colour);
// The four as given, except that a disabled value of k_keep_colour becomes grey(normal).
colour_list explicit_colours(argb_colour normal, argb_colour hover, argb_colour pressed,
                             argb_colour disabled);

using colour_matrix = std::array<std::array<float, 5>, 5>;
colour_matrix hover_matrix();    // red, green and blue scaled by 1.15
colour_matrix pressed_matrix();  // scaled by 0.8
colour_matrix disabled_matrix(); // 0.299 R + 0.587 G + 0.114 B + 0.101 in each
colour_matrix grey_matrix(float weight);

// The small icon's place, for bits of `align`: 1 centre, 2 right, else left; 4 vertical
// centre, 8 bottom, else top + 4.
void button_icon_place(int align, int client_width, int client_height, int text_width,
                       int icon_width, int icon_height, int gap, int& x, int& y);

// Check state after a click: a three-state box cycles 0, 1, 2.
int next_check_state(int state, bool three_state);
