#include "media/displays.h"

#include "base/error_codes.h"
#include "base/protocol_error.h"

#include <cerrno>
#include <cstdlib>

namespace native_worker {
namespace {

constexpr std::size_t maximumIdBytes = 32;
constexpr std::uint64_t highestDisplayNumber = 64;
constexpr char devicePrefix[] = "\\\\.\\";

std::optional<std::uint64_t> findMonitor(platform::DisplayServices& displays, const auto& matches) {
    for (const auto& monitor : displays.monitors())
        if (matches(monitor)) return monitor.handle;
    return std::nullopt;
}

std::optional<std::uint64_t> primaryOrFirstMonitor(platform::DisplayServices& displays) {
    if (auto primary = findMonitor(displays, [](const platform::Monitor& m) { return m.primary; })) return primary;
    return findMonitor(displays, [](const platform::Monitor&) { return true; });
}

std::optional<std::uint64_t> monitorByDevice(platform::DisplayServices& displays, const std::string& name) {
    return findMonitor(displays, [&name](const platform::Monitor& m) { return m.deviceName == name; });
}

bool isEmpty(const platform::Rect& rect) {
    return rect.right <= rect.left || rect.bottom <= rect.top;
}

nlohmann::json displayEntry(const std::string& id, const platform::Rect& rect, bool primary) {
    const std::int64_t width = static_cast<std::int64_t>(rect.right) - rect.left;
    const std::int64_t height = static_cast<std::int64_t>(rect.bottom) - rect.top;
    return {{"id", id},
            {"frameX", rect.left},
            {"frameY", rect.top},
            {"frameWidth", width},
            {"frameHeight", height},
            {"pixelWidth", width},
            {"pixelHeight", height},
            {"isMain", primary}};
}

}  // namespace

std::optional<std::uint64_t> resolveMonitor(platform::DisplayServices& displays, const std::string& id) {
    if (id.empty() || id.size() > maximumIdBytes) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(id.c_str(), &end, 0);
    const bool parsed = end != id.c_str() && errno != ERANGE;
    if (parsed) {
        if (*end != '\0') return std::nullopt;
        std::optional<std::uint64_t> found;
        if (value == 0)
            found = primaryOrFirstMonitor(displays);
        else if (value <= highestDisplayNumber)
            found = monitorByDevice(displays, std::string(devicePrefix) + "DISPLAY" + std::to_string(value));
        if (found) return found;
        if (value != 0 && displays.monitorInfo(value)) return value;
    }
    if (id.rfind(devicePrefix, 0) == 0) return monitorByDevice(displays, id);
    return std::nullopt;
}

DisplayList buildDisplayList(platform::DisplayServices& displays, engine::SourceList* sources) {
    if (sources == nullptr) throw ProtocolError(codes::captureUnavailable);
    DisplayList list;
    for (std::int32_t i = 0; i < sources->count(); ++i) {
        const auto source = sources->source(i);
        if (!source) continue;
        const std::string id = source->id();
        const auto handle = resolveMonitor(displays, id);
        const auto monitor = handle ? displays.monitorInfo(*handle) : std::nullopt;
        if (!monitor) continue;
        list.entries.push_back(displayEntry(id, monitor->rect, monitor->primary));
        if (i == 0) list.capturedMonitor = *handle;
    }
    if (list.entries.empty() && sources->count() >= 1) {
        if (const auto first = sources->source(0)) {
            if (list.capturedMonitor == 0) list.capturedMonitor = primaryOrFirstMonitor(displays).value_or(0);
            const platform::Rect desktop = displays.virtualScreen();
            if (!isEmpty(desktop)) list.entries.push_back(displayEntry(first->id(), desktop, true));
        }
    }
    if (list.entries.empty()) throw ProtocolError(codes::captureUnavailable);
    return list;
}

CaptureTarget recordCaptureTarget(platform::DisplayServices& displays, const std::string& sourceId,
                                  std::uint64_t capturedMonitor) {
    const platform::Rect desktop = displays.virtualScreen();
    platform::Rect display = desktop;
    if (capturedMonitor != 0)
        if (const auto monitor = displays.monitorInfo(capturedMonitor)) display = monitor->rect;
    if (isEmpty(display) || isEmpty(desktop)) throw ProtocolError(codes::captureUnavailable);
    const auto width = [](const platform::Rect& r) { return static_cast<double>(r.right) - r.left; };
    const auto height = [](const platform::Rect& r) { return static_cast<double>(r.bottom) - r.top; };
    CaptureTarget target;
    target.display = {sourceId,        double(display.left), double(display.top), width(display),
                      height(display), width(display),       height(display)};
    target.desktop = {double(desktop.left), double(desktop.top), width(desktop), height(desktop)};
    return target;
}

}  // namespace native_worker
