// Part of the simulation (see sim.h): the screen and just enough GDI to
// put the splash bitmap on it. A framebuffer of the simulated screen size;
// contexts that draw on it (the display's, and the window's that BeginPaint
// hands out, clipped to the window); memory contexts; bitmap sections with
// real pixel memory; and the white stock brush, which the launcher only hands
// to its window class.
//
// BitBlt combines the section selected into a memory context (or the screen
// under a window's or the display's context) with the screen by its raster
// operation, reading bottom-up or top-down rows and looking 1-, 4- and 8-bit
// pixels up in the section's palette, so the framebuffer holds what a person
// would see. A context's brush, which some operations draw with, is white,
// as a new context's is on Windows.
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
    const char* kind = "memory";        // display, paint or memory, for the call log
    uint32_t brush = 0x00FFFFFF;        // the brush's colour
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

int Rows(const SectionInfo& section) { return section.height < 0 ? -section.height : section.height; }

// The colour of pixel (x, y), counted from the top left, of a section.
uint32_t SectionPixel(const SectionInfo& section, int x, int y) {
    int stored = section.height > 0 ? section.height - 1 - y : y;
    const uint8_t* row = section.bits.data() + static_cast<size_t>(stored) * section.stride;
    switch (section.bitCount) {
        case 1: return Rgb(section.palette[(row[x / 8] >> (7 - x % 8)) & 1]);
        case 4: return Rgb(section.palette[(row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F]);
        case 8: return Rgb(section.palette[row[x]]);
        default: return (static_cast<uint32_t>(row[3 * x + 2]) << 16) | (row[3 * x + 1] << 8) | row[3 * x];
    }
}

// The default palette a display context has: the twenty static colours,
// which a section made with DIB_PAL_COLORS takes its colours from.
const uint32_t kDefaultPalette[20] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0,
    0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// One ternary raster operation on 24-bit colours: bit i of the operation's
// index byte is the result for pattern, source and destination bits p s d
// with i = 4p + 2s + d.
uint32_t Rop3(uint32_t rop, uint32_t pattern, uint32_t source, uint32_t destination) {
    uint32_t index = (rop >> 16) & 0xFF;
    uint32_t result = 0;
    for (uint32_t i = 0; i < 8; ++i) {
        if ((index >> i & 1) == 0) continue;
        result |= ((i & 4) ? pattern : ~pattern) & ((i & 2) ? source : ~source) & ((i & 1) ? destination : ~destination);
    }
    return result & 0x00FFFFFF;
}

// What a memory context holds before a section is selected: Windows's
// default bitmap, one black pixel of one bit.
const SectionInfo& DefaultBitmap() {
    static const SectionInfo bitmap = [] {
        SectionInfo made;
        made.width = 1;
        made.height = 1;
        made.bitCount = 1;
        made.stride = 4;
        made.palette = {platform::RGBQUAD{0, 0, 0, 0}, platform::RGBQUAD{0xFF, 0xFF, 0xFF, 0}};
        made.bits.assign(4, 0);
        return made;
    }();
    return bitmap;
}

// Whether an operation reads the source, as Wine tells: swapping the source bit changes its result.
bool RopUsesSource(uint32_t rop) { return (((rop << 2) ^ rop) & 0xCC0000) != 0; }

}  // namespace

namespace internal {

void ResetGdi() { State() = Gdi(); }

platform::HDC CreateWindowDC(int x, int y, int width, int height) {
    Dc dc{x, y, width, height, nullptr};
    dc.kind = "paint";
    return AddDc(dc);
}

std::string DcName(platform::HDC handle) {
    if (handle == nullptr) return "null";
    Dc* dc = FindDc(handle);
    return dc != nullptr ? std::string("dc:") + dc->kind : "bad";
}

std::string ObjectName(platform::HGDIOBJ object) {
    if (object == nullptr) return "null";
    if (object == kWhiteBrush) return "brush:white";
    if (object == kDefaultBitmap) return "bitmap:default";
    SectionInfo* section = FindSection(object);
    if (section == nullptr) return "bad";
    return "bitmap:" + std::to_string(section->width) + "x" + std::to_string(section->height) + "x" +
           std::to_string(section->bitCount);
}

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
    if (Enter("GetSystemMetrics", sim::Args().Number(index))) return 0;
    if (index == SM_CXSCREEN) return sim::State().screenWidth;
    if (index == SM_CYSCREEN) return sim::State().screenHeight;
    return 0;
}

