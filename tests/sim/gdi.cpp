// Part of the simulation (see sim.h): the screen and just enough GDI to
// put the splash bitmap on it. A framebuffer of the simulated screen size;
// contexts that draw on it (the display's, and the window's that BeginPaint
// hands out, clipped to the window); memory contexts; bitmap sections with
// real pixel memory; and the white stock brush, which the launcher only hands
// to its window class.
//
// BitBlt copies the section selected into a memory context onto the screen,
// reading its bottom-up rows and looking 1-, 4- and 8-bit pixels up in its
// palette, so the framebuffer holds what a person would see.
#include <list>
#include <vector>

#include "world.h"

namespace sim {
namespace {

using internal::Mutex;

struct Dc {
    int originX = 0, originY = 0;       // where the context's (0, 0) lies on the screen
    int width = 0, height = 0;          // what it may draw on, from its origin
    SectionInfo* bitmap = nullptr;      // memory contexts: the section selected
};

struct Gdi {
    int screenWidth = 240;
    int screenHeight = 320;
    std::vector<uint32_t> screen = std::vector<uint32_t>(240 * 320, kDesktopColour);
    std::list<SectionInfo> sections;    // a list keeps the handles stable
    std::list<Dc> dcs;
    uint8_t sectionFill = 0;
};

// Handles of stock objects, which are never looked inside.
platform::HGDIOBJ const kWhiteBrush = reinterpret_cast<platform::HGDIOBJ>(static_cast<uintptr_t>(0x0B00));
// What a new memory context holds until a section is selected into it.
platform::HGDIOBJ const kDefaultBitmap = reinterpret_cast<platform::HGDIOBJ>(static_cast<uintptr_t>(0x0B01));

Gdi& State() {
    static Gdi gdi;
    return gdi;
}

SectionInfo* FindSection(platform::HGDIOBJ handle) {
    for (auto& section : State().sections) {
        if (reinterpret_cast<platform::HGDIOBJ>(&section) == handle) return &section;
    }
    return nullptr;
}

Dc* FindDc(platform::HDC handle) {
    for (auto& dc : State().dcs) {
        if (reinterpret_cast<platform::HDC>(&dc) == handle) return &dc;
    }
    return nullptr;
}

platform::HDC AddDc(const Dc& dc) {
    State().dcs.push_back(dc);
    return reinterpret_cast<platform::HDC>(&State().dcs.back());
}

bool RemoveDc(platform::HDC handle) {
    Dc* dc = FindDc(handle);
    if (dc == nullptr) return false;
    State().dcs.remove_if([dc](const Dc& entry) { return &entry == dc; });
    return true;
}

uint32_t Rgb(const platform::RGBQUAD& q) {
    return (static_cast<uint32_t>(q.rgbRed) << 16) | (static_cast<uint32_t>(q.rgbGreen) << 8) | q.rgbBlue;
}

// The colour of pixel (x, y), counted from the top left, of a bottom-up section.
uint32_t SectionPixel(const SectionInfo& section, int x, int y) {
    const uint8_t* row = section.bits.data() + static_cast<size_t>(section.height - 1 - y) * section.stride;
    switch (section.bitCount) {
        case 1: return Rgb(section.palette[(row[x / 8] >> (7 - x % 8)) & 1]);
        case 4: return Rgb(section.palette[(row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F]);
        case 8: return Rgb(section.palette[row[x]]);
        default: return (static_cast<uint32_t>(row[3 * x + 2]) << 16) | (row[3 * x + 1] << 8) | row[3 * x];
    }
}

}  // namespace

namespace internal {

void ResetGdi() { State() = Gdi(); }

platform::HDC CreateWindowDC(int x, int y, int width, int height) { return AddDc(Dc{x, y, width, height, nullptr}); }

void ReleaseWindowDC(platform::HDC dc) { RemoveDc(dc); }

void FillScreen(int x, int y, int width, int height, uint32_t colour) {
    Gdi& gdi = State();
    for (int row = y < 0 ? 0 : y; row < y + height && row < gdi.screenHeight; ++row) {
        for (int column = x < 0 ? 0 : x; column < x + width && column < gdi.screenWidth; ++column) {
            gdi.screen[static_cast<size_t>(row) * gdi.screenWidth + column] = colour;
        }
    }
}

}  // namespace internal

void SetScreenSize(int width, int height) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Gdi& gdi = State();
    gdi.screenWidth = width > 0 ? width : 0;
    gdi.screenHeight = height > 0 ? height : 0;
    gdi.screen.assign(static_cast<size_t>(gdi.screenWidth) * gdi.screenHeight, kDesktopColour);
}

uint32_t ScreenPixel(int x, int y) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Gdi& gdi = State();
    if (x < 0 || y < 0 || x >= gdi.screenWidth || y >= gdi.screenHeight) return 0xFFFFFFFFu;
    return gdi.screen[static_cast<size_t>(y) * gdi.screenWidth + x];
}

