#include "controls/resize_layout.h"

bool resize_step(resize_item_state& item, resize_box& box, int dx, int dy, int max_part) {
    bool changed = false;
    // The order of the edges: left, width, top, height.
    const resize_edge order[] = {edge_left, edge_width, edge_top, edge_height};
    for (resize_edge e : order) {
        const int part = item.part[e];
        if (part <= 0)
            continue;
        const int delta = (e == edge_left || e == edge_width) ? dx : dy;
        const int v = part * delta;
        // The remainder is carried exactly, also when it cancels out to 0; a stale remainder
        // (or a nudge on ties) would leave the control a pixel off after a round trip.
        const int s = item.remainder[e] + v;
        item.remainder[e] = s % max_part;
        if (s == 0)
            continue;
        int* coord = e == edge_left    ? &box.left
                     : e == edge_top   ? &box.top
                     : e == edge_width ? &box.width
                                       : &box.height;
        *coord += s / max_part;
        changed = true;
        if ((e == edge_width || e == edge_height) && *coord < 0) {
            item.remainder[e] += *coord * max_part;
            *coord = 0;
        }
    }
    return changed;
}

std::wstring resize_parts_message(int left, int top, int width, int height, bool is_window,
                                  int max_part) {
    std::wstring message;
    if (left < 0 || left > max_part)
        message = L"CtrlID(%d) : left < 0 || left > m_maxPart";
    if (top < 0 || top > max_part)
        message = L"CtrlID(%d) : top < 0 || top > m_maxPart";
    if (width < 0 || width > max_part)
        message = L"CtrlID(%d) : width < 0 || width > m_maxPart";
    if (height < 0 || height > max_part)
        message = L"CtrlID(%d) : height < 0 || height > m_maxPart";
    if (left + width > max_part)
        message = L"CtrlID(%d) : (left + width) > m_maxPart";
    if (top + height > max_part)
        message = L"CtrlID(%d) : top + height) > m_maxPart";
    if (!is_window)
        message = L"CtrlID(%d) : invalid control's ID";
    return message;
}
