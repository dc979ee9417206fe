#include "controls/label_layout.h"

label_layout_result place_label(const label_layout_input& in) {
    label_layout_result r;
    const int cw = in.client_width;
    const int iw = in.icon_width;
    const int w = in.text_width;
    switch (in.align) {
    case label_align::centre:
        if (in.icon_centered) {
            r.icon_x = 8;
            r.text_left = (cw - w) / 2;
        } else if (in.has_text) {
            r.icon_x = (cw - iw - w - 4) / 2;
            r.text_left = r.icon_x + iw + 4;
        } else {
            r.icon_x = cw / 2 - iw / 2;
        }
        break;
    case label_align::right:
        if (in.icon_centered) {
            r.icon_x = 8;
            r.text_left = cw - w - 4;
        } else {
            r.text_left = cw - w;
            r.icon_x = r.text_left - iw - 2;
        }
        break;
    case label_align::left:
        if (in.has_text) {
            r.icon_x = 2;
            r.text_left = iw + 6;
        } else {
            r.icon_x = 0;
        }
        break;
    }
    if (in.centre_image) {
        r.icon_y = (in.client_height - in.icon_height) / 2;
        r.text_top = (in.client_height - in.text_height) / 2;
    } else if (in.has_text) {
        r.icon_y = in.text_height / 2 - in.icon_height / 2;
        if (r.icon_y < 0) {
            r.text_top = -r.icon_y;
            r.icon_y = 0;
        }
    }
    return r;
}

int label_fit_step(int text_width, int client_width, int height) {
    if (text_width * 10 > client_width * 9)
        return height <= 11 ? 0 : -1;
    if (text_width * 10 < client_width * 8)
        return 1;
    return 0;
}
