// The Windows standard input over real pipes put in place of the test's own
// standard handle: what PeekNamedPipe reports and the end of the stream. The
// output's contract is the one every port shares (standard_output_test.cpp).
#include "platform/standard_streams.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace native_worker {
namespace {

using Status = platform::InputPort::Status;

// A pipe standing in for one standard handle, restored afterwards.
class StandardPipe {
public:
    StandardPipe(DWORD which, DWORD capacity) : which_(which), saved_(GetStdHandle(which)) {
        if (!CreatePipe(&read_, &write_, nullptr, capacity)) throw std::runtime_error("CreatePipe");
        SetStdHandle(which_, which_ == STD_INPUT_HANDLE ? read_ : write_);
    }
    ~StandardPipe() {
        SetStdHandle(which_, saved_);
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (read_) CloseHandle(std::exchange(read_, nullptr));
    }
    void closeWrite() {
        if (write_) CloseHandle(std::exchange(write_, nullptr));
    }
    HANDLE read() const { return read_; }
    HANDLE write() const { return write_; }

private:
    DWORD which_;
    HANDLE saved_;
    HANDLE read_ = nullptr;
    HANDLE write_ = nullptr;
};

TEST(Win32StandardInput, PeekCountsWhatWaitsAndTheClosedPipeEndsTheStream) {
    StandardPipe pipe(STD_INPUT_HANDLE, 0);
    const auto input = platform::openStandardInput();
    EXPECT_EQ(input->peek().status, Status::available);
    EXPECT_EQ(input->peek().bytes, 0u);

    DWORD written = 0;
    ASSERT_TRUE(WriteFile(pipe.write(), "line\n", 5, &written, nullptr));
    const auto waiting = input->peek();
    EXPECT_EQ(waiting.status, Status::available);
    EXPECT_EQ(waiting.bytes, 5u);
    char buffer[8] = {};
    EXPECT_EQ(input->read(buffer, waiting.bytes), 5);
    EXPECT_EQ(std::string(buffer, 5), "line\n");

    pipe.closeWrite();
    EXPECT_EQ(input->peek().status, Status::brokenPipe);
}

TEST(Win32StandardInput, AFileIsNoPipe) {
    StandardPipe output(STD_OUTPUT_HANDLE, 0);
    {
        StandardPipe input(STD_INPUT_HANDLE, 0);
        EXPECT_TRUE(platform::standardStreamsArePipes());
    }
    HANDLE null = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(null, INVALID_HANDLE_VALUE);
    const HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, null);
    EXPECT_FALSE(platform::standardStreamsArePipes());
    EXPECT_EQ(platform::openStandardInput()->peek().status, Status::failed);
    SetStdHandle(STD_INPUT_HANDLE, saved);
    CloseHandle(null);
}

}  // namespace
}  // namespace native_worker
