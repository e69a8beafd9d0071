#include "input/input_event.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

// Any text: a code, and an event exactly when the code is empty.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const native_worker::InputParseResult result = native_worker::parseInputEvent(text);
    if (result.code.empty() != result.event.has_value()) std::abort();
    return 0;
}
