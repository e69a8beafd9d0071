#include "app/entry.h"
#include "engine/gstreamer/gstreamer_engine.h"
#include "platform/display_services.h"
#include "platform/input_services.h"
#include "platform/input_sink.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    native_worker::platform::prepareProcess();
    const auto displays = native_worker::platform::createSystemDisplayServices();
    const auto engine = native_worker::engine::createGStreamerEngine(*displays);
    const auto input = native_worker::platform::createSystemInputServices();
    const auto sink = kelvarn::input::createSystemSink();
    return native_worker::runWorker(argc, argv, {*engine, *displays, *input, *sink});
}
