#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

#include "launcher/input_code_dlg.h"
#include "res/resource.h"

namespace {

// The access-code dialog of this process, once it shows.
HWND wait_for_dialog() {
    struct search {
        HWND found = nullptr;
        static BOOL CALLBACK each(HWND hwnd, LPARAM lparam) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(hwnd, &pid);
            if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(hwnd) &&
                ::GetDlgItem(hwnd, IDC_EDIT_CODE)) {
                reinterpret_cast<search*>(lparam)->found = hwnd;
                return FALSE;
            }
            return TRUE;
        }
    } s;
    for (int i = 0; i < 100 && !s.found; ++i) {
        ::EnumWindows(&search::each, reinterpret_cast<LPARAM>(&s));
        if (!s.found)
            ::Sleep(50);
    }
    return s.found;
}

HWND owned_window(HWND owner) {
    struct search {
        HWND owner;
        HWND found = nullptr;
        static BOOL CALLBACK each(HWND hwnd, LPARAM lparam) {
            auto* self = reinterpret_cast<search*>(lparam);
            if (::GetWindow(hwnd, GW_OWNER) == self->owner && ::IsWindowVisible(hwnd)) {
                self->found = hwnd;
                return FALSE;
            }
            return TRUE;
        }
    } s{owner};
    ::EnumWindows(&search::each, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

RECT client_place(HWND dialog, HWND control) {
    RECT r;
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

COLORREF pixel(HWND hwnd, int x, int y) {
    HDC dc = ::GetDC(hwnd);
    const COLORREF c = ::GetPixel(dc, x, y);
    ::ReleaseDC(hwnd, dc);
    return c;
}

std::wstring text_of(HWND hwnd) {
    wchar_t buffer[64] = {};
    ::SendMessageW(hwnd, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

void type(HWND box, const wchar_t* text) {
    for (const wchar_t* c = text; *c; ++c)
        ::SendMessageW(box, WM_CHAR, *c, 0);
    ::Sleep(100);
}

} // namespace

TEST(InputCodeDlg, LookPlacesAndBorderColours) {
    // Run on its own thread, as the pipeline runs it; looked at from here.
    CInputCodeDlg dlg;
    INT_PTR result = 0;
    std::thread modal([&] { result = dlg.DoModal(); });
    HWND h = wait_for_dialog();
    ASSERT_TRUE(h);
    ::Sleep(300);

    RECT window;
    ::GetWindowRect(h, &window);
    EXPECT_EQ(380, window.right - window.left);
    EXPECT_EQ(284, window.bottom - window.top);
    EXPECT_TRUE(::GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
    const RECT close = client_place(h, ::GetDlgItem(h, IDC_BUTTON_CODE_CLOSE));
    EXPECT_EQ(358, close.left);
    EXPECT_EQ(7, close.top);
    EXPECT_EQ(18, close.right - close.left);
    EXPECT_EQ(18, close.bottom - close.top);

    // The shadow: a click-through window owned by the dialog, 10 pixels out on every side.
    HWND shadow = owned_window(h);
    ASSERT_TRUE(shadow);
    EXPECT_TRUE(::GetWindowLongW(shadow, GWL_EXSTYLE) & WS_EX_TRANSPARENT);
    RECT around;
    ::GetWindowRect(shadow, &around);
    EXPECT_EQ(window.left - 10, around.left);
    EXPECT_EQ(window.bottom + 10, around.bottom);

    const COLORREF band = RGB(59, 70, 92);
    EXPECT_EQ(band, pixel(h, 300, 3)) << "the title band";
    EXPECT_EQ(band, pixel(h, 0, 150)) << "the frame";
    EXPECT_EQ(band, pixel(h, 379, 283)) << "the frame";
    EXPECT_EQ(RGB(255, 255, 255), pixel(h, 8, 120));

    HWND box = ::GetDlgItem(h, IDC_EDIT_CODE);
    HWND connect = ::GetDlgItem(h, IDOK);
    HWND warning = ::GetDlgItem(h, IDC_STATIC_WARNING);
    RECT b;
    ::GetClientRect(box, &b);
    EXPECT_EQ(RGB(211, 211, 211), pixel(box, b.right / 2, 0)) << "a grey border while empty";
    EXPECT_FALSE(::IsWindowEnabled(connect));

    type(box, L"12a");
    EXPECT_EQ(RGB(253, 128, 126), pixel(box, b.right / 2, b.bottom - 1)) << "red: not a code";
    EXPECT_TRUE(::IsWindowVisible(warning));
    EXPECT_FALSE(::IsWindowEnabled(connect));

    type(box, L"\b\b\b123456");
    EXPECT_EQ(L"123 456", text_of(box));
    EXPECT_EQ(RGB(32, 178, 174), pixel(box, b.right - 1, b.bottom / 2)) << "the accent: valid";
    EXPECT_FALSE(::IsWindowVisible(warning));
    EXPECT_TRUE(::IsWindowEnabled(connect));
    RECT c;
    ::GetClientRect(connect, &c);
    EXPECT_EQ(RGB(32, 178, 174), pixel(connect, 5, c.bottom / 2)) << "Connect in the accent";

    ::PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
    modal.join();
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_TRUE(dlg.m_title_key.empty());
}
