#pragma once

#include <string_view>

namespace native_worker {

// Whether a STUN or TURN server URL is acceptable, together with the
// credentials of its server (TURN needs both).
bool isValidIceUrl(std::string_view url, std::string_view username, std::string_view credential);

}  // namespace native_worker
