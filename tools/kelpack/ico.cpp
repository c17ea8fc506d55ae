#include "ico.h"

#include <algorithm>
#include <set>
#include <unordered_map>

#include <stb_image_resize.h>

#include "byteio.h"
#include "picture.h"
#include "wording.h"

namespace kelpack {

namespace {

// The RT_ICON ids a group resource refers to.
std::set<std::uint32_t> GroupMembers(const std::vector<std::uint8_t>& g) {
    std::set<std::uint32_t> ids;
    std::uint16_t count = 0;
    if (!ReadU16(g, 4, &count)) return ids;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t id = 0;
        if (ReadU16(g, 6 + 14ull * i + 12, &id)) ids.insert(id);
    }
    return ids;
}

}  // namespace

bool ParseIco(const std::vector<std::uint8_t>& b, std::vector<IconImage>* images, std::string* error) {
    images->clear();
    if (b.size() < 6 || GetU16(b, 0) != 0 || GetU16(b, 2) != 1) {
        *error = "it is not an icon file (no ICO header)";
        return false;
    }
    std::uint32_t count = GetU16(b, 4);
    if (count == 0) {
        *error = "the icon file holds no images";
        return false;
    }
    if (!InBounds(b.size(), 6, 16ull * count)) {
        *error = "the icon file is cut off inside its directory of " + Counted(count, "image");
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t e = 6 + 16 * i;
        IconImage img;
        img.width = b[e];
        img.height = b[e + 1];
        img.colors = b[e + 2];
        img.planes = GetU16(b, e + 4);
        img.bitCount = GetU16(b, e + 6);
        std::uint32_t size = GetU32(b, e + 8), offset = GetU32(b, e + 12);
        if (size == 0 || !InBounds(b.size(), offset, size)) {
            *error = "icon image " + std::to_string(i + 1) + " lies outside the file";
            return false;
        }
        img.data.assign(b.begin() + offset, b.begin() + offset + size);
        static const std::uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        bool isPng = size >= 8 && std::equal(png, png + 8, img.data.begin());
        img.png = isPng;
        if (!isPng && (size < 40 || GetU32(img.data, 0) != 40)) {
            *error = "icon image " + std::to_string(i + 1) + " is neither a bitmap with a 40-byte header nor a PNG";
            return false;
        }
        images->push_back(std::move(img));
    }
    return true;
}

