#include "controls/colour.h"

#include <algorithm>

namespace {

int clamp_byte(int v) {
    return std::clamp(v, 0, 255);
}

} // namespace

argb_colour ToArgb(rgb_colour rgb) {
    return make_argb(255, rgb_red(rgb), rgb_green(rgb), rgb_blue(rgb));
}

rgb_colour ToRgb(argb_colour argb) {
    return make_rgb(argb_red(argb), argb_green(argb), argb_blue(argb));
}

argb_colour AdjustColor(argb_colour colour, int delta) {
    return make_argb(argb_alpha(colour), clamp_byte(argb_red(colour) + delta),
                     clamp_byte(argb_green(colour) + delta), clamp_byte(argb_blue(colour) + delta));
}

rgb_colour AdjustRgb(rgb_colour colour, int delta) {
    return make_rgb(clamp_byte(rgb_red(colour) + delta), clamp_byte(rgb_green(colour) + delta),
                    clamp_byte(rgb_blue(colour) + delta));
}

int GreyLevel(int red, int green, int blue) {
    // Integer form of floor(x / 16384 + 0.5) for the non-negative sums of byte values.
    return (red * 4897 + green * 9617 + blue * 1868 + 8192) / 16384;
}

argb_colour GreyColor(argb_colour colour) {
    const int g = GreyLevel(argb_red(colour), argb_green(colour), argb_blue(colour));
    return make_argb(argb_alpha(colour), g, g, g);
}

rgb_colour GreyRgb(rgb_colour colour) {
    const int g = GreyLevel(rgb_red(colour), rgb_green(colour), rgb_blue(colour));
    return make_rgb(g, g, g);
}

void ApplyTheme(CSCColorTheme& s, int theme, const theme_system_colours& sys,
                bool owner_is_list_like) {
    const argb_colour white = make_argb(255, 255, 255, 255);
    const argb_colour black = make_argb(255, 0, 0, 0);
    s.theme = theme;

    switch (theme) {
    case 3:
        s.cr_back = ToArgb(make_rgb(64, 64, 64));
        s.cr_title = ToArgb(make_rgb(211, 211, 211));
        s.cr_accent = ToArgb(make_rgb(16, 16, 16));
        s.cr_text = ToArgb(make_rgb(164, 164, 164));
        break;
    case 4:
        s.cr_back = ToArgb(make_rgb(37, 37, 38));
        s.cr_text = ToArgb(make_rgb(212, 212, 212));
        break;
    case 5:
        s.cr_back = ToArgb(sys.button_face);
        s.cr_text = ToArgb(sys.button_text);
        break;
    case 6:
    case 7:
    case 8:
    case 9:
    case 10: {
        static const rgb_colour accents[] = {make_rgb(97, 132, 180), make_rgb(186, 89, 18),
                                             make_rgb(59, 69, 91), make_rgb(32, 178, 174),
                                             make_rgb(214, 129, 8)};
        s.cr_back = white;
        s.cr_title = theme == 9 ? ToArgb(make_rgb(18, 24, 58)) : white;
        s.cr_accent = ToArgb(accents[theme - 6]);
        s.cr_text = black;
        break;
    }
    default:
        s.cr_back = ToArgb(owner_is_list_like ? sys.window : sys.button_face);
        s.cr_title = black;
        s.cr_accent = ToArgb(make_rgb(211, 211, 211));
        s.cr_text = ToArgb(sys.button_text);
        break;
    }

    // The derived slots; themes 4 and 5 leave title and accent as they were.
    const argb_colour back = s.cr_back;
    const argb_colour accent = s.cr_accent;
    s.cr_back_hover = AdjustColor(back, -16);
    s.cr_back_pressed = AdjustColor(back, -32);
    s.cr_back_alternate = AdjustColor(back, 8);
    s.cr_back_selected = AdjustColor(accent, 48);
    s.cr_text_selected = s.cr_text;
    s.cr_border = AdjustColor(back, -32);
    s.cr_border_active = accent;
    s.cr_text_disabled = GreyColor(AdjustColor(s.cr_text, 48));
    s.cr_text_grey = ToArgb(make_rgb(128, 128, 128));
    s.cr_text_dim = ToArgb(make_rgb(169, 169, 169));
    s.cr_grid = ToArgb(make_rgb(105, 105, 105));
    s.cr_link = ToArgb(make_rgb(32, 32, 255));
    s.cr_accent_hover = AdjustColor(accent, 16);
    s.cr_accent_pressed = AdjustColor(accent, -16);
    s.cr_accent_light = AdjustColor(accent, 32);
    s.cr_accent_grey = GreyColor(accent);
    s.cr_highlight = ToArgb(sys.highlight);
    s.cr_highlight_light = ToArgb(make_rgb(204, 232, 255));
    s.cr_highlight_border = ToArgb(make_rgb(153, 209, 255));
    s.cr_focus = ToArgb(make_rgb(0, 120, 215));
    s.cr_list = {s.cr_text, AdjustColor(back, -12), s.cr_accent};
}
