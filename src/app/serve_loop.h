#pragma once

#include "app/entry.h"

namespace native_worker {

// Serve mode over standard input and output; returns the process exit code.
int runServeLoop(WorkerServices services);

}  // namespace native_worker
