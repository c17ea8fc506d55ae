// The registry on the real platform.
#include "platform/win32/win32.h"

namespace platform {

using win32::As;
using win32::W;

LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, DWORD access, HKEY* result) {
    ::HKEY opened = nullptr;
    LONG status = ::RegOpenKeyExW(As<::HKEY>(key), W(subKey), options, access != 0 ? access : KEY_READ, &opened);
    *result = As<HKEY>(opened);
    return status;
}

LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, char16_t* keyClass, DWORD options,
                     DWORD access, void* security, HKEY* result, DWORD* disposition) {
    auto create = [&](REGSAM desired, ::HKEY* created) {
        return ::RegCreateKeyExW(As<::HKEY>(key), W(subKey), reserved, W(keyClass), options, desired,
                                 static_cast<LPSECURITY_ATTRIBUTES>(security), created,
                                 reinterpret_cast<LPDWORD>(disposition));
    };
    ::HKEY created = nullptr;
    LONG status;
    if (access != 0) {
        status = create(access, &created);
    } else {
        // The device ignores the access mask and passes 0; the desktop needs
        // one. Reading and writing serves every caller, and creates the key
        // where it can be; where this user may only read (the engine's port
        // under HKEY_LOCAL_MACHINE, say), the key is still opened to read.
        status = create(KEY_READ | KEY_WRITE, &created);
        if (status == ERROR_ACCESS_DENIED) status = create(KEY_READ, &created);
    }
    *result = As<HKEY>(created);
    return status;
}

LONG RegQueryValueExW(HKEY key, const char16_t* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
    return ::RegQueryValueExW(As<::HKEY>(key), W(valueName), reinterpret_cast<LPDWORD>(reserved),
                              reinterpret_cast<LPDWORD>(type), data, reinterpret_cast<LPDWORD>(size));
}

LONG RegSetValueExW(HKEY key, const char16_t* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    return ::RegSetValueExW(As<::HKEY>(key), W(valueName), reserved, type, data, size);
}

LONG RegCloseKey(HKEY key) { return ::RegCloseKey(As<::HKEY>(key)); }

}  // namespace platform
