// COREDLL.dll and ws2.dll for device code run here.
//
// Device code calls with the old ARM procedure call standard, Linux code
// expects the newer one. The first four words are in r0-r3 on both, but the
// device keeps its stack 4-byte aligned where Linux code needs 8, and puts a
// 64-bit argument in the next two words wherever they fall, where Linux code
// would skip a word to start it at an even register or an 8-byte stack slot.
// So no import is handed to Linux code directly. Each one's address is a
// trampoline that names its implementation and jumps to one stub,
// CeCallStub: it stores r0-r3 just below the caller's stack arguments, which
// makes every argument one run of 32-bit words, aligns the stack and calls
// the implementation with a pointer to those words. Implementations read
// them through Args, the one place that knows how the words are laid out.
// Calls the other way (window procedures, thread routines, KelMainW) need no
// such care: 8-byte alignment is also 4-byte alignment, and none of them
// takes a 64-bit argument.
#include "coredll.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/ucontext.h>
#include <unistd.h>

#include <csetjmp>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

#include "ce_image.h"
#include "engine_side.h"
#include "platform/platform.h"
#include "sim.h"
#include "text_helpers.h"

using Impl = uint64_t (*)(const uint32_t* words);

extern "C" void CeCallStub();

// Entered from a trampoline with the implementation in ip; returns its r0:r1.
asm(R"(
    .text
    .arm
    .align 2
    .global CeCallStub
    .type CeCallStub, %function
CeCallStub:
    push {r0-r3}
    mov r0, sp
    push {r4, lr}
    mov r4, sp
    bic sp, sp, #7
    blx ip
    mov sp, r4
    pop {r4, lr}
    add sp, sp, #16
    bx lr
    .size CeCallStub, .-CeCallStub
)");

