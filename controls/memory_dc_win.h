#pragma once
// The off-screen buffer every custom control and both dialogs paint through: drawing goes
// to a compatible bitmap, which is copied to the target when the buffer goes out of scope.
#include <windows.h>

class CMemoryDC {
public:
    // Over the target's clip box when `rect` is null.
    explicit CMemoryDC(HDC target, const RECT* rect = nullptr);
    ~CMemoryDC();

    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;

    HDC GetSafeHdc() const { return m_dc ? m_dc : m_target; }
    operator HDC() const { return GetSafeHdc(); }
    const RECT& rect() const { return m_rect; }

private:
    HDC m_target;
    HDC m_dc = nullptr; // null when drawing goes straight to the target (printing)
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old_bitmap = nullptr;
    RECT m_rect = {};
};
