#include "platform/utf8_to_utf16.h"

#include <windows.h>

#include <climits>

namespace native_worker {

// The system's strict conversion: MB_ERR_INVALID_CHARS refuses the whole text
// at the first invalid, overlong or surrogate sequence.
std::optional<std::u16string> utf8ToUtf16(std::string_view text) {
    if (text.size() > INT_MAX) return std::nullopt;
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length < 1) return std::nullopt;
    std::wstring units(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, units.data(), length) != length)
        return std::nullopt;
    return std::u16string(units.begin(), units.end());
}

}  // namespace native_worker
