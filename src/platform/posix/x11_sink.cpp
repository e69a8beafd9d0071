#include "platform/posix/x11_sink.h"

#include "platform/posix/x11_connection.h"
#include "platform/posix/x11_keymap_record.h"
#include "platform/posix/x11_sink_connection.h"
#include "platform/process.h"

namespace kelvarn::input {

using native_worker::platform::KeymapRecord;
using native_worker::platform::X11Connection;
using native_worker::platform::X11Cutoff;
using native_worker::platform::X11SinkConnection;

// A worker that never types still undoes what a worker that died left behind.
X11Sink::X11Sink()
    : pointer_(native_worker::platform::createSystemInputServices()), leftovers_([this] {
          native_worker::platform::nameCurrentThread("keymap-leftover");
          const auto connection = X11Connection::open();
          if (!connection) return;
          const X11Cutoff::Watch watch(cutoff_, *connection);
          KeymapRecord(*connection).restoreLeftovers();
      }) {}

X11Sink::~X11Sink() {
    close();
}

bool X11Sink::inject(const InputRecord& record) {
    X11SinkConnection* const sink = connection();
    if (!sink) return false;
    const bool delivered = sink->deliver(record);
    if (sink->lost()) connection_.reset();
    return delivered;
}

void X11Sink::prepareText(std::u16string_view units) {
    if (X11SinkConnection* const sink = connection()) sink->expect(units);
}

std::optional<Point> X11Sink::cursorPosition() {
    const auto cursor = pointer_->cursorPosition();
    if (!cursor) return std::nullopt;
    return Point{cursor->x, cursor->y};
}

void X11Sink::stopBy(std::chrono::steady_clock::time_point deadline) {
    stopping_ = true;
    cutoff_.arm(deadline);
}

void X11Sink::close() {
    stopping_ = true;
    connection_.reset();
    if (leftovers_.joinable()) leftovers_.join();
}

X11SinkConnection* X11Sink::connection() {
    if (!connection_ && !stopping_) connection_ = X11SinkConnection::open(cutoff_);
    return connection_.get();
}

std::unique_ptr<Sink> createSystemSink() {
    return std::make_unique<X11Sink>();
}

}  // namespace kelvarn::input