namespace celoader {
namespace {

[[noreturn]] void Stop(const std::string& why) {
    std::fflush(stdout);
    std::fprintf(stderr, "celoader: stopped: %s\n", why.c_str());
    std::fflush(stderr);
    std::_Exit(3);
}

// The loader's state, in one record: what it mapped and runs, and the
// switches the tests set through coredll.h.
struct Loader {
    std::mutex lock;                                     // over images, engineEntries and running
    std::vector<Image> images;                           // every image mapped, until UnmapAll
    std::map<platform::DWORD, uint32_t> engineEntries;   // each process's engine entry, by process
    int running = 0;                                     // programs running now
    std::function<void()> beforeEngine;                  // BeforeEngine
    bool alignWide = false;                              // SetWideArgumentsAligned
    bool onePageForAll = false;                          // SetKernelPageShared
    const Fault* fault = nullptr;                        // PlantFault
    struct sigaction otherFaults;                        // SIGSEGV's handling before the kernel page's trap
};
Loader g_loader;

// ---------------------------------------------------------------- the calling convention

// The arguments of one call from device code, read in order.
class Args {
public:
    explicit Args(const uint32_t* words) : words_(words) {}
    uint32_t Word() { return words_[next_++]; }
    uint64_t Wide() {
        if (g_loader.alignWide && next_ % 2 != 0) ++next_;
        uint64_t low = Word();
        return low | static_cast<uint64_t>(Word()) << 32;
    }
    template <typename T>
    T Get() {
        if constexpr (std::is_pointer_v<T>) return reinterpret_cast<T>(static_cast<uintptr_t>(Word()));
        else if constexpr (sizeof(T) == 8) return static_cast<T>(Wide());
        else return static_cast<T>(Word());
    }

private:
    const uint32_t* words_;
    int next_ = 0;
};

template <typename T>
uint64_t Result(T value) {
    if constexpr (std::is_pointer_v<T>) return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
    else if constexpr (sizeof(T) == 8) return static_cast<uint64_t>(value);
    else return static_cast<uint32_t>(value);
}

// Calls function with its arguments read from the words in order (a braced
// list is evaluated left to right). A planted fault for this function
// corrupts a copy of the words first.
template <typename R, typename... P>
uint64_t Forward(const char* name, R (*function)(P...), const uint32_t* words) {
    // Every argument's words, and one more where a 64-bit one may be aligned.
    uint32_t planted[((sizeof(P) == 8 ? 2 : 1) + ... + 1)];
    const Fault* fault = g_loader.fault;
    if (fault != nullptr && std::strcmp(fault->function, name) == 0) {
        std::memcpy(planted, words, sizeof planted);
        fault->plant(planted);
        words = planted;
    }
    Args args(words);
    std::tuple<P...> values{args.Get<P>()...};
    if constexpr (std::is_void_v<R>) {
        std::apply(function, values);
        return 0;
    } else {
        return Result(std::apply(function, values));
    }
}

// The kernel's data page, which the device's inline GetCurrentThreadId and
// GetCurrentProcessId read: on the device each thread finds its own ids
// there. Here all threads share one address space, so the page is left
// unmapped and each read of it traps: the handler gives the reading thread
// its own id, as the simulation knows it, and steps over the instruction.
constexpr uint32_t kKernelPage = 0xFFFFC000;
constexpr uint32_t kCurrentThreadSlot = 0xFFFFC808;
constexpr uint32_t kCurrentProcessSlot = 0xFFFFC80C;
constexpr uint32_t kCurrentProcessHandle = 0x42;   // GetCurrentProcess(), inline on the device

// Emulates a word load from the page: LDR Rd, [Rn, #+/-imm] or [Rn, +/-Rm],
// with or without write-back; the device's compiler writes no other read of it.
void KernelPageRead(int signal, siginfo_t* info, void* context) {
    auto* machine = &static_cast<ucontext_t*>(context)->uc_mcontext;
    uint32_t at = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info->si_addr));
    if (at < kKernelPage || at >= kKernelPage + 0x1000) {
        // Not ours: what would have happened without this handler.
        sigaction(signal, &g_loader.otherFaults, nullptr);
        return;
    }
    unsigned long* r = &machine->arm_r0;   // r0 to r15, in order
    uint32_t instruction = *reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(machine->arm_pc));
    bool load = (instruction & 0x0C500000u) == 0x04100000u;   // LDR, word
    bool registerOffset = (instruction & 0x02000000u) != 0;
    char where[64];
    std::snprintf(where, sizeof where, "0x%08X with the instruction 0x%08X", at, instruction);
    if (!load || (registerOffset && (instruction & 0x00000FF0u) != 0) || (instruction & 0x01000000u) == 0) {
        Stop(std::string("device code reads the kernel's data page at ") + where + ", which the loader does not emulate");
    }
    uint32_t value = 0;
    if (at == kCurrentThreadSlot) value = sim::CallingThread();
    else if (at == kCurrentProcessSlot) value = g_loader.onePageForAll ? FirstProcessId() : CurrentProcessId();
    else Stop(std::string("device code reads the kernel's data page at ") + where + ": a value the loader does not give");
    int rd = (instruction >> 12) & 0xF, rn = (instruction >> 16) & 0xF;
    if ((instruction & 0x00200000u) != 0) r[rn] = at;   // write-back
    r[rd] = value;
    machine->arm_pc += 4;
}

bool TrapKernelPage(std::string* error) {
    static bool trapped = false;
    if (trapped) return true;
    struct sigaction action {};
    action.sa_sigaction = KernelPageRead;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGSEGV, &action, &g_loader.otherFaults) != 0) {
        *error = "the kernel data page at 0xFFFFC800 cannot be trapped";
        return false;
    }
    trapped = true;
    return true;
}

// ---------------------------------------------------------------- what the loader does itself

std::u16string Upper(const char16_t* text) {
    std::u16string upper;
    for (; text != nullptr && *text != 0; ++text) upper += (*text >= u'a' && *text <= u'z') ? *text - 32 : *text;
    return upper;
}

char g_winsock;   // its address is the ws2.dll module handle
platform::HMODULE const kWinsock = reinterpret_cast<platform::HMODULE>(&g_winsock);

// The engine's entry, when something must happen just before it runs: its
// export then names EngineEntry, which calls the entry of the calling
// process's own mapping of the engine.
const char kEngineEntry[] = "(engine entry)";

int32_t EngineEntry(uint32_t instance, uint32_t previous, uint32_t line, uint32_t show, uint32_t launcher,
                    uint32_t engine) {
    g_loader.beforeEngine();
    uint32_t address;
    {
        std::lock_guard<std::mutex> lock(g_loader.lock);
        address = g_loader.engineEntries[CurrentProcessId()];
    }
    auto entry = reinterpret_cast<int32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)>(
        static_cast<uintptr_t>(address));
    return entry(instance, previous, line, show, launcher, engine);
}

// A program running here: the thread RunProgram runs it on, where its
// TerminateProcess comes back to.
struct Program {
    std::jmp_buf exit;
    volatile int exitCode = 0;
};
thread_local Program* t_program = nullptr;   // the program whose main thread this is
thread_local uint32_t t_lastError = 0;

