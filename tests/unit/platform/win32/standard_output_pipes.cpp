#include "standard_output_pipes.h"

#include <stdexcept>
#include <utility>

namespace native_worker::testing {

AnonymousPipeOutput::AnonymousPipeOutput(std::size_t capacity) : saved_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    if (!CreatePipe(&read_, &write_, nullptr, static_cast<DWORD>(capacity))) throw std::runtime_error("CreatePipe");
    SetStdHandle(STD_OUTPUT_HANDLE, write_);
}

AnonymousPipeOutput::~AnonymousPipeOutput() {
    SetStdHandle(STD_OUTPUT_HANDLE, saved_);
    closeReader();
    CloseHandle(write_);
}

std::string AnonymousPipeOutput::drain() {
    std::string got;
    char buffer[65536];
    DWORD available = 0;
    DWORD count = 0;
    while (read_ && PeekNamedPipe(read_, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ReadFile(read_, buffer, sizeof buffer, &count, nullptr) && count > 0)
        got.append(buffer, count);
    return got;
}

void AnonymousPipeOutput::closeReader() {
    if (read_) CloseHandle(std::exchange(read_, nullptr));
}

}  // namespace native_worker::testing
