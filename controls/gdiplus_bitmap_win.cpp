#include "controls/gdiplus_bitmap_win.h"

#include <algorithm>
#include <cstring>

#include "controls/blur.h"
#include "util/draw_geometry.h"
#include "util/text_util.h"

namespace {

Gdiplus::PixelFormat format_for(int channels) {
    return channels == 1   ? PixelFormat8bppIndexed
           : channels == 4 ? PixelFormat32bppARGB
                           : PixelFormat24bppRGB;
}

RECT to_rect(const int_rect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

// Draws without the half-transparent fringe that resampling gives at the picture's edges.
void draw_scaled(Gdiplus::Graphics& g, Gdiplus::Image* image, int x, int y, int w, int h,
                 Gdiplus::ImageAttributes* attributes = nullptr) {
    Gdiplus::ImageAttributes own;
    Gdiplus::ImageAttributes* a = attributes ? attributes : &own;
    a->SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    g.DrawImage(image, Gdiplus::Rect(x, y, w, h), 0, 0, static_cast<INT>(image->GetWidth()),
                static_cast<INT>(image->GetHeight()), Gdiplus::UnitPixel, a);
}

} // namespace

CSCGdiplusBitmap::~CSCGdiplusBitmap() = default;

void CSCGdiplusBitmap::Release() {
    m_bitmap.reset();
    m_pixels.clear();
    m_frameDelays.clear();
    m_frameCount = 0;
    refresh();
}

void CSCGdiplusBitmap::Attach(Gdiplus::Bitmap* bitmap) {
    m_bitmap.reset(bitmap);
    refresh();
}

void CSCGdiplusBitmap::refresh() {
    if (!m_bitmap || m_bitmap->GetLastStatus() != Gdiplus::Ok) {
        m_width = m_height = m_channels = m_stride = 0;
        return;
    }
    m_width = static_cast<int>(m_bitmap->GetWidth());
    m_height = static_cast<int>(m_bitmap->GetHeight());
    const Gdiplus::PixelFormat f = m_bitmap->GetPixelFormat();
    m_channels =
        f == PixelFormat8bppIndexed                                                             ? 1
        : (f == PixelFormat32bppARGB || f == PixelFormat32bppRGB || f == PixelFormat32bppPARGB) ? 4
                                                                                                : 3;
    m_stride = std::abs(m_width * m_channels);
}

bool CSCGdiplusBitmap::LoadFromResource(const std::wstring& type, UINT id, HINSTANCE module) {
    Release();
    if (!gdiplus_ready())
        return false;
    if (!module)
        module = ::GetModuleHandleW(nullptr);
    const std::wstring kind = to_lower(type);
    if (kind == L"png" || kind == L"jpg" || kind == L"gif") {
        HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), kind.c_str());
        if (!found)
            return false;
        const DWORD size = ::SizeofResource(module, found);
        HGLOBAL loaded = ::LoadResource(module, found);
        const void* data = loaded ? ::LockResource(loaded) : nullptr;
        if (!data || size == 0)
            return false;
        HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, size);
        if (!memory)
            return false;
        void* target = ::GlobalLock(memory);
        if (!target) {
            ::GlobalFree(memory);
            return false;
        }
        std::memcpy(target, data, size);
        ::GlobalUnlock(memory);
        IStream* stream = nullptr;
        // The stream frees the memory when it is released.
        if (::CreateStreamOnHGlobal(memory, TRUE, &stream) != S_OK) {
            ::GlobalFree(memory);
            return false;
        }
        {
            std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream));
            if (decoded && decoded->GetLastStatus() == Gdiplus::Ok) {
                m_bitmap.reset(decoded->Clone(0, 0, static_cast<INT>(decoded->GetWidth()),
                                              static_cast<INT>(decoded->GetHeight()),
                                              decoded->GetPixelFormat()));
                const UINT delay_size = decoded->GetPropertyItemSize(0x5100);
                if (delay_size > 0) {
                    std::vector<uint8_t> item(delay_size);
                    auto* p = reinterpret_cast<Gdiplus::PropertyItem*>(item.data());
                    if (decoded->GetPropertyItem(0x5100, delay_size, p) == Gdiplus::Ok && p->value)
                        m_frameDelays.assign(static_cast<uint8_t*>(p->value),
                                             static_cast<uint8_t*>(p->value) + p->length);
                }
                GUID dimension = {};
                if (decoded->GetFrameDimensionsList(&dimension, 1) == Gdiplus::Ok)
                    m_frameCount = static_cast<int>(decoded->GetFrameCount(&dimension));
            }
        }
        stream->Release();
    } else {
        m_bitmap.reset(Gdiplus::Bitmap::FromResource(module, MAKEINTRESOURCEW(id)));
    }
    if (!m_bitmap || m_bitmap->GetLastStatus() != Gdiplus::Ok) {
        m_status = m_bitmap ? m_bitmap->GetLastStatus() : Gdiplus::OutOfMemory;
        m_bitmap.reset();
        refresh();
        return false;
    }
    m_name = L"resource_image." + kind;
    refresh();
    return valid();
}

