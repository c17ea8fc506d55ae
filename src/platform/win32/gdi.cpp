// Drawing on the real platform.
#include "platform/win32/win32.h"

namespace platform {

using win32::As;
using win32::W;

// The core builds the bitmap header and palette in the platform's own layout.
static_assert(sizeof(platform::BITMAPINFOHEADER) == sizeof(::BITMAPINFOHEADER), "bitmap headers agree");
static_assert(sizeof(platform::RGBQUAD) == sizeof(::RGBQUAD), "palette entries agree");
static_assert(sizeof(platform::BITMAPINFO) == sizeof(::BITMAPINFO), "bitmap infos agree");

HDC CreateDCW(const char16_t* driver, const char16_t* device, const char16_t* output, const void* initData) {
    return As<HDC>(::CreateDCW(W(driver), W(device), W(output), static_cast<const ::DEVMODEW*>(initData)));
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset) {
    return As<HBITMAP>(::CreateDIBSection(As< ::HDC>(dc), reinterpret_cast<const ::BITMAPINFO*>(info), usage, bits,
                                          As< ::HANDLE>(section), offset));
}

HDC CreateCompatibleDC(HDC dc) { return As<HDC>(::CreateCompatibleDC(As< ::HDC>(dc))); }

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    return As<HGDIOBJ>(::SelectObject(As< ::HDC>(dc), As< ::HGDIOBJ>(object)));
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop) {
    return ::BitBlt(As< ::HDC>(dest), x, y, width, height, As< ::HDC>(source), sourceX, sourceY, rop);
}

BOOL DeleteDC(HDC dc) { return ::DeleteDC(As< ::HDC>(dc)); }

HGDIOBJ GetStockObject(int object) { return As<HGDIOBJ>(::GetStockObject(object)); }

}  // namespace platform
