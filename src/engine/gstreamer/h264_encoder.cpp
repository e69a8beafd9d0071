#include "engine/gstreamer/h264_encoder.h"

#include "engine/gstreamer/gst_handles.h"

#include <algorithm>
#include <cstring>

namespace native_worker::engine::gstreamer {
namespace {

constexpr const char* x264 = "x264enc";
constexpr const char* openH264 = "openh264enc";
// Receivers ask for a key frame when they lose a picture, and ours asks again
// until one comes, so an unasked one is only a rare safety net. A frequent one
// would cost more than its rate: held to the frame-size bound, a key frame of
// a desktop at a low rate is a blur that the following frames take seconds to
// sharpen. (x264's "no period at all" made our receiver's recovery from loss
// slower, so the period is long, not endless.)
constexpr std::uint32_t framesBetweenUnaskedKeyFrames = 3000;

GstRef<GstElementFactory> chosenFactory() {
    GstRef<GstElementFactory> chosen;
    for (const char* name : {x264, openH264}) {
        GstRef<GstElementFactory> factory(gst_element_factory_find(name));
        if (factory && (!chosen || gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory.get())) >
                                       gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(chosen.get()))))
            chosen = std::move(factory);
    }
    return chosen;
}

bool isX264(GstElement* encoder) {
    GstElementFactory* factory = gst_element_get_factory(encoder);
    return factory && std::strcmp(GST_OBJECT_NAME(factory), x264) == 0;
}

}  // namespace

GstElement* makeH264Encoder(std::uint32_t frameSizeBoundMs) {
    const auto factory = chosenFactory();
    if (!factory) return nullptr;
    GstElement* encoder = gst_element_factory_create(factory.get(), nullptr);
    if (!encoder) return nullptr;
    if (isX264(encoder)) {
        gst_util_set_object_arg(G_OBJECT(encoder), "tune", "zerolatency");
        gst_util_set_object_arg(G_OBJECT(encoder), "speed-preset", "ultrafast");
        g_object_set(encoder, "key-int-max", framesBetweenUnaskedKeyFrames, "vbv-buf-capacity", frameSizeBoundMs,
                     nullptr);
    } else {
        // OpenH264 has no frame-size bound of its own: its bit-rate mode
        // spreads the rate evenly and skips nothing, which keeps frames near
        // their share.
        gst_util_set_object_arg(G_OBJECT(encoder), "usage-type", "screen");
        gst_util_set_object_arg(G_OBJECT(encoder), "rate-control", "bitrate");
        gst_util_set_object_arg(G_OBJECT(encoder), "complexity", "low");
        g_object_set(encoder, "gop-size", framesBetweenUnaskedKeyFrames, nullptr);
    }
    return encoder;
}

bool hasH264Encoder() {
    return static_cast<bool>(chosenFactory());
}

void setEncoderBitrate(GstElement* encoder, std::uint32_t kbps) {
    // x264 counts in kbit/s, OpenH264 in bit/s.
    g_object_set(encoder, "bitrate", isX264(encoder) ? kbps : kbps * 1000U, nullptr);
}

void setEncoderFrameSizeBound(GstElement* encoder, std::uint32_t milliseconds) {
    if (isX264(encoder)) g_object_set(encoder, "vbv-buf-capacity", std::max(1U, milliseconds), nullptr);
}

}  // namespace native_worker::engine::gstreamer
