#include "worker_fixture.h"

namespace native_worker::process_tests {
namespace {

constexpr char identityHead[] = R"({"accountId":"acct-1",)";
constexpr char identityTail[] = R"(,"sessionId":"0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e50",)";

}  // namespace

nlohmann::json command(std::string_view type, std::string_view requestId, nlohmann::json fields) {
    nlohmann::json message = {{"version", 1},           {"type", type},           {"requestId", requestId},
                              {"accountId", accountId}, {"sessionId", sessionId}, {"generation", generation}};
    message.update(fields);
    return message;
}

nlohmann::json hostCreate(std::string_view requestId) {
    return command("peer.create", requestId,
                   {{"role", "host"}, {"iceServers", nlohmann::json::array()}, {"capture", {{"fps", 30}}}});
}

nlohmann::json controllerCreate(std::string_view requestId) {
    return command("peer.create", requestId, {{"role", "controller"}, {"iceServers", nlohmann::json::array()}});
}

nlohmann::json candidateCommand(std::string_view requestId, int number) {
    return command("peer.addCandidate", requestId,
                   {{"candidate", "candidate:" + std::to_string(number) + " 1 udp 2122260223 192.0.2.1 " +
                                      std::to_string(40000 + number) + " typ host"},
                    {"sdpMid", "0"},
                    {"sdpMLineIndex", 0}});
}

nlohmann::json answerCommand(std::string_view requestId) {
    return command("peer.setDescription", requestId,
                   {{"descriptionType", "answer"}, {"sdp", "v=0\r\no=remote 7 0 IN IP4 192.0.2.7\r\ns=answer\r\n"}});
}

std::string text(const nlohmann::json& message) {
    return message.dump();
}

std::string idJson(std::string_view requestId) {
    return "\"" + std::string(requestId) + "\"";
}

std::string workerError(std::string_view code) {
    return R"({"code":")" + std::string(code) +
           R"(","fatal":true,"type":"worker.error","version":1})"
           "\n";
}

std::string peerError(std::string_view code, std::string_view requestId) {
    return std::string(identityHead) + R"("code":")" + std::string(code) + R"(","fatal":true,"generation":"gen-1",)" +
           R"("requestId":)" + std::string(requestId) + identityTail +
           R"("type":"peer.error","version":1})"
           "\n";
}

std::string peerEvent(std::string_view type, std::string_view requestId) {
    return std::string(identityHead) + R"("generation":"gen-1","requestId":)" + std::string(requestId) + identityTail +
           R"("type":")" + std::string(type) +
           R"(","version":1})"
           "\n";
}

std::string hostCreated(std::string_view requestId) {
    return std::string(identityHead) +
           R"("capture":{"desktop":{"height":1080.0,"width":1920.0,"x":0.0,"y":0.0},)"
           R"("display":{"encodedHeight":1080.0,"encodedWidth":1920.0,"id":"1",)"
           R"("physical":{"height":1080.0,"width":1920.0,"x":0.0,"y":0.0}},)"
           R"("displays":[{"frameHeight":1080,"frameWidth":1920,"frameX":0,"frameY":0,"id":"1","isMain":true,)"
           R"("pixelHeight":1080,"pixelWidth":1920}],"inputEpoch":0,"inputSupported":false},)"
           R"("generation":"gen-1","requestId":)" +
           std::string(requestId) + identityTail +
           R"("transportReady":false,"type":"peer.created","version":1})"
           "\n";
}

std::string controllerCreated(std::string_view requestId) {
    return std::string(identityHead) + R"("capture":{},"generation":"gen-1","requestId":)" + std::string(requestId) +
           identityTail +
           R"("transportReady":false,"type":"peer.created","version":1})"
           "\n";
}

bool isUnsolicited(std::string_view line) {
    for (const char* type : {R"("type":"peer.media")", R"("type":"peer.candidate",)", R"("type":"peer.state")"})
        if (line.find(type) != std::string_view::npos) return true;
    return line.find(R"("type":"peer.inputConfigured")") != std::string_view::npos &&
           line.find(R"("requestId":null)") != std::string_view::npos;
}

