#include "virtual_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace native_worker::integration {
namespace {

std::string displayName;

// Xvfb writes the display number it chose to this descriptor once it accepts clients.
std::string readDisplayNumber(int descriptor) {
    std::string number;
    pollfd ready{descriptor, POLLIN, 0};
    for (int waited = 0; waited < 100; ++waited) {
        if (poll(&ready, 1, 100) <= 0) continue;
        char buffer[16];
        const ssize_t length = read(descriptor, buffer, sizeof buffer);
        if (length <= 0) break;
        number.append(buffer, static_cast<std::size_t>(length));
        if (number.find('\n') != std::string::npos) return number.substr(0, number.find('\n'));
    }
    return {};
}

}  // namespace

void VirtualDisplay::SetUp() {
    if (const char* display = std::getenv("DISPLAY"); display && *display) {
        displayName = display;
        return;
    }
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    server_ = fork();
    ASSERT_GE(server_, 0);
    if (server_ == 0) {
        // A test that crashes takes its server with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(channel[0]);
        if (const int quiet = open("/dev/null", O_WRONLY); quiet >= 0) {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        const std::string descriptor = std::to_string(channel[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", descriptor.c_str(), "-screen", "0", "1280x720x24", "-noreset", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(channel[1]);
    const std::string number = readDisplayNumber(channel[0]);
    close(channel[0]);
    if (number.empty()) TearDown();
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    displayName = ":" + number;
    setenv("DISPLAY", displayName.c_str(), 1);
}

void VirtualDisplay::TearDown() {
    if (server_ <= 0) return;
    kill(server_, SIGTERM);
    waitpid(server_, nullptr, 0);
    server_ = -1;
}

const std::string& VirtualDisplay::name() {
    return displayName;
}

}  // namespace native_worker::integration
