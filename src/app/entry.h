#pragma once

#include "worker/session.h"

namespace native_worker {

// The whole process behind main(): command line, mode, exit code.
int runWorker(int argc, const char* const* argv, WorkerServices services);

}  // namespace native_worker
