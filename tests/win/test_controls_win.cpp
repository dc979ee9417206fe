#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <initializer_list>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "framework/framework_win.h"
#include "controls/gdi_button.h"
#include "controls/gdiplus_bitmap_win.h"
#include "controls/mac_progress_ctrl.h"
#include "controls/memory_dc_win.h"
#include "controls/resize_ctrl.h"
#include "controls/rich_edit_ctrl_ex.h"
#include "controls/sc_edit.h"
#include "controls/sc_static.h"
#include "controls/wnd_shadow.h"
#include "res/resource.h"
#include "tests/win/alloc_limit.h"
#include "util/dc_scope_win.h"
#include "util/unique_handle.h"
#include "framework/window_placement_win.h"

extern "C" decltype(&::GetDC) __imp_GetDC;
extern "C" decltype(&::ReleaseDC) __imp_ReleaseDC;
extern "C" decltype(&::SelectObject) __imp_SelectObject;

namespace {

// A plain parent window that records the registered notifications it receives.
std::vector<int> g_edit_codes;

LRESULT CALLBACK parent_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == sc_edit_message()) {
        g_edit_codes.push_back(reinterpret_cast<const sc_edit_notice*>(lparam)->code);
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

HWND make_parent(int w = 400, int h = 200, DWORD style = WS_POPUP | WS_VISIBLE) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = parent_proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"FenwaControlsTest";
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        ::RegisterClassW(&wc);
        registered = true;
    }
    return ::CreateWindowExW(0, L"FenwaControlsTest", L"test", style, 50, 50, w, h, nullptr,
                             nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

struct window_owner {
    HWND hwnd;
    ~window_owner() {
        if (::IsWindow(hwnd))
            ::DestroyWindow(hwnd);
    }
};

// The control's own painting into a memory bitmap, read back pixel by pixel.
class snapshot {
public:
    explicit snapshot(HWND control) {
        RECT r;
        ::GetClientRect(control, &r);
        HDC screen = ::GetDC(nullptr);
        m_dc = ::CreateCompatibleDC(screen);
        m_bitmap.reset(::CreateCompatibleBitmap(screen, r.right, r.bottom));
        ::ReleaseDC(nullptr, screen);
        m_old = ::SelectObject(m_dc, m_bitmap.get());
        ::SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(m_dc), PRF_CLIENT);
    }
    ~snapshot() {
        ::SelectObject(m_dc, m_old);
        ::DeleteDC(m_dc);
    }
    COLORREF at(int x, int y) const { return ::GetPixel(m_dc, x, y); }

private:
    HDC m_dc;
    unique_hgdiobj m_bitmap;
    HGDIOBJ m_old;
};

// Counts selections into a context after the program released it, through the import slots
// the program calls: they point at recorders while the watch lives.
class released_dc_watch {
public:
    released_dc_watch() {
        ::ReleaseDC(nullptr, ::GetDC(nullptr)); // binds the delay-loaded slots first
        ::SelectObject(nullptr, nullptr);
        s_released = nullptr;
        s_count = 0;
        swap_slots();
    }
    ~released_dc_watch() { swap_slots(); }
    released_dc_watch(const released_dc_watch&) = delete;
    released_dc_watch& operator=(const released_dc_watch&) = delete;
    static int selections_after_release() { return s_count; }

private:
    template <typename F> static void swap_slot(F*& slot, F*& other) {
        DWORD old = 0;
        ::VirtualProtect(&slot, sizeof(slot), PAGE_READWRITE, &old);
        std::swap(slot, other);
        ::VirtualProtect(&slot, sizeof(slot), old, &old);
    }
    static void swap_slots() {
        swap_slot(__imp_GetDC, s_get_dc);
        swap_slot(__imp_ReleaseDC, s_release_dc);
        swap_slot(__imp_SelectObject, s_select);
    }
    static HDC WINAPI get_dc(HWND hwnd) {
        HDC dc = s_get_dc(hwnd);
        if (dc == s_released)
            s_released = nullptr;
        return dc;
    }
    static int WINAPI release_dc(HWND hwnd, HDC dc) {
        s_released = dc;
        return s_release_dc(hwnd, dc);
    }
    static HGDIOBJ WINAPI select(HDC dc, HGDIOBJ object) {
        s_count += dc && dc == s_released;
        return s_select(dc, object);
    }

    static inline HDC s_released = nullptr;
    static inline int s_count = 0;
    static inline decltype(&::GetDC) s_get_dc = get_dc;
    static inline decltype(&::ReleaseDC) s_release_dc = release_dc;
    static inline decltype(&::SelectObject) s_select = select;
};

} // namespace

TEST(MemoryDC, CopiesToTheTargetAtTheEnd) {
    HDC screen = ::GetDC(nullptr);
    HDC target = ::CreateCompatibleDC(screen);
    unique_hgdiobj bitmap(::CreateCompatibleBitmap(screen, 20, 20));
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ old = ::SelectObject(target, bitmap.get());
    RECT all = {0, 0, 20, 20};
    ::FillRect(target, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    {
        RECT part = {5, 5, 15, 15};
        CMemoryDC mem(target, &part);
        unique_hgdiobj red(::CreateSolidBrush(RGB(255, 0, 0)));
        ::FillRect(mem, &part, static_cast<HBRUSH>(red.get()));
        EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(target, 10, 10)) << "nothing before the end";
    }
    EXPECT_EQ(RGB(255, 0, 0), ::GetPixel(target, 10, 10));
    EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(target, 2, 2));
    ::SelectObject(target, old);
    ::DeleteDC(target);
}

