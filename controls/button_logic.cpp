#include "controls/button_logic.h"

button_state button_state_of(bool disabled, bool pressed, bool hover) {
    if (disabled)
        return state_disabled;
    if (pressed)
        return state_pressed;
    return hover ? state_hover : state_normal;
}

colour_list derived_colours(argb_colour colour) {
    return {colour, AdjustColor(colour, 16), AdjustColor(colour, -16), GreyColor(colour)};
}

colour_list explicit_colours(argb_colour normal, argb_colour hover, argb_colour pressed,
                             argb_colour disabled) {
    return {normal, hover, pressed, disabled == k_keep_colour ? GreyColor(normal) : disabled};
}

namespace {

colour_matrix identity() {
    colour_matrix m{};
    for (int i = 0; i < 5; ++i)
        m[i][i] = 1.0f;
    return m;
}

colour_matrix scaled(float f) {
    colour_matrix m = identity();
    m[0][0] = m[1][1] = m[2][2] = f;
    return m;
}

} // namespace

colour_matrix hover_matrix() {
    return scaled(1.15f);
}
colour_matrix pressed_matrix() {
    return scaled(0.8f);
}

colour_matrix disabled_matrix() {
    // Rows are inputs (R, G, B, A, bias), columns outputs, as the imaging library takes them.
    colour_matrix m = identity();
    for (int out = 0; out < 3; ++out) {
        m[0][out] = 0.299f;
        m[1][out] = 0.587f;
        m[2][out] = 0.114f;
        m[4][out] = 0.101f;
    }
    return m;
}

colour_matrix grey_matrix(float weight) {
    colour_matrix m = identity();
    for (int out = 0; out < 3; ++out) {
        m[0][out] = 0.299f * weight;
        m[1][out] = 0.587f * weight;
        m[2][out] = 0.114f * weight;
    }
    return m;
}

void button_icon_place(int align, int client_width, int client_height, int text_width,
                       int icon_width, int icon_height, int gap, int& x, int& y) {
    if (align & 1)
        x = (client_width - text_width - icon_width - gap) / 2;
    else if (align & 2)
        x = client_width - 2 * icon_width - gap - 8;
    else
        x = gap;
    if (align & 4)
        y = (client_height - icon_height) / 2;
    else if (align & 8)
        y = client_height - icon_height - 4;
    else
        y = 4;
}

int next_check_state(int state, bool three_state) {
    return three_state ? (state + 1) % 3 : (state == 0 ? 1 : 0);
}
