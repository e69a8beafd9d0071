#include "platform/display_services.h"

#include <windows.h>

namespace native_worker::platform {
namespace {

// Device names are compared with ids widened byte by byte, so a unit above
// 0xFF can match no id: such a name is left empty, which matches none either.
std::string narrowDeviceName(const WCHAR* name) {
    std::string narrow;
    for (; *name != L'\0'; ++name) {
        if (*name > 0xFF) return {};
        narrow.push_back(static_cast<char>(*name));
    }
    return narrow;
}

std::optional<Monitor> describe(HMONITOR handle) {
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    if (!handle || !GetMonitorInfoW(handle, &info)) return std::nullopt;
    Monitor monitor;
    monitor.handle = reinterpret_cast<std::uintptr_t>(handle);
    monitor.rect = {info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right, info.rcMonitor.bottom};
    monitor.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
    monitor.deviceName = narrowDeviceName(info.szDevice);
    return monitor;
}

BOOL CALLBACK collectMonitor(HMONITOR handle, HDC, LPRECT, LPARAM found) {
    reinterpret_cast<std::vector<HMONITOR>*>(found)->push_back(handle);
    return TRUE;
}

class Win32DisplayServices final : public DisplayServices {
public:
    // The result is ignored: older systems keep their own awareness.
    void enableDpiAwareness() override { SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2); }

    std::vector<Monitor> monitors() override {
        std::vector<HMONITOR> handles;
        EnumDisplayMonitors(nullptr, nullptr, collectMonitor, reinterpret_cast<LPARAM>(&handles));
        std::vector<Monitor> result;
        for (HMONITOR handle : handles)
            if (auto monitor = describe(handle)) result.push_back(std::move(*monitor));
        return result;
    }

    std::optional<Monitor> monitorInfo(std::uint64_t handle) override {
        return describe(reinterpret_cast<HMONITOR>(static_cast<std::uintptr_t>(handle)));
    }

    Rect virtualScreen() override {
        const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
        const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
        return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    }
};

}  // namespace

std::unique_ptr<DisplayServices> createSystemDisplayServices() {
    return std::make_unique<Win32DisplayServices>();
}

}  // namespace native_worker::platform
