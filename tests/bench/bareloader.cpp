// The least a program can do to start an engine: load Kel.dll by name, look
// up KelMainW and call it with the same six arguments the launcher passes.
// The start-up figures compare kel.exe against this.
//
// Built a second time with BARE_IMPORT_* defined, it also imports the system
// DLLs named, without calling into them, so that the cost of each import at
// start-up can be told apart from the rest of what kel.exe does. With
// BARE_CALL_UI it also makes, before loading the engine, the two
// window-system calls kel.exe makes on every start without a splash: the
// screen size (for choosing a splash; BARE_CALL_METRICS alone) and a look for
// a running instance (BARE_CALL_FINDWINDOW alone).
#include <windows.h>
#if defined(BARE_IMPORT_WS2_32)
#include <winsock2.h>
#endif

using EntryProc = int (*)(HINSTANCE, HINSTANCE, const wchar_t*, int, HMODULE, HMODULE);

namespace {

// Never true at run time; it only keeps the imports from being dropped.
void KeepImports(int show) {
    if (show != -0x4B454C) return;
#if defined(BARE_IMPORT_USER32)
    GetSystemMetrics(0);
#endif
#if defined(BARE_IMPORT_GDI32)
    GetStockObject(0);
#endif
#if defined(BARE_IMPORT_ADVAPI32)
    RegCloseKey(nullptr);
#endif
#if defined(BARE_IMPORT_WS2_32)
    WSACleanup();
#endif
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
    KeepImports(show);
#if defined(BARE_CALL_UI) || defined(BARE_CALL_METRICS)
    GetSystemMetrics(SM_CXSCREEN);
    GetSystemMetrics(SM_CYSCREEN);
#endif
#if defined(BARE_CALL_UI) || defined(BARE_CALL_FINDWINDOW)
    FindWindowW(L"StartKel", nullptr);
#endif
    HMODULE engine = LoadLibraryW(L"Kel.dll");
    if (engine == nullptr) return 101;
    auto entry = reinterpret_cast<EntryProc>(reinterpret_cast<void*>(GetProcAddress(engine, "KelMainW")));
    if (entry == nullptr) return 102;
    int result = entry(instance, previous, commandLine, show, GetModuleHandleW(nullptr), engine);
    FreeLibrary(engine);
    return result;
}
