#pragma once

#include "platform/display_services.h"
#include "media/engine.h"

namespace native_worker {

struct ServeDependencies {
    engine::Engine& engine;
    platform::DisplayServices& displays;
};

// Serve mode over standard input and output; returns the process exit code.
int runServeLoop(ServeDependencies dependencies);

}  // namespace native_worker
