// Fuzzes the whole launch on the simulated platform: any command line, any
// registered engine path (any bytes, any type), any embedded command line.
// Input: 1 byte of value type, 2 bytes of registry value length, the value,
// 2 bytes of embedded command line length, the embedded line, then the
// user's command line as UTF-16.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher/launcher.h"
#include "sim.h"

namespace {

// The command line the engine was given, if it was entered.
const char16_t* g_engineLine = nullptr;

int32_t FuzzKelMainW(void*, void*, const char16_t* commandLine, int, void*, void*) {
    g_engineLine = commandLine;
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
    g_engineLine = nullptr;
    launcher::Launch(nullptr, nullptr, line.c_str(), 1);
    // A merged line is the launcher's to keep for the whole process, as the
    // engine may hold on to it. Here each input is one process, so the line
    // goes with it: millions of runs would otherwise fill the memory limit.
    if (g_engineLine != nullptr && g_engineLine != line.c_str()) std::free(const_cast<char16_t*>(g_engineLine));
    return 0;
}
