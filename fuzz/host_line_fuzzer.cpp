// Host protocol lines, as the serve loop receives them, through the strict
// parser and a Session over the scripted engine: one input is a whole
// conversation, one line per command. A ProtocolError is the only acceptable
// failure; anything else escaping is a bug, and so is any event line that the
// worker itself could not read back.

#include "base/protocol_error.h"
#include "fake_clock.h"
#include "platform/byte_ports.h"
#include "recording_sink.h"
#include "scripted_displays.h"
#include "scripted_engine.h"
#include "scripted_input_services.h"
#include "transport/host_writer.h"
#include "worker/host_message.h"
#include "worker/session.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using native_worker::parseHostMessage;

// Long enough for statistics to fall due every other pass, short enough that
// an operation's deadline needs dozens of lines.
constexpr auto passLength = std::chrono::milliseconds(250);

void check(bool condition) {
    if (!condition) std::abort();
}

// For text the worker produced itself, where a refusal is a bug, not an answer.
nlohmann::json parseOwnText(std::string_view text) {
    try {
        return parseHostMessage(text);
    } catch (const native_worker::ProtocolError&) {
        std::abort();
    }
}

// Every event must be one compact line that the strict parser accepts.
class CheckedOutput final : public native_worker::platform::OutputPort {
public:
    std::ptrdiff_t write(const char* data, std::size_t size) override {
        const std::string_view line(data, size);
        check(!line.empty() && line.back() == '\n');
        const nlohmann::json event = parseOwnText(line.substr(0, size - 1));
        check(event.at("version") == 1 && event.at("type").is_string());
        return static_cast<long>(size);
    }
    void cancelWrite() override {}
};

// What the strict parser returns must be a JSON object that survives the
// writer's compact serialisation and a second strict parse unchanged.
void checkParsed(std::string_view line, const nlohmann::json& message) {
    check(message.is_object());
    check(nlohmann::json::accept(line.begin(), line.end()));
    const std::string compact = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    check(parseOwnText(compact) == message);
}

// The serve loop's pass, minus the pipes and the sleeping: each line is parsed
// and dispatched, then the engine's answers are let in and the session pumped.
void converse(native_worker::Session& session, native_worker::scripted::ScriptedEngine& engine,
              native_worker::testing::FakeClock& clock, std::string_view input) {
    while (!input.empty()) {
        const auto end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        session.clearCurrentRequestId();
        const nlohmann::json message = parseHostMessage(line);
        checkParsed(line, message);
        if (session.dispatch(message)) return;
        // An answer may start the next step of an operation (a created offer is
        // applied next), so a few passes let each command run to its end.
        for (int pass = 0; pass < 3; ++pass) {
            engine.thread().drain();
            clock.advance(passLength);
            session.pump();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckedOutput output;
    native_worker::transport::HostWriter writer(output);
    native_worker::scripted::ScriptedEngine engine;
    native_worker::scripted::ScriptedDisplays displays;
    native_worker::scripted::ScriptedInputServices input;
    kelvarn::input::RecordingSink sink;
    native_worker::testing::FakeClock clock;
    {
        native_worker::Session session(writer, {engine, displays, input, sink}, clock);
        try {
            converse(session, engine, clock, std::string_view(reinterpret_cast<const char*>(data), size));
        } catch (const native_worker::ProtocolError& error) {
            session.reportFatalError(error.code);
        }
        session.close(nullptr);
    }
    writer.stop();
    return 0;
}
