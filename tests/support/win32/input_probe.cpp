// A window covering the primary monitor that reports, one JSON object per
// line on standard output, the input Windows delivers to it: keys with their
// scan code and extended flag as lParam carries them, characters, buttons,
// the wheel and pointer moves. The end-to-end tests drive a Windows worker
// and compare what reached this window with what the controller sent.
//
//     wine64 kelvarn-input-probe.exe      prints {"event":"ready",...} first
#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace {

void report(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void reportKey(const char* event, WPARAM wParam, LPARAM lParam) {
    report(R"({"event":"%s","vk":%u,"scan":%u,"extended":%s})", event, static_cast<unsigned>(wParam),
           static_cast<unsigned>((lParam >> 16) & 0xff), (lParam >> 24) & 1 ? "true" : "false");
}

void reportButton(const char* button, bool down, LPARAM lParam) {
    report(R"({"event":"button","button":"%s","down":%s,"x":%d,"y":%d})", button, down ? "true" : "false",
           static_cast<int>(static_cast<short>(LOWORD(lParam))), static_cast<int>(static_cast<short>(HIWORD(lParam))));
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            reportKey("keydown", wParam, lParam);
            return 0;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            reportKey("keyup", wParam, lParam);
            return 0;
        case WM_CHAR:
            report(R"({"event":"char","unit":%u})", static_cast<unsigned>(wParam));
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
            reportButton("left", message == WM_LBUTTONDOWN, lParam);
            return 0;
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
            reportButton("right", message == WM_RBUTTONDOWN, lParam);
            return 0;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
            reportButton("middle", message == WM_MBUTTONDOWN, lParam);
            return 0;
        case WM_MOUSEWHEEL:
        case WM_MOUSEHWHEEL:
            report(R"({"event":"wheel","horizontal":%s,"delta":%d})", message == WM_MOUSEHWHEEL ? "true" : "false",
                   static_cast<int>(GET_WHEEL_DELTA_WPARAM(wParam)));
            return 0;
        case WM_MOUSEMOVE:
            report(R"({"event":"move","x":%d,"y":%d})", static_cast<int>(static_cast<short>(LOWORD(lParam))),
                   static_cast<int>(static_cast<short>(HIWORD(lParam))));
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int main() {
    // Physical pixels, as the worker maps its pointer.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"KelvarnInputProbe";
    if (!RegisterClassW(&windowClass)) return 1;
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    const HWND window = CreateWindowExW(WS_EX_TOPMOST, windowClass.lpszClassName, L"input probe", WS_POPUP | WS_VISIBLE,
                                        0, 0, width, height, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    SetForegroundWindow(window);
    SetFocus(window);
    UpdateWindow(window);
    report(R"({"event":"ready","width":%d,"height":%d})", width, height);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