// Only the display is here: a context for another driver (a printer's) fails, as where none is installed.
HDC CreateDCW(const char16_t* driver, const char16_t* device, const char16_t* output, const void* initData) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Text(driver).Text(device).Text(output).Pointer(initData);
    if (Enter("CreateDCW", args)) return nullptr;
    if (sim::internal::Upper(Text(driver)) != u"DISPLAY") return nullptr;
    sim::Dc dc{0, 0, sim::State().screenWidth, sim::State().screenHeight, nullptr};
    dc.kind = "display";
    return sim::AddDc(dc);
}

// The device's page:
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms908174(v=msdn.10)
// Sections of 1, 4, 8 or 24 bits, rows bottom-up or top-down (a negative
// height), uncompressed: the depths the launcher makes, and the only ones the
// simulation draws, so another is refused rather than drawn wrongly. The
// colour table holds RGB colours (DIB_RGB_COLORS) or, with DIB_PAL_COLORS,
// 16-bit indexes into the context's palette, the display's default one here
// (an index beyond it gives its first colour). A file-mapping section
// handle is never right: neither the launcher nor the simulation makes one,
// and any other handle there fails the call, as on Windows. A null context
// will do for RGB colours, as on Windows.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (bits != nullptr) *bits = nullptr;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    sim::Args args;
    args.Name(sim::internal::DcName(dc)).Number(header.biWidth).Number(header.biHeight).Number(header.biPlanes);
    args.Number(header.biBitCount).Number(header.biCompression).Number(header.biClrUsed).Number(usage);
    args.Pointer(bits).Name(sim::internal::KernelName(section)).Number(offset);
    if (Enter("CreateDIBSection", args)) return nullptr;
    constexpr UINT kPalColours = 1;
    bool depth = header.biBitCount == 1 || header.biBitCount == 4 || header.biBitCount == 8 ||
                 header.biBitCount == 24;
    if (section != nullptr || bits == nullptr || (usage != DIB_RGB_COLORS && usage != kPalColours) ||
        header.biPlanes != 1 || header.biCompression != BI_RGB || !depth || header.biWidth <= 0 ||
        header.biHeight == 0 || (usage == kPalColours && dc == nullptr)) {
        return nullptr;
    }
    sim::SectionInfo made;
    made.width = header.biWidth;
    made.height = header.biHeight;
    made.bitCount = header.biBitCount;
    made.stride = (static_cast<uint32_t>(made.bitCount) * static_cast<uint32_t>(made.width) + 31) / 32 * 4;
    if (made.bitCount <= 8) {
        size_t colours = size_t{1} << made.bitCount;
        if (usage == kPalColours) {
            const auto* indexes = reinterpret_cast<const uint16_t*>(info->bmiColors);
            for (size_t i = 0; i < colours; ++i) {
                uint32_t rgb = sim::kDefaultPalette[indexes[i] < 20 ? indexes[i] : 0];
                made.palette.push_back(RGBQUAD{static_cast<BYTE>(rgb), static_cast<BYTE>(rgb >> 8),
                                               static_cast<BYTE>(rgb >> 16), 0});
            }
        } else {
            made.palette.assign(info->bmiColors, info->bmiColors + colours);
        }
    }
    made.bits.assign(static_cast<size_t>(made.stride) * static_cast<size_t>(sim::Rows(made)), sim::State().sectionFill);
    sim::State().sections.push_back(std::move(made));
    if (bits != nullptr) *bits = sim::State().sections.back().bits.data();
    return reinterpret_cast<HBITMAP>(&sim::State().sections.back());
}