TEST(GdiplusBitmap, LoadsResourcesResizesAndRecolours) {
    ASSERT_TRUE(gdiplus_ready());
    CSCGdiplusBitmap upper, lower, missing;
    EXPECT_TRUE(upper.LoadFromResource(L"PNG", IDB_PNG_CLOSE));
    EXPECT_TRUE(lower.LoadFromResource(L"png", IDB_PNG_CLOSE));
    EXPECT_EQ(18, upper.m_width);
    EXPECT_EQ(18, lower.m_height);
    EXPECT_EQ(4, upper.m_channels);
    EXPECT_EQ(L"resource_image.png", upper.m_name);
    EXPECT_FALSE(missing.LoadFromResource(L"PNG", 4321));
    EXPECT_FALSE(missing.valid());

    CSCGdiplusBitmap banner;
    ASSERT_TRUE(banner.Canvas(200, 100, 0xFF4169E1));
    EXPECT_TRUE(banner.Resize(0, 50));
    EXPECT_EQ(100, banner.m_width);
    EXPECT_EQ(50, banner.m_height);
    EXPECT_FALSE(banner.Resize(0, 0));

    // Drawn at its own size when it fits, fitted when it does not.
    const RECT big = {0, 0, 100, 100};
    const RECT drawn = banner.Draw(::GetDC(nullptr), RECT{0, 0, 40, 40}, 1);
    EXPECT_EQ(40, drawn.right - drawn.left);
    EXPECT_EQ(20, drawn.bottom - drawn.top);
    (void)big;

    ASSERT_TRUE(banner.ToGrey());
    ASSERT_TRUE(banner.LockPixels());
    const uint8_t* px = banner.m_pixels.data() + 25 * banner.m_stride + 50 * 4;
    EXPECT_EQ(px[0], px[1]);
    EXPECT_EQ(px[1], px[2]);

    CSCGdiplusBitmap shadow;
    ASSERT_TRUE(shadow.MakeShadowImage(upper, 2.0));
    EXPECT_EQ(28, shadow.m_width);
}

TEST(ProgressCtrl, PillBarTrackAndColours) {
    window_owner parent{make_parent()};
    HWND bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 10, 300, 12,
                                 parent.hwnd, reinterpret_cast<HMENU>(1000), nullptr, nullptr);
    CMacProgressCtrl progress;
    ASSERT_TRUE(progress.SubclassWindow(bar));
    progress.m_style = 1;
    progress.m_barColor = RGB(65, 105, 225);
    progress.m_backColor = RGB(245, 245, 245);
    progress.SetTrackColor(RGB(166, 166, 166));
    progress.SetRange(0, 3);
    progress.SetPos(0);
    {
        snapshot s(bar);
        EXPECT_EQ(RGB(166, 166, 166), s.at(20, 6)) << "only the track at the lower bound";
        EXPECT_EQ(RGB(245, 245, 245), s.at(150, 0)) << "background above the pill strip";
    }
    progress.SetPos(1);
    EXPECT_EQ(1, progress.GetPos());
    {
        snapshot s(bar);
        EXPECT_EQ(RGB(65, 105, 225), s.at(20, 6));
        EXPECT_EQ(RGB(65, 105, 225), s.at(80, 6));
        EXPECT_EQ(RGB(166, 166, 166), s.at(200, 6));
    }
    progress.SetPos(3);
    {
        snapshot s(bar);
        EXPECT_EQ(RGB(65, 105, 225), s.at(290, 6)) << "the whole width at the upper bound";
    }
    progress.SetTrackColor(RGB(255, 0, 0));
    progress.SetPos(0);
    {
        snapshot s(bar);
        EXPECT_EQ(RGB(255, 0, 0), s.at(150, 6));
    }
    // An empty range draws no bar and shows the zero text.
    progress.SetRange(2, 2);
    progress.m_showText = true;
    {
        snapshot s(bar);
        EXPECT_EQ(RGB(255, 0, 0), s.at(20, 6));
    }
    EXPECT_EQ(L"0.0 %", progress.m_text);
    // Auto-hide: shown by the range, hidden at the end.
    progress.m_autoHide = true;
    progress.SetRange(0, 2);
    EXPECT_TRUE(::IsWindowVisible(bar));
    progress.SetPos(2);
    EXPECT_FALSE(::IsWindowVisible(bar));
}

namespace {
// Shades of the default bar colour, green: lighter 1..3, darker 1..2.
const COLORREF k_green_shades[5] = {RGB(51, 255, 51), RGB(102, 255, 102), RGB(153, 255, 153),
                                    RGB(0, 204, 0), RGB(0, 153, 0)};

HWND make_bar(HWND parent, int w, int h, DWORD style, CMacProgressCtrl& progress) {
    HWND bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, w, h,
                                 parent, nullptr, nullptr, nullptr);
    EXPECT_TRUE(progress.SubclassWindow(bar));
    return bar;
}
} // namespace

TEST(ProgressCtrl, ShadedVerticalBarsAndShadedPill) {
    const COLORREF green = RGB(0, 255, 0), lightest = k_green_shades[2];
    const COLORREF darker1 = k_green_shades[3], darker2 = k_green_shades[4];
    window_owner parent{make_parent()};
    CMacProgressCtrl tall, thin, pill;
    HWND tall_bar = make_bar(parent.hwnd, 20, 100, PBS_VERTICAL, tall);
    HWND thin_bar = make_bar(parent.hwnd, 3, 60, PBS_VERTICAL, thin);
    HWND pill_bar = make_bar(parent.hwnd, 300, 20, 0, pill);
    tall.m_shaded = thin.m_shaded = pill.m_shaded = true;
    pill.m_style = 1;
    pill.m_backColor = RGB(245, 245, 245);
    for (CMacProgressCtrl* p : {&tall, &thin, &pill}) {
        p->SetRange(0, 2);
        p->SetPos(p == &thin ? 2 : 1);
    }
    {
        // Half way up: shaded in columns from row 50 down, the lightest shade inside.
        snapshot s(tall_bar);
        const COLORREF across[] = {darker1, green, lightest, lightest, darker1, darker2};
        const int columns[] = {0, 1, 10, 10, 18, 19}, rows[] = {75, 75, 75, 40, 75, 75};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(across[i], s.at(columns[i], rows[i])) << columns[i] << "," << rows[i];
        EXPECT_EQ(darker2, s.at(10, 99)) << "the bottom end";
    }
    {
        // Three pixels wide: a bar-coloured rectangle outlined with darker shade 1.
        snapshot s(thin_bar);
        EXPECT_EQ(green, s.at(1, 30));
        for (const POINT p : {POINT{0, 30}, POINT{2, 30}, POINT{1, 0}, POINT{1, 59}})
            EXPECT_EQ(darker1, s.at(p.x, p.y)) << p.x << "," << p.y;
    }
    {
        // The shaded pill paints only its strip, rows 6..16 of 20.
        snapshot s(pill_bar);
        for (const int x : {50, 250})
            EXPECT_TRUE(s.at(x, 5) == RGB(245, 245, 245) && s.at(x, 17) == RGB(245, 245, 245));
        EXPECT_EQ(darker1, s.at(50, 6));
        EXPECT_EQ(darker2, s.at(50, 16));
        EXPECT_EQ(darker2, s.at(149, 11)) << "the bar ends half way";
        EXPECT_EQ(lightest, s.at(250, 11));
    }
}

