#pragma once
// Owner-painted text label over the platform's static control: colour, gradient or picture
// background, rounded corners, border, an icon or picture before the text, blinking, link,
// colour picker, font fitting and in-place editing. SetText and SetTextF may be called from
// the worker thread: they are queued for the window's thread and return at once.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "controls/colour.h"
#include "controls/gdiplus_bitmap_win.h"
#include "controls/sc_edit.h"
#include "controls/subclass_win.h"
#include "util/unique_handle.h"

// Registered message sent to the parent when the user changed the value; lparam points to
// a sc_static_change.
UINT sc_static_message();

class CSCStatic;
struct sc_static_change {
    CSCStatic* label;
    std::wstring value;
};

class CSCStatic : public CSubclassWnd {
public:
    CSCStatic();
    ~CSCStatic() override;

    // Colour value meaning "keep the current text colour".
    static constexpr argb_colour keep_colour = k_keep_colour;

    void SetText(const std::wstring& text, argb_colour colour = keep_colour);
    void SetTextF(const wchar_t* format, ...);
    std::wstring GetText() const;
    void SetFontSize(int points);
    // Recreates the font from m_logFont (after a direct change such as the weight).
    void RecreateFont();
    // Shows the icon; it stays the caller's (it may be shared) and must live while shown.
    void SetIcon(HICON icon);
    void UpdateSurface();

    std::wstring m_text;
    argb_colour m_textColor;
    argb_colour m_backColor;
    argb_colour m_outerColor = 0xFFFFFFFF;
    int m_roundRadius = 0;
    bool m_fillRoundBack = false;
    bool m_gradient = false;
    bool m_gradientVertical = false;
    std::vector<COLORREF> m_gradientColors;
    bool m_sunken = false;
    bool m_border = false;
    int m_borderWidth = 1;
    argb_colour m_borderColor = make_argb(255, 105, 105, 105);
    HICON m_icon = nullptr; // the caller's, never destroyed here
    int m_iconWidth = 0;
    int m_iconHeight = 0;
    bool m_iconCentered = false;
    CSCGdiplusBitmap m_image;
    std::vector<std::unique_ptr<CSCGdiplusBitmap>> m_images;
    int m_imageIndex = 0;
    int m_prefixSpaces = 0;
    bool m_ignoreStyle = false;
    bool m_blinkHidden = false;
    int m_blinkShowMs = 400;
    int m_blinkHideMs = 1200;
    std::wstring m_link;
    argb_colour m_linkColor = make_argb(255, 65, 105, 225);
    bool m_editable = false;
    std::wstring m_valueText;
    argb_colour m_valueColor = make_argb(255, 32, 32, 32);
    bool m_autoFitFont = false;
    CSCEdit m_editor;
    LOGFONTW m_logFont = {};

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    void paint(HDC dc) override;
    void redraw_parent_area();
    // After a text change: the label, and the parent's area under it when that can show.
    void refresh_text();
    void fit_font();
    void start_editing();
    void finish_editing();
    void pick_colour();
    void notify_parent();

    unique_hgdiobj m_font;
    // Counts SetText calls; a queued text that is no longer the latest is not drawn.
    std::atomic<unsigned> m_text_ticket{0};
    bool m_centre = false;
    bool m_right = false;
    bool m_vcentre = false;
};
