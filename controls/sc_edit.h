#pragma once
// Single-line text box over the platform's edit control: own colours per state, its own thin
// rounded border, vertical alignment of the text, a font that can follow the box's height,
// a placeholder while empty and unfocused, a transparent mode and a clickable right end.
#include <windows.h>

#include <string>

#include "controls/colour.h"
#include "controls/subclass_win.h"
#include "util/unique_handle.h"

// Registered message sent to the parent with a sc_edit_notice (code 8) when the user presses
// Enter or leaves the box.
UINT sc_edit_message();

class CSCEdit;
struct sc_edit_notice {
    CSCEdit* edit;
    int code;
};

class CSCEdit : public CSubclassWnd {
public:
    CSCEdit();
    ~CSCEdit() override;

    virtual void SetColors(argb_colour text, argb_colour back);
    virtual void SetTextColor(argb_colour colour);
    virtual void SetBackColor(argb_colour colour);
    virtual void SetDisabledTextColor(argb_colour colour);
    virtual void SetDisabledBackColor(argb_colour colour);
    virtual void SetReadOnlyBackColor(argb_colour colour);
    virtual void SetFontName(const std::wstring& face, BYTE charset = DEFAULT_CHARSET);
    virtual void SetFontSize(int points);
    virtual void SetFontWeight(int weight);
    virtual void SetAutoFontSize(bool on, double ratio = 0.5);
    virtual void SetTextAlign(int flags);
    virtual void SetPlaceholder(const std::wstring& text, argb_colour colour = k_keep_colour);
    void SetTransparent(bool on);
    void SetActionArea(bool on, int width);

    HFONT font() const { return static_cast<HFONT>(m_font.get()); }
    RECT text_rect() const { return m_textRect; }

    bool m_transparent = false;
    int m_textAlign = 4;
    bool m_ownBorder = false;
    int m_borderWidth = 1;
    argb_colour m_borderColor = make_argb(255, 211, 211, 211);
    argb_colour m_textColor;
    argb_colour m_backColor;
    argb_colour m_textColorDisabled;
    argb_colour m_backColorDisabled = make_argb(255, 211, 211, 211);
    bool m_useReadOnlyColor = true;
    argb_colour m_backColorReadOnly;
    std::wstring m_placeholder;
    argb_colour m_placeholderColor = make_argb(255, 211, 211, 211);
    bool m_actionArea = false;
    int m_actionWidth = 0;
    bool m_actionPressed = false;
    argb_colour m_actionColors[3] = {make_argb(255, 0, 255, 0), make_argb(255, 64, 255, 64),
                                     make_argb(255, 0, 192, 0)};
    bool m_autoFontSize = false;
    double m_fontRatio = 0.5;
    int m_fontPoints = 0;
    LOGFONTW m_logFont = {};

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    static LRESULT CALLBACK parent_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR id, DWORD_PTR data);
    HBRUSH control_colour(HDC dc);
    argb_colour state_back() const;
    void apply_font();
    void apply_alignment();
    void redraw();
    void notify(int code);
    void paint_background(HDC dc);
    void paint_border(HDC dc);
    void paint_placeholder();
    void copy_parent_background();

    HWND m_subclassedParent = nullptr;
    unique_hgdiobj m_font;
    unique_hgdiobj m_backBrush;
    unique_hgdiobj m_disabledBrush;
    unique_hgdiobj m_parentBrush; // the parent's pixels behind a transparent box
    int m_baseHeight = 0;
    RECT m_textRect = {};
};