TEST(ProgressCtrl, VerticalMarqueeStripesOverAGradientAlongTheHeight) {
    window_owner parent{make_parent(400, 300)};
    CMacProgressCtrl progress;
    HWND bar = make_bar(parent.hwnd, 40, 200, PBS_VERTICAL, progress);
    progress.m_trackColor = RGB(10, 10, 10);
    progress.m_marqueeColors = {RGB(0, 0, 255), RGB(255, 0, 0)};
    progress.m_marquee = true; // no timer: the block stays at rows 30..149
    progress.m_marqueePos = 150;
    snapshot s(bar);
    // Down the left edge a stripe every 20 rows in the shades in turn, none between.
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(k_green_shades[k % 5], s.at(0, 30 + 20 * k)) << "stripe " << k;
        for (const COLORREF shade : k_green_shades)
            EXPECT_NE(shade, s.at(0, 40 + 20 * k)) << "between stripes " << k;
    }
    EXPECT_EQ(k_green_shades[1], s.at(10, 40)) << "rising to the right";
    // Off the stripes a row is one colour, and the colour changes down the block.
    EXPECT_EQ(s.at(5, 100), s.at(25, 100));
    EXPECT_NE(s.at(5, 40), s.at(5, 100));
    EXPECT_EQ(RGB(10, 10, 10), s.at(20, 180)) << "track below the block";
}

TEST(ProgressCtrl, WorkerCallsRunOnTheWindowThread) {
    // The pipeline calls from its own thread; the dialog carries the call over.
    class host : public CDialog {
    public:
        host() : CDialog(IDD_ABOUTBOX) {}
        CMacProgressCtrl bar;
        int seen = -1;

    protected:
        BOOL OnInitDialog() override {
            HWND h = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 100,
                                       10, m_hWnd, nullptr, nullptr, nullptr);
            bar.SubclassWindow(h);
            std::thread([this] {
                bar.SetRange(0, 10);
                bar.SetPos(7);
                seen = bar.GetPos();
                EndDialog(IDOK);
            }).detach();
            return TRUE;
        }
    } dlg;
    dlg.DoModal();
    EXPECT_EQ(7, dlg.seen);
}

TEST(UiQueue, WorkerCallsKeepTheirOrderAndEndWithTheDialog) {
    // Queued calls run in order and before a later waiting call; the last text and position
    // win; once the dialog is gone, nothing queued for it runs.
    class host : public CDialog {
    public:
        host() : CDialog(IDD_ABOUTBOX) {}
        CMacProgressCtrl bar;
        CSCStatic label;
        std::vector<int> order;
        std::vector<int> seen_at_invoke;
        std::wstring text, window_text;
        int pos = -1;
        HWND root = nullptr;
        std::thread worker;

    protected:
        BOOL OnInitDialog() override {
            root = m_hWnd;
            bar.SubclassWindow(::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0,
                                                 0, 100, 10, m_hWnd, nullptr, nullptr, nullptr));
            label.SubclassWindow(::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 20,
                                                   100, 20, m_hWnd, nullptr, nullptr, nullptr));
            bar.SetRange(0, 300);
            worker = std::thread([this] {
                for (int i = 1; i <= 300; ++i) {
                    ui_post(m_hWnd, [this, i] { order.push_back(i); });
                    label.SetTextF(L"entry %d", i);
                    bar.SetPos(i);
                }
                ui_invoke(m_hWnd, [this] {
                    seen_at_invoke = order;
                    wchar_t buffer[32] = {};
                    ::GetWindowTextW(label.GetSafeHwnd(), buffer, 32);
                    window_text = buffer;
                });
                text = label.GetText();
                pos = bar.GetPos();
                EndDialog(IDOK);
            });
            return TRUE;
        }
    } dlg;
    dlg.DoModal();
    dlg.worker.join();
    ASSERT_EQ(300u, dlg.seen_at_invoke.size());
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(i + 1, dlg.seen_at_invoke[static_cast<size_t>(i)]);
    EXPECT_EQ(L"entry 300", dlg.text);
    EXPECT_EQ(L"entry 300", dlg.window_text);
    EXPECT_EQ(300, dlg.pos);

    bool ran = false;
    std::thread([&] { ui_post(dlg.root, [&] { ran = true; }); }).join();
    EXPECT_FALSE(ran) << "a call for a dialog that is gone";
}