// Winsock is loaded below the platform layer on the device, as the
// simulation's socket operations stand for it: not a platform call here.
// Every other library is the simulation's to find, where the device looks.
platform::HMODULE LoadLibrary(const char16_t* name) {
    if (Upper(name) == u"WS2.DLL") return kWinsock;
    return platform::LoadLibraryW(name);
}

// Maps a device library when the simulation first loads it, runs its entry,
// and gives the simulation its handle and exports.
bool MapLibrary(const std::string& file, sim::Library* library) {
    Image image;
    std::string error;
    if (!MapImage(file, ResolveImport, &image, &error)) Stop(error);
    {
        std::lock_guard<std::mutex> lock(g_loader.lock);
        g_loader.images.push_back(image);
    }
    if (image.entry != 0) {
        auto main = reinterpret_cast<int (*)(uint32_t, uint32_t, uint32_t)>(image.entry);
        if (main(image.base, 1, 0) == 0) Stop(file + ": its entry refused to attach");
    }
    // As on the device, its handle is its base, and its resources are the image's.
    library->handle = reinterpret_cast<platform::HMODULE>(static_cast<uintptr_t>(image.base));
    sim::AddMappedImage(library->handle, file);
    for (auto& e : image.exports) {
        uint32_t address = e.second;
        if (e.first == "KelMainW" && g_loader.beforeEngine) {
            {
                std::lock_guard<std::mutex> lock(g_loader.lock);
                g_loader.engineEntries[CurrentProcessId()] = address;
            }
            address = ResolveImport("", kEngineEntry);
        }
        library->exports[e.first] = reinterpret_cast<platform::FARPROC>(static_cast<uintptr_t>(address));
    }
    return true;
}

platform::FARPROC GetProcAddress(platform::HMODULE module, const char16_t* name) {
    if (module != kWinsock) return platform::GetProcAddressW(module, name);
    uint32_t address = ResolveImport("ws2.dll", testsupport::U8(name));
    if (address == 0) Stop("ws2.dll!" + testsupport::U8(name) + " is asked for, which the loader does not provide");
    return reinterpret_cast<platform::FARPROC>(static_cast<uintptr_t>(address));
}

platform::BOOL FreeLibrary(platform::HMODULE module) {
    return module == kWinsock ? platform::TRUE : platform::FreeLibrary(module);
}

// Ends the calling program, and only it: its main thread goes back to its
// RunProgram; a program running beside it goes on.
platform::BOOL TerminateProcess(uint32_t process, uint32_t code) {
    if (process != kCurrentProcessHandle) Stop("TerminateProcess of another process");
    if (t_program == nullptr) Stop("TerminateProcess from a thread of the program's own");
    t_program->exitCode = static_cast<int>(code);
    std::longjmp(t_program->exit, 1);
}

void SetLastError(uint32_t code) { t_lastError = code; }
platform::BOOL CloseHandle(platform::HANDLE) { return platform::TRUE; }
platform::BOOL DisableThreadLibraryCalls(platform::HMODULE) { return platform::TRUE; }

int32_t InterlockedCompareExchange(volatile int32_t* target, int32_t exchange, int32_t comparand) {
    return __sync_val_compare_and_swap(target, comparand, exchange);
}
int32_t InterlockedExchange(volatile int32_t* target, int32_t value) { return __sync_lock_test_and_set(target, value); }

// Every image is mapped readable, writable and executable: the run-time
// relocator's questions get that answer.
constexpr uint32_t kPageExecuteReadWrite = 0x40;
uint32_t VirtualQuery(const void* address, uint32_t* info, uint32_t length) {
    if (length < 28) return 0;
    uint32_t page = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)) & ~0xFFFu;
    const uint32_t record[7] = {page, page, kPageExecuteReadWrite, 0x1000, 0x1000 /* committed */,
                                kPageExecuteReadWrite, 0x20000 /* private */};
    std::memcpy(info, record, sizeof record);
    return 28;
}
platform::BOOL VirtualProtect(void*, uint32_t, uint32_t, uint32_t* old) {
    if (old != nullptr) *old = kPageExecuteReadWrite;
    return platform::TRUE;
}

// ---------------------------------------------------------------- the C runtime; wide text is 16-bit here