namespace {

harness::LaunchOptions serveOptions(const WorkerOptions& options) {
    harness::LaunchOptions launch;
    launch.arguments = {"--serve"};
    launch.environment = {{"KELVARN_SCRIPT", options.script}};
    if (options.display.empty())
        launch.removedEnvironment = {"DISPLAY"};
    else
        launch.environment.emplace_back("DISPLAY", options.display);
    launch.channel = options.channel;
    launch.outputCapacity = options.outputCapacity;
    return launch;
}

WorkerOptions scriptOnly(std::string script) {
    WorkerOptions options;
    options.script = std::move(script);
    return options;
}

}  // namespace

Worker::Worker(std::string script) : Worker(scriptOnly(std::move(script))) {}

Worker::Worker(WorkerOptions options, const char* program) : harness::WorkerProcess(program, serveOptions(options)) {}

void Worker::send(const nlohmann::json& message) {
    ASSERT_TRUE(writeLine(text(message))) << "the worker stopped reading: " << text(message);
}

std::optional<std::string> Worker::nextAnswer(Timeout timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<Timeout>(deadline - std::chrono::steady_clock::now());
        auto line = readLine(left.count() > 0 ? left : Timeout(0));
        if (!line || !isUnsolicited(*line)) return line;
    }
}

std::vector<std::string> Worker::linesUntil(std::string_view lastLine, Timeout timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::string> lines;
    while (lines.empty() || lines.back() != lastLine) {
        const auto left = std::chrono::duration_cast<Timeout>(deadline - std::chrono::steady_clock::now());
        auto line = readLine(left.count() > 0 ? left : Timeout(0));
        if (!line) break;
        lines.push_back(std::move(*line));
    }
    return lines;
}

void Worker::createHost() {
    send(hostCreate("c1"));
    ASSERT_EQ(nextAnswer(), hostCreated(idJson("c1")));
}

void Worker::createController() {
    send(controllerCreate("c1"));
    ASSERT_EQ(nextAnswer(), controllerCreated(idJson("c1")));
}

void Worker::negotiateHost() {
    send(command("peer.offer", "o1"));
    const auto offer = nextAnswer();
    ASSERT_TRUE(offer && offer->find(R"("requestId":"o1")") != std::string::npos) << offer.value_or("(nothing)");
    send(answerCommand("a1"));
    ASSERT_EQ(nextAnswer(), std::string(identityHead) + R"("descriptionType":"answer","generation":"gen-1",)" +
                                R"("requestId":"a1")" + identityTail +
                                R"("type":"peer.descriptionApplied","version":1})"
                                "\n");
}

void expectWorkerError(Worker& worker, std::string_view code) {
    expectEnd(worker, workerError(code), 2);
}

void expectPeerError(Worker& worker, std::string_view code, std::string_view requestId) {
    EXPECT_EQ(worker.nextAnswer(), peerError(code, requestId));
    expectEnd(worker, peerEvent("peer.closed", "null"), 2);
}

void expectEnd(Worker& worker, std::string_view rest, int exitCode) {
    EXPECT_EQ(worker.readRemainingOutput(exitWait), rest);
    EXPECT_EQ(worker.waitForExit(exitWait), exitCode);
}

void expectAnswersToTheEnd(Worker& worker, std::string_view answers, int exitCode) {
    const std::string rest = worker.readRemainingOutput(exitWait);
    std::string kept;
    for (std::size_t begin = 0; begin < rest.size();) {
        const std::size_t end = std::min(rest.find('\n', begin), rest.size() - 1) + 1;
        const std::string_view line(rest.data() + begin, end - begin);
        if (!isUnsolicited(line)) kept += line;
        begin = end;
    }
    EXPECT_EQ(kept, answers);
    EXPECT_EQ(worker.waitForExit(exitWait), exitCode);
}

}  // namespace native_worker::process_tests
