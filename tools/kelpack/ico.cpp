#include "ico.h"

#include <algorithm>
#include <set>

#include "byteio.h"

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
        *error = "the icon file is cut off inside its directory of " + std::to_string(count) + " images";
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
        if (!isPng && (size < 40 || GetU32(img.data, 0) != 40)) {
            *error = "icon image " + std::to_string(i + 1) + " is neither a bitmap with a 40-byte header nor a PNG";
            return false;
        }
        images->push_back(std::move(img));
    }
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
