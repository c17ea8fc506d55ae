// Fuzzes the PE reader on any bytes and, whenever they parse, the writer:
// the resources are edited (one added, one replaced by more bytes, or one
// removed, chosen by the input's length), written back, and the output must
// parse again and carry exactly the resources that were written. Any
// mismatch aborts, so that libFuzzer keeps the input. The same bytes read
// from a file as they are looked at must read as they do held whole.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "contract/kel.h"
#include "kelpack/copy_contents.h"
#include "kelpack/image_limits.h"
#include "kelpack/pe.h"
#include "kelpack/pe_write.h"
#include "kelpack/resources.h"

#include "image_in_memory.h"

namespace {

using namespace kelpack;

void Check(bool condition) {
    if (!condition) std::abort();
}

// The file each input is also read from, removed when the run ends.
struct InputFile {
    std::string path = (std::filesystem::temp_directory_path() / ("pe_fuzz_" + std::to_string(getpid()))).string();
    ~InputFile() { std::remove(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    static const InputFile input;
    const std::string& path = input.path;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Check(f != nullptr && std::fwrite(data, 1, size, f) == size && std::fclose(f) == 0);
    PeImage image, fromFile;
    std::string error, fileError;
    const bool parsed = ParsePe(bytes, &image, &error);
    Check(ParsePe(PeBytes(path, size), &fromFile, &fileError) == parsed && fileError == error);
    if (!parsed) {
        Check(!error.empty());
        return 0;
    }
    // What show and pack say of an image that is no launcher: any bytes.
    for (const std::string& w : LauncherWarnings(image)) Check(!w.empty());
    Check(LauncherWarnings(fromFile) == LauncherWarnings(image));
    ResourceList list, fileList;
    const bool read = ReadResources(image, &list, &error);
    Check(ReadResources(fromFile, &fileList, &fileError) == read && fileError == error && fileList.size() == list.size());
    for (std::size_t i = 0; i < list.size(); ++i) Check(fileList[i].data == list[i].data);
    Check(fromFile.bytes.failure().empty());
    if (!read) {
        Check(!error.empty() && list.empty());
        return 0;
    }

    // The edit: the last bytes of the input make the new data, so that the
    // fuzzer controls its length and content.
    std::size_t tail = size < 48 ? size : 48;
    std::vector<std::uint8_t> extra(data + size - tail, data + size);
    switch (size % 3) {
        case 0:
            PutResource(&list, TextType(), CommandLineName(), extra);
            break;
        case 1:
            if (list.empty()) {
                PutResource(&list, IntResId(kRtGroupIcon), IntResId(kel::kIconGroupId), extra);
            } else {
                std::vector<std::uint8_t> grown = list.front().data;
                grown.insert(grown.end(), extra.begin(), extra.end());
                PutResource(&list, list.front().type, list.front().name, grown);
            }
            break;
        default:
            if (!list.empty()) {
                ResId type = list.front().type;
                ResId name = list.front().name;
                Check(RemoveResources(&list, type, name) >= 1);
            }
            break;
    }

    std::vector<std::uint8_t> out;
    RsrcPlacement placement = RsrcPlacement::kNone;
    std::vector<std::string> warnings;
    if (!LayOutResources(image, list, &out, &placement, &warnings, &error)) {
        Check(!error.empty());
        return 0;
    }
    Check(list.empty() == (placement == RsrcPlacement::kNone));

    // The output parses, carries what was written, and has the checksum the
    // loader computes: the same check `pack` makes before it keeps a file.
    Check(CheckWrittenImage(out, list, &error));
    return 0;
}
