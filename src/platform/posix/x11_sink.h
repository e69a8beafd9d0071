#pragma once

#include "platform/input_services.h"
#include "platform/input_sink.h"
#include "platform/posix/x11_cutoff.h"

#include <atomic>
#include <memory>
#include <thread>

namespace native_worker::platform {
class X11SinkConnection;
}  // namespace native_worker::platform

namespace kelvarn::input {

// Injects records through XTest on a connection of its own to the display
// named by DISPLAY. Each record is flushed and synced, so that a refusal or a
// vanished server is seen as a refused record; the next record connects anew.
// Not thread-safe: its user serialises every call but stopBy.
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
    // Connects no more. A server that has not answered by the deadline is
    // cut off: what the sink holds or lends then stays in the keymap
    // record, for the next sink on the display to undo.
    void stopBy(std::chrono::steady_clock::time_point deadline) override;
    void close() override;

private:
    // Empty when stopping, or when the display cannot be opened.
    native_worker::platform::X11SinkConnection* connection();

    native_worker::platform::X11Cutoff cutoff_;
    std::atomic<bool> stopping_{false};
    std::unique_ptr<native_worker::platform::X11SinkConnection> connection_;
    std::unique_ptr<native_worker::platform::InputServices> pointer_;
    // Undoes a dead worker's leftovers without holding up the start; joined
    // at the close, as no thread may still use Xlib when the process exits.
    std::jthread leftovers_;
};

}  // namespace kelvarn::input
