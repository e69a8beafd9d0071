#pragma once

// Every code the worker names, one list per place a code appears.
namespace native_worker {

// The code of a final error event.
namespace codes {
inline constexpr char invalidMessage[] = "invalid_message";
inline constexpr char queueOverflow[] = "queue_overflow";
inline constexpr char messageTooLarge[] = "message_too_large";
inline constexpr char outputUnavailable[] = "output_unavailable";
inline constexpr char unsupportedVersion[] = "unsupported_version";
inline constexpr char identityMismatch[] = "identity_mismatch";
inline constexpr char operationInProgress[] = "operation_in_progress";
inline constexpr char invalidState[] = "invalid_state";
inline constexpr char nativeInitializeFailed[] = "native_initialize_failed";
inline constexpr char descriptionFailed[] = "description_failed";
inline constexpr char operationTimeout[] = "operation_timeout";
inline constexpr char nativeStateFailed[] = "native_state_failed";
inline constexpr char invalidCandidate[] = "invalid_candidate";
inline constexpr char candidateQueueFull[] = "candidate_queue_full";
inline constexpr char captureUnavailable[] = "capture_unavailable";
inline constexpr char h264Unavailable[] = "h264_unavailable";
inline constexpr char statsFailed[] = "stats_failed";
inline constexpr char inputEpochMismatch[] = "input_epoch_mismatch";
inline constexpr char nativeOperationFailed[] = "native_operation_failed";
}  // namespace codes

// Why a remote input event was dropped; the controller is never told.
namespace input_codes {
inline constexpr char inputSize[] = "input_size";
inline constexpr char invalidInput[] = "invalid_input";
inline constexpr char unsupportedKind[] = "unsupported_kind";
inline constexpr char inputFields[] = "input_fields";
inline constexpr char inputScope[] = "input_scope";
inline constexpr char inputDisplay[] = "input_display";
inline constexpr char unsupportedKey[] = "unsupported_key";
inline constexpr char unsupportedModifiers[] = "unsupported_modifiers";
inline constexpr char pressedKeyLimit[] = "pressed_key_limit";
inline constexpr char inputSequence[] = "input_sequence";
inline constexpr char injectionFailed[] = "injection_failed";
}  // namespace input_codes

// The reason of a "controlUnavailable" message.
namespace unavailable_reasons {
inline constexpr char captureUnavailable[] = "capture_unavailable";
inline constexpr char inputDesktopUnavailable[] = "input_desktop_unavailable";
inline constexpr char inputGate[] = "input_gate";
inline constexpr char channelClosed[] = "channel_closed";
inline constexpr char peerLost[] = "peer_lost";
inline constexpr char injectionFailed[] = "injection_failed";
}  // namespace unavailable_reasons

// What a runtime error says when the engine created no data channel; like any
// exception that is not a ProtocolError, it is reported as native_operation_failed.
inline constexpr char dataChannelNotCreated[] = "data_channel_create";

}  // namespace native_worker
