#pragma once
// One raster picture of the imaging library: loaded from the program's resources, drawn
// stretched, fitted or centred, rescaled, recoloured through a colour matrix, blurred.
#include <memory>
#include <string>
#include <vector>

#include "controls/button_logic.h"
#include "controls/gdiplus_win.h"

class CSCGdiplusBitmap {
public:
    CSCGdiplusBitmap() = default;
    ~CSCGdiplusBitmap();
    CSCGdiplusBitmap(const CSCGdiplusBitmap&) = delete;
    CSCGdiplusBitmap& operator=(const CSCGdiplusBitmap&) = delete;

    // "png", "jpg" and "gif" (any letter case) from a resource of that type, anything else
    // as a bitmap resource. False when nothing was loaded.
    bool LoadFromResource(const std::wstring& type, UINT id, HINSTANCE module = nullptr);
    // Takes over a picture (owned from now on).
    void Attach(Gdiplus::Bitmap* bitmap);
    void Release();

    bool valid() const { return m_bitmap && m_width >= 1 && m_height >= 1; }
    Gdiplus::Bitmap* get() const { return m_bitmap.get(); }

    // mode 2 stretch, 3 fit, 1 own size centred (fit when larger). Returns the rectangle.
    RECT Draw(Gdiplus::Graphics& g, const RECT& target, int mode = 2) const;
    RECT Draw(HDC dc, const RECT& target, int mode = 2) const;
    void DrawAt(Gdiplus::Graphics& g, int x, int y, int w = 0, int h = 0) const;

    bool CopyTo(CSCGdiplusBitmap& other) const;
    bool Resize(int width, int height);
    bool Canvas(int width, int height, argb_colour colour);
    bool ApplyMatrix(const colour_matrix& matrix);
    bool ToGrey(float weight = 1.0f);
    bool Blur(double sigma);
    bool MakeShadowImage(const CSCGdiplusBitmap& source, double sigma);

    bool LockPixels();
    bool UnlockPixels();

    int m_width = 0;
    int m_height = 0;
    int m_channels = 0;
    int m_stride = 0;
    std::vector<uint8_t> m_pixels;
    int m_frameCount = 0;
    std::vector<uint8_t> m_frameDelays;
    std::wstring m_name = L"untitled";
    std::wstring m_path;
    argb_colour m_transparentColor = 0xFFFFFFFF;
    Gdiplus::Status m_status = Gdiplus::Ok;

private:
    void refresh();
    std::unique_ptr<Gdiplus::Bitmap> m_bitmap;
};
