#include "app/serve_loop.h"

#include "app/watchdogs.h"
#include "base/clock.h"
#include "base/error_codes.h"
#include "base/protocol_error.h"
#include "platform/process.h"
#include "platform/standard_streams.h"
#include "transport/host_reader.h"
#include "transport/host_writer.h"
#include "worker/host_message.h"
#include "worker/session.h"

#include <chrono>
#include <thread>

namespace native_worker {
namespace {

constexpr auto passPeriod = std::chrono::milliseconds(10);
constexpr std::int64_t writeStallLimitMs = 5000;
// The input sink's share of the shutdown allowance: a desktop that stops
// answering then holds up the rest of the close no longer.
constexpr auto sinkStopLimit = std::chrono::milliseconds(2000);

void checkOutput(const transport::HostWriter& writer) {
    if (writer.failed()) throw ProtocolError(codes::outputUnavailable);
    const std::int64_t startedAt = writer.writeStartedAt();
    if (startedAt != 0 && monotonicMilliseconds() - startedAt > writeStallLimitMs)
        throw ProtocolError(codes::outputUnavailable);
}

// The final error event is best effort: if even it cannot be written, the
// writer's failure and the exit code still tell the host application.
void reportQuietly(Session& session, const char* code) {
    try {
        session.reportFatalError(code);
    } catch (const std::exception&) {
    }
}

}  // namespace

int runServeLoop(WorkerServices services) {
    ServeWatchdog watchdog;
    const auto output = platform::openStandardOutput();
    const auto input = platform::openStandardInput();
    const SteadyClock clock;
    transport::HostWriter writer(*output);
    transport::HostReader reader(*input);
    Session session(writer, services, clock);

    int exitCode = 0;
    nlohmann::json closeRequestId;
    try {
        if (!platform::standardStreamsArePipes()) throw ProtocolError(codes::invalidMessage);
        bool stopping = false;
        while (!stopping) {
            watchdog.feed(ServeWatchdog::passAllowanceMs);
            reader.readAvailable();
            // The end of input, or a signal asking the worker to end, ends the
            // session normally even when the writer failed: a host application
            // that closed both pipes is told nothing more.
            const bool ending = reader.endOfInput() || platform::stopRequested();
            if (!ending) checkOutput(writer);
            auto& lines = reader.lines();
            while (!lines.empty() && !stopping) {
                const std::string line = std::move(lines.front());
                lines.pop_front();
                session.clearCurrentRequestId();
                if (session.dispatch(parseHostMessage(line))) {
                    closeRequestId = session.currentRequestId();
                    stopping = true;
                }
            }
            // Lines completed in the pass that saw the end of input are still
            // handled: a host application may write its last command and close.
            if (ending) break;
            if (!stopping) session.pump();
            std::this_thread::sleep_for(passPeriod);
        }
    } catch (const ProtocolError& error) {
        exitCode = 2;
        reportQuietly(session, error.code);
    } catch (const std::exception&) {
        exitCode = 2;
        reportQuietly(session, codes::nativeOperationFailed);
    }

    // The watchdog covers the whole stop, the sink's included.
    watchdog.feed(ServeWatchdog::shutdownAllowanceMs);
    services.sink.stopBy(std::chrono::steady_clock::now() + sinkStopLimit);
    try {
        session.close(closeRequestId);
    } catch (const std::exception&) {
        // The close path has nothing left to report to; the exit code tells.
        exitCode = 2;
    }
    services.sink.close();
    writer.stop();
    watchdog.stop();
    return exitCode;
}

}  // namespace native_worker
