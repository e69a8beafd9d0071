#include "platform/process.h"

#include <cstdlib>

namespace native_worker::platform {

void exitImmediately(int code) {
    std::_Exit(code);
}

}  // namespace native_worker::platform
