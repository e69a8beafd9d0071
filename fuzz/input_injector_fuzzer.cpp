#include "input/input_injector.h"
#include "recording_sink.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using native_worker::InputInjector;
using nlohmann::json;

// Reads the input a byte at a time; zeros once it is used up.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return used_ >= size_; }
    std::uint8_t next() { return used_ < size_ ? data_[used_++] : 0; }
    double number() { return static_cast<std::int8_t>(next()) * (next() % 4 == 0 ? 1000.0 : 0.25); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
};

// A valid-looking event of a kind and with members chosen by the input, so
// that most of them pass admission and reach the injector's state.
std::string event(Bytes& bytes, std::uint64_t sequence, std::uint64_t epoch) {
    static const char* const kinds[] = {"pointer.move", "pointer.absolute", "pointer.scroll",     "pointer.button",
                                        "keyboard.key", "keyboard.text",    "input.releasedState"};
    static const char* const buttons[] = {"left", "right", "middle"};
    static const char* const texts[] = {"a", "\xC3\xA9", "\xF0\x9F\x98\x80", "ab\xE2\x9C\x93"};
    const std::uint8_t choice = bytes.next();
    json e{{"kind", kinds[choice % 7]},
           {"sequence", bytes.next() % 8 == 0 ? sequence / 2 : sequence},
           {"inputEpoch", epoch},
           {"modifiers", {{"rawValue", bytes.next() & 0x2F}}},
           {"pressedKeys", json::array()},
           {"pressedButtons", json::array()},
           {"deltaX", bytes.number()},
           {"deltaY", bytes.number()},
           {"isDown", (bytes.next() & 1) != 0},
           {"keyCode", bytes.next() % 130},
           {"button", buttons[bytes.next() % 3]},
           {"text", texts[bytes.next() % 4]},
           {"generation", "generation-1"}};
    if (choice & 0x10) e.update({{"motionX", bytes.number()}, {"motionY", bytes.number()}});
    if (choice & 0x20) e.update({{"positionX", bytes.number()}, {"positionY", bytes.number()}});
    if ((choice & 0x40) && (choice & 0x20)) e.update({{"normalizedX", bytes.next() / 255.0}, {"normalizedY", 0.5}});
    return e.dump();
}

}  // namespace

// Random event sequences, with the sink refusing now and then: after the
// final reset with a willing sink, nothing may remain pressed.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes bytes(data, size);
    kelvarn::input::RecordingSink sink;
    sink.cursorFollowsMoves = true;
    bool refusing = false;
    sink.refuse = [&refusing](const kelvarn::input::InputRecord&) { return refusing; };
    InputInjector injector({"account-1", "session-1", "generation-1"}, sink);
    std::uint64_t epoch = 7;
    if (!injector.activate(epoch, {"1", 0, 0, 1920, 1080, 960, 540}, {0, 0, 1920, 1080}, {true, true, true, true}))
        std::abort();
    for (std::uint64_t sequence = 1; !bytes.empty(); ++sequence) {
        const std::uint8_t control = bytes.next();
        refusing = control % 16 == 0;
        if (control % 64 == 1) injector.reset();
        if (!injector.isActive() && !refusing)
            injector.activate(++epoch, {"1", 0, 0, 1920, 1080, 960, 540}, {0, 0, 1920, 1080}, {true, true, true, true});
        injector.apply(event(bytes, sequence, epoch));
        sink.clear();
    }
    refusing = false;
    injector.reset();
    if (injector.holdsInput()) std::abort();
    return 0;
}
