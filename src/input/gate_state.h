#pragma once

namespace native_worker {

// The four conditions under which remote input is admitted.
struct GateState {
    bool evaluated = false;     // computed by the host side, not the initial or a revoking value
    bool approved = false;      // the session's inputApproved setting
    bool captureReady = false;  // the capture delivers frames of the unchanged display
    bool inputDesktop = false;  // the interactive input desktop can be opened

    bool isOpen() const { return evaluated && approved && captureReady && inputDesktop; }
    bool operator==(const GateState&) const = default;
};

// All four false: what a failing capturer hands to the control.
inline constexpr GateState revokingGate{};

}  // namespace native_worker
