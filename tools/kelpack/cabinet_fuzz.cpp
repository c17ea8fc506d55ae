// Fuzzes the cabinet reader (stored and MSZIP folders, the inflating
// included) and the installation data reader on any bytes: the input is
// read as a cabinet and, as `show` does, its ".000" member as installation
// data; the input itself is also read as installation data. What reads is
// written again, stored and compressed, and must read back the same. Any mismatch
// aborts, so that libFuzzer keeps the input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kelpack/cabinet.h"
#include "kelpack/install_data.h"

namespace {

using namespace kelpack;

void Check(bool condition) {
    if (!condition) std::abort();
}

bool SamePieces(const std::vector<std::string>& a, const std::vector<std::string>& b) { return a == b; }

// Installation data that reads is written again when the writer takes it,
// and reads back the same.
void InstallData(const std::vector<std::uint8_t>& bytes) {
    CeInstall in;
    std::string error;
    if (!ReadInstallData(bytes, &in, &error)) {
        Check(!error.empty());
        return;
    }
    for (const CeRegValue& v : in.values) Check(v.data.size() <= bytes.size());
    std::vector<std::uint8_t> again;
    if (!LayOutInstallData(in, &again, &error)) {
        Check(!error.empty());
        return;
    }
    CeInstall back;
    Check(ReadInstallData(again, &back, &error));
    Check(back.appName == in.appName && back.provider == in.provider && back.processor == in.processor);
    Check(back.unsupported == in.unsupported);
    Check(back.dirs.size() == in.dirs.size() && back.files.size() == in.files.size());
    Check(back.keys.size() == in.keys.size() && back.values.size() == in.values.size());
    Check(back.links.size() == in.links.size());
    for (std::size_t i = 0; i < in.dirs.size(); ++i) Check(SamePieces(back.dirs[i].path, in.dirs[i].path));
    for (std::size_t i = 0; i < in.files.size(); ++i)
        Check(back.files[i].name == in.files[i].name && back.files[i].flags == in.files[i].flags);
    for (std::size_t i = 0; i < in.values.size(); ++i)
        Check(back.values[i].data == in.values[i].data && back.values[i].name == in.values[i].name);
    for (std::size_t i = 0; i < in.links.size(); ++i) Check(SamePieces(back.links[i].path, in.links[i].path));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    InstallData(bytes);

    Cabinet cab;
    std::string error;
    if (!ReadCabinet(bytes, &cab, &error)) {
        Check(!error.empty());
        return 0;
    }
    Check(cab.joinedBytes <= size);
    // Entries may share their folder's bytes; copied out, many of them
    // could take more memory than the fuzzer allows.
    std::uint64_t total = 0;
    for (const CabMember& e : cab.files) total += e.size;
    if (total > (std::uint64_t{64} << 20)) return 0;
    std::vector<CabFile> files;
    for (const CabMember& e : cab.files) {
        CabFile f;
        f.name = e.name;
        f.data = CabFileData(cab, e);
        f.date = e.date;
        f.time = e.time;
        f.attributes = e.attributes;
        if (e.name.size() > 4 && e.name.compare(e.name.size() - 4, 4, ".000") == 0) InstallData(f.data);
        files.push_back(f);
    }
    // Written again, stored and compressed, it reads back the same.
    for (CabCompression compression : {kCabStored, kCabMszip}) {
        std::vector<std::uint8_t> again;
        if (!LayOutCabinet(files, cab.setId, &again, &error, compression)) {
            Check(!error.empty());
            return 0;
        }
        Cabinet back;
        Check(ReadCabinet(again, &back, &error));
        Check(back.files.size() == files.size());
        for (std::size_t i = 0; i < files.size(); ++i)
            Check(back.files[i].name == files[i].name && CabFileData(back, back.files[i]) == files[i].data);
    }
    return 0;
}
