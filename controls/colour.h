#pragma once
// The controls' colour vocabulary: RGB values (red in the low byte, as the platform's
// drawing takes them) and ARGB values (alpha on top, as the imaging library takes them),
// the arithmetic that derives hover, pressed and disabled shades, and the theme schemes.
#include <cstdint>
#include <vector>

using rgb_colour = uint32_t;
using argb_colour = uint32_t;

constexpr rgb_colour make_rgb(int r, int g, int b) {
    return static_cast<rgb_colour>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int rgb_red(rgb_colour c) {
    return static_cast<int>(c & 0xFF);
}
constexpr int rgb_green(rgb_colour c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int rgb_blue(rgb_colour c) {
    return static_cast<int>((c >> 16) & 0xFF);
}

constexpr argb_colour make_argb(int a, int r, int g, int b) {
    return (static_cast<argb_colour>(a & 0xFF) << 24) | (static_cast<argb_colour>(r & 0xFF) << 16) |
           (static_cast<argb_colour>(g & 0xFF) << 8) | static_cast<argb_colour>(b & 0xFF);
}
constexpr int argb_alpha(argb_colour c) {
    return static_cast<int>((c >> 24) & 0xFF);
}
constexpr int argb_red(argb_colour c) {
    return static_cast<int>((c >> 16) & 0xFF);
}
constexpr int argb_green(argb_colour c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int argb_blue(argb_colour c) {
    return static_cast<int>(c & 0xFF);
}

// White with zero alpha: the setters' "leave this colour as it is".
constexpr argb_colour k_keep_colour = 0x00FFFFFF;

// Opaque ARGB from RGB, and back (alpha dropped).
argb_colour ToArgb(rgb_colour rgb);
rgb_colour ToRgb(argb_colour argb);

// Adds delta to red, green and blue, each clamped to 0..255; alpha kept.
argb_colour AdjustColor(argb_colour colour, int delta);
// The same on an RGB value.
rgb_colour AdjustRgb(rgb_colour colour, int delta);

// Luminance: floor((R x 4897 + G x 9617 + B x 1868) / 16384 + 0.5).
int GreyLevel(int red, int green, int blue);
// The grey level in red, green and blue; alpha kept.
argb_colour GreyColor(argb_colour colour);
rgb_colour GreyRgb(rgb_colour colour);

// System colours a theme may take (RGB), handed in so that the schemes stay pure.
struct theme_system_colours {
    rgb_colour window = make_rgb(255, 255, 255);
    rgb_colour button_face = make_rgb(240, 240, 240);
    rgb_colour button_text = make_rgb(0, 0, 0);
    rgb_colour highlight = make_rgb(0, 120, 215);
};

// A colour scheme; the dialogs read the background, the title and the accent.
struct CSCColorTheme {
    int theme = -1;
    void* owner = nullptr;

    argb_colour cr_text = 0;   // the first colour
    argb_colour cr_back = 0;   // background B
    argb_colour cr_title = 0;  // title T
    argb_colour cr_accent = 0; // accent A
    argb_colour cr_text_selected = 0;
    argb_colour cr_back_selected = 0;
    argb_colour cr_back_hover = 0;
    argb_colour cr_back_pressed = 0;
    argb_colour cr_back_alternate = 0;
    argb_colour cr_border = 0;
    argb_colour cr_border_active = 0;
    argb_colour cr_text_disabled = 0;
    argb_colour cr_text_grey = 0;
    argb_colour cr_text_dim = 0;
    argb_colour cr_grid = 0;
    argb_colour cr_link = 0;
    argb_colour cr_accent_hover = 0;
    argb_colour cr_accent_pressed = 0;
    argb_colour cr_accent_light = 0;
    argb_colour cr_accent_grey = 0;
    argb_colour cr_highlight = 0;
    argb_colour cr_highlight_light = 0;
    argb_colour cr_highlight_border = 0;
    argb_colour cr_focus = 0;
    std::vector<argb_colour> cr_list;
};

// Fills the scheme for a theme number. `owner_is_list_like` stands for an owner window of one
// of the platform's list, tree, edit, combo or list-box classes (the fallback background).
void ApplyTheme(CSCColorTheme& scheme, int theme, const theme_system_colours& sys,
                bool owner_is_list_like = false);
