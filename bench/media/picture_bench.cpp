#include "picture_bench.h"

#include "desktop_frames.h"
#include "engine/gstreamer/gst_handles.h"
#include "engine/gstreamer/h264_encoder.h"
#include "engine/gstreamer/send_rate_adapter.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace native_worker::bench {
namespace {

using engine::gstreamer::CapsRef;
using engine::gstreamer::GstRef;

struct BufferRelease {
    void operator()(GstBuffer* buffer) const { gst_buffer_unref(buffer); }
};
using BufferRef = std::unique_ptr<GstBuffer, BufferRelease>;

constexpr int framesPerSecond = 30;
constexpr GstClockTime pullPatience = 10 * GST_SECOND;

// The engine's setting, and over it for reference: a key frame every ten
// seconds (the engine's until it sent them only when asked), and x264's own
// presets.
struct Setting {
    const char* name;
    const char* preset;
    std::uint32_t keyFrameInterval;  // 0: the engine's
};
constexpr Setting settings[] = {
    {"engine", nullptr, 0},        {"key frame/10 s", nullptr, 10 * framesPerSecond},
    {"superfast", "superfast", 0}, {"veryfast", "veryfast", 0},
    {"faster", "faster", 0},
};

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double threadCpuSeconds() {
    timespec time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

GstClockTime frameTime(int number) {
    return gst_util_uint64_scale(static_cast<guint64>(number), GST_SECOND, framesPerSecond);
}

struct Encoded {
    std::vector<BufferRef> frames;
    std::size_t bytes = 0;
    double cpuSeconds = 0;  // the encoder's threads, not this one
    double wallSeconds = 0;
};

// Which source picture the encoder gets as frame `number`.
using SourceOf = std::function<int(int number)>;
const SourceOf everyFrameNew = [](int number) { return number; };

std::optional<Encoded> encode(DesktopFrames& source, int frames, const Setting& setting, std::uint32_t kbps,
                              const SourceOf& sourceOf = everyFrameNew) {
    GstElement* encoder = engine::gstreamer::makeH264Encoder(engine::gstreamer::SendRateAdapter::frameSizeBoundMs);
    if (!encoder) return std::nullopt;
    if (setting.preset) gst_util_set_object_arg(G_OBJECT(encoder), "speed-preset", setting.preset);
    if (setting.keyFrameInterval) g_object_set(encoder, "key-int-max", setting.keyFrameInterval, nullptr);
    engine::gstreamer::setEncoderBitrate(encoder, kbps);
    GstRef<GstElement> pipeline(gst_pipeline_new(nullptr));
    GstElement* input = gst_element_factory_make("appsrc", nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* output = gst_element_factory_make("appsink", nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), input, encoder, filter, output, nullptr);
    const CapsRef raw(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT,
                                          source.width(), "height", G_TYPE_INT, source.height(), "framerate",
                                          GST_TYPE_FRACTION, framesPerSecond, 1, nullptr));
    const CapsRef h264(gst_caps_from_string("video/x-h264,profile=constrained-baseline,stream-format=byte-stream"));
    g_object_set(input, "caps", raw.get(), "format", GST_FORMAT_TIME, nullptr);
    g_object_set(filter, "caps", h264.get(), nullptr);
    g_object_set(output, "sync", FALSE, nullptr);
    if (!gst_element_link_many(input, encoder, filter, output, nullptr) ||
        gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return std::nullopt;
    Encoded encoded;
    for (int number = 0; number < frames; ++number) {
        const auto& picture = source.frame(sourceOf(number));
        GstBuffer* buffer = gst_buffer_new_memdup(picture.data(), picture.size());
        GST_BUFFER_PTS(buffer) = frameTime(number);
        GST_BUFFER_DURATION(buffer) = frameTime(1);
        // Frame by frame, as the engine feeds it: each frame is out before the next goes in.
        const double processBefore = processCpuSeconds(), threadBefore = threadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        gst_app_src_push_buffer(GST_APP_SRC(input), buffer);
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(output), pullPatience);
        encoded.wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        encoded.cpuSeconds += processCpuSeconds() - processBefore - (threadCpuSeconds() - threadBefore);
        if (!sample) break;
        GstBuffer* frame = gst_sample_get_buffer(sample);
        encoded.bytes += gst_buffer_get_size(frame);
        encoded.frames.emplace_back(gst_buffer_ref(frame));
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (encoded.frames.size() != static_cast<std::size_t>(frames)) return std::nullopt;
    return encoded;
}

double psnr(double squaredError, std::size_t pixels) {
    return 10 * std::log10(255.0 * 255.0 / std::max(squaredError / static_cast<double>(pixels), 1e-10));
}

struct Picture {
    double psnr;         // over all frames
    double settledPsnr;  // over the second half, when the first key frame is long past
};

// Each decoded frame's summed squared luma error against its source.
std::optional<std::vector<double>> frameErrors(DesktopFrames& source, const Encoded& encoded,
                                               const SourceOf& sourceOf = everyFrameNew) {
    GError* error = nullptr;
    GstRef<GstElement> pipeline(gst_parse_launch(
        "appsrc name=in format=time caps=\"video/x-h264,stream-format=byte-stream,alignment=au\" ! h264parse ! "
        "avdec_h264 ! videoconvert ! video/x-raw,format=I420 ! appsink name=out sync=false max-buffers=4",
        &error));
    if (error) {
        std::printf("picture: no decoder: %s\n", error->message);
        g_error_free(error);
        return std::nullopt;
    }
    const GstRef<GstElement> input(gst_bin_get_by_name(GST_BIN(pipeline.get()), "in"));
    const GstRef<GstElement> output(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    for (const auto& frame : encoded.frames)
        gst_app_src_push_buffer(GST_APP_SRC(input.get()), gst_buffer_ref(frame.get()));
    gst_app_src_end_of_stream(GST_APP_SRC(input.get()));
    std::vector<double> errors;
    while (errors.size() < encoded.frames.size()) {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(output.get()), pullPatience);
        if (!sample) break;
        GstVideoInfo info;
        GstVideoFrame frame;
        if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
            !gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
            gst_sample_unref(sample);
            break;
        }
        const auto& original = source.frame(sourceOf(static_cast<int>(errors.size())));
        const auto* decoded = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        double frameError = 0;
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) {
                const double difference = static_cast<double>(decoded[y * stride + x]) -
                                          original[static_cast<std::size_t>(y) * source.width() + x];
                frameError += difference * difference;
            }
        errors.push_back(frameError);
        gst_video_frame_unmap(&frame);
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (errors.empty() || errors.size() != encoded.frames.size()) return std::nullopt;
    return errors;
}

std::size_t pixelsOf(const DesktopFrames& source) {
    return static_cast<std::size_t>(source.width()) * source.height();
}

// Luma PSNR of the mean squared error, so a few bad frames count as they look:
// over all frames, and over the second half's.
Picture pictureOf(const std::vector<double>& errors, std::size_t framePixels) {
    const std::size_t half = errors.size() / 2;
    double all = 0, settled = 0;
    for (std::size_t number = 0; number < errors.size(); ++number) {
        all += errors[number];
        if (number >= half) settled += errors[number];
    }
    return Picture{psnr(all, framePixels * errors.size()), psnr(settled, framePixels * (errors.size() - half))};
}

// A picture left still after moving: the encoder sharpens it a step with each
// frame of it, whatever the time between them (x264's rate control here
// counts frames, not time), so frames at the capture rate and once a second
// differ only in how many come in a given time.
void stillAfterMoving(DesktopFrames& source, std::uint32_t kbps) {
    constexpr int moving = 2 * framesPerSecond, stillSeconds = 3;
    const SourceOf stopping = [](int number) { return std::min(number, moving - 1); };
    const auto encoded = encode(source, moving + stillSeconds * framesPerSecond, settings[0], kbps, stopping);
    const auto errors = encoded ? frameErrors(source, *encoded, stopping) : std::nullopt;
    if (!errors)
        return void(std::printf("picture %dx%d %u kbit/s still after moving: could not measure\n", source.width(),
                                source.height(), kbps));
    const auto after = [&](int frames) { return psnr((*errors)[moving - 1 + frames], pixelsOf(source)); };
    std::printf(
        "picture %dx%d %u kbit/s still after moving: Y-PSNR when it stops %.2f dB; 1 s later %.2f dB sent again at "
        "%d frames/s, %.2f dB once a second; 3 s later %.2f dB, %.2f dB\n",
        source.width(), source.height(), kbps, after(0), after(framesPerSecond), framesPerSecond, after(1),
        after(stillSeconds * framesPerSecond), after(stillSeconds));
    std::fflush(stdout);
}

}  // namespace