// A null context asks for one compatible with the screen; an unknown one fails.
HDC CreateCompatibleDC(HDC dc) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("CreateCompatibleDC", sim::Args().Name(sim::internal::DcName(dc)))) return nullptr;
    if (dc != nullptr && sim::FindDc(dc) == nullptr) return nullptr;
    return sim::AddDc(sim::Dc{});
}

// Sections go into memory contexts; the white brush into any context.
HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::DcName(handle)).Name(sim::internal::ObjectName(object));
    if (Enter("SelectObject", args)) return nullptr;
    sim::Dc* dc = sim::FindDc(handle);
    if (dc == nullptr) return nullptr;
    if (object == sim::kWhiteBrush) {
        dc->brush = 0x00FFFFFF;
        return sim::kWhiteBrush;   // the brush every context starts with
    }
    sim::SectionInfo* section = sim::FindSection(object);
    if (section == nullptr) return nullptr;
    HGDIOBJ previous = dc->bitmap != nullptr ? reinterpret_cast<HGDIOBJ>(dc->bitmap) : sim::kDefaultBitmap;
    dc->bitmap = section;
    return previous;
}

// Onto the screen, from a memory context's section (the default bitmap
// when none is selected) or the screen under another context, by any raster operation (the device's page:
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/aa452879(v=msdn.10)).
// One that reads no source (BLACKNESS, WHITENESS, PATCOPY, DSTINVERT) takes
// none; drawing into a memory context's section is not modelled and fails.
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::DcName(dest)).Number(x).Number(y).Number(width).Number(height);
    args.Name(sim::internal::DcName(source)).Number(sourceX).Number(sourceY).Flags(rop);
    if (Enter("BitBlt", args)) return FALSE;
    bool usesSource = sim::RopUsesSource(rop);
    sim::Dc* to = sim::FindDc(dest);
    sim::Dc* from = usesSource ? sim::FindDc(source) : nullptr;
    if (to == nullptr || (usesSource && from == nullptr)) return FALSE;
    if (to->bitmap != nullptr) return FALSE;
    sim::Gdi& gdi = sim::State();
    const sim::SectionInfo* bitmap = from != nullptr ? from->bitmap : nullptr;
    if (from != nullptr && bitmap == nullptr && std::string(from->kind) == "memory") bitmap = &sim::DefaultBitmap();
    for (int j = 0; j < height; ++j) {
        int sy = sourceY + j;
        int dy = y + j;
        int screenY = to->originY + dy;
        if (dy < 0 || dy >= to->height || screenY < 0 || screenY >= gdi.screenHeight) continue;
        if (bitmap != nullptr && (sy < 0 || sy >= sim::Rows(*bitmap))) continue;
        for (int i = 0; i < width; ++i) {
            int sx = sourceX + i;
            int dx = x + i;
            int screenX = to->originX + dx;
            if (dx < 0 || dx >= to->width || screenX < 0 || screenX >= gdi.screenWidth) continue;
            if (bitmap != nullptr && (sx < 0 || sx >= bitmap->width)) continue;
            uint32_t& pixel = gdi.screen[static_cast<size_t>(screenY) * gdi.screenWidth + screenX];
            uint32_t s = 0;
            if (bitmap != nullptr) {
                s = sim::SectionPixel(*bitmap, sx, sy);
            } else if (from != nullptr) {
                // Another context on the screen: what lies under it there.
                int fx = from->originX + sx;
                int fy = from->originY + sy;
                if (fx < 0 || fy < 0 || fx >= gdi.screenWidth || fy >= gdi.screenHeight) continue;
                s = gdi.screen[static_cast<size_t>(fy) * gdi.screenWidth + fx];
            }
            pixel = sim::Rop3(rop, to->brush, s, pixel);
        }
    }
    return TRUE;
}

BOOL DeleteDC(HDC handle) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("DeleteDC", sim::Args().Name(sim::internal::DcName(handle)))) return FALSE;
    return sim::RemoveDc(handle) ? TRUE : FALSE;
}

HGDIOBJ GetStockObject(int object) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetStockObject", sim::Args().Number(object))) return nullptr;
    return object == WHITE_BRUSH ? sim::kWhiteBrush : nullptr;
}

}  // namespace platform
