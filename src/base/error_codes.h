#pragma once

// Every code a final error event can carry.
namespace native_worker::codes {

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

}  // namespace native_worker::codes
