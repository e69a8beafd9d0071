#pragma once

#include "platform/input_services.h"
#include "platform/input_sink.h"

#include <memory>
#include <thread>

namespace kelvarn::input {

// Injects records through XTest on a connection of its own to the display
// named by DISPLAY. Each record is flushed and synced, so that a refusal or a
// vanished server is seen as a refused record; the next record connects anew.
// Not thread-safe: its user serialises every call.
class X11Sink final : public Sink {
public:
    X11Sink();
    ~X11Sink() override;
    X11Sink(const X11Sink&) = delete;
    X11Sink& operator=(const X11Sink&) = delete;

    bool inject(const InputRecord& record) override;
    // Lets the spare keycodes for the text's characters be bound in batches.
    void prepareText(std::u16string_view units) override;
    std::optional<Point> cursorPosition() override;

private:
    class Connection;

    std::unique_ptr<Connection> connection_;
    std::unique_ptr<native_worker::platform::InputServices> pointer_;
    // Undoes a dead worker's leftovers without holding up the start; joined
    // with the sink, as no thread may still use Xlib when the process exits.
    std::jthread leftovers_;
};

}  // namespace kelvarn::input
