#include "platform/sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace native_worker::platform {

bool startSockets() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stopSockets() {
    WSACleanup();
}

bool isIpv6Address(const std::string& text) {
    IN6_ADDR address{};
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

}  // namespace native_worker::platform
