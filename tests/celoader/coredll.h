// The device's system libraries for device code run here: every COREDLL.dll
// and ws2.dll function the device kel.exe and the test engines import, each
// mapped to the simulation's platform:: operation or to a working C runtime
// function, and the programs' start.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace celoader {

// The address device code calls for dll!name, or 0 when the loader has no such function.
uint32_t ResolveImport(const std::string& dll, const std::string& name);

// A device library that lies at path on the device (\\Windows\\Kel.dll), an
// installed library of the simulation, which LoadLibraryW finds where the
// device looks; its first load maps the image from file and its exports
// are the image's. Until the next sim::Reset.
void SetDeviceLibrary(const std::u16string& path, const std::string& file);

// Maps a device program and calls its entry with WinMain's four arguments
// (its module handle, which is its base, none, the command line, the show
// flag). The simulation takes the image as the launcher's module, whose
// resources are the image's own.
// Returns the exit code it gave TerminateProcess, or -1 with *error set when
// it could not be started. The images stay mapped until UnmapAll, for the
// threads they started, which the caller ends first (sim::Reset).
int RunProgram(const std::string& path, const char16_t* commandLine, int show, std::string* error);
void UnmapAll();

// A test switch: 64-bit arguments read as Linux code passes them, from an
// even register or an 8-byte stack slot, which the device does not do.
void SetWideArgumentsAligned(bool aligned);

// A test switch: the kernel's data page one for all programs, as a loader
// that mapped it once would have it: every thread reads the first
// process's id.
void SetKernelPageShared(bool shared);

// Something to do whenever a device engine's KelMainW is about to run (the
// screen as the engine finds it); an empty action: nothing. Set before the
// engine library is loaded.
void BeforeEngine(std::function<void()> action);

// A planted fault: one argument of every call of one function corrupted on
// its way from device code to the simulation, to show that the comparison
// sees it. plant gets the call's argument words, in order, to change.
struct Fault {
    const char* name;       // what it does, for people
    const char* function;   // the import, as the table names it
    void (*plant)(uint32_t* words);
};
// Plants a fault for the calls from now on; null takes it out.
void PlantFault(const Fault* fault);

}  // namespace celoader
