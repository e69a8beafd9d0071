#include "platform/posix/x11_keysyms.h"

#include <X11/keysym.h>

namespace native_worker::platform {
namespace {

constexpr std::uint16_t firstFunctionVirtualKey = 0x70;  // F1
constexpr std::uint16_t lastFunctionVirtualKey = 0x87;   // F24

}  // namespace

KeySym keysymOfCodePoint(char32_t codePoint) {
    switch (codePoint) {
        case 0x08:
            return XK_BackSpace;
        case 0x09:
            return XK_Tab;
        case 0x0A:
        case 0x0D:
            return XK_Return;
        case 0x1B:
            return XK_Escape;
        case 0x7F:
            return XK_Delete;
        default:
            break;
    }
    // Latin-1 keysyms equal their code points; every other character has one
    // at 0x01000000 plus its code point.
    if ((codePoint >= 0x20 && codePoint <= 0x7E) || (codePoint >= 0xA0 && codePoint <= 0xFF)) return codePoint;
    return 0x01000000 | codePoint;
}

KeySym keysymOfVirtualKey(std::uint16_t virtualKey) {
    if (virtualKey < firstFunctionVirtualKey || virtualKey > lastFunctionVirtualKey) return NoSymbol;
    return XK_F1 + (virtualKey - firstFunctionVirtualKey);
}

std::vector<KeySym> keysymsOfUnits(std::u16string_view units) {
    std::vector<KeySym> keysyms;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (isHighSurrogate(units[i]) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            keysyms.push_back(keysymOfCodePoint(joinSurrogates(units[i], units[i + 1])));
            ++i;
        } else if (!isHighSurrogate(units[i]) && !isLowSurrogate(units[i])) {
            keysyms.push_back(keysymOfCodePoint(units[i]));
        }
    }
    return keysyms;
}

}  // namespace native_worker::platform