std::optional<SectionInfo> GetSectionInfo(platform::HBITMAP bitmap) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    SectionInfo* section = FindSection(bitmap);
    if (section == nullptr) return std::nullopt;
    return *section;
}

void SetSectionFill(uint8_t byte) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().sectionFill = byte;
}

int OpenDCCount() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return static_cast<int>(State().dcs.size());
}

}  // namespace sim

namespace platform {

using sim::internal::Enter;
using sim::internal::Mutex;
using sim::internal::Text;

int GetSystemMetrics(int index) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetSystemMetrics", testsupport::U16(std::to_string(index)))) return 0;
    if (index == SM_CXSCREEN) return sim::State().screenWidth;
    if (index == SM_CYSCREEN) return sim::State().screenHeight;
    return 0;
}

// Every context the launcher asks for by driver is the display's.
HDC CreateDCW(const char16_t* driver, const char16_t*, const char16_t*, const void*) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("CreateDCW", Text(driver))) return nullptr;
    return sim::AddDc(sim::Dc{0, 0, sim::State().screenWidth, sim::State().screenHeight, nullptr});
}

// The launcher makes bottom-up sections of 1, 4, 8 or 24 bits with a full
// palette; a null context will do for RGB colours, as on Windows.
HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT, void** bits, HANDLE, DWORD) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    *bits = nullptr;
    if (Enter("CreateDIBSection")) return nullptr;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    sim::SectionInfo made;
    made.width = header.biWidth;
    made.height = header.biHeight;
    made.bitCount = header.biBitCount;
    made.stride = (static_cast<uint32_t>(made.bitCount) * static_cast<uint32_t>(made.width) + 31) / 32 * 4;
    if (made.bitCount <= 8) made.palette.assign(info->bmiColors, info->bmiColors + (size_t{1} << made.bitCount));
    made.bits.assign(static_cast<size_t>(made.stride) * static_cast<size_t>(made.height), sim::State().sectionFill);
    sim::State().sections.push_back(std::move(made));
    *bits = sim::State().sections.back().bits.data();
    return reinterpret_cast<HBITMAP>(&sim::State().sections.back());
}

HDC CreateCompatibleDC(HDC) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("CreateCompatibleDC")) return nullptr;
    return sim::AddDc(sim::Dc{});
}

// Only sections are selected, into memory contexts.
HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("SelectObject")) return nullptr;
    sim::Dc* dc = sim::FindDc(handle);
    sim::SectionInfo* section = sim::FindSection(object);
    if (dc == nullptr || section == nullptr) return nullptr;
    HGDIOBJ previous = dc->bitmap != nullptr ? reinterpret_cast<HGDIOBJ>(dc->bitmap) : sim::kDefaultBitmap;
    dc->bitmap = section;
    return previous;
}

// Always a plain copy (SRCCOPY), from a memory context onto the screen.
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("BitBlt")) return FALSE;
    sim::Dc* to = sim::FindDc(dest);
    sim::Dc* from = sim::FindDc(source);
    if (to == nullptr || from == nullptr || from->bitmap == nullptr) return FALSE;
    sim::Gdi& gdi = sim::State();
    const sim::SectionInfo& bitmap = *from->bitmap;
    for (int j = 0; j < height; ++j) {
        int sy = sourceY + j;
        int dy = y + j;
        int screenY = to->originY + dy;
        if (sy < 0 || sy >= bitmap.height || dy < 0 || dy >= to->height || screenY < 0 || screenY >= gdi.screenHeight) {
            continue;
        }
        for (int i = 0; i < width; ++i) {
            int sx = sourceX + i;
            int dx = x + i;
            int screenX = to->originX + dx;
            if (sx < 0 || sx >= bitmap.width || dx < 0 || dx >= to->width || screenX < 0 || screenX >= gdi.screenWidth) {
                continue;
            }
            gdi.screen[static_cast<size_t>(screenY) * gdi.screenWidth + screenX] = sim::SectionPixel(bitmap, sx, sy);
        }
    }
    return TRUE;
}

BOOL DeleteDC(HDC handle) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("DeleteDC")) return FALSE;
    return sim::RemoveDc(handle) ? TRUE : FALSE;
}

HGDIOBJ GetStockObject(int object) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetStockObject", testsupport::U16(std::to_string(object)))) return nullptr;
    return object == WHITE_BRUSH ? sim::kWhiteBrush : nullptr;
}

}  // namespace platform
