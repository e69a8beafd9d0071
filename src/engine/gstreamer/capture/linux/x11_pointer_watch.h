#pragma once

#include "engine/gstreamer/capture/pointer_sprite.h"
#include "platform/display_services.h"
#include "platform/posix/x11_connection.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace native_worker::engine::gstreamer {

// Where the pointer is and what it looks like, for drawing it into the
// captured picture, on an X connection of its own that one thread uses.
// XFixes sends each new image of the pointer and XInput 2 reports each move
// of a pointing device, so that the capture wakes for a pointer that moves
// over a still screen; the position itself is asked for at every look.
class X11PointerWatch {
public:
    // Null when the display cannot be opened or lacks XFixes 2, which has the pointer's image.
    static std::unique_ptr<X11PointerWatch> create();
    ~X11PointerWatch();
    X11PointerWatch(const X11PointerWatch&) = delete;
    X11PointerWatch& operator=(const X11PointerWatch&) = delete;

    // Becomes readable when the server reports a move or a new image...
    int descriptor() const;
    // ... unless the report came with an answer and waits here already.
    bool reportWaiting() const;
    // Reads what the server sent and where the pointer is; whether it moved
    // or changed its look since the last take().
    bool changed();
    // What to draw again, in root-window coordinates: where the pointer was
    // drawn and where it is now, when it changed; it is then drawn as it is now.
    std::vector<platform::Rect> take();
    // The pointer as it is drawn, in root-window coordinates.
    const PointerSprite& drawn() const { return drawn_; }
    // From any thread: the connection fails from here on.
    void cutOff() const { connection_->cutOff(); }

private:
    X11PointerWatch(std::unique_ptr<platform::X11Connection> connection, int fixesEventBase);
    void readImage();

    const std::unique_ptr<platform::X11Connection> connection_;
    const int fixesEventBase_;
    // The image placed with its hot spot at (0, 0), and the serial the server gave it.
    PointerSprite image_;
    unsigned long imageSerial_ = 0;
    platform::Rect place_;
    PointerSprite drawn_;
    unsigned long drawnSerial_ = 0;
};

}  // namespace native_worker::engine::gstreamer
