#include "splash/section.h"

#include <cstdlib>
#include <cstring>

#include "contract/kel.h"
#include "platform/resources.h"
#include "splash/bitmap.h"
#include "text/text.h"

namespace splash {

platform::HBITMAP DecodeSplashBmp(const void* data, uint32_t length, int32_t* width, int32_t* height) {
    SplashBmpLayout layout;
    // The outputs change only once the checks have read the size from the header.
    layout.width = *width;
    layout.height = *height;
    bool accepted = CheckSplashBmp(data, length, &layout);
    *width = layout.width;
    *height = layout.height;
    if (!accepted) return NULL;

    size_t infoBytes = sizeof(platform::BITMAPINFOHEADER) + kSplashPaletteEntryBytes * layout.paletteEntries;
    auto* info = static_cast<platform::BITMAPINFO*>(std::malloc(infoBytes));
    if (info == NULL) return NULL;
    // The palette copy fills every entry (those the file lacks black), so
    // only the header is cleared here.
    std::memset(&info->bmiHeader, 0, sizeof(info->bmiHeader));
    CopySplashPalette(data, layout, info->bmiColors);

    platform::BITMAPINFOHEADER& header = info->bmiHeader;
    header.biSize = 40;
    header.biWidth = layout.width;
    header.biHeight = layout.height;
    header.biPlanes = 1;
    header.biBitCount = layout.bitCount;
    header.biCompression = platform::BI_RGB;
    header.biSizeImage = 0;
    header.biXPelsPerMeter = 1000000;
    header.biYPelsPerMeter = 1000000;
    header.biClrUsed = 0;
    header.biClrImportant = 0;

    platform::HDC display = platform::CreateDCW(u"DISPLAY", NULL, NULL, NULL);
    void* bits = NULL;
    platform::HBITMAP bitmap =
        platform::CreateDIBSection(display, info, platform::DIB_RGB_COLORS, &bits, NULL, 0);
    platform::DeleteDC(display);
    std::free(info);
    if (bitmap == NULL || bits == NULL) return NULL;

    // Rows in file order: the file's bottom row is the section's bottom row.
    // The rows a short file lacks stay as the new section holds them.
    CopySplashRows(data, layout, bits);
    return bitmap;
}

platform::HBITMAP LoadSplashBitmap(platform::HMODULE module, const char* name, int32_t* width, int32_t* height) {
    char16_t* wideName = text::Widen(name, -1);
    uint32_t length = 0;
    const void* bytes = platform::LoadResourceBytes(module, wideName, kel::kSplashResourceType, &length);
    std::free(wideName);
    if (bytes == NULL) return NULL;
    return DecodeSplashBmp(bytes, length, width, height);
}

}  // namespace splash
