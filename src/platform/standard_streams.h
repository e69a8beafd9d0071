#pragma once

#include "platform/byte_ports.h"

#include <memory>

namespace native_worker::platform {

// Both standard input and standard output are pipes (or sockets, which host
// applications on some systems hand their children instead).
bool standardStreamsArePipes();

std::unique_ptr<platform::InputPort> openStandardInput();
std::unique_ptr<platform::OutputPort> openStandardOutput();

}  // namespace native_worker::platform
