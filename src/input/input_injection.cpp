#include "input/held_input.h"
#include "input/input_geometry.h"
#include "input/input_injector.h"
#include "input/key_map.h"
#include "platform/utf8_to_utf16.h"

#include <algorithm>
#include <cmath>
#include <vector>

// How each admitted event becomes records for the sink.
namespace native_worker {
namespace {

using namespace kelvarn::input;

constexpr double wheelUnitsPerDelta = 6;
constexpr double wheelBound = 120'000;
constexpr std::size_t textUnitsBound = 4096;

std::uint32_t buttonFlags(std::string_view button, bool down) {
    if (button == "left") return down ? mouseeventfLeftDown : mouseeventfLeftUp;
    if (button == "right") return down ? mouseeventfRightDown : mouseeventfRightUp;
    return down ? mouseeventfMiddleDown : mouseeventfMiddleUp;
}

InputRecord mouseRecord(std::uint32_t flags) {
    InputRecord record;
    record.type = inputMouse;
    record.dwFlags = flags;
    return record;
}

}  // namespace

bool InputInjector::injectEvent(const InputEvent& event) {
    const std::string& kind = event.kind;
    if (kind == "keyboard.key") return injectKey(event);
    if (kind == "keyboard.text") return injectText(*event.text);
    if (kind == "pointer.absolute") return injectAbsolute(event);
    if (kind == "pointer.move") return injectMove(event);
    if (kind == "pointer.button") return injectButton(event);
    if (kind == "pointer.scroll") return injectScroll(event);
    return releaseAll();  // "input.releasedState"
}

bool InputInjector::injectKey(const InputEvent& event) {
    if (*event.isDown)
        pressedKeys_.try_emplace(*event.keyCode, event.modifiers & 0xF);
    else
        pressedKeys_.erase(*event.keyCode);
    return reconcileKeys();
}

// Brings the held keys in line with pressedKeys: releases what is no longer
// wanted (modifiers last), then presses what is missing (modifiers first).
bool InputInjector::reconcileKeys() {
    std::uint32_t bits = 0;
    for (const auto& [keyCode, keyBits] : pressedKeys_) bits |= keyBits;
    std::vector<InputRecord> presses;
    for (const auto& [bit, keyCode] : modifierBits)
        if (bits & bit) presses.push_back(keyRecord(*findKey(keyCode), false));
    for (const bool modifiers : {true, false})
        for (const auto& [keyCode, keyBits] : pressedKeys_)
            if (isModifierKey(static_cast<std::int32_t>(keyCode)) == modifiers)
                presses.push_back(keyRecord(*findKey(keyCode), false));
    std::vector<std::uint64_t> wanted(presses.size());
    std::ranges::transform(presses, wanted.begin(), heldInputKey);

    std::vector<InputRecord> releases;
    for (const auto& [key, release] : held_)
        if (release.type == inputKeyboard && std::ranges::find(wanted, key) == wanted.end())
            releases.push_back(release);
    std::stable_partition(releases.begin(), releases.end(), [](const InputRecord& r) { return !isModifierRecord(r); });

    for (const InputRecord& release : releases)
        if (!trackedSend(release)) return false;
    for (const InputRecord& press : presses)
        if (!held_.contains(heldInputKey(press)) && !trackedSend(press)) return false;
    return true;
}

// Each UTF-16 unit as a Unicode key stroke. The strict conversion never
// yields an unpaired surrogate, so pairs reach the sink whole and in order.
bool InputInjector::injectText(const std::string& text) {
    const auto units = utf8ToUtf16(text);
    if (!units || units->size() > textUnitsBound) return false;
    sink_.prepareText(*units);
    for (const char16_t unit : *units) {
        InputRecord press;
        press.type = inputKeyboard;
        press.wScan = unit;
        press.dwFlags = keyeventfUnicode;
        if (!trackedSend(press) || !trackedSend(releaseOf(press))) return false;
    }
    return true;
}

bool InputInjector::injectAbsolute(const InputEvent& event) {
    const auto target = targetPoint(event);
    return target && moveTo(*target);
}

bool InputInjector::injectMove(const InputEvent& event) {
    const auto current = currentPoint();
    if (!current) return false;
    // Motion coordinates, when both this and the last event carry them, are
    // exact where summed deltas would drift.
    const bool fromMotion = lastMotion_ && event.motionX;
    const double deltaX = fromMotion ? *event.motionX - lastMotion_->x : *event.deltaX;
    const double deltaY = fromMotion ? *event.motionY - lastMotion_->y : *event.deltaY;
    const Point target{current->x + deltaX * display_.frameWidth / display_.pixelWidth,
                       current->y + deltaY * display_.frameHeight / display_.pixelHeight};
    if (!moveTo(target)) return false;
    lastMotion_ = event.motionX ? std::optional<Point>(Point{*event.motionX, *event.motionY}) : std::nullopt;
    return true;
}

bool InputInjector::injectButton(const InputEvent& event) {
    const std::string& button = *event.button;
    const bool down = *event.isDown;
    if (pressedButtons_.contains(button) == down) return true;
    InputRecord record = mouseRecord(buttonFlags(button, down));
    if (down) {
        // The button goes down where this move puts the cursor.
        const auto target = targetPoint(event);
        if (!target || !moveTo(*target)) return false;
    } else if (event.positionX) {
        // Moves and releases in one record.
        const auto target = targetPoint(event);
        const auto move = target ? absoluteRecord(virtualScreen_, *target) : std::nullopt;
        if (!move) return false;
        record.dx = move->dx;
        record.dy = move->dy;
        record.dwFlags |= move->dwFlags;
    }
    if (!trackedSend(record)) return false;
    if (down)
        pressedButtons_.insert(button);
    else
        pressedButtons_.erase(button);
    return true;
}

bool InputInjector::injectScroll(const InputEvent& event) {
    // The controller counts horizontal scrolling the other way round from the wheel.
    wheelAccumulatorX_ = std::clamp(wheelAccumulatorX_ - *event.deltaX * wheelUnitsPerDelta, -wheelBound, wheelBound);
    wheelAccumulatorY_ = std::clamp(wheelAccumulatorY_ + *event.deltaY * wheelUnitsPerDelta, -wheelBound, wheelBound);
    return sendWheel(wheelAccumulatorX_, mouseeventfHWheel) && sendWheel(wheelAccumulatorY_, mouseeventfWheel);
}

// Sends every whole wheel unit at once; only the fraction carries over.
bool InputInjector::sendWheel(double& accumulator, std::uint32_t flags) {
    const auto units = static_cast<std::int32_t>(accumulator);  // toward zero
    if (units == 0) return true;
    InputRecord record = mouseRecord(flags);
    record.mouseData = static_cast<std::uint32_t>(units);
    if (!trackedSend(record)) return false;
    accumulator -= units;
    return true;
}

std::optional<Point> InputInjector::currentPoint() {
    const auto cursor = sink_.cursorPosition();
    if (!cursor || !std::isfinite(cursor->x) || !std::isfinite(cursor->y)) return std::nullopt;
    const VirtualScreen frame = frameOf(display_);
    if (cursor->x >= frame.x && cursor->x < frame.x + frame.width && cursor->y >= frame.y &&
        cursor->y < frame.y + frame.height)
        return cursor;
    return Point{frame.x + frame.width / 2, frame.y + frame.height / 2};
}

std::optional<Point> InputInjector::targetPoint(const InputEvent& event) {
    if (event.normalizedX) return mapFractions(display_, *event.normalizedX, *event.normalizedY);
    if (event.positionX) return mapPicturePixels(display_, *event.positionX, *event.positionY);
    return currentPoint();
}

bool InputInjector::moveTo(Point point) {
    const auto record = absoluteRecord(virtualScreen_, clampInto(point, frameOf(display_)));
    return record && trackedSend(*record);
}

}  // namespace native_worker
