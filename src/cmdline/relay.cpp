#include "cmdline/relay.h"

#include "cmdline/relay_message.h"
#include "contract/kel.h"

namespace cmdline {

// The process-wide socket layer state; only the main thread touches it.
int32_t g_socketLayerState = kSocketLayerNotStarted;

ScanOutcome Relay(const char* message, int32_t length) {
    uint32_t port = ReadServerPort();
    if (message == NULL) return ScanOutcome::kGoOn;
    if (port == 0) return ScanOutcome::kGoOn;
    if (!StartSocketLayer()) return ScanOutcome::kGoOn;

    platform::SOCKET s = platform::socket(platform::AF_INET, platform::SOCK_STREAM, 0);
    if (s == platform::INVALID_SOCKET) return ScanOutcome::kGoOn;
    // Closing waits a little for unsent bytes, so the command is not lost when
    // the launcher goes away right after the close.
    platform::LINGER linger = {1, kRelayLingerSeconds};
    platform::setsockopt(s, platform::SOL_SOCKET, platform::SO_LINGER, reinterpret_cast<const char*>(&linger),
                         sizeof linger);

    platform::SOCKADDR_IN address = platform::SOCKADDR_IN();
    address.sin_family = platform::AF_INET;
    address.sin_port = platform::htons(static_cast<uint16_t>(port & 0xFFFF));
    address.sin_addr = platform::inet_addr(kRelayAddress);
    if (platform::connect(s, &address, sizeof address) == platform::SOCKET_ERROR) {
        platform::closesocket(s);
        return ScanOutcome::kGoOn;
    }

    // The command and its newline go in two sends; a short count is still sent.
    bool sent = platform::send(s, message, length - 1, 0) != platform::SOCKET_ERROR &&
                platform::send(s, message + length - 1, 1, 0) != platform::SOCKET_ERROR;
    platform::closesocket(s);
    return sent ? ScanOutcome::kStop : ScanOutcome::kGoOn;
}

uint32_t ReadServerPort() {
    platform::HKEY key = NULL;
    if (platform::RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE, kel::kEngineKey, 0, NULL, 0, 0, NULL, &key,
                                  NULL) != platform::ERROR_SUCCESS) {
        return 0;
    }
    // A buffer of the longest value that is a port: a longer one fails to read.
    // Whatever the type, the bytes count; only the size read is looked at.
    uint8_t bytes[kServerPortMaxBytes];
    platform::DWORD size = sizeof bytes;
    platform::LONG status = platform::RegQueryValueExW(key, kel::kServerPortValue, NULL, NULL, bytes, &size);
    platform::RegCloseKey(key);
    return status == platform::ERROR_SUCCESS ? ServerPortFromValue(bytes, size) : 0;
}

bool StartSocketLayer() {
    if (g_socketLayerState == kSocketLayerStarted) return true;
    if (g_socketLayerState == kSocketLayerFailed) return false;
    platform::WSADATA data;
    if (platform::WSAStartup(0x0002, &data) == 0) {   // version 2.0
        g_socketLayerState = kSocketLayerStarted;
        return true;
    }
    g_socketLayerState = kSocketLayerFailed;
    return false;
}

void StopSocketLayer() {
    if (g_socketLayerState == kSocketLayerStarted) platform::WSACleanup();
}

}  // namespace cmdline
