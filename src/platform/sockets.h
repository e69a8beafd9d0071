#pragma once

#include <string>

namespace native_worker::platform {

// Start and stop the system's socket layer; start reports success.
bool startSockets();
void stopSockets();

// Whether the text is an IPv6 address as the system's own parser judges it.
bool isIpv6Address(const std::string& text);

}  // namespace native_worker::platform