uint32_t Wcslen(const char16_t* text) {
    uint32_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

int LstrcmpW(const char16_t* a, const char16_t* b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return *a < *b ? -1 : *a > *b ? 1 : 0;
}

int Nothing() { return 0; }
int Fflush(void*) { return 0; }
void Fpreset() {}
void* Memchr(const void* s, int c, uint32_t n) { return const_cast<void*>(std::memchr(s, c, n)); }
char* Strchr(const char* s, int c) { return const_cast<char*>(std::strchr(s, c)); }
uint32_t Htonl(uint32_t v) { return __builtin_bswap32(v); }
uint16_t Ntohs(uint16_t v) { return __builtin_bswap16(v); }

// wsprintfW as the launcher and the engines use it: %s (wide), %S (narrow),
// %c, %d, %i, %u, %x, %X, with -, 0, a width, l, h and I64.
uint64_t WsprintfW(const uint32_t* words) {
    Args args(words);
    char16_t* out = args.Get<char16_t*>();
    const char16_t* f = args.Get<const char16_t*>();
    char16_t* start = out;
    while (*f != 0) {
        if (*f != u'%' || f[1] == u'%') {
            *out++ = *f;
            f += *f == u'%' ? 2 : 1;
            continue;
        }
        ++f;
        bool left = false, zero = false, wide = false, narrow = false;
        for (;; ++f) {
            if (*f == u'-') left = true;
            else if (*f == u'0') zero = true;
            else break;
        }
        int width = 0;
        while (*f >= u'0' && *f <= u'9') width = width * 10 + (*f++ - u'0');
        if (f[0] == u'I' && f[1] == u'6' && f[2] == u'4') wide = true, f += 3;
        else if (*f == u'l') ++f;   // long is 32 bits
        else if (*f == u'h') narrow = true, ++f;
        std::u16string field;
        char16_t conversion = *f++;
        auto number = [&](uint64_t value, int base, bool upper) {
            const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
            std::u16string reversed;
            do reversed += static_cast<char16_t>(digits[value % base]), value /= base; while (value != 0);
            field.append(reversed.rbegin(), reversed.rend());
        };
        switch (conversion) {
        case u'd':
        case u'i': {
            int64_t value = wide ? static_cast<int64_t>(args.Wide()) : static_cast<int32_t>(args.Word());
            if (value < 0) field += u'-';
            number(value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value), 10, false);
            break;
        }
        case u'u': number(wide ? args.Wide() : args.Word(), 10, false); break;
        case u'x': number(wide ? args.Wide() : args.Word(), 16, false); break;
        case u'X': number(wide ? args.Wide() : args.Word(), 16, true); break;
        case u'c': field += static_cast<char16_t>(args.Word()); break;
        case u's':
        case u'S': {
            uint32_t at = args.Word();
            if (conversion == u'S' || narrow) {
                for (const char* s = reinterpret_cast<const char*>(static_cast<uintptr_t>(at)); *s; ++s)
                    field += static_cast<unsigned char>(*s);
            } else {
                field = reinterpret_cast<const char16_t*>(static_cast<uintptr_t>(at));
            }
            break;
        }
        default: Stop(std::string("wsprintfW: the conversion %") + static_cast<char>(conversion) + " is not provided");
        }
        std::u16string pad(field.size() < static_cast<size_t>(width) ? width - field.size() : 0,
                           zero && !left ? u'0' : u' ');
        std::u16string all = left ? field + pad : pad + field;
        for (char16_t c : all) *out++ = c;
    }
    *out = 0;
    return static_cast<uint32_t>(out - start);
}

// ---------------------------------------------------------------- the table

struct Export {
    const char* dll;
    const char* name;
    Impl impl;
};

#define PLATFORM(name) {"COREDLL.dll", #name, [](const uint32_t* w) { return Forward(#name, &platform::name, w); }}
#define WINSOCK(name) {"ws2.dll", #name, [](const uint32_t* w) { return Forward(#name, &platform::name, w); }}
#define ENGINE(name) {"COREDLL.dll", #name, [](const uint32_t* w) { return Forward(#name, &engine::name, w); }}
#define ENGINE_SOCKET(name) {"ws2.dll", #name, [](const uint32_t* w) { return Forward(#name, &engine::name, w); }}
#define OWN(dll, name, function) {dll, name, [](const uint32_t* w) { return Forward(name, &function, w); }}

