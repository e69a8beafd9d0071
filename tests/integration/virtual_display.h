#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <string>

namespace native_worker::integration {

// The X display the tests capture: the caller's DISPLAY when it is set,
// otherwise a private Xvfb (1280x720, -noreset so that the server keeps its
// state between clients) on a number the server picks itself, exported as
// DISPLAY for the tests and the workers they start.
class VirtualDisplay final : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;

    static const std::string& name();

private:
    pid_t server_ = -1;
};

}  // namespace native_worker::integration
