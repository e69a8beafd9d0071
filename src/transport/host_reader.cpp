#include "transport/host_reader.h"

#include "base/error_codes.h"
#include "base/protocol_error.h"

#include <algorithm>
#include <cstring>

namespace native_worker::transport {

void HostReader::readAvailable() {
    for (int attempt = 0; attempt < readAttemptsPerPass; ++attempt) {
        const platform::InputPort::Peek peek = input_.peek();
        if (peek.status == platform::InputPort::Status::brokenPipe) {
            if (!partialLine_.empty()) throw ProtocolError(codes::invalidMessage);
            endOfInput_ = true;
            return;
        }
        if (peek.status == platform::InputPort::Status::failed) throw ProtocolError(codes::invalidMessage);
        if (peek.bytes == 0) return;

        char buffer[chunkSize];
        const std::ptrdiff_t got = input_.read(buffer, std::min(peek.bytes, chunkSize));
        if (got < 0) throw ProtocolError(codes::invalidMessage);
        take(buffer, static_cast<std::size_t>(got));
    }
}

void HostReader::take(const char* bytes, std::size_t count) {
    const char* const end = bytes + count;
    while (bytes != end) {
        const char* const newline = static_cast<const char*>(std::memchr(bytes, '\n', end - bytes));
        const char* const stop = newline ? newline : end;
        const std::size_t room = lineSizeBound - partialLine_.size();
        const std::size_t run = static_cast<std::size_t>(stop - bytes);
        if (run > room) throw ProtocolError(codes::messageTooLarge);
        partialLine_.append(bytes, run);
        if (!newline) return;
        if (!partialLine_.empty() && partialLine_.back() == '\r') partialLine_.pop_back();
        if (lines_.size() >= lineQueueBound) throw ProtocolError(codes::queueOverflow);
        lines_.push_back(std::move(partialLine_));
        partialLine_.clear();
        bytes = newline + 1;
    }
}

}  // namespace native_worker::transport
