#include "launcher/engine.h"

#include <cstdlib>

#include "contract/kel.h"
#include "launcher/plan.h"
#include "trace/trace.h"

namespace launcher {
namespace {

// The registered engine value read whole into a buffer of its own (which
// the caller frees), with *bytesRead set; null when there is none, or when it
// is longer than any path.
char16_t* ReadRegisteredEngineValue(uint32_t* bytesRead) {
    platform::HKEY key = NULL;
    if (platform::RegOpenKeyExW(platform::HKEY_CLASSES_ROOT, kel::kEnginePathKey, 0, 0, &key) != platform::ERROR_SUCCESS) {
        return NULL;
    }
    // Ask for the size first: the registration writes paths of any length the
    // platform has, and every one of them must come back whole.
    platform::DWORD size = 0;
    char16_t* buffer = NULL;
    if (platform::RegQueryValueExW(key, NULL, NULL, NULL, NULL, &size) == platform::ERROR_SUCCESS) {
        uint32_t bytes = EnginePathBufferBytes(size);
        buffer = bytes != 0 ? static_cast<char16_t*>(std::malloc(bytes)) : NULL;
        platform::DWORD offered = size;
        if (buffer != NULL && platform::RegQueryValueExW(key, NULL, NULL, NULL, reinterpret_cast<platform::BYTE*>(buffer),
                                                         &offered) == platform::ERROR_SUCCESS) {
            *bytesRead = offered;
        } else {
            std::free(buffer);
            buffer = NULL;
        }
    }
    platform::RegCloseKey(key);
    return buffer;
}

}  // namespace

platform::HMODULE LoadEngineLibrary() {
    trace::DebugTrace(u"Going to load Kel.dll");
    platform::HMODULE engine = platform::LoadLibraryW(kel::kEngineLibraryName);
    if (engine != NULL) return engine;

    uint32_t bytesRead = 0;
    char16_t* value = ReadRegisteredEngineValue(&bytesRead);
    if (value == NULL) return NULL;
    engine = platform::LoadLibraryW(EnginePathInValue(value, bytesRead));
    std::free(value);
    return engine;
}

}  // namespace launcher
