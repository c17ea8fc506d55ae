// Fuzzes the reading of the high-resolution mark: any bytes as the mark's
// data, and any bytes as a launcher image whose resources may carry one.
// Only the one 16-bit value 1 marks; anything else is described, never
// misread. Any broken promise aborts, so that libFuzzer keeps the input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kelpack/copy_contents.h"
#include "kelpack/pe.h"
#include "kelpack/resources.h"

namespace {

using namespace kelpack;

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckMark(const HiResMark& mark, const std::vector<std::uint8_t>* data) {
    Check(!mark.marked || mark.present);
    Check(mark.marked == mark.held.empty() || !mark.present);
    if (data != nullptr) Check(mark.marked == (*data == std::vector<std::uint8_t>{1, 0}));
    Check(mark.held.size() < 64);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    ResourceList list;
    PutResource(&list, HiResAwareType(), HiResAwareName(), bytes);
    CheckMark(ReadHiResMark(list), &bytes);

    PeImage image;
    std::string error;
    ResourceList res;
    if (!ParsePe(bytes, &image, &error) || !ReadResources(image, &res, &error)) return 0;
    HiResMark mark = ReadHiResMark(res);
    const Resource* r = FindResource(res, HiResAwareType(), HiResAwareName());
    Check(mark.present == (r != nullptr));
    CheckMark(mark, r != nullptr ? &r->data : nullptr);
    return 0;
}
