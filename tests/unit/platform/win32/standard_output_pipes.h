#pragma once

// Standard output replaced, for the life of the object, by the write end of
// an anonymous pipe as CreatePipe makes it; the test reads the other end.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace native_worker::testing {

class AnonymousPipeOutput {
public:
    // A pipe holding about `capacity` bytes (0: the system's default).
    explicit AnonymousPipeOutput(std::size_t capacity);
    ~AnonymousPipeOutput();
    AnonymousPipeOutput(const AnonymousPipeOutput&) = delete;
    AnonymousPipeOutput& operator=(const AnonymousPipeOutput&) = delete;

    // What has arrived so far, without waiting.
    std::string drain();
    void closeReader();

private:
    HANDLE saved_;
    HANDLE read_ = nullptr;
    HANDLE write_ = nullptr;
};

using StandardOutputPipes = ::testing::Types<AnonymousPipeOutput>;

}  // namespace native_worker::testing