RECT CSCGdiplusBitmap::Draw(Gdiplus::Graphics& g, const RECT& target, int mode) const {
    if (!valid())
        return {};
    const int_rect r = picture_rect(mode, {target.left, target.top, target.right, target.bottom},
                                    m_width, m_height);
    draw_scaled(g, m_bitmap.get(), r.left, r.top, r.width(), r.height());
    return to_rect(r);
}

RECT CSCGdiplusBitmap::Draw(HDC dc, const RECT& target, int mode) const {
    Gdiplus::Graphics g(dc);
    set_quality(g);
    return Draw(g, target, mode);
}

void CSCGdiplusBitmap::DrawAt(Gdiplus::Graphics& g, int x, int y, int w, int h) const {
    if (!valid())
        return;
    draw_scaled(g, m_bitmap.get(), x, y, w > 0 ? w : m_width, h > 0 ? h : m_height);
}

bool CSCGdiplusBitmap::CopyTo(CSCGdiplusBitmap& other) const {
    other.Release();
    if (!valid())
        return false;
    other.m_bitmap.reset(m_bitmap->Clone(0, 0, m_width, m_height, m_bitmap->GetPixelFormat()));
    other.m_pixels = m_pixels;
    other.m_name = m_name;
    other.m_path = m_path;
    other.m_frameCount = m_frameCount;
    other.m_frameDelays = m_frameDelays;
    other.refresh();
    return other.valid();
}

bool CSCGdiplusBitmap::Resize(int width, int height) {
    if (!valid() || !keep_aspect(m_width, m_height, width, height))
        return false;
    auto resized = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics g(resized.get());
        g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
        draw_scaled(g, m_bitmap.get(), 0, 0, width, height);
    }
    m_bitmap = std::move(resized);
    refresh();
    return valid();
}

bool CSCGdiplusBitmap::Canvas(int width, int height, argb_colour colour) {
    if (width <= 0 || height <= 0)
        return false;
    auto canvas = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics g(canvas.get());
        g.Clear(argb(colour));
        if (valid())
            g.DrawImage(m_bitmap.get(), (width - m_width) / 2, (height - m_height) / 2, m_width,
                        m_height);
    }
    m_bitmap = std::move(canvas);
    refresh();
    return valid();
}

bool CSCGdiplusBitmap::ApplyMatrix(const colour_matrix& matrix) {
    if (!valid())
        return false;
    Gdiplus::ColorMatrix cm;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            cm.m[i][j] = matrix[static_cast<size_t>(i)][static_cast<size_t>(j)];
    Gdiplus::ImageAttributes attributes;
    attributes.SetColorMatrix(&cm);
    auto out = std::make_unique<Gdiplus::Bitmap>(m_width, m_height, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics g(out.get());
        g.Clear(Gdiplus::Color(0, 0, 0, 0));
        g.DrawImage(m_bitmap.get(), Gdiplus::Rect(0, 0, m_width, m_height), 0, 0, m_width, m_height,
                    Gdiplus::UnitPixel, &attributes);
    }
    m_bitmap = std::move(out);
    refresh();
    return valid();
}

bool CSCGdiplusBitmap::ToGrey(float weight) {
    return ApplyMatrix(grey_matrix(weight));
}

bool CSCGdiplusBitmap::LockPixels() {
    if (!valid())
        return false;
    Gdiplus::BitmapData data;
    Gdiplus::Rect all(0, 0, m_width, m_height);
    const Gdiplus::PixelFormat format = format_for(m_channels);
    if (m_bitmap->LockBits(&all, Gdiplus::ImageLockModeRead, format, &data) != Gdiplus::Ok)
        return false;
    m_pixels.assign(static_cast<size_t>(m_stride) * m_height, 0);
    for (int y = 0; y < m_height; ++y)
        std::memcpy(&m_pixels[static_cast<size_t>(y) * m_stride],
                    static_cast<uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                    static_cast<size_t>(m_stride));
    m_bitmap->UnlockBits(&data);
    return true;
}

bool CSCGdiplusBitmap::UnlockPixels() {
    if (!valid() || m_pixels.size() < static_cast<size_t>(m_stride) * m_height)
        return false;
    Gdiplus::BitmapData data;
    Gdiplus::Rect all(0, 0, m_width, m_height);
    if (m_bitmap->LockBits(&all, Gdiplus::ImageLockModeWrite, format_for(m_channels), &data) !=
        Gdiplus::Ok)
        return false;
    for (int y = 0; y < m_height; ++y)
        std::memcpy(static_cast<uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                    &m_pixels[static_cast<size_t>(y) * m_stride], static_cast<size_t>(m_stride));
    m_bitmap->UnlockBits(&data);
    return true;
}

bool CSCGdiplusBitmap::Blur(double sigma) {
    if (!LockPixels())
        return false;
    const bool ok = blur_pixels(m_pixels, m_width, m_height, m_channels, sigma);
    return UnlockPixels() && ok;
}

bool CSCGdiplusBitmap::MakeShadowImage(const CSCGdiplusBitmap& source, double sigma) {
    if (!source.CopyTo(*this))
        return false;
    ToGrey(1.0f);
    Canvas(m_width + 10, m_height + 10, 0x00FFFFFF);
    return Blur(sigma);
}