const Export kExports[] = {
    // Modules, resources, libraries.
    PLATFORM(GetModuleHandleW), PLATFORM(GetModuleFileNameW), PLATFORM(FindResourceW), PLATFORM(LoadResource),
    PLATFORM(SizeofResource), OWN("COREDLL.dll", "LoadLibraryW", LoadLibrary),
    OWN("COREDLL.dll", "GetProcAddressW", GetProcAddress), OWN("COREDLL.dll", "FreeLibrary", FreeLibrary),
    // Registry.
    PLATFORM(RegOpenKeyExW), PLATFORM(RegCreateKeyExW), PLATFORM(RegQueryValueExW), PLATFORM(RegSetValueExW),
    PLATFORM(RegCloseKey),
    // Windows, messages, drawing.
    PLATFORM(MessageBoxW), PLATFORM(OutputDebugStringW), PLATFORM(FindWindowW), PLATFORM(SetForegroundWindow),
    PLATFORM(PostMessageW), PLATFORM(GetSystemMetrics), PLATFORM(RegisterClassW), PLATFORM(CreateWindowExW),
    PLATFORM(DestroyWindow), PLATFORM(DefWindowProcW), PLATFORM(GetMessageW), PLATFORM(TranslateMessage),
    PLATFORM(DispatchMessageW), PLATFORM(BeginPaint), PLATFORM(EndPaint), PLATFORM(CreateDCW),
    PLATFORM(CreateDIBSection), PLATFORM(CreateCompatibleDC), PLATFORM(SelectObject), PLATFORM(BitBlt),
    PLATFORM(DeleteDC), PLATFORM(GetStockObject),
    // Threads, events, the process.
    PLATFORM(CreateThread), PLATFORM(CreateEventW), PLATFORM(WaitForSingleObject), PLATFORM(EventModify),
    OWN("COREDLL.dll", "CloseHandle", CloseHandle), OWN("COREDLL.dll", "TerminateProcess", TerminateProcess),
    OWN("COREDLL.dll", "SetLastError", SetLastError),
    OWN("COREDLL.dll", "DisableThreadLibraryCalls", DisableThreadLibraryCalls),
    OWN("COREDLL.dll", "InterlockedCompareExchange", InterlockedCompareExchange),
    OWN("COREDLL.dll", "InterlockedExchange", InterlockedExchange),
    OWN("COREDLL.dll", "VirtualQuery", VirtualQuery), OWN("COREDLL.dll", "VirtualProtect", VirtualProtect),
    // The C runtime.
    OWN("COREDLL.dll", "malloc", std::malloc), OWN("COREDLL.dll", "calloc", std::calloc),
    OWN("COREDLL.dll", "realloc", std::realloc), OWN("COREDLL.dll", "free", std::free),
    OWN("COREDLL.dll", "memcpy", std::memcpy), OWN("COREDLL.dll", "memset", std::memset),
    OWN("COREDLL.dll", "memchr", Memchr), OWN("COREDLL.dll", "strchr", Strchr),
    OWN("COREDLL.dll", "strcmp", std::strcmp), OWN("COREDLL.dll", "strncmp", std::strncmp),
    OWN("COREDLL.dll", "strlen", std::strlen), OWN("COREDLL.dll", "strncpy", std::strncpy),
    OWN("COREDLL.dll", "atoi", std::atoi), OWN("COREDLL.dll", "wcslen", Wcslen),
    OWN("COREDLL.dll", "lstrcmpW", LstrcmpW),
    {"COREDLL.dll", "wsprintfW", WsprintfW}, OWN("COREDLL.dll", "_fcloseall", Nothing),
    OWN("COREDLL.dll", "fflush", Fflush), OWN("COREDLL.dll", "_fpreset", Fpreset),
    // Winsock: the simulation's sockets.
    WINSOCK(WSAStartup), WINSOCK(WSACleanup), WINSOCK(socket), WINSOCK(setsockopt), WINSOCK(connect),
    WINSOCK(send), WINSOCK(closesocket), WINSOCK(inet_addr), WINSOCK(htons), OWN("ws2.dll", "htonl", Htonl),
    OWN("ws2.dll", "ntohs", Ntohs),
    // What engines call beyond the launcher, on the simulation's world (engine_side.h).
    ENGINE(EnumWindows), ENGINE(GetClassNameW), ENGINE(GetWindowThreadProcessId), ENGINE(PostThreadMessageW),
    ENGINE(PostQuitMessage), ENGINE(GetDlgItem), ENGINE(SendMessageW), ENGINE(MoveWindow), ENGINE(GetWindowLongW),
    ENGINE(ShowWindow), ENGINE(UpdateWindow), ENGINE(UnregisterClassW), ENGINE(LoadIconW), ENGINE(LoadCursorW),
    ENGINE(MultiByteToWideChar), ENGINE_SOCKET(bind), ENGINE_SOCKET(listen), ENGINE_SOCKET(accept),
    ENGINE_SOCKET(getsockname), ENGINE_SOCKET(recv),
    // Not the device's: what an engine's entry becomes (BeforeEngine).
    OWN("", kEngineEntry, EngineEntry),
};

