// The worker over the scripted engine and scripted displays, for black-box
// tests of paths the real engine cannot be made to take. KELVARN_SCRIPT
// (see scripted_engine.h) changes the engine's answers.
#include "app/entry.h"
#include "platform/process.h"
#include "recording_sink.h"
#include "scripted_displays.h"
#include "scripted_engine.h"
#include "scripted_input_services.h"

#include <cstdlib>

int main(int argc, char** argv) {
    native_worker::platform::prepareProcess();
    const char* scriptText = std::getenv("KELVARN_SCRIPT");
    native_worker::scripted::ScriptedEngine engine(native_worker::scripted::parseScript(scriptText ? scriptText : ""));
    native_worker::scripted::ScriptedDisplays displays;
    native_worker::scripted::ScriptedInputServices input;
    kelvarn::input::RecordingSink sink;
    return native_worker::runWorker(argc, argv, {engine, displays, input, sink});
}
