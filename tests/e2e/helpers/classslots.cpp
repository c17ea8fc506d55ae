// Registers window classes through the launcher's platform layer: one class,
// then the same class again many times (each registration fails, the name
// being taken), then a new class, whose window must reach its procedure.
//
//   classslots.exe FAILURES   prints registered=, failures=, procedure_reached=
#include "platform/platform.h"

#include "helper.h"

namespace {

constexpr platform::UINT kProbe = WM_USER + 7;

platform::LRESULT ProbeProcedure(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                 platform::LPARAM lParam) {
    if (message == kProbe) return 4242;
    return platform::DefWindowProcW(window, message, wParam, lParam);
}

platform::ATOM Register(const char16_t* name) {
    platform::WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ProbeProcedure;
    windowClass.hInstance = reinterpret_cast<platform::HINSTANCE>(::GetModuleHandleW(nullptr));
    windowClass.lpszClassName = name;
    return platform::RegisterClassW(&windowClass);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int attempts = argc > 1 ? _wtoi(argv[1]) : 16;
    helper::LineNumber("first", Register(u"KelSlotTaken") != 0);
    int failures = 0;
    for (int i = 0; i < attempts; ++i) failures += Register(u"KelSlotTaken") == 0;
    helper::LineNumber("failures", failures);
    bool registered = Register(u"KelSlotLater") != 0;
    helper::LineNumber("registered", registered);
    platform::HWND window = platform::CreateWindowExW(0, u"KelSlotLater", u"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                                      nullptr, nullptr);
    LRESULT answer = window != nullptr ? ::SendMessageW(reinterpret_cast<HWND>(window), kProbe, 0, 0) : 0;
    helper::LineNumber("procedure_reached", answer == 4242);
    return 0;
}
