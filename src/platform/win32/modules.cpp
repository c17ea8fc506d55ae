// Modules, resources and libraries on the real platform.
#include <cstdlib>

#include "platform/win32/win32.h"

namespace platform {

using win32::As;
using win32::W;

HMODULE GetModuleHandleW(const char16_t* moduleName) { return As<HMODULE>(::GetModuleHandleW(W(moduleName))); }

DWORD GetModuleFileNameW(HMODULE module, char16_t* path, DWORD size) {
    return ::GetModuleFileNameW(As<::HMODULE>(module), W(path), size);
}

HRSRC FindResourceW(HMODULE module, const char16_t* name, const char16_t* type) {
    return As<HRSRC>(::FindResourceW(As<::HMODULE>(module), W(name), W(type)));
}

const void* LoadResource(HMODULE module, HRSRC resource) {
    // On the device a loaded resource is addressable at once; on the desktop it takes a lock.
    HGLOBAL loaded = ::LoadResource(As<::HMODULE>(module), As<::HRSRC>(resource));
    return loaded != nullptr ? ::LockResource(loaded) : nullptr;
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    return ::SizeofResource(As<::HMODULE>(module), As<::HRSRC>(resource));
}

HMODULE LoadLibraryW(const char16_t* fileName) { return As<HMODULE>(::LoadLibraryW(W(fileName))); }

FARPROC GetProcAddressW(HMODULE module, const char16_t* procName) {
    // The desktop looks routines up by their narrow name; export names are ASCII.
    char name[256];
    size_t i = 0;
    for (; procName[i] != 0 && i + 1 < sizeof name; ++i) name[i] = static_cast<char>(procName[i]);
    if (procName[i] != 0) return nullptr;
    name[i] = 0;
    return As<FARPROC>(::GetProcAddress(As<::HMODULE>(module), name));
}

BOOL FreeLibrary(HMODULE module) { return ::FreeLibrary(As<::HMODULE>(module)); }

}  // namespace platform
