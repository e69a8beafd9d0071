#include "input/input_event.h"

#include "input/input_event_reader.h"

#include <utility>

namespace native_worker {
namespace {

bool isPresentAndNotEmpty(const std::optional<std::string>& value) {
    return value && !value->empty();
}

// Empty when the kind's member rule holds, otherwise its code.
const char* checkKindMembers(const InputEvent& event) {
    const auto rule = [](bool holds) { return holds ? "" : input_codes::inputFields; };
    const std::string& kind = event.kind;
    if (kind == "pointer.move") return rule(event.deltaX && event.deltaY && !event.normalizedX);
    if (kind == "pointer.absolute") return rule(event.positionX && event.positionY && !event.motionX);
    if (kind == "pointer.scroll") return rule(event.deltaX && event.deltaY);
    if (kind == "pointer.button") {
        const bool knownButton =
            event.button && (*event.button == "left" || *event.button == "right" || *event.button == "middle");
        return rule(knownButton && event.isDown.has_value() &&
                    event.positionX.has_value() == event.positionY.has_value() &&
                    (!event.normalizedX || event.positionX));
    }
    if (kind == "keyboard.key") return rule(event.keyCode.has_value() && event.isDown.has_value());
    if (kind == "keyboard.text") return rule(isPresentAndNotEmpty(event.text));
    if (kind == "input.releasedState") return rule(isPresentAndNotEmpty(event.generation));
    return input_codes::unsupportedKind;
}

}  // namespace

bool isMotionKind(std::string_view kind) {
    return kind == "pointer.move" || kind == "pointer.absolute" || kind == "pointer.scroll";
}

InputParseResult parseInputEvent(std::string_view text) {
    if (text.empty() || text.size() > maximumInputBytes) return {input_codes::inputSize, std::nullopt};
    std::optional<InputEvent> event = readInputEvent(text);
    if (!event) return {input_codes::invalidInput, std::nullopt};
    if (const char* code = checkKindMembers(*event); *code != '\0') return {code, std::nullopt};
    return {"", std::move(event)};
}

}  // namespace native_worker
