#pragma once

// Owning handles for GLib and GStreamer references, so that every early return
// releases what it took.

#include <gst/gst.h>

#include <memory>

namespace native_worker::engine::gstreamer {

template <auto release>
struct Releaser {
    template <typename T>
    void operator()(T* object) const {
        release(object);
    }
};

template <typename T>
using GstRef = std::unique_ptr<T, Releaser<gst_object_unref>>;
template <typename T>
using GRef = std::unique_ptr<T, Releaser<g_object_unref>>;
// gst_caps_unref is an inline function; a type naming it would have internal linkage.
struct CapsRelease {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
using CapsRef = std::unique_ptr<GstCaps, CapsRelease>;
using StructureRef = std::unique_ptr<GstStructure, Releaser<gst_structure_free>>;
using GFreeString = std::unique_ptr<gchar, Releaser<g_free>>;

// Adds a reference and owns it.
template <typename T>
GstRef<T> takeRef(T* object) {
    return GstRef<T>(object ? static_cast<T*>(gst_object_ref(object)) : nullptr);
}

}  // namespace native_worker::engine::gstreamer
