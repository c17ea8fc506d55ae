#include "platform/resources.h"

namespace platform {

const void* LoadResourceBytes(HMODULE module, const char16_t* name, const char16_t* type, uint32_t* length) {
    *length = 0;
    HRSRC resource = FindResourceW(module, name, type);
    if (resource == NULL) return NULL;
    const void* bytes = LoadResource(module, resource);
    if (bytes == NULL) return NULL;
    *length = SizeofResource(module, resource);
    return bytes;
}

}  // namespace platform
