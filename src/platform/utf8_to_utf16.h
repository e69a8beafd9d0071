#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace native_worker {

// Strict UTF-8 to UTF-16, refusing what MultiByteToWideChar(CP_UTF8,
// MB_ERR_INVALID_CHARS) refuses: empty input, malformed or truncated
// sequences, overlong forms, encoded surrogates and values above U+10FFFF.
std::optional<std::u16string> utf8ToUtf16(std::string_view text);

}  // namespace native_worker
