// How a POSIX host application ends its worker.
#include "worker_fixture.h"

#include <csignal>

#include <thread>

namespace native_worker::process_tests {
namespace {

// A host application that closes both pipes once a write failed has ended the
// session: the end of input is seen before the writer's failure.
TEST(HostLeaves, BothPipesClosedAfterAFailedWriteEndWithZero) {
    WorkerOptions options;
    options.script = "candidates=20";
    options.outputCapacity = 4096;
    Worker worker(options);
    worker.createHost();
    worker.send(command("peer.offer", "o1"));
    std::this_thread::sleep_for(500ms);  // the candidates fill the pipe; one write waits
    ::kill(worker.processId(), SIGSTOP);
    worker.closeOutput();
    worker.closeInput();
    ::kill(worker.processId(), SIGCONT);
    EXPECT_EQ(worker.waitForExit(exitWait), 0);
}

}  // namespace
}  // namespace native_worker::process_tests
