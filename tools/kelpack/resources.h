// The resources of an executable as plain records: one leaf per
// (type, name, language), each with its bytes. The PE reader fills a list of
// these, `pack` edits it, and the PE writer lays it out again as the
// three-level directory tree that the format stores.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpack {

// A resource type or name: an integer identifier or a UTF-16 string.
struct ResId {
    bool isName = false;    // true: `name` is used; false: `id` is used
    std::uint32_t id = 0;   // integer identifier (RT_ICON is 3, ...)
    std::u16string name;    // string name, as stored (no terminator)
};

// Where a leaf's bytes lie when kelpack does not hold them: `size` bytes at
// `offset` of a file. An application package is copied from its file into
// the output as the output is written, so that its bytes are never held in
// memory, however large it is.
struct LeafSource {
    bool external = false;    // false: the bytes are the leaf's `data`
    std::string path;         // the file (empty: the image the leaf was read from)
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// One leaf of the resource tree.
struct Resource {
    ResId type;                      // first level
    ResId name;                      // second level
    std::uint32_t lang = 0;          // third level: language identifier
    std::uint32_t codepage = 0;      // code page field of the data entry
    std::vector<std::uint8_t> data;  // the resource's bytes, unless `source` is external
    LeafSource source;
};

// The number of bytes a leaf holds, wherever they lie.
inline std::uint64_t LeafSize(const Resource& r) { return r.source.external ? r.source.size : r.data.size(); }

// All leaves of an executable, in directory order once sorted.
using ResourceList = std::vector<Resource>;

// Well-known integer resource types.
constexpr std::uint32_t kRtIcon = 3;
constexpr std::uint32_t kRtGroupIcon = 14;

// An integer identifier.
ResId IntResId(std::uint32_t id);

// A string name made from ASCII/UTF-8 text, upper-cased the way resource
// compilers store names (ASCII letters only; the rest is kept).
ResId ResNameUpper(const std::string& utf8);

// The same from wide text, such as the contract's names (kel::).
ResId ResNameUpper(const char16_t* name);

// True when two ids name the same entry as the loader's lookup sees it:
// equal integers, or strings equal without regard to ASCII letter case.
bool ResIdMatches(const ResId& a, const ResId& b);

// Directory order: string names first, compared upper-cased, then integers
// ascending. Returns <0, 0 or >0.
int ResIdCompare(const ResId& a, const ResId& b);

// Directory order of leaves: by type, then name, then language.
bool ResourceOrder(const Resource& a, const Resource& b);

// Sorts leaves by type, name, language in directory order (stable).
void SortResources(ResourceList* list);

// Text for people: the string as UTF-8, or "#id" (with the well-known type
// name for `isType` ids, e.g. "GROUP_ICON").
std::string ResIdText(const ResId& id, bool isType);

// Finds the first leaf with this type and name; null when there is none.
const Resource* FindResource(const ResourceList& list, const ResId& type, const ResId& name);

// Removes every leaf of this type and name (all languages); returns how many.
int RemoveResources(ResourceList* list, const ResId& type, const ResId& name);

// Replaces every language of (type, name) by one leaf holding `data`. The
// language of the first replaced leaf is kept, so that a launcher whose
// resources were compiled for one language keeps finding them; new entries
// get the neutral language 0.
void PutResource(ResourceList* list, const ResId& type, const ResId& name,
                 std::vector<std::uint8_t> data);

// The same for bytes that stay in a file until the output is written.
void PutFileResource(ResourceList* list, const ResId& type, const ResId& name, const LeafSource& source);

}  // namespace kelpack
