#pragma once

// Standard output replaced, for the life of the object, by the write end of
// what host applications on Linux hand their children: a FIFO (Python) or a
// socket (Node.js and Electron). What the test reads comes from the other end.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace native_worker::testing {

class StandardOutputChannel {
public:
    struct Ends {
        int reader;
        int writer;
    };

    StandardOutputChannel(const StandardOutputChannel&) = delete;
    StandardOutputChannel& operator=(const StandardOutputChannel&) = delete;
    ~StandardOutputChannel();

    // What has arrived so far, without waiting.
    std::string drain();
    void closeReader();

protected:
    // Standard output becomes the write end.
    explicit StandardOutputChannel(Ends ends);

private:
    int reader_;
    int saved_;
};

// A pipe holding about `capacity` bytes (0: the system's default).
class FifoOutput final : public StandardOutputChannel {
public:
    explicit FifoOutput(std::size_t capacity);
};

// A socketpair with a send buffer of about `capacity` bytes (0: the default).
class SocketOutput final : public StandardOutputChannel {
public:
    explicit SocketOutput(std::size_t capacity);
};

using StandardOutputPipes = ::testing::Types<FifoOutput, SocketOutput>;

}  // namespace native_worker::testing
