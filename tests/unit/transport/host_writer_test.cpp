#include "transport/host_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace native_worker::transport {
namespace {

using namespace std::chrono_literals;

// Standard output that collects bytes, can be made to block like a full pipe,
// and can be cancelled like a synchronous write.
class CollectingOutput final : public platform::OutputPort {
public:
    std::ptrdiff_t write(const char* data, std::size_t size) override {
        std::unique_lock lock(mutex_);
        writing_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !blocked_ || cancelled_; });
        writing_ = false;
        if (cancelled_ || failing_) return -1;
        written_.append(data, size);
        changed_.notify_all();
        return static_cast<long>(size);
    }
    void cancelWrite() override {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        changed_.notify_all();
    }
    void block(bool blocked) {
        std::lock_guard lock(mutex_);
        blocked_ = blocked;
        changed_.notify_all();
    }
    void fail() {
        std::lock_guard lock(mutex_);
        failing_ = true;
    }
    void waitUntilWriting() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return writing_; });
    }
    std::string written() {
        std::lock_guard lock(mutex_);
        return written_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string written_;
    bool blocked_ = false;
    bool writing_ = false;
    bool cancelled_ = false;
    bool failing_ = false;
};

TEST(HostWriterOutput, CompactLinesInKeyOrderWithUtf8) {
    CollectingOutput output;
    HostWriter writer(output);
    writer.send({{"version", 1}, {"type", "worker.error"}, {"code", "invalid_message"}, {"fatal", true}});
    writer.send({{"text", "\xc3\xa9"}, {"nested", {{"b", 1}, {"a", nullptr}}}});
    writer.stop();
    EXPECT_EQ(output.written(),
              "{\"code\":\"invalid_message\",\"fatal\":true,\"type\":\"worker.error\",\"version\":1}\n"
              "{\"nested\":{\"a\":null,\"b\":1},\"text\":\"\xc3\xa9\"}\n");
    EXPECT_FALSE(writer.failed());
}

TEST(HostWriterOutput, InvalidUtf8ThrowsToTheSenderAndQueuesNothing) {
    CollectingOutput output;
    HostWriter writer(output);
    EXPECT_ANY_THROW(writer.send({{"text", "\xff"}}));
    writer.stop();
    EXPECT_EQ(output.written(), "");
    EXPECT_FALSE(writer.failed());
}

TEST(HostWriterLimits, LineOfExactlyTheBoundIsWrittenOneMoreFails) {
    CollectingOutput output;
    HostWriter writer(output);
    // {"p":"..."} is 8 bytes of JSON around the padding.
    writer.send({{"p", std::string(6'400'000 - 8, 'x')}});
    writer.stop();
    EXPECT_FALSE(writer.failed());
    EXPECT_EQ(output.written().size(), 6'400'001u);

    CollectingOutput refusing;
    HostWriter overWriter(refusing);
    overWriter.send({{"p", std::string(6'400'000 - 7, 'x')}});
    overWriter.stop();
    EXPECT_TRUE(overWriter.failed());
    EXPECT_EQ(refusing.written(), "");
}

TEST(HostWriterLimits, SixtyFifthQueuedLineBehindABlockedWriteFails) {
    CollectingOutput output;
    output.block(true);
    HostWriter writer(output);
    writer.send({{"n", 0}});
    output.waitUntilWriting();
    for (int i = 1; i <= 64; ++i) writer.send({{"n", i}});
    EXPECT_FALSE(writer.failed());
    writer.send({{"n", 65}});
    EXPECT_TRUE(writer.failed());
    output.block(false);
    writer.stop();
}

TEST(HostWriterStop, DrainsEverythingQueuedToAReadingHost) {
    CollectingOutput output;
    HostWriter writer(output);
    for (int i = 0; i < 10; ++i) writer.send({{"n", i}});
    writer.stop();
    std::string expected;
    for (int i = 0; i < 10; ++i) expected += "{\"n\":" + std::to_string(i) + "}\n";
    EXPECT_EQ(output.written(), expected);
}

TEST(HostWriterStop, CancelsAWriteStalledLongerThanTwoSeconds) {
    CollectingOutput output;
    output.block(true);
    HostWriter writer(output);
    writer.send({{"n", 1}});
    writer.send({{"n", 2}});
    output.waitUntilWriting();
    EXPECT_NE(writer.writeStartedAt(), 0);
    std::this_thread::sleep_for(2100ms);
    const auto before = std::chrono::steady_clock::now();
    writer.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(output.written(), "");
}

TEST(HostWriterFailure, FailedWriteSetsTheFlagAndEndsWriting) {
    CollectingOutput output;
    output.fail();
    HostWriter writer(output);
    writer.send({{"n", 1}});
    for (int i = 0; i < 200 && !writer.failed(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(writer.failed());
    EXPECT_NE(writer.writeStartedAt(), 0);
    writer.stop();
}

}  // namespace
}  // namespace native_worker::transport
