// The sample engine's command listener: a TCP server on 127.0.0.1 whose port
// is published as "ServerPort" under HKEY_LOCAL_MACHINE
// "Software\Norvane\KelVM", where a second launcher's relay finds it. Every
// line received is recorded; the line "quit N" ends the engine with exit
// code N ("quit" alone with the engine's usual exit code).
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace engine {

// Listens on an ephemeral loopback port, publishes it, and has socket events
// sent to window as message. The port, or 0 when the listener could not start.
unsigned StartServer(HWND window, UINT message);
// Handles one socket event. True when a relayed command asked the engine to
// end; *exitCode then holds the code it asked for.
bool OnServerEvent(WPARAM wParam, LPARAM lParam, int* exitCode);
// Closes every socket and withdraws the published port if it is still ours.
void StopServer();

}  // namespace engine