TEST(UiQueue, CallsLeftByASpentRunStayAheadOfLaterOnes) {
    // A paced run stops once its time is spent; calls queued while it ran must still come
    // after the ones it left.
    class host : public CDialog {
    public:
        host() : CDialog(IDD_ABOUTBOX) {}
        std::vector<int> order, seen;
        unique_hhandle go{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        unique_hhandle slow_started{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        std::thread worker;

    protected:
        BOOL OnInitDialog() override {
            worker = std::thread([this] {
                // The gate holds the dialog's thread until the slow calls are all queued,
                // so that the next run takes them together.
                ui_post(m_hWnd, [this] { ::WaitForSingleObject(go.get(), 5000); });
                for (int i = 1; i <= 40; ++i)
                    ui_post(m_hWnd, [this, i] {
                        ::SetEvent(slow_started.get());
                        ::Sleep(2);
                        order.push_back(i);
                    });
                ::SetEvent(go.get());
                ::WaitForSingleObject(slow_started.get(), 5000);
                for (int i = 41; i <= 100; ++i)
                    ui_post(m_hWnd, [this, i] { order.push_back(i); });
                ui_invoke(m_hWnd, [this] { seen = order; });
                EndDialog(IDOK);
            });
            return TRUE;
        }
    } dlg;
    dlg.DoModal();
    dlg.worker.join();
    ASSERT_EQ(100u, dlg.seen.size());
    for (size_t i = 0; i < 100; ++i)
        ASSERT_EQ(static_cast<int>(i) + 1, dlg.seen[i]);
}

TEST(LogView, TimestampOnlyOnAFreshLine) {
    // A line gets its timestamp when what follows the last break is only blanks, however
    // long that tail is.
    unique_hmodule rich(::LoadLibraryW(L"RICHED20.DLL"));
    window_owner parent{make_parent()};
    HWND h = ::CreateWindowExW(0, L"RichEdit20W", L"", WS_CHILD | ES_MULTILINE | ES_READONLY, 0, 0,
                               300, 100, parent.hwnd, nullptr, nullptr, nullptr);
    CRichEditCtrlEx view;
    ASSERT_TRUE(view.SubclassWindow(h));
    view.m_showTime = true;
    view.AppendText(-1, L"a");
    view.AppendText(-1, L"b");
    view.AppendText(-1, L"\nc  \n");
    view.AppendText(-1, L"d" + std::wstring(600, L' '));
    view.AppendText(-1, L"e\n" + std::wstring(600, L' '));
    view.AppendText(-1, L"f");

    std::vector<std::wstring> lines;
    const std::wstring text = view.GetText();
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    auto stamps = [](const std::wstring& line) {
        size_t n = 0;
        for (size_t at = line.find(L") "); at != std::wstring::npos; at = line.find(L") ", at + 1))
            ++n;
        return n;
    };
    ASSERT_EQ(4u, lines.size()) << lines.size();
    EXPECT_EQ(1u, stamps(lines[0]));
    EXPECT_EQ(L"ab", lines[0].substr(lines[0].size() - 2));
    EXPECT_EQ(1u, stamps(lines[1]));
    EXPECT_EQ(L"c  ", lines[1].substr(lines[1].size() - 3));
    EXPECT_EQ(1u, stamps(lines[2])) << "no stamp before e: d is on its line";
    EXPECT_EQ(1u, stamps(lines[3])) << "a stamp before f: only blanks after the break";
    EXPECT_EQ(L"f", lines[3].substr(lines[3].size() - 1));
}

// A visible log view with a scroll bar, in a parent that has no font, focus elsewhere.
struct log_view_host {
    unique_hmodule rich{::LoadLibraryW(L"RICHED20.DLL")};
    window_owner parent{make_parent()};
    HWND h = ::CreateWindowExW(0, L"RichEdit20W", L"",
                               WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | WS_VSCROLL, 0,
                               0, 300, 100, parent.hwnd, nullptr, nullptr, nullptr);
    CRichEditCtrlEx view;

    log_view_host() {
        view.SubclassWindow(h);
        view.m_showTime = false;
        ::SetFocus(parent.hwnd);
    }
    LRESULT first_line() const { return ::SendMessageW(h, EM_GETFIRSTVISIBLELINE, 0, 0); }
    CHARRANGE selection() const {
        CHARRANGE r = {};
        ::SendMessageW(h, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&r));
        return r;
    }
};

TEST(LogView, FollowsTheEndUntilTheUserMovesTheCaret) {
    log_view_host v;
    for (int i = 0; i < 40; ++i)
        v.view.AddLine(-1, L"line %d", i);
    EXPECT_GT(v.first_line(), 20);
    EXPECT_TRUE(v.view.m_autoScroll);

    // The user clicked into line 5, then elsewhere.
    const LRESULT at = ::SendMessageW(v.h, EM_LINEINDEX, 5, 0) + 3;
    ::SendMessageW(v.h, EM_SETSEL, at, at);
    ASSERT_NE(v.h, ::GetFocus());
    v.view.AddLine(-1, L"more");
    EXPECT_FALSE(v.view.m_autoScroll);
    const std::wstring text = v.view.GetText();
    EXPECT_EQ(L"line 39\r\nmore\r\n", text.substr(text.size() - 15)) << "still appended at the end";
    // Nothing turns the following on again, not even the caret back at the end.
    ::SendMessageW(v.h, EM_SETSEL, -1, -1);
    v.view.AddLine(-1, L"last");
    EXPECT_FALSE(v.view.m_autoScroll);
}

TEST(LogView, NoticeKeepsTheSelectionAndViewWhenScrolledUp) {
    log_view_host v;
    for (int i = 0; i < 40; ++i)
        v.view.AddLine(-1, L"line %d", i);
    v.view.AddNotice(L"at the bottom", -1, true);
    POINTL end = {};
    ::SendMessageW(v.h, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&end),
                   ::SendMessageW(v.h, EM_LINEINDEX, 40, 0));
    EXPECT_LT(end.y, 100) << "the notice's line is in view";

    ::SendMessageW(v.h, WM_VSCROLL, SB_TOP, 0);
    ::SendMessageW(v.h, EM_SETSEL, 3, 7);
    EXPECT_EQ(L"scrolled up\n", v.view.AddNotice(L"scrolled up", -1, true));
    EXPECT_EQ(3, v.selection().cpMin);
    EXPECT_EQ(7, v.selection().cpMax);
    EXPECT_EQ(0, v.first_line());
    EXPECT_NE(std::wstring::npos, v.view.GetText().find(L"scrolled up"));
}

TEST(LogView, AppendAlignsItsParagraphMarksModifiedAndDropsWhatMemoryRefuses) {
    log_view_host v;
    v.view.m_alignment = PFA_RIGHT;
    ::SendMessageW(v.h, EM_SETMODIFY, FALSE, 0);
    v.view.AppendText(-1, L"right\n");
    EXPECT_NE(0, ::SendMessageW(v.h, EM_GETMODIFY, 0, 0));
    ::SendMessageW(v.h, EM_SETSEL, 0, 0);
    PARAFORMAT2 pf = {};
    pf.cbSize = sizeof(pf);
    ::SendMessageW(v.h, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&pf));
    EXPECT_EQ(PFA_RIGHT, pf.wAlignment);

    const std::wstring huge(200000, L'x');
    {
        alloc_limit limit(256 * 1024);
        EXPECT_NO_THROW(v.view.AddLine(-1, L"%s", huge.c_str()));
    }
    EXPECT_EQ(std::wstring::npos, v.view.GetText().find(L"xxxx"));
}

TEST(LogView, FontSettersSetTheWindowsFont) {
    log_view_host v;
    v.view.SetFontName(L"Tahoma");
    v.view.SetFontSize(9);
    v.view.SetFontBold(true);
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(-::MulDiv(9, dpi, 72), v.view.m_logFont.lfHeight);
    EXPECT_EQ(FW_BOLD, v.view.m_logFont.lfWeight);
    EXPECT_STREQ(L"Tahoma", v.view.m_logFont.lfFaceName);

    auto window_font = [&] {
        LOGFONTW lf = {};
        HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageW(v.h, WM_GETFONT, 0, 0));
        EXPECT_NE(0, ::GetObjectW(font, sizeof(lf), &lf));
        return lf;
    };
    auto text_format = [&] {
        CHARFORMAT2W cf = {};
        cf.cbSize = sizeof(cf);
        ::SendMessageW(v.h, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
        return cf;
    };
    LOGFONTW lf = window_font();
    EXPECT_EQ(v.view.m_logFont.lfHeight, lf.lfHeight);
    EXPECT_EQ(FW_BOLD, lf.lfWeight);
    EXPECT_STREQ(L"Tahoma", lf.lfFaceName);
    CHARFORMAT2W cf = text_format();
    EXPECT_STREQ(L"Tahoma", cf.szFaceName);
    EXPECT_NEAR(180, cf.yHeight, 15) << "9 points in twips";
    EXPECT_TRUE(cf.dwEffects & CFE_BOLD);

    v.view.SetFontBold(false);
    EXPECT_EQ(FW_NORMAL, window_font().lfWeight);
    EXPECT_FALSE(text_format().dwEffects & CFE_BOLD);
}

