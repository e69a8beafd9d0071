#include "input/input_injector.h"

#include "input/held_input.h"
#include "input/input_geometry.h"
#include "input/key_map.h"

#include <vector>

namespace native_worker {
namespace {

using kelvarn::input::InputRecord;

constexpr std::uint32_t allowedModifiers = 0x01 | 0x02 | 0x04 | 0x08 | 0x20;
constexpr std::uint32_t functionModifier = 0x20;
constexpr std::uint16_t firstFunctionKey = 0x70;  // F1
constexpr std::uint16_t lastFunctionKey = 0x83;   // F20

bool isValidForInput(const Identity& identity) {
    return !identity.accountId.empty() && identity.accountId.size() <= 256 && !identity.sessionId.empty() &&
           identity.sessionId.size() <= 256 && !identity.generation.empty() && identity.generation.size() <= 64;
}

}  // namespace

InputInjector::InputInjector(Identity identity, kelvarn::input::Sink& sink)
    : identity_(std::move(identity)), sink_(sink) {}

InputInjector::~InputInjector() {
    shutdown();
}

bool InputInjector::activate(std::uint64_t epoch, const DisplayTarget& display, const VirtualScreen& virtualScreen,
                             const GateState& gate) {
    reset();
    const bool refused = shutDown_ || !isValidForInput(identity_) || !gate.isOpen() || epoch > largestInputEpoch ||
                         (lastActivatedEpoch_ && *lastActivatedEpoch_ >= epoch) || !isValidDisplay(display) ||
                         !isValidRectangle(virtualScreen) || !liesInside(frameOf(display), virtualScreen) ||
                         !held_.empty();
    if (refused) return false;
    lastActivatedEpoch_ = epoch;
    display_ = display;
    virtualScreen_ = virtualScreen;
    active_ = true;
    return true;
}

void InputInjector::reset() {
    active_ = false;
    releaseAll();
    lastControlSequence_.reset();
    lastMotionSequence_.reset();
    lastMotion_.reset();
    wheelAccumulatorX_ = 0;
    wheelAccumulatorY_ = 0;
}

bool InputInjector::releaseAll() {
    // Ordinary keys, text units and buttons first, so that no key is released
    // while a modifier it was pressed with is already up.
    for (const bool modifiers : {false, true}) {
        for (auto entry = held_.begin(); entry != held_.end();) {
            if (isModifierRecord(entry->second) == modifiers && sink_.inject(entry->second))
                entry = held_.erase(entry);
            else
                ++entry;
        }
    }
    pressedKeys_.clear();
    pressedButtons_.clear();
    return held_.empty();
}

void InputInjector::shutdown() {
    shutDown_ = true;
    reset();
}

bool InputInjector::trackedSend(const InputRecord& record) {
    const std::uint64_t key = heldInputKey(record);
    const bool press = isPress(record);
    if (key != 0 && press) held_[key] = releaseOf(record);
    if (!sink_.inject(record)) return false;
    if (key != 0 && !press) held_.erase(key);
    return true;
}

ApplyResult InputInjector::apply(std::string_view text) {
    if (!active_) return {false, input_codes::inputScope};
    InputParseResult parsed = parseInputEvent(text);
    if (!parsed.event) return {false, std::move(parsed.code)};
    return apply(*parsed.event);
}

ApplyResult InputInjector::apply(const InputEvent& event) {
    // The identity is the control's own copy and never changes, so being
    // active is the whole scope check at this point.
    if (!active_) return {false, input_codes::inputScope};
    if (const char* refusal = admissionRefusal(event)) return {false, refusal};
    sequenceOf(event) = event.sequence;
    if (!injectEvent(event)) {
        reset();
        return {false, input_codes::injectionFailed};
    }
    return {true, ""};
}

const char* InputInjector::admissionRefusal(const InputEvent& event) {
    if (!event.inputEpoch || event.inputEpoch != lastActivatedEpoch_) return input_codes::inputScope;
    if (event.generation && *event.generation != identity_.generation) return input_codes::inputScope;
    if (event.displayId && *event.displayId != display_.id) return input_codes::inputDisplay;
    if (event.kind == "keyboard.key") {
        const KeyMapEntry* key = findKey(*event.keyCode);
        if (!key) return input_codes::unsupportedKey;
        if (*event.isDown) {
            if (event.modifiers & ~allowedModifiers) return input_codes::unsupportedModifiers;
            const bool functionKey = key->virtualKey >= firstFunctionKey && key->virtualKey <= lastFunctionKey;
            if ((event.modifiers & functionModifier) && !functionKey) return input_codes::unsupportedModifiers;
            if (!pressedKeys_.contains(*event.keyCode) && pressedKeys_.size() >= pressedKeysBound)
                return input_codes::pressedKeyLimit;
        }
    }
    const auto& last = sequenceOf(event);
    if (last && event.sequence <= *last) return input_codes::inputSequence;
    return nullptr;
}

std::optional<std::uint64_t>& InputInjector::sequenceOf(const InputEvent& event) {
    return isMotionKind(event.kind) ? lastMotionSequence_ : lastControlSequence_;
}

}  // namespace native_worker
