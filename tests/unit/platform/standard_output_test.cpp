// The contract of the platform's standard output, the same on every port:
// writes reach the pipe, a closed reader fails them, and a cancel fails the
// write in progress and every later one, also when it lands between writes.
#include "platform/process.h"
#include "platform/standard_streams.h"
#include "standard_output_pipes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

namespace native_worker {
namespace {

using namespace std::chrono_literals;

// Each test changes standard output, so it checks its findings once it has it back.

// Writes all of it as the host writer does, one call after another; the
// result of the last call.
std::ptrdiff_t writeAll(platform::OutputPort& output, const std::string& text) {
    std::size_t done = 0;
    std::ptrdiff_t result = 0;
    while (done < text.size() && (result = output.write(text.data() + done, text.size() - done)) > 0)
        done += static_cast<std::size_t>(result);
    return result;
}

template <typename Pipe>
class StandardOutputContract : public ::testing::Test {
protected:
    // What the worker sets up first: a closed reader fails a write.
    void SetUp() override { platform::prepareProcess(); }
};

TYPED_TEST_SUITE(StandardOutputContract, testing::StandardOutputPipes);

TYPED_TEST(StandardOutputContract, WritesReachThePipeAndAClosedReaderFailsThem) {
    std::ptrdiff_t written = 0;
    std::ptrdiff_t afterClose = 0;
    std::string received;
    {
        TypeParam pipe(0);
        const auto output = platform::openStandardOutput();
        written = writeAll(*output, "{}\n");
        received = pipe.drain();
        pipe.closeReader();
        afterClose = writeAll(*output, "{}\n");
    }
    EXPECT_EQ(written, 3);
    EXPECT_EQ(received, "{}\n");
    EXPECT_LE(afterClose, 0);
}

TYPED_TEST(StandardOutputContract, ACancelledWriteFailsAndSoDoEveryLaterOne) {
    std::future_status blockedFirst{};
    std::future_status cancelled{};
    std::future_status laterFailedAtOnce{};
    std::ptrdiff_t blockedResult = 1;
    std::ptrdiff_t later = 1;
    {
        TypeParam pipe(4096);
        const auto output = platform::openStandardOutput();
        const std::string line(256 * 1024, 'x');
        auto blocked = std::async(std::launch::async, [&] { return writeAll(*output, line); });
        blockedFirst = blocked.wait_for(300ms);
        output->cancelWrite();
        cancelled = blocked.wait_for(2s);
        // A write that goes on blocking instead of failing ends once the pipe is read.
        const auto finish = [&pipe](std::future<std::ptrdiff_t>& write) {
            while (write.wait_for(10ms) != std::future_status::ready) pipe.drain();
            return write.get();
        };
        blockedResult = finish(blocked);
        auto laterWrite = std::async(std::launch::async, [&] { return writeAll(*output, "{}\n"); });
        laterFailedAtOnce = laterWrite.wait_for(1s);
        later = finish(laterWrite);
    }
    EXPECT_EQ(blockedFirst, std::future_status::timeout) << "the pipe took it all";
    EXPECT_EQ(cancelled, std::future_status::ready);
    EXPECT_LE(blockedResult, 0);
    EXPECT_EQ(laterFailedAtOnce, std::future_status::ready);
    EXPECT_LE(later, 0);
}

// A long line is written in several calls; a cancel between two of them must
// not be lost, or the next call blocks on a host application that left.
TYPED_TEST(StandardOutputContract, ACancelBetweenTwoWritesFailsTheNext) {
    std::ptrdiff_t before = 0;
    std::ptrdiff_t after = 1;
    {
        TypeParam pipe(0);
        const auto output = platform::openStandardOutput();
        before = writeAll(*output, "{\"a\":");
        output->cancelWrite();
        after = writeAll(*output, "1}\n");
        pipe.drain();
    }
    EXPECT_GT(before, 0);
    EXPECT_LE(after, 0);
}

}  // namespace
}  // namespace native_worker
