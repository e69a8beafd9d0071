#pragma once

#include <X11/X.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace native_worker::platform {

constexpr bool isHighSurrogate(std::uint16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

constexpr bool isLowSurrogate(std::uint16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

constexpr char32_t joinSurrogates(std::uint16_t high, std::uint16_t low) {
    return 0x10000 + ((char32_t{high} - 0xD800) << 10) + (low - 0xDC00u);
}

// The keysym that types the character.
KeySym keysymOfCodePoint(char32_t codePoint);
// The keysym of a function key's virtual key (F1 to F24); NoSymbol for any other.
KeySym keysymOfVirtualKey(std::uint16_t virtualKey);
// The keysyms that typing the units asks for, in order; unpaired surrogates ask for none.
std::vector<KeySym> keysymsOfUnits(std::u16string_view units);

}  // namespace native_worker::platform
