#pragma once

#include "fake_clock.h"
#include "recording_sink.h"
#include "scripted_displays.h"
#include "scripted_engine.h"
#include "scripted_input_services.h"
#include "transport/host_writer.h"
#include "worker/session.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace native_worker::testing {

// Output that hands complete lines to the test as they are written.
class LineOutput final : public platform::OutputPort {
public:
    std::ptrdiff_t write(const char* data, std::size_t size) override;
    void cancelWrite() override {}
    // The next line, waiting at most this long; empty when none came.
    std::string next(std::chrono::milliseconds wait = std::chrono::seconds(2));
    std::deque<std::string> rest();

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::string partial_;
    std::deque<std::string> lines_;
};

// The system's own services, for a session that works on a real desktop.
struct SystemServices {
    platform::DisplayServices& displays;
    platform::InputServices& input;
    kelvarn::input::Sink& sink;
};

// A Session over the scripted engine, scripted displays and a fake clock,
// driven the way the serve loop drives it.
class SessionHarness {
public:
    explicit SessionHarness(scripted::Script script = {});
    // The scripted engine with the system's displays, input and sink.
    SessionHarness(scripted::Script script, SystemServices system);
    ~SessionHarness();

    static constexpr char sessionId[] = "12345678-1234-1234-1234-123456789abc";
    static nlohmann::json command(const std::string& type, const std::string& requestId,
                                  nlohmann::json fields = nlohmann::json::object());
    static nlohmann::json createHost(const std::string& requestId, nlohmann::json extra = nlohmann::json::object());
    static nlohmann::json createController(const std::string& requestId);

    // Each returns the code of the fatal error it raised (reported as the serve
    // loop reports it), or "" when none.
    std::string dispatch(const nlohmann::json& message);
    std::string pump();
    // Pumps until an event line appears or a fatal error is raised.
    nlohmann::json pumpUntilEvent();
    // Closes the session as the serve loop does and returns every line not yet read.
    std::deque<std::string> close(const nlohmann::json& requestId = nullptr);

    nlohmann::json nextEvent();
    std::string nextLine() { return output_.next(); }
    scripted::ScriptedPeerConnection& connection();
    Session& session() { return session_; }
    std::vector<std::string> calls() { return engine.calls(); }

    // Runs peer.create and pumps until peer.created.
    void createdHost(nlohmann::json extra = nlohmann::json::object());
    // A host whose offer and answer are done, so that both channels are open.
    void connectedHost(nlohmann::json extra = nlohmann::json::object());
    // Pumps the passes, each expected to write nothing, then lets the engine's thread finish.
    void pumpFor(int passes);
    void createdController();

    FakeClock clock;
    scripted::ScriptedEngine engine;
    scripted::ScriptedDisplays displays;
    scripted::ScriptedInputServices input;
    kelvarn::input::RecordingSink sink;

private:
    std::string fatal(const char* code);

    LineOutput output_;
    transport::HostWriter writer_{output_};
    Session session_;
    bool closed_ = false;
};

}  // namespace native_worker::testing
