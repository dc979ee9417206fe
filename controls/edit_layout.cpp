#include "controls/edit_layout.h"

int_rect edit_text_rect(int flags, const int_rect& client, int text_height, int border_width,
                        int left_margin, int right_margin) {
    int_rect r;
    if (flags & 4)
        r.top = (client.height() - text_height) / 2 - 1;
    else if (flags & 8)
        r.top = client.bottom - border_width - text_height;
    else
        r.top = border_width;
    r.left = client.left + border_width + left_margin;
    r.right = client.right - border_width - right_margin;
    r.bottom = client.bottom - border_width;
    return r;
}
