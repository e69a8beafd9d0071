#pragma once

#include "media/engine.h"
#include "platform/display_services.h"
#include "platform/input_services.h"
#include "platform/input_sink.h"

namespace native_worker {

struct WorkerDependencies {
    engine::Engine& engine;
    platform::DisplayServices& displays;
    platform::InputServices& input;
    kelvarn::input::Sink& sink;
};

// The whole process behind main(): command line, mode, exit code.
int runWorker(int argc, const char* const* argv, WorkerDependencies dependencies);

}  // namespace native_worker