void picture(double seconds) {
    gst_init(nullptr, nullptr);
    const int frames = static_cast<int>(seconds * framesPerSecond);
    for (const auto& [width, height] : {std::pair{1280, 720}, std::pair{1920, 1080}}) {
        DesktopFrames source(width, height);
        for (const std::uint32_t kbps : {500U, 1000U, 2000U, 8000U}) {
            std::optional<Picture> base;
            double baseCpu = 0;
            for (const Setting& setting : settings) {
                const auto encoded = encode(source, frames, setting, kbps);
                const auto errors = encoded ? frameErrors(source, *encoded) : std::nullopt;
                const auto picture = errors ? std::optional(pictureOf(*errors, pixelsOf(source))) : std::nullopt;
                if (!picture) {
                    std::printf("picture %dx%d@%d %u kbit/s %s: could not measure\n", width, height, framesPerSecond,
                                kbps, setting.name);
                    continue;
                }
                const double cpuMs = encoded->cpuSeconds * 1000 / frames;
                if (!base) {
                    base = picture;
                    baseCpu = cpuMs;
                }
                std::printf(
                    "picture %dx%d@%d %u kbit/s %-14s: Y-PSNR %.2f dB (%+.2f), second half %.2f dB (%+.2f), sent %.0f "
                    "kbit/s, encoder %.2f ms CPU/frame (x%.2f), %.2f ms wall/frame\n",
                    width, height, framesPerSecond, kbps, setting.name, picture->psnr, picture->psnr - base->psnr,
                    picture->settledPsnr, picture->settledPsnr - base->settledPsnr,
                    static_cast<double>(encoded->bytes) * 8 * framesPerSecond / frames / 1000, cpuMs,
                    baseCpu > 0 ? cpuMs / baseCpu : 0, encoded->wallSeconds * 1000 / frames);
                std::fflush(stdout);
            }
            stillAfterMoving(source, kbps);
        }
    }
}

}  // namespace native_worker::bench