// A trampoline per implementation: ldr ip, [pc]; ldr pc, [pc]; the implementation; the stub.
uint32_t Trampoline(Impl impl) {
    static std::mutex lock;
    static std::map<Impl, uint32_t> made;
    static uint32_t* next = nullptr;
    static size_t left = 0;
    std::lock_guard<std::mutex> guard(lock);
    auto found = made.find(impl);
    if (found != made.end()) return found->second;
    if (left < 4) {
        void* page = mmap(nullptr, 0x1000, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) Stop("no memory for trampolines");
        next = static_cast<uint32_t*>(page);
        left = 0x1000 / 4;
    }
    uint32_t* t = next;
    next += 4;
    left -= 4;
    t[0] = 0xE59FC000;   // ldr ip, [pc, #0]
    t[1] = 0xE59FF000;   // ldr pc, [pc, #0]
    t[2] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(impl));
    t[3] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&CeCallStub));
    __builtin___clear_cache(reinterpret_cast<char*>(t), reinterpret_cast<char*>(t + 4));
    return made[impl] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(t));
}

bool SameName(const char* a, const std::string& b) { return strcasecmp(a, b.c_str()) == 0; }

}  // namespace

uint32_t ResolveImport(const std::string& dll, const std::string& name) {
    for (const Export& e : kExports) {
        if (SameName(e.dll, dll) && name == e.name) return Trampoline(e.impl);
    }
    return 0;
}

void SetDeviceLibrary(const std::u16string& path, const std::string& file) {
    sim::Library library;
    library.path = path;
    library.load = [file](sim::Library* loaded) { return MapLibrary(file, loaded); };
    sim::InstallLibrary(library);
}

int RunProgram(const std::string& path, const char16_t* commandLine, int show, std::string* error) {
    if (!TrapKernelPage(error)) return -1;
    Image image;
    if (!MapImage(path, ResolveImport, &image, error)) return -1;
    if (image.library || image.entry == 0) {
        UnmapImage(image);
        *error = path + ": not a program";
        return -1;
    }
    // The first program is the world's first process; one started while it
    // runs is a process of its own, on this thread until it ends.
    platform::DWORD caller = CurrentProcessId();
    {
        std::lock_guard<std::mutex> lock(g_loader.lock);
        g_loader.images.push_back(image);
        if (g_loader.running++ > 0) StartProcess();
    }
    // As on the device, the program's module handle is its base, and its
    // resources are what the mapped image holds.
    auto module = reinterpret_cast<platform::HMODULE>(static_cast<uintptr_t>(image.base));
    sim::AddMappedImage(module, path);
    sim::SetLauncherModule(module);
    Program program;
    Program* outer = t_program;
    t_program = &program;
    // The start-up code never returns: it ends in TerminateProcess, which comes back here.
    if (setjmp(program.exit) == 0) {
        auto entry = reinterpret_cast<int (*)(uint32_t, uint32_t, uint32_t, uint32_t)>(image.entry);
        program.exitCode = entry(image.base, 0, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(commandLine)),
                                 static_cast<uint32_t>(show));
    }
    t_program = outer;
    EnterProcess(caller);
    {
        std::lock_guard<std::mutex> lock(g_loader.lock);
        --g_loader.running;
    }
    return program.exitCode;
}

void UnmapAll() {
    std::lock_guard<std::mutex> lock(g_loader.lock);
    for (const Image& image : g_loader.images) UnmapImage(image);
    g_loader.images.clear();
}

void SetWideArgumentsAligned(bool aligned) { g_loader.alignWide = aligned; }

void SetKernelPageShared(bool shared) { g_loader.onePageForAll = shared; }

void BeforeEngine(std::function<void()> action) { g_loader.beforeEngine = std::move(action); }

void PlantFault(const Fault* fault) { g_loader.fault = fault; }

}  // namespace celoader

