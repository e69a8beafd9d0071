#include "engine/unavailable/unavailable_engine.h"

namespace native_worker::engine {
namespace {

class UnavailableEngine final : public Engine {
public:
    bool initialize() override { return false; }
    void terminate() override {}
    std::shared_ptr<PeerConnectionFactory> createPeerConnectionFactory() override { return nullptr; }
    std::shared_ptr<MediaConstraints> createMediaConstraints() override { return nullptr; }
    std::shared_ptr<IceCandidate> createIceCandidate(const std::string&, const std::string&, std::int32_t) override {
        return nullptr;
    }
};

}  // namespace

std::unique_ptr<Engine> createUnavailableEngine() {
    return std::make_unique<UnavailableEngine>();
}

}  // namespace native_worker::engine