TEST(LogView, AttachTakesTheWindowsFontElseTheParentsElseTheSystemFont) {
    class host : public CDialog {
    public:
        host() : CDialog(IDD_ABOUTBOX) {}
        LOGFONTW dialog_font = {}, from_parent = {}, from_window = {};

    protected:
        BOOL OnInitDialog() override {
            ::GetObjectW(reinterpret_cast<HGDIOBJ>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0)),
                         sizeof(dialog_font), &dialog_font);
            CRichEditCtrlEx a;
            a.SubclassWindow(::CreateWindowExW(0, L"RichEdit20W", L"", WS_CHILD | ES_MULTILINE, 0,
                                               0, 50, 20, m_hWnd, nullptr, nullptr, nullptr));
            from_parent = a.m_logFont;
            LOGFONTW own = {};
            own.lfHeight = -23;
            lstrcpyW(own.lfFaceName, L"Courier New");
            unique_hgdiobj font(::CreateFontIndirectW(&own));
            HWND label = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 50, 20, m_hWnd,
                                           nullptr, nullptr, nullptr);
            ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
            CRichEditCtrlEx b;
            b.SubclassWindow(label);
            from_window = b.m_logFont;
            b.UnsubclassWindow();
            ::DestroyWindow(label);
            EndDialog(IDOK);
            return TRUE;
        }
    } dlg;
    unique_hmodule rich(::LoadLibraryW(L"RICHED20.DLL"));
    dlg.DoModal();
    ASSERT_NE(L'\0', dlg.dialog_font.lfFaceName[0]);
    EXPECT_STREQ(dlg.dialog_font.lfFaceName, dlg.from_parent.lfFaceName);
    EXPECT_EQ(dlg.dialog_font.lfHeight, dlg.from_parent.lfHeight);
    EXPECT_STREQ(L"Courier New", dlg.from_window.lfFaceName);
    EXPECT_EQ(-23, dlg.from_window.lfHeight);

    log_view_host v; // its parent has no font
    LOGFONTW system = {};
    ::GetObjectW(::GetStockObject(SYSTEM_FONT), sizeof(system), &system);
    EXPECT_STREQ(system.lfFaceName, v.view.m_logFont.lfFaceName);
    EXPECT_EQ(system.lfHeight, v.view.m_logFont.lfHeight);
}

TEST(Label, TextColourIconAndAlignment) {
    window_owner parent{make_parent()};
    HWND h = ::CreateWindowExW(0, L"STATIC", L"start", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 200,
                               20, parent.hwnd, nullptr, nullptr, nullptr);
    CSCStatic label;
    ASSERT_TRUE(label.SubclassWindow(h));
    EXPECT_EQ(L"start", label.m_text);
    label.SetText(L"one", make_argb(255, 1, 2, 3));
    EXPECT_EQ(make_argb(255, 1, 2, 3), label.m_textColor);
    label.SetText(L"two"); // keeps the colour
    EXPECT_EQ(make_argb(255, 1, 2, 3), label.m_textColor);
    label.SetText(L"three", 0xFFFFFFFF); // opaque white is a colour like any other
    EXPECT_EQ(0xFFFFFFFFu, label.m_textColor);
    label.SetTextF(L"%d / %d", 2, 5);
    EXPECT_EQ(L"2 / 5", label.GetText());
    wchar_t window_text[32] = {};
    ::GetWindowTextW(h, window_text, 32);
    EXPECT_STREQ(L"2 / 5", window_text);

    // An icon without text in the left style sits at x = 0, over the background.
    label.m_backColor = make_argb(255, 0, 128, 0);
    label.SetText(L"");
    unique_hicon icon(static_cast<HICON>(::LoadImageW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0)));
    label.SetIcon(icon.get());
    EXPECT_EQ(16, label.m_iconWidth);
    {
        snapshot s(h);
        EXPECT_NE(RGB(0, 128, 0), s.at(8, 8)) << "icon at the left";
        EXPECT_EQ(RGB(0, 128, 0), s.at(30, 8));
    }
    // The text "color picker" is never drawn as text: a swatch takes its place.
    label.SetIcon(nullptr);
    label.m_iconWidth = label.m_iconHeight = 0;
    label.m_textColor = make_argb(255, 255, 0, 0);
    label.SetText(L"color picker");
    {
        snapshot s(h);
        EXPECT_EQ(RGB(255, 0, 0), s.at(10, 10));
        EXPECT_EQ(RGB(0, 128, 0), s.at(60, 10));
    }
}

TEST(Label, CentredTextStaysCentred) {
    window_owner parent{make_parent()};
    HWND h = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 0, 300, 40,
                               parent.hwnd, nullptr, nullptr, nullptr);
    CSCStatic label;
    ASSERT_TRUE(label.SubclassWindow(h));
    label.m_backColor = make_argb(255, 255, 255, 255);
    label.m_textColor = make_argb(255, 0, 0, 0);
    label.m_logFont.lfWeight = FW_BOLD;
    label.RecreateFont();
    label.SetFontSize(10);
    label.SetText(L"iiii");
    snapshot s(h);
    int first = -1, last = -1;
    for (int x = 0; x < 300; ++x)
        for (int y = 0; y < 40; ++y)
            if (GetRValue(s.at(x, y)) < 128) {
                if (first < 0)
                    first = x;
                last = x;
            }
    ASSERT_GE(first, 0);
    EXPECT_NEAR(150, (first + last) / 2, 3);
}

