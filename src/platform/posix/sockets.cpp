#include "platform/sockets.h"

#include <arpa/inet.h>

namespace native_worker::platform {

// POSIX sockets need no start-up.
bool startSockets() {
    return true;
}

void stopSockets() {}

bool isIpv6Address(const std::string& text) {
    in6_addr address{};
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

}  // namespace native_worker::platform