namespace {

// The 16 colours every Windows display has, for 4-bit icons of more colours.
const Rgb kStandardColours[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                  {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                  {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                  {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

// Below this opacity a pixel of a 4- or 8-bit icon is left to the screen.
constexpr std::uint8_t kOpaqueFrom = 128;

std::uint32_t Key(Rgb c) { return static_cast<std::uint32_t>(c.r) << 16 | static_cast<std::uint32_t>(c.g) << 8 | c.b; }

// The palette of a 4- or 8-bit icon: the icon's own colours, sorted, when
// they fit (black among them when some pixels are transparent: a masked
// pixel's colour is XORed onto the screen), else a fixed one. `exact` tells
// which.
std::vector<Rgb> IconPalette(const std::vector<Rgb>& colours, const std::vector<bool>& opaque, std::uint16_t bits, bool* exact) {
    const std::size_t room = std::size_t{1} << bits;
    std::vector<Rgb> palette;
    std::set<std::uint32_t> seen;
    for (std::size_t i = 0; i < colours.size() && seen.size() <= room; ++i) seen.insert(opaque[i] ? Key(colours[i]) : 0u);
    *exact = seen.size() <= room;
    if (*exact) {
        for (std::uint32_t k : seen)
            palette.push_back(Rgb{static_cast<std::uint8_t>(k >> 16), static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)});
    } else if (bits == 4) {
        palette.assign(kStandardColours, kStandardColours + 16);
    } else {
        // Six levels of each primary, and a ramp of greys between them.
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    palette.push_back(Rgb{static_cast<std::uint8_t>(51 * r), static_cast<std::uint8_t>(51 * g), static_cast<std::uint8_t>(51 * b)});
        for (int i = 1; palette.size() < 256; ++i) {
            std::uint8_t v = static_cast<std::uint8_t>(i * 255 / 41);
            palette.push_back(Rgb{v, v, v});
        }
    }
    palette.resize(room, Rgb{});
    return palette;
}

std::uint32_t Nearest(const std::vector<Rgb>& palette, Rgb c) {
    std::uint32_t best = 0, bestDistance = UINT32_MAX;
    for (std::uint32_t i = 0; i < palette.size(); ++i) {
        int dr = palette[i].r - c.r, dg = palette[i].g - c.g, db = palette[i].b - c.b;
        std::uint32_t d = static_cast<std::uint32_t>(dr * dr + dg * dg + db * db);
        if (d < bestDistance) best = i, bestDistance = d;
    }
    return best;
}

// One icon image: a 40-byte header whose height counts both masks, the
// palette, the colour rows and the AND mask (1 leaves the screen), rows
// bottom-up, each padded to four bytes.
IconImage IconDib(std::uint8_t side, std::uint16_t bits, const std::vector<std::uint8_t>& rgba, bool* exact) {
    const std::size_t pixels = static_cast<std::size_t>(side) * side;
    std::vector<Rgb> colours(pixels);
    std::vector<bool> opaque(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        colours[i] = Rgb{rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]};
        opaque[i] = rgba[4 * i + 3] >= kOpaqueFrom;
    }
    *exact = true;
    std::vector<Rgb> palette = bits <= 8 ? IconPalette(colours, opaque, bits, exact) : std::vector<Rgb>();
    const std::uint32_t black = bits <= 8 ? Nearest(palette, Rgb{}) : 0;
    const std::uint32_t stride = (static_cast<std::uint32_t>(side) * bits + 31) / 32 * 4, maskStride = (side + 31u) / 32 * 4;
    IconImage img;
    img.width = side;
    img.height = side;
    img.colors = bits == 4 ? 16 : 0;
    img.planes = 1;
    img.bitCount = bits;
    std::vector<std::uint8_t>& d = img.data;
    AppendU32(&d, 40);
    AppendU32(&d, side);
    AppendU32(&d, 2u * side);
    AppendU16(&d, 1);
    AppendU16(&d, bits);
    AppendU32(&d, 0);
    AppendU32(&d, (stride + maskStride) * side);
    for (int i = 0; i < 4; ++i) AppendU32(&d, 0);
    for (Rgb c : palette) d.insert(d.end(), {c.b, c.g, c.r, 0});
    std::unordered_map<std::uint32_t, std::uint32_t> index;
    for (int y = side - 1; y >= 0; --y) {
        std::size_t row = d.size();
        d.resize(row + stride, 0);
        for (int x = 0; x < side; ++x) {
            std::size_t i = static_cast<std::size_t>(y) * side + static_cast<std::size_t>(x);
            if (bits == 32) {
                d[row + 4 * x] = rgba[4 * i + 2];
                d[row + 4 * x + 1] = rgba[4 * i + 1];
                d[row + 4 * x + 2] = rgba[4 * i];
                d[row + 4 * x + 3] = rgba[4 * i + 3];
                continue;
            }
            std::uint32_t v = black;
            if (opaque[i]) {
                auto found = index.find(Key(colours[i]));
                v = found != index.end() ? found->second : index[Key(colours[i])] = Nearest(palette, colours[i]);
            }
            std::size_t bit = static_cast<std::size_t>(x) * bits;
            d[row + bit / 8] = static_cast<std::uint8_t>(d[row + bit / 8] | (v << (8 - bits - bit % 8)));
        }
    }
    for (int y = side - 1; y >= 0; --y) {
        std::size_t row = d.size();
        d.resize(row + maskStride, 0);
        for (int x = 0; x < side; ++x)
            if (!opaque[static_cast<std::size_t>(y) * side + static_cast<std::size_t>(x)])
                d[row + x / 8] = static_cast<std::uint8_t>(d[row + x / 8] | (0x80 >> (x % 8)));
    }
    return img;
}

}  // namespace

std::vector<IconImage> MakeIconImages(std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& rgb,
                                      const std::vector<std::uint8_t>& alpha, std::string* note) {
    std::vector<std::uint8_t> rgba(alpha.size() * 4);
    for (std::size_t i = 0; i < alpha.size(); ++i) {
        std::copy(rgb.begin() + static_cast<std::ptrdiff_t>(3 * i), rgb.begin() + static_cast<std::ptrdiff_t>(3 * i + 3),
                  rgba.begin() + static_cast<std::ptrdiff_t>(4 * i));
        rgba[4 * i + 3] = alpha[i];
    }
    std::vector<IconImage> images;
    bool allExact = true;
    for (std::uint8_t side : kIconSides) {
        // The longer side meets the square's; the picture is centred on it.
        const std::int64_t longer = std::max(width, height);
        const std::int32_t w = static_cast<std::int32_t>(std::max<std::int64_t>(1, (2 * std::int64_t{width} * side + longer) / (2 * longer)));
        const std::int32_t h = static_cast<std::int32_t>(std::max<std::int64_t>(1, (2 * std::int64_t{height} * side + longer) / (2 * longer)));
        std::vector<std::uint8_t> scaled(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
        stbir_resize_uint8_srgb(rgba.data(), width, height, 0, scaled.data(), w, h, 0, 4, 3, 0);
        std::vector<std::uint8_t> square(static_cast<std::size_t>(side) * side * 4, 0);
        const std::int32_t left = (side - w) / 2, top = (side - h) / 2;
        for (std::int32_t y = 0; y < h; ++y)
            std::copy(scaled.begin() + static_cast<std::ptrdiff_t>(y) * w * 4, scaled.begin() + static_cast<std::ptrdiff_t>(y + 1) * w * 4,
                      square.begin() + (static_cast<std::ptrdiff_t>(top + y) * side + left) * 4);
        for (std::uint16_t bits : kIconDepths) {
            bool exact = true;
            images.push_back(IconDib(side, bits, square, &exact));
            allExact = allExact && exact;
        }
    }
    *note = std::to_string(width) + "x" + std::to_string(height) + " picture made into " + Counted(images.size(), "icon image") +
            ": 16x16, 32x32 and 48x48, each at 4, 8 and 32 bits";
    if (width != height) *note += ", centred on a transparent square";
    if (!allExact) *note += "; the 4- and 8-bit images with more colours than they hold take the nearest of a standard palette";
    return images;
}

bool LoadIcon(const std::vector<std::uint8_t>& bytes, std::vector<IconImage>* images, std::vector<std::string>* warnings,
              std::string* note, std::string* error) {
    images->clear();
    note->clear();
    if (bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 && bytes[3] == 0) {
        if (!ParseIco(bytes, images, error)) return false;
        for (std::size_t i = 0; i < images->size(); ++i) {
            const IconImage& img = (*images)[i];
            if (!img.png) continue;
            warnings->push_back("icon image " + std::to_string(i + 1) + " (" + std::to_string(img.width ? img.width : 256) + "x" +
                                std::to_string(img.height ? img.height : 256) + ", " + std::to_string(img.bitCount) +
                                "-bit) is PNG-compressed, which the device's shell cannot draw; it shows the group's other "
                                "images only (give kelpack the picture instead, and it makes bitmap icons of it)");
        }
        return true;
    }
    Picture picture;
    PictureSource source;
    std::vector<std::uint8_t> alpha;
    std::string why;
    if (!DecodePicture(bytes, Rgb{}, &picture, &source, &why, kMaxPicturePixels, &alpha)) {
        *error = "it is neither an icon file nor a picture kelpack reads: " + why;
        return false;
    }
    *images = MakeIconImages(picture.width, picture.height, picture.rgb, alpha, note);
    *note = source.format + " " + *note;
    return true;
}

void PutIconGroup(ResourceList* list, std::uint32_t groupId, const std::vector<IconImage>& images) {
    ResId groupType = IntResId(kRtGroupIcon), iconType = IntResId(kRtIcon);
    std::set<std::uint32_t> oldMembers, keptMembers;
    for (const Resource& r : *list) {
        if (!ResIdMatches(r.type, groupType)) continue;
        std::set<std::uint32_t> m = GroupMembers(r.data);
        bool ours = !r.name.isName && r.name.id == groupId;
        (ours ? oldMembers : keptMembers).insert(m.begin(), m.end());
    }
    for (std::uint32_t id : oldMembers)
        if (!keptMembers.count(id)) RemoveResources(list, iconType, IntResId(id));

    // The images follow the group's language, so that a launcher compiled for
    // one language finds both under it.
    std::uint32_t lang = 0;
    if (const Resource* g = FindResource(*list, groupType, IntResId(groupId))) lang = g->lang;
    std::set<std::uint32_t> used;
    for (const Resource& r : *list)
        if (ResIdMatches(r.type, iconType) && !r.name.isName) used.insert(r.name.id);
    std::vector<std::uint8_t> group;
    AppendU16(&group, 0);
    AppendU16(&group, 1);
    AppendU16(&group, static_cast<std::uint32_t>(images.size()));
    std::uint32_t next = 1;
    for (const IconImage& img : images) {
        while (used.count(next)) ++next;
        used.insert(next);
        group.push_back(img.width);
        group.push_back(img.height);
        group.push_back(img.colors);
        group.push_back(0);
        AppendU16(&group, img.planes);
        AppendU16(&group, img.bitCount);
        AppendU32(&group, static_cast<std::uint32_t>(img.data.size()));
        AppendU16(&group, next);
        RemoveResources(list, iconType, IntResId(next));
        Resource leaf;
        leaf.type = iconType;
        leaf.name = IntResId(next);
        leaf.lang = lang;
        leaf.data = img.data;
        list->push_back(std::move(leaf));
    }
    PutResource(list, groupType, IntResId(groupId), std::move(group));
}

}  // namespace kelpack
