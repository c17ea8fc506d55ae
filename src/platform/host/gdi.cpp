// The screen and just enough GDI to put a bitmap on it: a framebuffer of the
// simulated screen size, the display context, window contexts handed out by
// BeginPaint, memory contexts, device-independent bitmap sections with real
// pixel memory, and the stock brushes.
//
// BitBlt copies from a section selected into a memory context onto the
// screen (SRCCOPY only), reading the section's bottom-up rows and looking
// 1-, 4- and 8-bit pixels up in its palette, so the framebuffer holds what a
// person would see. Drawing into a section is not simulated.
#include <cstring>
#include <list>
#include <vector>

#include "platform/host/world.h"

namespace sim {
namespace {

using internal::Mutex;

enum class ObjectKind { kBrush, kBitmap };

struct GdiObject {
    ObjectKind kind = ObjectKind::kBrush;
    bool hasColour = false;    // false: the null brush
    uint32_t colour = 0;
    SectionInfo section;       // bitmaps only
    platform::HDC selectedInto = nullptr;
};

enum class DcKind { kDisplay, kMemory, kWindow };

struct Dc {
    DcKind kind = DcKind::kDisplay;
    int originX = 0, originY = 0;   // where the context's (0, 0) lies on the screen
    int width = 0, height = 0;      // what it may draw on, from its origin
    GdiObject* bitmap = nullptr;    // memory contexts only
    GdiObject* brush = nullptr;     // selected, never drawn with
};

// Pixel memory beyond this is refused, as a handheld's heap would refuse it.
constexpr size_t kMaxSectionBytes = size_t{256} << 20;

struct Gdi {
    int screenWidth = 240;
    int screenHeight = 320;
    std::vector<uint32_t> screen = std::vector<uint32_t>(240 * 320, kDesktopColour);
    std::list<GdiObject> objects;   // a list keeps the handles stable
    std::list<Dc> dcs;
    GdiObject* whiteBrush = nullptr;
    GdiObject* blackBrush = nullptr;
    GdiObject* nullBrush = nullptr;
    GdiObject* defaultBitmap = nullptr;   // what a new memory context holds: 1 x 1, monochrome
    uint8_t sectionFill = 0;
};

GdiObject* AddObject(Gdi& gdi, GdiObject object) {
    gdi.objects.push_back(std::move(object));
    return &gdi.objects.back();
}

Gdi Fresh() {
    Gdi gdi;
    GdiObject brush;
    brush.kind = ObjectKind::kBrush;
    brush.hasColour = true;
    brush.colour = 0x00FFFFFF;
    gdi.whiteBrush = AddObject(gdi, brush);
    brush.colour = 0;
    gdi.blackBrush = AddObject(gdi, brush);
    brush.hasColour = false;
    gdi.nullBrush = AddObject(gdi, brush);
    GdiObject mono;
    mono.kind = ObjectKind::kBitmap;
    mono.section = SectionInfo{1, 1, 1, 4, {{0, 0, 0, 0}, {255, 255, 255, 0}}, std::vector<uint8_t>(4, 0)};
    gdi.defaultBitmap = AddObject(gdi, mono);
    return gdi;
}

Gdi& State() {
    static Gdi gdi = Fresh();
    return gdi;
}

GdiObject* FindObject(platform::HGDIOBJ handle) {
    for (auto& object : State().objects) {
        if (reinterpret_cast<platform::HGDIOBJ>(&object) == handle) return &object;
    }
    return nullptr;
}

Dc* FindDc(platform::HDC handle) {
    for (auto& dc : State().dcs) {
        if (reinterpret_cast<platform::HDC>(&dc) == handle) return &dc;
    }
    return nullptr;
}

platform::HDC AddDc(Dc dc) {
    dc.brush = State().whiteBrush;
    State().dcs.push_back(dc);
    return reinterpret_cast<platform::HDC>(&State().dcs.back());
}

void RemoveDc(Dc* dc) {
    if (dc->bitmap != nullptr) dc->bitmap->selectedInto = nullptr;
    State().dcs.remove_if([dc](const Dc& entry) { return &entry == dc; });
}

uint32_t Rgb(const platform::RGBQUAD& q) {
    return (static_cast<uint32_t>(q.rgbRed) << 16) | (static_cast<uint32_t>(q.rgbGreen) << 8) | q.rgbBlue;
}

// The colour of pixel (x, y), counted from the top left, of a bottom-up section.
uint32_t SectionPixel(const SectionInfo& section, int x, int y) {
    const uint8_t* row = section.bits.data() + static_cast<size_t>(section.height - 1 - y) * section.stride;
    auto lookUp = [&section](unsigned index) {
        return index < section.palette.size() ? Rgb(section.palette[index]) : 0u;
    };
    switch (section.bitCount) {
        case 1: return lookUp((row[x / 8] >> (7 - x % 8)) & 1);
        case 4: return lookUp((row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F);
        case 8: return lookUp(row[x]);
        case 24: return (static_cast<uint32_t>(row[3 * x + 2]) << 16) | (row[3 * x + 1] << 8) | row[3 * x];
        case 32: return (static_cast<uint32_t>(row[4 * x + 2]) << 16) | (row[4 * x + 1] << 8) | row[4 * x];
        default: return 0;
    }
}

}  // namespace

namespace internal {

void ResetGdi() { State() = Fresh(); }

platform::HDC CreateWindowDC(int x, int y, int width, int height) {
    Dc dc;
    dc.kind = DcKind::kWindow;
    dc.originX = x;
    dc.originY = y;
    dc.width = width;
    dc.height = height;
    return AddDc(dc);
}

bool ReleaseWindowDC(platform::HDC handle) {
    Dc* dc = FindDc(handle);
    if (dc == nullptr || dc->kind != DcKind::kWindow) return false;
    RemoveDc(dc);
    return true;
}

bool BrushColour(platform::HBRUSH brush, uint32_t* colour) {
    GdiObject* object = FindObject(brush);
    if (object == nullptr || object->kind != ObjectKind::kBrush || !object->hasColour) return false;
    *colour = object->colour;
    return true;
}

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
    GdiObject* object = FindObject(bitmap);
    if (object == nullptr || object->kind != ObjectKind::kBitmap || object == State().defaultBitmap) {
        return std::nullopt;
    }
    return object->section;
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

int GetSystemMetrics(int index) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetSystemMetrics", sim::U16(std::to_string(index)))) return 0;
    if (index == SM_CXSCREEN) return sim::State().screenWidth;
    if (index == SM_CYSCREEN) return sim::State().screenHeight;
    return 0;
}

HDC CreateDCW(const char16_t* driver, const char16_t* device, const char16_t*, const void*) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("CreateDCW", driver != nullptr ? driver : u"")) return nullptr;
    // Only the display is simulated.
    if (driver == nullptr || sim::internal::Upper(driver) != u"DISPLAY" || device != nullptr) return nullptr;
    sim::Dc dc;
    dc.kind = sim::DcKind::kDisplay;
    dc.width = sim::State().screenWidth;
    dc.height = sim::State().screenHeight;
    return sim::AddDc(dc);
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (bits != nullptr) *bits = nullptr;
    if (Enter("CreateDIBSection")) return nullptr;
    // A null context will do for RGB colours, as on Windows.
    if (dc != nullptr && sim::FindDc(dc) == nullptr) return nullptr;
    if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr || offset != 0) return nullptr;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    WORD bitCount = header.biBitCount;
    if (header.biSize < 40 || header.biCompression != BI_RGB || header.biWidth <= 0 || header.biHeight <= 0) {
        return nullptr;
    }
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) return nullptr;
    uint32_t stride = (static_cast<uint32_t>(bitCount) * static_cast<uint32_t>(header.biWidth) + 31) / 32 * 4;
    uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(header.biHeight);
    if (bytes > sim::kMaxSectionBytes) return nullptr;

    sim::GdiObject object;
    object.kind = sim::ObjectKind::kBitmap;
    sim::SectionInfo& made = object.section;
    made.width = header.biWidth;
    made.height = header.biHeight;
    made.bitCount = bitCount;
    made.stride = stride;
    if (bitCount <= 8) {
        uint32_t entries = header.biClrUsed != 0 && header.biClrUsed < (1u << bitCount) ? header.biClrUsed
                                                                                        : (1u << bitCount);
        made.palette.assign(info->bmiColors, info->bmiColors + entries);
    }
    made.bits.assign(static_cast<size_t>(bytes), sim::State().sectionFill);
    sim::GdiObject* added = sim::AddObject(sim::State(), std::move(object));
    if (bits != nullptr) *bits = added->section.bits.data();
    return reinterpret_cast<HBITMAP>(added);
}