TEST(Label, BoldDialogFontIsCentredAndAsWideAsMeasured) {
    // The main window's notice: the dialog's own font ("MS Shell Dlg"), bold, 10 points.
    class host : public CDialog {
    public:
        host() : CDialog(IDD_ABOUTBOX) {}
        int first = -1, last = -1, bold_width = 0, regular_width = 0;

    protected:
        BOOL OnInitDialog() override {
            const wchar_t* text = L"Remote control starts after file inspection";
            HWND h = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 0,
                                       400, 40, m_hWnd, nullptr, nullptr, nullptr);
            CSCStatic label;
            label.SubclassWindow(h);
            label.m_backColor = make_argb(255, 255, 255, 255);
            label.m_textColor = make_argb(255, 0, 0, 0);
            label.m_logFont.lfWeight = FW_BOLD;
            label.RecreateFont();
            label.SetFontSize(10);
            label.SetText(text);
            {
                snapshot s(h);
                for (int x = 0; x < 400; ++x)
                    for (int y = 0; y < 40; ++y)
                        if (GetRValue(s.at(x, y)) < 160) {
                            if (first < 0)
                                first = x;
                            last = x;
                        }
            }
            HDC dc = ::GetDC(h);
            for (LONG weight : {FW_NORMAL, FW_BOLD}) {
                LOGFONTW lf = label.m_logFont;
                lf.lfWeight = weight;
                unique_hgdiobj font(::CreateFontIndirectW(&lf));
                HGDIOBJ old = ::SelectObject(dc, font.get());
                SIZE size = {};
                ::GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
                ::SelectObject(dc, old);
                (weight == FW_BOLD ? bold_width : regular_width) = size.cx;
            }
            ::ReleaseDC(h, dc);
            EndDialog(IDOK);
            return TRUE;
        }
    } dlg;
    dlg.DoModal();
    ASSERT_GE(dlg.first, 0);
    EXPECT_NEAR(200, (dlg.first + dlg.last) / 2, 3) << dlg.first << ".." << dlg.last;
    EXPECT_GT(dlg.bold_width, dlg.regular_width + 10);
    EXPECT_NEAR(dlg.bold_width, dlg.last - dlg.first + 1, 4) << "drawn as wide as measured";
}

TEST(Label, LeavesTheCallersIconsAndFreesItsFonts) {
    HINSTANCE module = ::GetModuleHandleW(nullptr);
    const auto shared = static_cast<HICON>(
        ::LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, LR_SHARED));
    unique_hicon own(static_cast<HICON>(
        ::LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0)));
    ASSERT_TRUE(shared && own);
    window_owner parent{make_parent()};
    DWORD before = 0, after = 0;
    {
        HWND h = ::CreateWindowExW(0, L"STATIC", L"Remote control starts", WS_CHILD | WS_VISIBLE, 0,
                                   0, 200, 20, parent.hwnd, nullptr, nullptr, nullptr);
        CSCStatic label;
        ASSERT_TRUE(label.SubclassWindow(h));
        label.SetIcon(shared);
        label.SetIcon(own.get());
        label.SetIcon(shared);

        // Every resize fits the font again; the fonts it tried must not pile up. (Wine
        // counts no GDI objects here, and deletes a selected font once it is deselected.)
        label.m_autoFitFont = true;
        auto resize_many = [&] {
            for (int i = 0; i < 40; ++i)
                ::SetWindowPos(h, nullptr, 0, 0, i % 2 ? 120 : 400, 20, SWP_NOMOVE | SWP_NOZORDER);
        };
        resize_many(); // caches settle
        before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
        resize_many();
        resize_many();
        after = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
        ::DestroyWindow(h);
    }
    for (HICON icon : {shared, own.get()}) {
        ICONINFO info = {};
        EXPECT_TRUE(::GetIconInfo(icon, &info)) << "the icon outlives the label";
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
    }
    EXPECT_LE(after, before + 2) << before << " GDI objects before";
}

TEST(GdiButton, DerivedPicturesAndColourLists) {
    window_owner parent{make_parent()};
    HWND h = ::CreateWindowExW(0, L"BUTTON", L"x", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 5, 5, 40,
                               30, parent.hwnd, reinterpret_cast<HMENU>(1003), nullptr, nullptr);
    CGdiButton button;
    ASSERT_TRUE(button.SubclassWindow(h));
    EXPECT_EQ(CGdiButton::push, button.m_kind);
    EXPECT_FALSE(button.AddImage(L"PNG", 4321));
    EXPECT_TRUE(button.m_images.empty());
    EXPECT_FALSE(button.m_imageMode);
    ASSERT_TRUE(button.AddImage(L"PNG", IDB_PNG_CLOSE));
    ASSERT_EQ(1u, button.m_images.size());
    for (auto& p : button.m_images[0]->picture)
        EXPECT_TRUE(p.valid());
    EXPECT_TRUE(button.m_imageMode);
    const SIZE size = button.GetImageSize();
    EXPECT_EQ(18, size.cx);
    RECT r;
    ::GetWindowRect(h, &r);
    EXPECT_EQ(18, r.right - r.left) << "the button takes the picture's size";

    const argb_colour band = ToArgb(RGB(213, 213, 213));
    button.SetBackColors(band, AdjustColor(band, 16), AdjustColor(band, -16), k_keep_colour);
    EXPECT_EQ(GreyColor(band), button.m_backColors[3]);
    EXPECT_EQ(button.m_backColors, button.m_borderColors);
    button.SetTextColor(ToArgb(RGB(18, 24, 58)));
    EXPECT_EQ(ToArgb(RGB(34, 40, 74)), button.m_textColors[1]);

    // The close picture is white on the band colour.
    ::RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = ::GetDC(parent.hwnd);
    const COLORREF corner = ::GetPixel(dc, 6, 6);
    ::ReleaseDC(parent.hwnd, dc);
    EXPECT_EQ(RGB(213, 213, 213), corner);
}

