// The registry on the real platform.
#include "platform/win32/win32.h"

namespace platform {

using win32::As;
using win32::W;

namespace {

#ifdef UNDER_CE
// The device has no access checks: it ignores the mask and asks for 0.
const bool kAccessMaskNeeded = false;
#else
const bool kAccessMaskNeeded = true;
#endif

LONG CreateKey(HKEY key, const char16_t* subKey, DWORD reserved, char16_t* keyClass, DWORD options, REGSAM access,
               void* security, ::HKEY* created, DWORD* disposition) {
    return ::RegCreateKeyExW(As< ::HKEY>(key), W(subKey), reserved, W(keyClass), options, access,
                             static_cast<LPSECURITY_ATTRIBUTES>(security), created,
                             reinterpret_cast<LPDWORD>(disposition));
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, DWORD access, HKEY* result) {
    ::HKEY opened = NULL;
    if (access == 0 && kAccessMaskNeeded) access = KEY_READ;
    LONG status = ::RegOpenKeyExW(As< ::HKEY>(key), W(subKey), options, access, &opened);
    *result = As<HKEY>(opened);
    return status;
}

LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, char16_t* keyClass, DWORD options,
                     DWORD access, void* security, HKEY* result, DWORD* disposition) {
    ::HKEY created = NULL;
    LONG status;
    if (access != 0 || !kAccessMaskNeeded) {
        status = CreateKey(key, subKey, reserved, keyClass, options, access, security, &created, disposition);
    } else {
        // The core passes 0, as the device expects; the desktop needs a mask.
        // Reading and writing serves every caller, and creates the key where
        // it can be; where this user may only read (the engine's port under
        // HKEY_LOCAL_MACHINE, say), the key is still opened to read.
        status = CreateKey(key, subKey, reserved, keyClass, options, KEY_READ | KEY_WRITE, security, &created,
                           disposition);
        if (status == ERROR_ACCESS_DENIED) {
            status = CreateKey(key, subKey, reserved, keyClass, options, KEY_READ, security, &created, disposition);
        }
    }
    *result = As<HKEY>(created);
    return status;
}

LONG RegQueryValueExW(HKEY key, const char16_t* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
    return ::RegQueryValueExW(As< ::HKEY>(key), W(valueName), reinterpret_cast<LPDWORD>(reserved),
                              reinterpret_cast<LPDWORD>(type), data, reinterpret_cast<LPDWORD>(size));
}

LONG RegSetValueExW(HKEY key, const char16_t* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    return ::RegSetValueExW(As< ::HKEY>(key), W(valueName), reserved, type, data, size);
}

LONG RegCloseKey(HKEY key) { return ::RegCloseKey(As< ::HKEY>(key)); }

}  // namespace platform
