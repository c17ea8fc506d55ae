// Modules, resources and libraries on the real platform.
#include <cstdlib>

#include "platform/win32/win32.h"

namespace platform {

using win32::As;
using win32::W;

HMODULE GetModuleHandleW(const char16_t* moduleName) { return As<HMODULE>(::GetModuleHandleW(W(moduleName))); }

DWORD GetModuleFileNameW(HMODULE module, char16_t* path, DWORD size) {
    return ::GetModuleFileNameW(As< ::HMODULE>(module), W(path), size);
}

HRSRC FindResourceW(HMODULE module, const char16_t* name, const char16_t* type) {
    return As<HRSRC>(::FindResourceW(As< ::HMODULE>(module), W(name), W(type)));
}

const void* LoadResource(HMODULE module, HRSRC resource) {
    // On the device a loaded resource is addressable at once; on the desktop it takes a lock.
    HGLOBAL loaded = ::LoadResource(As< ::HMODULE>(module), As< ::HRSRC>(resource));
    return loaded != NULL ? LockResource(loaded) : NULL;  // a macro on the device
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    return ::SizeofResource(As< ::HMODULE>(module), As< ::HRSRC>(resource));
}

HMODULE LoadLibraryW(const char16_t* fileName) { return As<HMODULE>(::LoadLibraryW(W(fileName))); }

FARPROC GetProcAddressW(HMODULE module, const char16_t* procName) {
    return As<FARPROC>(win32::Export(As< ::HMODULE>(module), W(procName)));
}

void* win32::Export(::HMODULE module, const wchar_t* name) {
#ifdef UNDER_CE
    // The device looks exports up by their wide name.
    return reinterpret_cast<void*>(::GetProcAddressW(module, name));
#else
    // The desktop looks them up by their narrow name; export names are ASCII.
    char narrow[256];
    size_t i = 0;
    for (; name[i] != 0 && i + 1 < sizeof narrow; ++i) narrow[i] = static_cast<char>(name[i]);
    if (name[i] != 0) return NULL;
    narrow[i] = 0;
    return reinterpret_cast<void*>(::GetProcAddress(module, narrow));
#endif
}

BOOL FreeLibrary(HMODULE module) { return ::FreeLibrary(As< ::HMODULE>(module)); }

}  // namespace platform
