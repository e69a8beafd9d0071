#pragma once

#include <exception>

namespace native_worker {

// The one failure of the worker's protocol and engine binding: only the code is
// ever reported, as the code of the final error event.
struct ProtocolError : std::exception {
    explicit ProtocolError(const char* errorCode) noexcept : code(errorCode) {}
    const char* code;
};

}  // namespace native_worker
