#include "worker/session_harness.h"

#include "base/protocol_error.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>

namespace native_worker::testing {

using nlohmann::json;

std::ptrdiff_t LineOutput::write(const char* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    partial_.append(data, size);
    for (auto newline = partial_.find('\n'); newline != std::string::npos; newline = partial_.find('\n')) {
        lines_.push_back(partial_.substr(0, newline));
        partial_.erase(0, newline + 1);
    }
    arrived_.notify_all();
    return static_cast<long>(size);
}

std::string LineOutput::next(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, wait, [this] { return !lines_.empty(); })) return {};
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
}

std::deque<std::string> LineOutput::rest() {
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
}

SessionHarness::SessionHarness(scripted::Script script) : SessionHarness(std::move(script), {displays, input, sink}) {}

SessionHarness::SessionHarness(scripted::Script script, SystemServices system)
    : engine(std::move(script)), session_(writer_, {engine, system.displays, system.input, system.sink}, clock) {}

SessionHarness::~SessionHarness() {
    if (!closed_) close();
}

json SessionHarness::command(const std::string& type, const std::string& requestId, json fields) {
    fields["version"] = 1;
    fields["type"] = type;
    fields["requestId"] = requestId;
    fields["accountId"] = "account";
    fields["sessionId"] = sessionId;
    fields["generation"] = "gen-1";
    return fields;
}

json SessionHarness::createHost(const std::string& requestId, json extra) {
    json fields{{"role", "host"}, {"capture", {{"fps", 30}}}, {"iceServers", json::array()}};
    fields.update(extra);
    return command("peer.create", requestId, fields);
}

json SessionHarness::createController(const std::string& requestId) {
    return command("peer.create", requestId, {{"role", "controller"}, {"iceServers", json::array()}});
}

std::string SessionHarness::fatal(const char* code) {
    session_.reportFatalError(code);
    return code;
}

std::string SessionHarness::dispatch(const json& message) {
    session_.clearCurrentRequestId();
    try {
        session_.dispatch(message);
    } catch (const ProtocolError& error) {
        return fatal(error.code);
    } catch (const std::exception&) {
        return fatal("native_operation_failed");
    }
    return {};
}

std::string SessionHarness::pump() {
    engine.thread().drain();
    try {
        session_.pump();
    } catch (const ProtocolError& error) {
        return fatal(error.code);
    } catch (const std::exception&) {
        return fatal("native_operation_failed");
    }
    return {};
}

json SessionHarness::pumpUntilEvent() {
    for (int pass = 0; pass < 100; ++pass) {
        if (!pump().empty()) return nextEvent();
        const std::string line = output_.next(std::chrono::milliseconds(5));
        if (!line.empty()) return json::parse(line);
    }
    return nullptr;
}

std::deque<std::string> SessionHarness::close(const json& requestId) {
    closed_ = true;
    session_.close(requestId);
    writer_.stop();
    return output_.rest();
}

json SessionHarness::nextEvent() {
    const std::string line = output_.next();
    return line.empty() ? json() : json::parse(line);
}

scripted::ScriptedPeerConnection& SessionHarness::connection() {
    return *engine.peerConnections().front();
}

void SessionHarness::createdHost(json extra) {
    EXPECT_EQ(dispatch(createHost("create-1", std::move(extra))), "");
    const json created = pumpUntilEvent();
    EXPECT_EQ(created["type"], "peer.created");
}

void SessionHarness::connectedHost(json extra) {
    createdHost(std::move(extra));
    EXPECT_EQ(dispatch(command("peer.offer", "o1")), "");
    pumpFor(5);
    EXPECT_EQ(dispatch(command("peer.setDescription", "s1", {{"descriptionType", "answer"}, {"sdp", "v=0"}})), "");
    pumpFor(10);
}

void SessionHarness::pumpFor(int passes) {
    for (int pass = 0; pass < passes; ++pass) {
        EXPECT_EQ(pump(), "");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    engine.thread().drain();
}

void SessionHarness::createdController() {
    EXPECT_EQ(dispatch(createController("create-1")), "");
    const json created = pumpUntilEvent();
    EXPECT_EQ(created["type"], "peer.created");
}

}  // namespace native_worker::testing
