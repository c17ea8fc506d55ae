#include "launcher/engine.h"

#include <cstdlib>

#include "contract/kel.h"
#include "launcher/plan.h"
#include "trace/trace.h"

namespace launcher {
namespace {

// The engine path registered for the file type, always NUL-terminated
// inside its buffer, whatever the stored value's size, type or ending; null
// when there is none.
char16_t* ReadRegisteredEnginePath() {
    platform::HKEY key = NULL;
    if (platform::RegOpenKeyExW(platform::HKEY_CLASSES_ROOT, kel::kEnginePathKey, 0, 0, &key) != platform::ERROR_SUCCESS) {
        return NULL;
    }
    // Ask for the size first: the registration writes paths of any length the
    // platform has, and every one of them must come back whole.
    platform::DWORD size = 0;
    char16_t* path = NULL;
    // A value longer than any path the platform can load is no engine path,
    // and a size near 2^32 would wrap the byte count on a 32-bit build.
    if (platform::RegQueryValueExW(key, NULL, NULL, NULL, NULL, &size) == platform::ERROR_SUCCESS &&
        size <= kMaxEnginePathBytes) {
        // Room for every byte and a terminator after the last whole character;
        // an odd last byte is no character and is overwritten by it.
        platform::DWORD characters = size / sizeof(char16_t);
        path = static_cast<char16_t*>(std::malloc((static_cast<size_t>(characters) + 1) * sizeof(char16_t)));
        platform::DWORD offered = size;
        if (path != NULL && platform::RegQueryValueExW(key, NULL, NULL, NULL, reinterpret_cast<platform::BYTE*>(path),
                                       &offered) == platform::ERROR_SUCCESS) {
            path[offered / sizeof(char16_t)] = 0;
        } else {
            std::free(path);
            path = NULL;
        }
    }
    platform::RegCloseKey(key);
    return path;
}

}  // namespace

platform::HMODULE LoadEngineLibrary() {
    trace::DebugTrace(u"Going to load Kel.dll");
    platform::HMODULE engine = platform::LoadLibraryW(kel::kEngineLibraryName);
    if (engine != NULL) return engine;

    char16_t* path = ReadRegisteredEnginePath();
    if (path == NULL) return NULL;
    engine = platform::LoadLibraryW(EnginePathInValue(path));
    std::free(path);
    return engine;
}

}  // namespace launcher
