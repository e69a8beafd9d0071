#include "engine/gstreamer/gstreamer_engine.h"

#include "engine/gstreamer/ice_candidate.h"
#include "engine/gstreamer/peer_connection_factory.h"

#include <gst/gst.h>

namespace native_worker::engine {
namespace {

// What every connection needs; capture, encoders and decoders are checked
// where they are used, so that a receive-only machine still works.
constexpr const char* requiredElements[] = {"webrtcbin",   "rtpbin",  "nicesrc", "nicesink", "dtlssrtpenc",
                                            "dtlssrtpdec", "sctpenc", "sctpdec", "appsrc",   "appsink"};

class NoConstraints final : public MediaConstraints {};

class GStreamerEngine final : public Engine {
public:
    explicit GStreamerEngine(platform::DisplayServices& displays) : displays_(displays) {}

    bool initialize() override {
#ifdef KELVARN_SCAN_PLUGINS_IN_PROCESS
        gst_registry_fork_set_enabled(FALSE);
#endif
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            if (error) g_error_free(error);
            return false;
        }
        for (const char* name : requiredElements) {
            GstElementFactory* factory = gst_element_factory_find(name);
            if (!factory) return false;
            gst_object_unref(factory);
        }
        initialized_ = true;
        return true;
    }

    // GStreamer cannot be initialised again once deinitialised, and the
    // factories already ended every pipeline: nothing is left to undo.
    void terminate() override {
        initialized_ = false;
    }

    std::shared_ptr<PeerConnectionFactory> createPeerConnectionFactory() override {
        if (!initialized_) return nullptr;
        return std::make_shared<gstreamer::WebRtcPeerConnectionFactory>(displays_);
    }

    std::shared_ptr<MediaConstraints> createMediaConstraints() override {
        return std::make_shared<NoConstraints>();
    }

    std::shared_ptr<IceCandidate> createIceCandidate(const std::string& candidate, const std::string& sdpMid,
                                                     std::int32_t sdpMLineIndex) override {
        if (!gstreamer::parseCandidate(candidate)) return nullptr;
        return std::make_shared<gstreamer::Candidate>(candidate, sdpMid, sdpMLineIndex);
    }

private:
    platform::DisplayServices& displays_;
    bool initialized_ = false;
};

}  // namespace

std::unique_ptr<Engine> createGStreamerEngine(platform::DisplayServices& displays) {
    return std::make_unique<GStreamerEngine>(displays);
}

}  // namespace native_worker::engine
