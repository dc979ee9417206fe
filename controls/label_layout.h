#pragma once
// Where the label puts its icon (or picture) and its text, and the font-fitting step.

enum class label_align { left, centre, right };

struct label_layout_input {
    label_align align = label_align::left;
    bool centre_image = false;  // the style's vertical centring
    bool icon_centered = false; // icon pinned 8 pixels from the left
    int client_width = 0;
    int client_height = 0;
    int icon_width = 0;
    int icon_height = 0;
    int text_width = 0;  // W, measured with the prefix blanks
    int text_height = 0; // H
    bool has_text = false;
};

struct label_layout_result {
    int icon_x = 0;
    int icon_y = 0;
    int text_left = 0;
    int text_top = 0;
};

label_layout_result place_label(const label_layout_input& in);

// Font fitting: -1 one step smaller, +1 one step larger, 0 stop. `height` is the magnitude of
// the font's height in pixels.
int label_fit_step(int text_width, int client_width, int height);