HDC CreateCompatibleDC(HDC dc) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("CreateCompatibleDC")) return nullptr;
    if (dc != nullptr && sim::FindDc(dc) == nullptr) return nullptr;
    sim::Dc memory;
    memory.kind = sim::DcKind::kMemory;
    memory.bitmap = sim::State().defaultBitmap;
    return sim::AddDc(memory);
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("SelectObject")) return nullptr;
    sim::Dc* dc = sim::FindDc(handle);
    sim::GdiObject* selected = sim::FindObject(object);
    if (dc == nullptr || selected == nullptr) return nullptr;
    if (selected->kind == sim::ObjectKind::kBrush) {
        // Brushes are not drawn with; selecting one only swaps it in.
        sim::GdiObject* previous = dc->brush;
        dc->brush = selected;
        return reinterpret_cast<HGDIOBJ>(previous);
    }
    // A bitmap goes into a memory context only, and into one at a time.
    if (dc->kind != sim::DcKind::kMemory) return nullptr;
    if (selected->selectedInto != nullptr && selected->selectedInto != handle && selected != sim::State().defaultBitmap) {
        return nullptr;
    }
    sim::GdiObject* previous = dc->bitmap;
    if (previous != nullptr) previous->selectedInto = nullptr;
    dc->bitmap = selected;
    selected->selectedInto = handle;
    return reinterpret_cast<HGDIOBJ>(previous);
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("BitBlt")) return FALSE;
    sim::Dc* to = sim::FindDc(dest);
    sim::Dc* from = sim::FindDc(source);
    if (to == nullptr || from == nullptr || rop != SRCCOPY) return FALSE;
    if (to->kind == sim::DcKind::kMemory || from->kind != sim::DcKind::kMemory || from->bitmap == nullptr) {
        return FALSE;
    }
    sim::Gdi& gdi = sim::State();
    const sim::SectionInfo& bitmap = from->bitmap->section;
    for (int j = 0; j < height; ++j) {
        int sy = sourceY + j;
        int dy = y + j;
        if (sy < 0 || sy >= bitmap.height || dy < 0 || dy >= to->height) continue;
        int screenY = to->originY + dy;
        if (screenY < 0 || screenY >= gdi.screenHeight) continue;
        for (int i = 0; i < width; ++i) {
            int sx = sourceX + i;
            int dx = x + i;
            if (sx < 0 || sx >= bitmap.width || dx < 0 || dx >= to->width) continue;
            int screenX = to->originX + dx;
            if (screenX < 0 || screenX >= gdi.screenWidth) continue;
            gdi.screen[static_cast<size_t>(screenY) * gdi.screenWidth + screenX] = sim::SectionPixel(bitmap, sx, sy);
        }
    }
    return TRUE;
}

BOOL DeleteDC(HDC handle) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("DeleteDC")) return FALSE;
    sim::Dc* dc = sim::FindDc(handle);
    // A window's context is given back with EndPaint, not deleted.
    if (dc == nullptr || dc->kind == sim::DcKind::kWindow) return FALSE;
    sim::RemoveDc(dc);
    return TRUE;
}

HGDIOBJ GetStockObject(int object) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetStockObject", sim::U16(std::to_string(object)))) return nullptr;
    constexpr int kBlackBrush = 4;
    constexpr int kNullBrush = 5;
    sim::Gdi& gdi = sim::State();
    if (object == WHITE_BRUSH) return reinterpret_cast<HGDIOBJ>(gdi.whiteBrush);
    if (object == kBlackBrush) return reinterpret_cast<HGDIOBJ>(gdi.blackBrush);
    if (object == kNullBrush) return reinterpret_cast<HGDIOBJ>(gdi.nullBrush);
    return nullptr;
}

}  // namespace platform
