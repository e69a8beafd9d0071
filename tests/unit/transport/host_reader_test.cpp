#include "transport/host_reader.h"
#include "base/protocol_error.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

namespace native_worker::transport {
namespace {

// Standard input as a script of arrivals: each pass sees what has arrived so far.
class ScriptedInput final : public platform::InputPort {
public:
    void arrive(const std::string& bytes) { pending_ += bytes; }
    void hangUp() { closed_ = true; }
    void failPeek() { failing_ = true; }
    int reads = 0;

    Peek peek() override {
        if (failing_) return {Status::failed, 0};
        if (!pending_.empty()) return {Status::available, pending_.size()};
        return {closed_ ? Status::brokenPipe : Status::available, 0};
    }
    std::ptrdiff_t read(char* buffer, std::size_t size) override {
        ++reads;
        const std::size_t count = std::min(size, pending_.size());
        pending_.copy(buffer, count);
        pending_.erase(0, count);
        return static_cast<long>(count);
    }

private:
    std::string pending_;
    bool closed_ = false;
    bool failing_ = false;
};

std::string codeOf(HostReader& reader) {
    try {
        reader.readAvailable();
    } catch (const ProtocolError& error) {
        return error.code;
    }
    return "none";
}

TEST(HostReaderFraming, TerminatorsAndSpecialBytes) {
    ScriptedInput input;
    HostReader reader(input);
    input.arrive("a\r\nb\nc\r\r\nd\re\n\n");
    input.arrive(std::string("n\0\xff", 3) + "\n");
    reader.readAvailable();
    const std::deque<std::string> expected{"a", "b", "c\r", "d\re", "", std::string("n\0\xff", 3)};
    EXPECT_EQ(reader.lines(), expected);
}

TEST(HostReaderFraming, ReassemblesAcrossReadsAndPasses) {
    ScriptedInput input;
    HostReader reader(input);
    input.arrive(std::string(5000, 'x'));
    reader.readAvailable();
    EXPECT_TRUE(reader.lines().empty());
    EXPECT_EQ(input.reads, 2);  // 4096 + 904
    input.arrive("yz\n");
    reader.readAvailable();
    ASSERT_EQ(reader.lines().size(), 1u);
    EXPECT_EQ(reader.lines().front(), std::string(5000, 'x') + "yz");
}

TEST(HostReaderFraming, OnePassReadsAtMostSixteenChunks) {
    ScriptedInput input;
    HostReader reader(input);
    input.arrive(std::string(17 * 4096, 'x'));
    reader.readAvailable();
    EXPECT_EQ(input.reads, 16);
    reader.readAvailable();
    EXPECT_EQ(input.reads, 17);
}

TEST(HostReaderLimits, LineSizeBoundCountsACarriageReturn) {
    ScriptedInput exact;
    HostReader accepting(exact);
    exact.arrive(std::string(6'400'000, 'x') + "\n");
    while (accepting.lines().empty()) accepting.readAvailable();
    EXPECT_EQ(accepting.lines().front().size(), 6'400'000u);

    ScriptedInput over;
    HostReader refusing(over);
    over.arrive(std::string(6'400'000, 'x') + "\r\n");
    std::string code = "none";
    for (int pass = 0; pass < 200 && code == "none"; ++pass) code = codeOf(refusing);
    EXPECT_EQ(code, "message_too_large");
}

TEST(HostReaderLimits, ThirtyTwoLinesPerPassAndNoMore) {
    ScriptedInput input;
    HostReader reader(input);
    std::string lines;
    for (int i = 0; i < 32; ++i) lines += "{}\n";
    input.arrive(lines);
    EXPECT_EQ(codeOf(reader), "none");
    EXPECT_EQ(reader.lines().size(), 32u);

    ScriptedInput flood;
    HostReader overflowing(flood);
    flood.arrive(lines + "{}\n");
    EXPECT_EQ(codeOf(overflowing), "queue_overflow");
}

TEST(HostReaderEndOfInput, CleanOnlyAfterALineFeed) {
    ScriptedInput clean;
    HostReader reader(clean);
    clean.arrive("{}\n");
    clean.hangUp();
    reader.readAvailable();
    EXPECT_TRUE(reader.endOfInput());
    EXPECT_EQ(reader.lines().size(), 1u);

    ScriptedInput cut;
    HostReader cutReader(cut);
    cut.arrive("{\"version\":1}");
    cut.hangUp();
    EXPECT_EQ(codeOf(cutReader), "invalid_message");
    EXPECT_FALSE(cutReader.endOfInput());
}

TEST(HostReaderEndOfInput, PeekFailureIsInvalidMessage) {
    ScriptedInput input;
    HostReader reader(input);
    input.failPeek();
    EXPECT_EQ(codeOf(reader), "invalid_message");
}

}  // namespace
}  // namespace native_worker::transport
