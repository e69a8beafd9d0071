#pragma once

#include <cstddef>

namespace native_worker::platform {

// What the reader needs from standard input: a non-blocking look at how much is
// waiting, and a read that never asks for more than that.
class InputPort {
public:
    enum class Status { available, brokenPipe, failed };
    struct Peek {
        Status status;
        std::size_t bytes;
    };

    virtual ~InputPort() = default;
    virtual Peek peek() = 0;
    // Returns the number of bytes read, or a negative value when the read failed.
    virtual std::ptrdiff_t read(char* buffer, std::size_t size) = 0;
};

// What the writer needs from standard output: a blocking write that another
// thread can cancel.
class OutputPort {
public:
    virtual ~OutputPort() = default;
    // Returns the number of bytes written; zero or negative means the write failed.
    virtual std::ptrdiff_t write(const char* data, std::size_t size) = 0;
    // Called from another thread: the write in progress, and every later one, fails.
    virtual void cancelWrite() = 0;
};

}  // namespace native_worker::platform