TEST(ResizeCtrl, ControlsFollowAndComeBackExactly) {
    window_owner parent{make_parent(320, 140)};
    struct {
        int l, t, w, h;
        RECT at;
        HWND hwnd;
    } items[] = {{0, 0, 100, 0, {3, 5, 340, 25}, nullptr},
                 {100, 0, 0, 0, {300, 3, 318, 21}, nullptr},
                 {0, 100, 100, 0, {9, 119, 310, 130}, nullptr},
                 {50, 50, 50, 50, {100, 40, 140, 80}, nullptr}};
    for (auto& it : items)
        it.hwnd = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, it.at.left, it.at.top,
                                    it.at.right - it.at.left, it.at.bottom - it.at.top, parent.hwnd,
                                    nullptr, nullptr, nullptr);
    CResizeCtrl resize;
    ASSERT_TRUE(resize.Create(parent.hwnd));
    EXPECT_FALSE(resize.Create(parent.hwnd));
    for (auto& it : items)
        ASSERT_TRUE(resize.Add(it.hwnd, 1, it.l, it.t, it.w, it.h));
    RECT client;
    ::GetClientRect(parent.hwnd, &client);
    const int cx = client.right, cy = client.bottom;

    auto rect_of = [&](HWND hwnd) {
        RECT r;
        ::GetWindowRect(hwnd, &r);
        ::MapWindowPoints(nullptr, parent.hwnd, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    auto resize_client = [&](int w, int h) {
        RECT outer = {0, 0, w, h};
        ::AdjustWindowRectEx(&outer, ::GetWindowLongW(parent.hwnd, GWL_STYLE), FALSE, 0);
        ::SetWindowPos(parent.hwnd, nullptr, 0, 0, outer.right - outer.left,
                       outer.bottom - outer.top, SWP_NOMOVE | SWP_NOZORDER);
    };
    resize_client(cx + 3, cy);
    EXPECT_EQ(items[0].at.right - items[0].at.left + 3,
              rect_of(items[0].hwnd).right - rect_of(items[0].hwnd).left);
    EXPECT_EQ(items[1].at.left + 3, rect_of(items[1].hwnd).left);

    const int sizes[][2] = {{1280, 1022}, {641, 333}, {321, 141}, {900, 500}};
    for (int round = 0; round < 5; ++round) {
        for (const auto& s : sizes)
            resize_client(s[0], s[1]);
        resize_client(cx, cy);
        for (const auto& it : items) {
            const RECT r = rect_of(it.hwnd);
            EXPECT_EQ(it.at.left, r.left);
            EXPECT_EQ(it.at.top, r.top);
            EXPECT_EQ(it.at.right, r.right);
            EXPECT_EQ(it.at.bottom, r.bottom);
        }
    }
}

TEST(ResizeCtrl, OwnedWindowAndChildKeepTheirPlace) {
    window_owner owner{make_parent(200, 100)};
    ::SetWindowPos(owner.hwnd, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    // Owned, top-level, without a sizing border of its own: the control adds and removes it.
    window_owner owned{::CreateWindowExW(0, L"FenwaControlsTest", L"owned", WS_POPUP | WS_VISIBLE,
                                         300, 200, 240, 160, owner.hwnd, nullptr, nullptr,
                                         nullptr)};
    window_owner child{::CreateWindowExW(0, L"FenwaControlsTest", L"", WS_CHILD | WS_VISIBLE, 20,
                                         15, 80, 50, owner.hwnd, nullptr, nullptr, nullptr)};
    ASSERT_TRUE(owned.hwnd && child.hwnd);
    ASSERT_EQ(owner.hwnd, ::GetParent(owned.hwnd)) << "GetParent answers the owner";
    auto client_origin = [](HWND hwnd) {
        POINT p = {0, 0};
        ::ClientToScreen(hwnd, &p);
        return std::make_pair(p.x, p.y);
    };
    for (HWND hwnd : {owned.hwnd, child.hwnd}) {
        const auto before = client_origin(hwnd);
        CResizeCtrl resize;
        ASSERT_TRUE(resize.Create(hwnd));
        EXPECT_TRUE(::GetWindowLongW(hwnd, GWL_STYLE) & WS_THICKFRAME);
        EXPECT_EQ(before, client_origin(hwnd)) << "border added around the client area";

        // The control's own sizing from the bottom-right corner moves no other edge.
        RECT w;
        ::GetWindowRect(hwnd, &w);
        ::SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTBOTTOMRIGHT,
                       MAKELPARAM(w.right - 1, w.bottom - 1));
        ::SetCursorPos(w.right + 29, w.bottom + 19);
        ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, 0);
        ::SendMessageW(hwnd, WM_LBUTTONUP, 0, 0);
        RECT after;
        ::GetWindowRect(hwnd, &after);
        EXPECT_EQ(std::make_pair(w.left, w.top), std::make_pair(after.left, after.top));
        EXPECT_EQ(std::make_pair(w.right + 30, w.bottom + 20),
                  std::make_pair(after.right, after.bottom));
        EXPECT_EQ(before, client_origin(hwnd));

        ASSERT_TRUE(resize.Enable(false));
        EXPECT_FALSE(::GetWindowLongW(hwnd, GWL_STYLE) & WS_THICKFRAME);
        EXPECT_EQ(before, client_origin(hwnd)) << "border removed around the client area";
    }
}

TEST(WindowPlacement, RecordedInTheProfile) {
    class app_t : public CWinApp {
    } app;
    app.m_pszAppName = L"FenwaControlsTest";
    app.SetRegistryKey(L"FenwaTest");
    window_owner w{make_parent(200, 100, WS_OVERLAPPEDWINDOW | WS_VISIBLE)};
    ::SetWindowPos(w.hwnd, nullptr, 30, 40, 200, 100, SWP_NOZORDER);
    save_window_placement(w.hwnd, L"");
    EXPECT_EQ(0u, app.GetProfileInt(L"screen", L"maximized", 7));
    EXPECT_EQ(30u, app.GetProfileInt(L"screen", L"left", 0));
    EXPECT_EQ(140u, app.GetProfileInt(L"screen", L"bottom", 0));

    ::ShowWindow(w.hwnd, SW_MAXIMIZE);
    save_window_placement(w.hwnd, L"code");
    EXPECT_EQ(1u, app.GetProfileInt(L"code\\screen", L"maximized", 7));
    EXPECT_EQ(99u, app.GetProfileInt(L"code\\screen", L"left", 99))
        << "edges only for a normal window";

    ::ShowWindow(w.hwnd, SW_MINIMIZE);
    app.WriteProfileInt(L"screen", L"maximized", 5);
    save_window_placement(w.hwnd, L"");
    EXPECT_EQ(5u, app.GetProfileInt(L"screen", L"maximized", 7))
        << "a minimised window writes nothing";
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\FenwaTest");
}

TEST(WindowPlacement, MaximisedSizeLeavesTheTaskbarFree) {
    MINMAXINFO mmi = {};
    mmi.ptMaxSize = {1280, 1024};
    mmi.ptMinTrackSize = {100, 30};
    const taskbar_info bar = get_taskbar_info();
    adjust_min_max_info(mmi);
    EXPECT_EQ(0, mmi.ptMinTrackSize.x);
    EXPECT_EQ(0, mmi.ptMinTrackSize.y);
    const int expected = !bar.found ? 1024 : bar.auto_hide ? 1022 : 1024 - bar.height;
    EXPECT_EQ(expected, mmi.ptMaxSize.y);
    SIZE size = {-1, -1};
    EXPECT_EQ(bar.auto_hide, get_taskbar_state(size));
    if (!bar.found) {
        EXPECT_EQ(-1, size.cx) << "no taskbar leaves the size alone";
    }
}

