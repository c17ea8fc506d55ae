// The splash window on its own thread.
//
// The main thread decodes the bitmap, fills theSplash and starts the thread;
// the thread makes a borderless window centred on the screen and paints the
// bitmap into it, signalling the event at every paint. The main thread waits
// for that event once, at most 3000 ms, and then goes on to the engine while
// the splash thread keeps the window painted. The launcher never takes the
// splash down: the engine posts WM_QUIT to the window's thread, or the
// process ends.
#include "splash/show.h"

#include <cstdlib>
#include <cstring>

#include "contract/kel.h"
#include "platform/resources.h"
#include "splash/placement.h"
#include "splash/section.h"
#include "text/text.h"

namespace splash {

// The process's one splash record.
SplashState theSplash;

const char* LoadTextResource(const char16_t* name, platform::HMODULE module, uint32_t* length,
                             const char* defaultText) {
    const void* bytes = platform::LoadResourceBytes(module, name, kel::kTextResourceType, length);
    if (bytes != NULL) return static_cast<const char*>(bytes);
    if (defaultText == NULL) return NULL;
    *length = static_cast<uint32_t>(std::strlen(defaultText));
    return defaultText;
}

SplashConfig* LoadSplashConfig(platform::HMODULE module) {
    uint32_t length = 0;
    const char* text = LoadTextResource(kel::kConfigResourceName, module, &length, kDefaultSplashConfig);
    return ParseSplashConfig(text, length);
}

SplashChoice* ChooseSplash(const SplashConfig* config) {
    int32_t screenWidth = platform::GetSystemMetrics(platform::SM_CXSCREEN);
    int32_t screenHeight = platform::GetSystemMetrics(platform::SM_CYSCREEN);
    return ChooseSplashForScreen(config, screenWidth, screenHeight);
}

namespace {

bool SplashBitmapInModule(const char16_t* name, void* module) {
    return platform::FindResourceW(static_cast<platform::HMODULE>(module), name, kel::kSplashResourceType) != NULL;
}

}  // namespace

platform::DWORD ShowSplash(platform::HMODULE module, platform::HINSTANCE instance) {
    SplashConfig* config = LoadSplashConfig(module);
    SplashChoice* choice = AnyOfferedBitmapPresent(config, SplashBitmapInModule, module) ? ChooseSplash(config) : NULL;
    platform::HBITMAP bitmap =
        choice != NULL ? LoadSplashBitmap(module, choice->resourceName, &choice->width, &choice->height) : NULL;
    bool shown = bitmap != NULL;
    if (shown) {
        theSplash.module = module;
        theSplash.instance = instance;
        theSplash.window = NULL;
        theSplash.event = platform::CreateEventW(NULL, platform::FALSE, platform::FALSE, NULL);
        theSplash.bitmap = bitmap;
        theSplash.width = choice->width;
        theSplash.height = choice->height;
        theSplash.title = text::Widen(choice->title, -1);
    }
    // The configuration and the choice are needed only until the splash
    // record holds its own copy of the title.
    std::free(choice);
    FreeSplashConfig(config);
    if (!shown) return 0;

    // The thread's handle is not kept: nothing in the launcher waits for it
    // or stops it. A thread that cannot start shows up as the wait running out.
    platform::DWORD threadId = 0;
    platform::CreateThread(NULL, 0, SplashThread, NULL, 0, &threadId);
    return platform::WaitForSingleObject(theSplash.event, kFirstPaintWaitMs);
}

platform::DWORD SplashThread(void*) {
    platform::HINSTANCE instance = theSplash.instance;
    int32_t width = theSplash.width;
    int32_t height = theSplash.height;
    int32_t screenWidth = platform::GetSystemMetrics(platform::SM_CXSCREEN);
    int32_t screenHeight = platform::GetSystemMetrics(platform::SM_CYSCREEN);

    platform::WNDCLASSW windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = SplashWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = NULL;
    windowClass.hCursor = NULL;
    windowClass.hbrBackground = platform::GetStockObject(platform::WHITE_BRUSH);
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = kel::kSplashClassName;
    // A class left from an earlier registration serves as well; creation decides.
    platform::RegisterClassW(&windowClass);

    // Centred; a bitmap larger than the screen overhangs it on both sides.
    SplashPlacement place = PlaceSplashWindow(screenWidth, screenHeight, width, height);
    platform::HWND window = platform::CreateWindowExW(0, kel::kSplashClassName, theSplash.title,
                                                      platform::WS_POPUP | platform::WS_VISIBLE, place.x, place.y,
                                                      place.width, place.height, NULL, NULL, instance, NULL);
    // Without a window there is no paint; the main thread's wait runs out.
    if (window == NULL) return 0;
    theSplash.window = window;
    platform::SetForegroundWindow(window);

    // GetMessageW answers -1 on an error; looping on it would spin forever, so
    // an error ends the splash as WM_QUIT does.
    platform::MSG message;
    while (platform::GetMessageW(&message, NULL, 0, 0) > 0) {
        platform::TranslateMessage(&message);
        platform::DispatchMessageW(&message);
    }
    platform::DestroyWindow(window);
    return 0;
}

platform::LRESULT SplashWindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                   platform::LPARAM lParam) {
    if (message == platform::WM_PAINT) {
        platform::PAINTSTRUCT paint;
        platform::HDC dc = platform::BeginPaint(window, &paint);
        platform::HDC memory = platform::CreateCompatibleDC(dc);
        // Deleting the memory context releases the bitmap for the next paint;
        // the object it replaced needs no putting back.
        platform::SelectObject(memory, theSplash.bitmap);
        platform::BitBlt(dc, 0, 0, theSplash.width, theSplash.height, memory, 0, 0, platform::SRCCOPY);
        platform::DeleteDC(memory);
        platform::EndPaint(window, &paint);
        platform::EventModify(theSplash.event, platform::EVENT_SET);
    }
    return platform::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace splash
