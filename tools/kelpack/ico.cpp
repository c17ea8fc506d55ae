#include "ico.h"

#include <algorithm>
#include <set>

#include "byteio.h"

namespace kelpack {

namespace {

// The RT_ICON ids a group resource refers to.
std::set<std::uint32_t> group_members(const std::vector<std::uint8_t>& g) {
    std::set<std::uint32_t> ids;
    std::uint16_t count = 0;
    if (!read_u16(g, 4, &count)) return ids;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t id = 0;
        if (read_u16(g, 6 + 14ull * i + 12, &id)) ids.insert(id);
    }
    return ids;
}

}  // namespace

bool parse_ico(const std::vector<std::uint8_t>& b, std::vector<IconImage>* images, std::string* error) {
    images->clear();
    if (b.size() < 6 || get_u16(b, 0) != 0 || get_u16(b, 2) != 1) {
        *error = "it is not an icon file (no ICO header)";
        return false;
    }
    std::uint32_t count = get_u16(b, 4);
    if (count == 0) {
        *error = "the icon file holds no images";
        return false;
    }
    if (!in_bounds(b.size(), 6, 16ull * count)) {
        *error = "the icon file is cut off inside its directory of " + std::to_string(count) + " images";
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t e = 6 + 16 * i;
        IconImage img;
        img.width = b[e];
        img.height = b[e + 1];
        img.colors = b[e + 2];
        img.planes = get_u16(b, e + 4);
        img.bit_count = get_u16(b, e + 6);
        std::uint32_t size = get_u32(b, e + 8), offset = get_u32(b, e + 12);
        if (size == 0 || !in_bounds(b.size(), offset, size)) {
            *error = "icon image " + std::to_string(i + 1) + " lies outside the file";
            return false;
        }
        img.data.assign(b.begin() + offset, b.begin() + offset + size);
        static const std::uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        bool is_png = size >= 8 && std::equal(png, png + 8, img.data.begin());
        if (!is_png && (size < 40 || get_u32(img.data, 0) != 40)) {
            *error = "icon image " + std::to_string(i + 1) + " is neither a bitmap with a 40-byte header nor a PNG";
            return false;
        }
        images->push_back(std::move(img));
    }
    return true;
}

void put_icon_group(ResourceList* list, std::uint32_t group_id, const std::vector<IconImage>& images) {
    ResId group_type = res_id(kRtGroupIcon), icon_type = res_id(kRtIcon);
    std::set<std::uint32_t> old_members, kept_members;
    for (const Resource& r : *list) {
        if (!res_id_matches(r.type, group_type)) continue;
        std::set<std::uint32_t> m = group_members(r.data);
        bool ours = !r.name.is_name && r.name.id == group_id;
        (ours ? old_members : kept_members).insert(m.begin(), m.end());
    }
    for (std::uint32_t id : old_members)
        if (!kept_members.count(id)) remove_resources(list, icon_type, res_id(id));

    // The images follow the group's language, so that a launcher compiled for
    // one language finds both under it.
    std::uint32_t lang = 0;
    if (const Resource* g = find_resource(*list, group_type, res_id(group_id))) lang = g->lang;
    std::set<std::uint32_t> used;
    for (const Resource& r : *list)
        if (res_id_matches(r.type, icon_type) && !r.name.is_name) used.insert(r.name.id);
    std::vector<std::uint8_t> group;
    append_u16(&group, 0);
    append_u16(&group, 1);
    append_u16(&group, static_cast<std::uint32_t>(images.size()));
    std::uint32_t next = 1;
    for (const IconImage& img : images) {
        while (used.count(next)) ++next;
        used.insert(next);
        group.push_back(img.width);
        group.push_back(img.height);
        group.push_back(img.colors);
        group.push_back(0);
        append_u16(&group, img.planes);
        append_u16(&group, img.bit_count);
        append_u32(&group, static_cast<std::uint32_t>(img.data.size()));
        append_u16(&group, next);
        remove_resources(list, icon_type, res_id(next));
        Resource leaf;
        leaf.type = icon_type;
        leaf.name = res_id(next);
        leaf.lang = lang;
        leaf.data = img.data;
        list->push_back(std::move(leaf));
    }
    put_resource(list, group_type, res_id(group_id), std::move(group));
}

}  // namespace kelpack