TEST(SCEdit, OwnBorderPlaceholderAndNotifications) {
    window_owner parent{make_parent()};
    HWND h = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                               WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_CENTER, 10, 10,
                               200, 30, parent.hwnd, nullptr, nullptr, nullptr);
    CSCEdit edit;
    ASSERT_TRUE(edit.SubclassWindow(h));
    EXPECT_TRUE(edit.m_ownBorder);
    EXPECT_FALSE(::GetWindowLongW(h, GWL_STYLE) & WS_BORDER);
    EXPECT_FALSE(::GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);

    edit.SetPlaceholder(L"Input Access Code.", make_argb(255, 1, 2, 3));
    edit.SetPlaceholder(L"Input Access Code.", k_keep_colour);
    EXPECT_EQ(make_argb(255, 1, 2, 3), edit.m_placeholderColor);

    // An empty box measures a sample text, so that the caret sits where text will show.
    const RECT empty_rect = edit.text_rect();
    ::SetWindowTextW(h, L"123");
    edit.SetTextAlign(4);
    EXPECT_EQ(empty_rect.top, edit.text_rect().top);
    EXPECT_GT(edit.text_rect().top, 1);

    edit.SetAutoFontSize(true, 0.7);
    LOGFONTW lf = {};
    ::GetObjectW(edit.font(), sizeof(lf), &lf);
    RECT client;
    ::GetClientRect(h, &client);
    EXPECT_EQ(-static_cast<LONG>(client.bottom * 0.7), lf.lfHeight);

    g_edit_codes.clear();
    ::SetFocus(h);
    ::SendMessageW(h, WM_KEYDOWN, VK_RETURN, 0);
    ::SetFocus(parent.hwnd);
    EXPECT_EQ((std::vector<int>{8, 8}), g_edit_codes) << "Enter and leaving the box";

    // Its colours answer the platform's question to the parent.
    edit.SetColors(ToArgb(RGB(16, 88, 153)), ToArgb(RGB(250, 235, 215)));
    HDC dc = ::GetDC(h);
    ::SendMessageW(parent.hwnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(h));
    EXPECT_EQ(RGB(16, 88, 153), ::GetTextColor(dc));
    EXPECT_EQ(RGB(250, 235, 215), ::GetBkColor(dc));
    ::ReleaseDC(h, dc);
}

TEST(SCEdit, OwnBorderOnEveryEdge) {
    window_owner parent{make_parent()};
    HWND h = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE,
                               10, 10, 200, 30, parent.hwnd, nullptr, nullptr, nullptr);
    CSCEdit edit;
    ASSERT_TRUE(edit.SubclassWindow(h));
    ASSERT_TRUE(edit.m_ownBorder);
    edit.SetBackColor(ToArgb(RGB(250, 235, 215)));
    edit.m_borderColor = ToArgb(RGB(253, 128, 126));
    edit.RedrawNow();
    HDC dc = ::GetDC(h);
    const struct {
        int x, y;
        COLORREF colour;
    } expected[] = {{100, 0, RGB(253, 128, 126)},  {100, 29, RGB(253, 128, 126)},
                    {0, 15, RGB(253, 128, 126)},   {199, 15, RGB(253, 128, 126)},
                    {100, 1, RGB(250, 235, 215)},  {1, 15, RGB(250, 235, 215)},
                    {198, 15, RGB(250, 235, 215)}, {100, 28, RGB(250, 235, 215)}};
    for (const auto& e : expected)
        EXPECT_EQ(e.colour, ::GetPixel(dc, e.x, e.y)) << e.x << "," << e.y;

    ::ReleaseDC(h, dc);
}

// A selection made from a temporary owner would outlive its context.
static_assert(!std::is_constructible_v<gdi_select_scope, window_dc&&, HGDIOBJ>);
static_assert(std::is_constructible_v<gdi_select_scope, const window_dc&, HGDIOBJ>);

TEST(SCEdit, PlaceholderPutsItsFontBackBeforeTheContextIsReleased) {
    window_owner parent{make_parent()};
    HWND h = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 10, 10, 200,
                               30, parent.hwnd, nullptr, nullptr, nullptr);
    CSCEdit edit;
    ASSERT_TRUE(edit.SubclassWindow(h));
    edit.SetPlaceholder(L"Input Access Code.", ToArgb(RGB(200, 0, 0)));
    ::SetFocus(parent.hwnd);
    released_dc_watch watch;
    edit.RedrawNow();
    // Drawn at all, so that the count below means something.
    HDC dc = ::GetDC(h);
    bool red = false;
    for (int x = 0; x < 200 && !red; ++x)
        for (int y = 0; y < 30 && !red; ++y)
            red = ::GetPixel(dc, x, y) == RGB(200, 0, 0);
    ::ReleaseDC(h, dc);
    EXPECT_TRUE(red) << "placeholder not painted";
    EXPECT_EQ(0, released_dc_watch::selections_after_release());
}

TEST(WndShadow, FollowsTheParent) {
    // Once per process: the access-code dialog's test may have been first.
    CWndShadow::Initialize(::GetModuleHandleW(nullptr));
    EXPECT_TRUE(CWndShadow::available());
    EXPECT_FALSE(CWndShadow::Initialize(::GetModuleHandleW(nullptr)));
    window_owner parent{make_parent(300, 200, WS_POPUP)};
    CWndShadow shadow;
    shadow.Create(parent.hwnd);
    ASSERT_TRUE(shadow.shadow_window());
    EXPECT_TRUE(shadow.m_status & CWndShadow::ss_enabled);
    shadow.SetSize(10);
    shadow.SetSharpness(19);
    shadow.SetDarkness(192);
    shadow.SetPosition(0, 0);
    ::ShowWindow(parent.hwnd, SW_SHOW);
    EXPECT_TRUE(::IsWindowVisible(shadow.shadow_window()));
    RECT p, s;
    ::GetWindowRect(parent.hwnd, &p);
    ::GetWindowRect(shadow.shadow_window(), &s);
    EXPECT_EQ(p.left - 10, s.left);
    EXPECT_EQ(p.bottom + 10, s.bottom);
    EXPECT_TRUE(::GetWindowLongW(shadow.shadow_window(), GWL_EXSTYLE) & WS_EX_TRANSPARENT);

    ::SetWindowPos(parent.hwnd, nullptr, 100, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::GetWindowRect(shadow.shadow_window(), &s);
    EXPECT_EQ(90, s.left);
    EXPECT_EQ(110, s.top);

    ::ShowWindow(parent.hwnd, SW_MAXIMIZE);
    EXPECT_FALSE(::IsWindowVisible(shadow.shadow_window()));
    ::ShowWindow(parent.hwnd, SW_RESTORE);
    EXPECT_TRUE(::IsWindowVisible(shadow.shadow_window()));
}
