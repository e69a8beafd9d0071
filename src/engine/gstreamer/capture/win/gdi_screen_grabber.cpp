#include "engine/gstreamer/capture/changed_blocks.h"
#include "engine/gstreamer/capture/changed_parts.h"
#include "engine/gstreamer/capture/screen_grabber.h"
#include "engine/gstreamer/capture/wake_signal.h"

#include <windows.h>

#include <array>
#include <chrono>
#include <utility>

namespace native_worker::engine::gstreamer {
namespace {

// The pointer as GDI tells it: which cursor, and the rectangle it covers in
// the area's coordinates; no cursor while it is hidden.
struct PointerPlace {
    HCURSOR cursor = nullptr;
    platform::Rect place;

    bool operator==(const PointerPlace&) const = default;
};

PointerPlace pointerIn(const platform::Rect& area) {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    ICONINFO icon{};
    if (!GetCursorInfo(&info) || !(info.flags & CURSOR_SHOWING) || !info.hCursor || !GetIconInfo(info.hCursor, &icon))
        return {};
    // A monochrome cursor's mask holds its AND and XOR halves one above the other.
    BITMAP bitmap{};
    GetObject(icon.hbmColor ? icon.hbmColor : icon.hbmMask, sizeof bitmap, &bitmap);
    const LONG height = icon.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    if (icon.hbmColor) DeleteObject(icon.hbmColor);
    if (icon.hbmMask) DeleteObject(icon.hbmMask);
    const std::int32_t left = info.ptScreenPos.x - static_cast<std::int32_t>(icon.xHotspot) - area.left;
    const std::int32_t top = info.ptScreenPos.y - static_cast<std::int32_t>(icon.yHotspot) - area.top;
    return {info.hCursor, {left, top, left + bitmap.bmWidth, top + height}};
}

bool overlaps(const platform::Rect& a, const platform::Rect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// GDI reads the desktop as it is composed: BitBlt from the screen into one of
// two DIB sections in turn, and comparing the two by blocks tells what
// changed, since GDI reports no changes. A grab of the whole area costs a few
// milliseconds; the encoder sees only what changed, and a still screen
// nothing at all. The pointer, which BitBlt leaves out, is drawn over a copy
// of what is handed on (DrawIconEx), so that the comparison sees the desktop
// alone; where it was and is counts as changed whenever it moves or changes.
class GdiScreenGrabber final : public ScreenGrabber {
public:
    static std::unique_ptr<GdiScreenGrabber> open(const platform::Rect& area) {
        std::unique_ptr<GdiScreenGrabber> grabber(new GdiScreenGrabber(area));
        if (!grabber->screen_ || !grabber->memory_ || !grabber->composedDc_) return nullptr;
        for (auto* picture : {&grabber->pictures_[0], &grabber->pictures_[1], &grabber->composed_})
            if (!grabber->createPicture(*picture)) return nullptr;
        grabber->initialBitmap_ = SelectObject(grabber->memory_, grabber->pictures_[0].bitmap);
        grabber->initialComposedBitmap_ = SelectObject(grabber->composedDc_, grabber->composed_.bitmap);
        // The first look proves the area can be read.
        if (!grabber->changes(true)) return nullptr;
        return grabber;
    }

    ~GdiScreenGrabber() override {
        if (memory_) {
            if (initialBitmap_) SelectObject(memory_, initialBitmap_);
            DeleteDC(memory_);
        }
        if (composedDc_) {
            if (initialComposedBitmap_) SelectObject(composedDc_, initialComposedBitmap_);
            DeleteDC(composedDc_);
        }
        for (const auto& picture : pictures_)
            if (picture.bitmap) DeleteObject(picture.bitmap);
        if (composed_.bitmap) DeleteObject(composed_.bitmap);
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
        const PointerPlace pointer = pointerIn(area_);
        const PointerPlace drawn = std::exchange(pointer_, pointer);
        if (whole) return std::vector<platform::Rect>{all};
        auto changed =
            changedBlocks(pictures_[current_ ^ 1].pixels, pictures_[current_].pixels, width_, height_, stride());
        if (pointer != drawn) {
            changed.push_back(drawn.place);
            changed.push_back(pointer.place);
        }
        return changedParts(changed, all);
    }

    std::optional<Pixels> pixels(const platform::Rect& part) override {
        const Picture* picture = &pictures_[current_];
        if (pointer_.cursor && overlaps(pointer_.place, part)) {
            const int width = part.right - part.left;
            const int height = part.bottom - part.top;
            if (!BitBlt(composedDc_, part.left, part.top, width, height, memory_, part.left, part.top, SRCCOPY) ||
                !DrawIconEx(composedDc_, pointer_.place.left, pointer_.place.top, pointer_.cursor, 0, 0, 0, nullptr,
                            DI_NORMAL))
                return std::nullopt;
            GdiFlush();
            picture = &composed_;
        }
        const std::size_t offset = static_cast<std::size_t>(part.top) * static_cast<std::size_t>(stride()) +
                                   static_cast<std::size_t>(part.left) * 4;
        return Pixels{picture->pixels + offset, stride()};
    }

    void wait(std::chrono::nanoseconds timeout, WakeSignal& wake) override {
        const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
        WaitForSingleObject(reinterpret_cast<HANDLE>(wake.handle()), static_cast<DWORD>(milliseconds));
    }

    // GDI calls return on their own; the stop's wake-up is enough.
    void cutOff() override {}

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
          memory_(screen_ ? CreateCompatibleDC(screen_) : nullptr),
          composedDc_(screen_ ? CreateCompatibleDC(screen_) : nullptr) {}

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
        return picture.bitmap && bits;
    }

    const platform::Rect area_;
    const std::int32_t width_;
    const std::int32_t height_;
    const HDC screen_;
    const HDC memory_;
    // Holds the copy the pointer is drawn on.
    const HDC composedDc_;
    HGDIOBJ initialBitmap_ = nullptr;
    HGDIOBJ initialComposedBitmap_ = nullptr;
    std::array<Picture, 2> pictures_{};
    Picture composed_{};
    std::size_t current_ = 0;
    // Where the pointer was drawn in what was last handed on.
    PointerPlace pointer_;
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
