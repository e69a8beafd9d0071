#include "platform/standard_streams.h"

#include <windows.h>

#include <atomic>

namespace native_worker::platform {
namespace {

bool isPipe(DWORD which) {
    return GetFileType(GetStdHandle(which)) == FILE_TYPE_PIPE;
}

// The standard input handle is asked for at every call, as the host
// application's pipe may only be looked at, never held.
class Win32StandardInput final : public platform::InputPort {
public:
    Peek peek() override {
        DWORD available = 0;
        if (PeekNamedPipe(GetStdHandle(STD_INPUT_HANDLE), nullptr, 0, nullptr, &available, nullptr))
            return {Status::available, available};
        return {GetLastError() == ERROR_BROKEN_PIPE ? Status::brokenPipe : Status::failed, 0};
    }

    std::ptrdiff_t read(char* buffer, std::size_t size) override {
        DWORD got = 0;
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
        return static_cast<std::ptrdiff_t>(got);
    }
};

// Synchronous writes from the writer thread; another thread cancels a stuck
// one with CancelSynchronousIo on that thread.
class Win32StandardOutput final : public platform::OutputPort {
public:
    ~Win32StandardOutput() override {
        if (writer_) CloseHandle(writer_);
    }

    std::ptrdiff_t write(const char* data, std::size_t size) override {
        if (!writer_ && !DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &writer_,
                                         THREAD_TERMINATE, FALSE, 0))
            return -1;
        writing_.store(true);
        std::ptrdiff_t result = -1;
        DWORD written = 0;
        if (!cancelled_.load() &&
            WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data, static_cast<DWORD>(size), &written, nullptr))
            result = static_cast<std::ptrdiff_t>(written);
        writing_.store(false);
        return result;
    }

    void cancelWrite() override {
        cancelled_.store(true);
        // The writer may be between its check and the call; retry until the
        // call has been cancelled or the writer has left it.
        while (writing_.load()) {
            if (CancelSynchronousIo(writer_)) return;
            Sleep(1);
        }
    }

private:
    // Set by the first write: only the writer thread writes.
    HANDLE writer_ = nullptr;
    std::atomic<bool> writing_{false};
    std::atomic<bool> cancelled_{false};
};

}  // namespace

bool standardStreamsArePipes() {
    return isPipe(STD_INPUT_HANDLE) && isPipe(STD_OUTPUT_HANDLE);
}

std::unique_ptr<platform::InputPort> openStandardInput() {
    return std::make_unique<Win32StandardInput>();
}

std::unique_ptr<platform::OutputPort> openStandardOutput() {
    return std::make_unique<Win32StandardOutput>();
}

}  // namespace native_worker::platform
