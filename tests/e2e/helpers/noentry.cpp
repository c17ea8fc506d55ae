// A library that loads as Kel.dll but lacks the entry routine: it exports
// near misses of the name only, so a launcher that matched loosely would call one.
#include <windows.h>

extern "C" __declspec(dllexport) int KelMain() { return 91; }
extern "C" __declspec(dllexport) int KelMainA() { return 92; }
extern "C" __declspec(dllexport) int kelmainw() { return 93; }
