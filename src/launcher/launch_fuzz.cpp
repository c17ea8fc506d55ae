// Fuzzes the whole launch on the simulated platform: any command line, any
// registered engine path (any bytes, any type), any embedded command line.
// Input: 1 byte of value type, 2 bytes of registry value length, the value,
// 2 bytes of embedded command line length, the embedded line, then the
// user's command line as UTF-16.
#include <cstdint>
#include <cstring>
#include <string>

#include "launcher/launcher.h"
#include "platform/host/sim.h"

namespace {

int32_t FuzzKelMainW(platform::HINSTANCE, platform::HINSTANCE, const char16_t* commandLine, int,
                     platform::HMODULE, platform::HMODULE) {
    // Touch the whole command line: it must be terminated.
    int32_t sum = 0;
    for (const char16_t* c = commandLine; *c != 0; ++c) sum += *c;
    return sum & 0x7F;
}

size_t Take(const uint8_t*& data, size_t& size, size_t want) {
    size_t n = want < size ? want : size;
    data += n;
    size -= n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::Reset();
    sim::Library engine;
    engine.path = u"\\e\\Kel.dll";
    engine.exports["KelMainW"] = reinterpret_cast<platform::FARPROC>(&FuzzKelMainW);
    sim::InstallLibrary(engine);

    if (size < 1) return 0;
    platform::DWORD type = data[0] & 7;
    Take(data, size, 1);
    if (size < 2) return 0;
    size_t valueLength = data[0] | (data[1] << 8);
    Take(data, size, 2);
    const uint8_t* value = data;
    valueLength = Take(data, size, valueLength);
    sim::SetRegistryValue(platform::HKEY_CLASSES_ROOT, u"KelFile10\\DLL", u"", type,
                          std::string(reinterpret_cast<const char*>(value), valueLength));

    if (size >= 2) {
        size_t embeddedLength = data[0] | (data[1] << 8);
        Take(data, size, 2);
        const uint8_t* embedded = data;
        embeddedLength = Take(data, size, embeddedLength);
        sim::SetResource(u"Text", u"CommandLine", std::string(reinterpret_cast<const char*>(embedded), embeddedLength));
    }

    std::u16string line(size / 2, u'\0');
    std::memcpy(line.data(), data, line.size() * 2);
    line = line.c_str();   // the platform's command line ends at its first NUL
    launcher::Launch(nullptr, nullptr, line.c_str(), 1);
    return 0;
}
