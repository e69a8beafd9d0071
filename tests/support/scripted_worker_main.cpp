// The worker over the scripted engine and scripted displays, for black-box
// tests of paths the real engine cannot be made to take. KELVARN_SCRIPT
// (see scripted_engine.h) changes the engine's answers, and may put the
// worker on the system's own desktop.
#include "app/entry.h"
#include "platform/display_services.h"
#include "platform/input_services.h"
#include "platform/input_sink.h"
#include "platform/process.h"
#include "recording_sink.h"
#include "scripted_displays.h"
#include "scripted_engine.h"
#include "scripted_input_services.h"

#include <cstdlib>

int main(int argc, char** argv) {
    native_worker::platform::prepareProcess();
    const char* scriptText = std::getenv("KELVARN_SCRIPT");
    const auto script = native_worker::scripted::parseScript(scriptText ? scriptText : "");
    native_worker::scripted::ScriptedEngine engine(script);
    if (script.systemDesktop) {
        const auto displays = native_worker::platform::createSystemDisplayServices();
        const auto input = native_worker::platform::createSystemInputServices();
        const auto sink = kelvarn::input::createSystemSink();
        return native_worker::runWorker(argc, argv, {engine, *displays, *input, *sink});
    }
    native_worker::scripted::ScriptedDisplays displays;
    native_worker::scripted::ScriptedInputServices input;
    kelvarn::input::RecordingSink sink;
    return native_worker::runWorker(argc, argv, {engine, displays, input, sink});
}
