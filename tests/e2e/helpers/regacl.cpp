// Sets who may do what with a key under HKEY_LOCAL_MACHINE, as an
// administrator locks a key down for ordinary users.
//
//   regacl.exe SUBKEY SDDL    e.g. "Software\Norvane\KelVM" "D:P(A;;KR;;;WD)"
//   prints status= (0 when the key's access list was replaced)
#include "helper.h"

#include <sddl.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    HKEY key = nullptr;
    LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, READ_CONTROL | WRITE_DAC, &key);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (status == ERROR_SUCCESS &&
        !::ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[2], SDDL_REVISION_1, &descriptor, nullptr)) {
        status = static_cast<LONG>(::GetLastError());
    }
    if (status == ERROR_SUCCESS) status = ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    if (key != nullptr) ::RegCloseKey(key);
    helper::LineNumber("status", status);
    return status == ERROR_SUCCESS ? 0 : 1;
}
