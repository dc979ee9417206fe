#pragma once
// Owner-drawn push button, check box or radio button painted with anti-aliasing: per-state
// text and background colours, rounded corners, a border, picture sets per state (hover,
// pressed and disabled derived from one picture), a small icon, hover tracking, focus frame.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "controls/button_logic.h"
#include "controls/gdiplus_bitmap_win.h"
#include "controls/subclass_win.h"
#include "util/unique_handle.h"

// Registered message sent to the parent with a gdi_button_event.
UINT gdi_button_message();

class CGdiButton;
struct gdi_button_event {
    CGdiButton* button;
    int id;
    UINT event; // WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEHOVER or WM_MOUSELEAVE
};

class CGdiButton : public CSubclassWnd {
public:
    enum kind { push, check, radio };

    CGdiButton();
    ~CGdiButton() override;

    // Normal picture from the program's resources; the others derived when their id is 0.
    bool AddImage(const std::wstring& type, UINT normal, UINT hover = 0, UINT pressed = 0,
                  UINT disabled = 0);
    SIZE GetImageSize() const;
    void SetTextColor(argb_colour colour);
    void SetTextColors(argb_colour normal, argb_colour hover, argb_colour pressed,
                       argb_colour disabled = k_keep_colour);
    void SetBackColors(argb_colour normal, argb_colour hover, argb_colour pressed,
                       argb_colour disabled = k_keep_colour);
    void SetRound(argb_colour border, argb_colour outer);
    void SetFont11pt();
    int GetCheck() const { return m_checked; }
    void SetCheck(int state);

    struct image_set {
        CSCGdiplusBitmap picture[4];
    };

    kind m_kind = push;
    int m_sysCommand = -1;
    int m_checked = 0;
    colour_list m_textColors;
    colour_list m_backColors;
    bool m_backColorsSet = true;
    colour_list m_borderColors;
    std::vector<std::unique_ptr<image_set>> m_images;
    int m_imageIndex = 0;
    bool m_imageMode = false;
    argb_colour m_outerColor = 0xFFFFFFFF;
    int m_roundRadius = 0;
    bool m_drawBorder = false;
    int m_borderWidth = 1;
    bool m_hoverBorder = false;
    int m_hoverBorderWidth = 1;
    argb_colour m_hoverBorderColor = make_argb(255, 128, 128, 255);
    bool m_focusRect = false;
    argb_colour m_focusColor = make_argb(255, 105, 105, 105);
    int m_focusWidth = 1;
    bool m_flat3d = false;
    POINT m_pressedOffset = {0, 0};
    bool m_imageShadow = false;
    float m_shadowWeight = 1.0f;
    double m_shadowBlur = 5.0;
    bool m_hoverTracking = false;
    bool m_hover = false;
    bool m_hasFocus = false;
    bool m_showTextOverImage = false;
    CSCGdiplusBitmap m_icon;
    double m_iconScale = 0.6;
    int m_iconGap = 2;
    int m_iconAlign = 1;
    bool m_blinkVisible = false;
    bool m_keepDisabledPicture = false;
    LOGFONTW m_logFont = {};

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    static LRESULT CALLBACK parent_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR id, DWORD_PTR data);
    void draw(HDC dc, const RECT& r, bool selected);
    void notify(UINT event);
    std::wstring text() const;

    HWND m_subclassedParent = nullptr;
    unique_hgdiobj m_font;
    bool m_threeState = false;
    bool m_pushLike = false;
    bool m_tracking = false;
};
