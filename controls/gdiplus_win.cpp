#include "controls/gdiplus_win.h"

namespace {

// Started once for the whole process before any window exists and never shut down: a worker
// thread cut off by the end of the process may still be drawing.
struct gdiplus_session {
    gdiplus_session() {
        Gdiplus::GdiplusStartupInput input; // version 1, no debug callback, own thread
        ULONG_PTR token = 0;
        ok = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
        if (!ok)
            ::MessageBoxW(nullptr, L"ERROR:Falied to initalize GDI+ library", L"", MB_OK);
    }
    bool ok = false;
};

gdiplus_session& session() {
    static gdiplus_session s;
    return s;
}

// Forces the start during static initialisation of any program that draws.
const bool g_started = session().ok;

} // namespace

bool gdiplus_ready() {
    return g_started || session().ok;
}

void set_quality(Gdiplus::Graphics& g) {
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
}
