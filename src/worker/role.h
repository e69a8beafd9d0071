#pragma once

namespace native_worker {

// What peer.create made this worker: the side that shares its desktop, or
// the side that watches and controls it.
enum class Role { host, controller };

}  // namespace native_worker
