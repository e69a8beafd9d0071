#pragma once

#include "platform/input_record.h"

#include <cstdint>

// What a delivered record leaves pressed, and how to undo it.
namespace native_worker {

// The identity of the key or button a record presses or releases; 0 for
// records that leave nothing pressed (moves and wheel turns).
std::uint64_t heldInputKey(const kelvarn::input::InputRecord& record);

bool isPress(const kelvarn::input::InputRecord& record);

// The record that undoes a press, wherever the cursor is at that time.
kelvarn::input::InputRecord releaseOf(const kelvarn::input::InputRecord& press);

// A keyboard record of one of the eight modifier keys of the key map.
bool isModifierRecord(const kelvarn::input::InputRecord& record);

}  // namespace native_worker
