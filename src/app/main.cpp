#include "app/entry.h"
#include "engine/unavailable/unavailable_engine.h"
#include "platform/display_services.h"

int main(int argc, char** argv) {
    const auto engine = native_worker::engine::createUnavailableEngine();
    const auto displays = native_worker::platform::createSystemDisplayServices();
    return native_worker::runWorker(argc, argv, {*engine, *displays});
}
