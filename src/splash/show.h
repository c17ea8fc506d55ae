// The launch sequence's splash step: the configuration read from the
// launcher's resources, the choice for this screen, and the splash window on
// its own thread.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "splash/config.h"

namespace splash {

// A "Text" resource, or defaultText itself (length strlen) when missing; null with no default.
const char* LoadTextResource(const char16_t* name, platform::HMODULE module, uint32_t* length,
                             const char* defaultText);
// Parses the module's "CONFIG" resource, or the default text without one.
SplashConfig* LoadSplashConfig(platform::HMODULE module);
// The choice for this device's screen (GetSystemMetrics).
SplashChoice* ChooseSplash(const SplashConfig* config);

// What the main thread hands the splash thread. Filled before the thread starts;
// afterwards the main thread only reads the event, and the splash thread writes only the window.
struct SplashState {
    platform::HMODULE module;      // whose resources were read
    platform::HINSTANCE instance;  // owner of the window class and the window
    int32_t width;                 // the bitmap's own size: window size and blit size
    int32_t height;
    platform::HANDLE event;        // auto-reset, signalled at every paint
    platform::HWND window;         // the splash window; null until the splash thread made it
    platform::HBITMAP bitmap;      // the decoded bitmap section
    const char16_t* title;         // the window title
};

// Shows the best-fitting splash and waits at most kFirstPaintWaitMs for its first paint; 0 when there is no splash.
platform::DWORD ShowSplash(platform::HMODULE module, platform::HINSTANCE instance);
// The splash thread: makes the window and runs its message loop until WM_QUIT; returns 0.
platform::DWORD SplashThread(void* parameter);
// The splash window's procedure: paints the bitmap and signals the event; the rest is default handling.
platform::LRESULT SplashWindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                   platform::LPARAM lParam);

}  // namespace splash
