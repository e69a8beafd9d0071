#include "transport/host_writer.h"

#include "base/clock.h"
#include "platform/process.h"

namespace native_worker::transport {

HostWriter::HostWriter(platform::OutputPort& output) : output_(output), thread_([this] { run(); }) {}

HostWriter::~HostWriter() {
    if (thread_.joinable()) stop();
}

void HostWriter::send(nlohmann::json message) {
    std::string line = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    line.push_back('\n');
    {
        std::lock_guard lock(mutex_);
        if (line.size() <= lineSizeBound && line.size() + queuedBytes_ <= queuedBytesBound &&
            queue_.size() < queuedLinesBound) {
            queuedBytes_ += line.size();
            queue_.push_back(std::move(line));
            wake_.notify_one();
            return;
        }
    }
    failed_.store(true);
}

void HostWriter::run() {
    platform::nameCurrentThread("host-writer");
    for (;;) {
        std::string line;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopRequested_ || !queue_.empty(); });
            if (queue_.empty()) return;
            line = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= line.size();
        }
        writeStartedAt_.store(monotonicMilliseconds());
        if (!writeWhole(line)) {
            failed_.store(true);
            return;
        }
        writeStartedAt_.store(0);
    }
}

bool HostWriter::writeWhole(const std::string& line) {
    std::size_t done = 0;
    while (done < line.size()) {
        const std::ptrdiff_t written = output_.write(line.data() + done, line.size() - done);
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

void HostWriter::stop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_one();
    const std::int64_t startedAt = writeStartedAt_.load();
    if (failed_.load() || (startedAt != 0 && monotonicMilliseconds() - startedAt > stallBeforeCancelMs))
        output_.cancelWrite();
    thread_.join();
}

}  // namespace native_worker::transport
