#include "engine/gstreamer/capture/changed_blocks.h"
#include "engine/gstreamer/capture/changed_parts.h"
#include "engine/gstreamer/capture/screen_grabber.h"
#include "engine/gstreamer/capture/wake_signal.h"

#include <windows.h>

#include <array>
#include <chrono>

namespace native_worker::engine::gstreamer {
namespace {

// GDI reads the desktop as it is composed: BitBlt from the screen into one of
// two DIB sections in turn, and comparing the two by blocks tells what
// changed, since GDI reports no changes. A grab of the whole area costs a few
// milliseconds; the encoder sees only what changed, and a still screen
// nothing at all.
class GdiScreenGrabber final : public ScreenGrabber {
public:
    static std::unique_ptr<GdiScreenGrabber> open(const platform::Rect& area) {
        std::unique_ptr<GdiScreenGrabber> grabber(new GdiScreenGrabber(area));
        if (!grabber->screen_ || !grabber->memory_) return nullptr;
        for (auto& picture : grabber->pictures_)
            if (!grabber->createPicture(picture)) return nullptr;
        // The first look proves the area can be read.
        if (!grabber->changes(true)) return nullptr;
        return grabber;
    }

    ~GdiScreenGrabber() override {
        if (memory_) {
            SelectObject(memory_, initialBitmap_);
            DeleteDC(memory_);
        }
        for (const auto& picture : pictures_)
            if (picture.bitmap) DeleteObject(picture.bitmap);
        if (screen_) ReleaseDC(nullptr, screen_);
    }

    GdiScreenGrabber(const GdiScreenGrabber&) = delete;
    GdiScreenGrabber& operator=(const GdiScreenGrabber&) = delete;

    // A DIB section's 32-bit pixels are blue, green, red, unused in memory.
    GstVideoFormat format() const override { return GST_VIDEO_FORMAT_BGRx; }
    bool lost() const override { return false; }
    bool mayHaveChanged() override { return true; }

    std::optional<std::vector<platform::Rect>> changes(bool whole) override {
        current_ ^= 1;
        SelectObject(memory_, pictures_[current_].bitmap);
        if (!BitBlt(memory_, 0, 0, width_, height_, screen_, area_.left, area_.top, SRCCOPY | CAPTUREBLT))
            return std::nullopt;
        // Drawing may still be queued: the pixels are read next.
        GdiFlush();
        const platform::Rect all{0, 0, width_, height_};
        if (whole) return std::vector<platform::Rect>{all};
        return changedParts(changedBlocks(pictures_[current_ ^ 1].pixels, pictures_[current_].pixels, width_,
                                          height_, stride()),
                            all);
    }

    std::optional<Pixels> pixels(const platform::Rect& part) override {
        const std::size_t offset = static_cast<std::size_t>(part.top) * static_cast<std::size_t>(stride()) +
                                   static_cast<std::size_t>(part.left) * 4;
        return Pixels{pictures_[current_].pixels + offset, stride()};
    }

    void wait(std::chrono::nanoseconds timeout, WakeSignal& wake) override {
        const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
        WaitForSingleObject(reinterpret_cast<HANDLE>(wake.handle()), static_cast<DWORD>(milliseconds));
    }

private:
    struct Picture {
        HBITMAP bitmap = nullptr;
        std::uint8_t* pixels = nullptr;
    };

    explicit GdiScreenGrabber(const platform::Rect& area)
        : area_(area),
          width_(area.right - area.left),
          height_(area.bottom - area.top),
          screen_(GetDC(nullptr)),
          memory_(screen_ ? CreateCompatibleDC(screen_) : nullptr) {}

    std::int32_t stride() const { return width_ * 4; }

    bool createPicture(Picture& picture) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;  // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        picture.bitmap = CreateDIBSection(screen_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        picture.pixels = static_cast<std::uint8_t*>(bits);
        if (!picture.bitmap || !bits) return false;
        const HGDIOBJ previous = SelectObject(memory_, picture.bitmap);
        if (!initialBitmap_) initialBitmap_ = previous;
        return true;
    }

    const platform::Rect area_;
    const std::int32_t width_;
    const std::int32_t height_;
    const HDC screen_;
    const HDC memory_;
    HGDIOBJ initialBitmap_ = nullptr;
    std::array<Picture, 2> pictures_{};
    std::size_t current_ = 0;
};

bool insideVirtualScreen(const platform::Rect& area) {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return area.left >= left && area.top >= top && area.right <= left + GetSystemMetrics(SM_CXVIRTUALSCREEN) &&
           area.bottom <= top + GetSystemMetrics(SM_CYVIRTUALSCREEN) && area.left < area.right &&
           area.top < area.bottom;
}

}  // namespace

std::unique_ptr<ScreenGrabber> openScreenGrabber(const platform::Rect& area) {
    if (!insideVirtualScreen(area)) return nullptr;
    return GdiScreenGrabber::open(area);
}

}  // namespace native_worker::engine::gstreamer
