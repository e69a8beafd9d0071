#include "engine/congestion/delay_based_rate.h"
#include "engine/congestion/pacer.h"
#include "engine/congestion/send_rate_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <random>
#include <vector>

namespace native_worker::congestion {
namespace {

constexpr RateBounds bounds{32'000, 1'800'000, 20'000'000};

// What a run of the link delivered of the video, and of a download beside it.
struct Period {
    std::vector<std::int64_t> queueDelays;  // of each delivered packet
    int sent = 0;
    int lost = 0;
    int frames = 0;
    int wholeFrames = 0;  // none of their packets lost
    std::int64_t deliveredBytes = 0;
    std::int64_t downloadBytes = 0;
    std::int64_t durationUs = 0;

    double lossShare() const { return sent ? static_cast<double>(lost) / sent : 0; }
    double deliveredBps() const { return bps(deliveredBytes); }
    double downloadBps() const { return bps(downloadBytes); }
    double bps(std::int64_t bytes) const { return static_cast<double>(bytes) * 8e6 / static_cast<double>(durationUs); }
};

// A TCP Reno download: segments in flight up to its window, which grows by
// one segment a round trip and halves when one is lost.
class RenoDownload {
public:
    // A window far above the path's makes a slow start that overshoots.
    explicit RenoDownload(double window = 10) : window_(window) {}

    // Runs until `untilUs`; `enqueue(atUs, bytes)` says when a segment leaves
    // the bottleneck, or that it did not fit.
    template <typename Enqueue>
    std::int64_t runUntil(std::int64_t untilUs, Enqueue enqueue) {
        std::int64_t deliveredBytes = 0;
        for (; nowUs_ < untilUs; nowUs_ += 1'000) {
            for (; !acks_.empty() && acks_.front().atUs <= nowUs_; acks_.pop_front()) {
                --inFlight_;
                if (acks_.front().delivered) {
                    deliveredBytes += segmentBytes;
                    window_ += window_ < slowStartEnd_ ? 1 : 1 / window_;
                } else if (acks_.front().atUs >= recoveredAtUs_) {
                    slowStartEnd_ = window_ = std::max(2.0, window_ / 2);
                    recoveredAtUs_ = nowUs_ + lastRoundTripUs_;
                }
            }
            for (; inFlight_ < window_; ++inFlight_) {
                const auto leaves = enqueue(nowUs_, segmentBytes);
                // A lost segment is noticed when the next ones are acknowledged.
                const std::int64_t ackedAtUs = std::max(leaves.value_or(0), lastLeavesUs_) + ackReturnUs;
                lastLeavesUs_ = std::max(lastLeavesUs_, leaves.value_or(0));
                lastRoundTripUs_ = ackedAtUs - nowUs_;
                acks_.push_back({ackedAtUs, leaves.has_value()});
            }
        }
        return deliveredBytes;
    }

private:
    struct Ack {
        std::int64_t atUs;
        bool delivered;
    };
    static constexpr std::uint32_t segmentBytes = 1500;
    static constexpr std::int64_t ackReturnUs = 20'000;

    std::int64_t nowUs_ = 0;
    double window_;
    double slowStartEnd_ = 1e9;
    double inFlight_ = 0;
    std::int64_t recoveredAtUs_ = 0;
    std::int64_t lastLeavesUs_ = 0;
    std::int64_t lastRoundTripUs_ = 0;
    std::deque<Ack> acks_;
};

// A bottleneck with a FIFO buffer: frames of the controller's current size go
// in 30 times a second, the receiver's feedback comes back 16 times a second.
// Like a real receiver, it reports packets only up to the last one it got:
// while nothing arrives, nothing is reported. A still screen sends one small
// frame a second, whatever the rate. The link may also drop a share of the
// packets at random, before its buffer, carry a download beside the video, and
// hold a frame's first packet back until after the next frame now and then.
// Frames may come fewer a second, and their packets may leave paced. Like the
// real sender, it sends the probes the controller asks for: copies of its
// last packet at the probe's rate.
class BottleneckLink {
public:
    BottleneckLink(std::int64_t capacityBps, std::int64_t bufferUs) : capacityBps_(capacityBps), bufferUs_(bufferUs) {}

    void setCapacity(std::int64_t bps) { capacityBps_ = bps; }
    void setBuffer(std::int64_t us) { bufferUs_ = us; }
    // A still screen sends a small frame once a second, or, where a clock
    // ticks on it, as often as `everyUs`.
    void setStill(bool still, std::int64_t everyUs = 1'000'000) {
        still_ = still;
        stillFrameEveryUs_ = everyUs;
    }
    void setLoss(double share) { dropBelow_ = static_cast<std::uint_fast32_t>(share * std::minstd_rand::max()); }
    void startDownload(double window = 10) { download_.emplace(window); }
    void setStragglerEveryFrames(int frames) { stragglerEveryFrames_ = frames; }
    void setFramesPerSecond(int fps) { framesPerSecond_ = fps; }
    void pace() { paced_ = true; }
    // The share of its rate the encoder sends.
    void setEncoderShare(double share) { encoderShare_ = share; }

    Period run(SendRateController& controller, std::int64_t durationUs) {
        Period period;
        const std::int64_t startUs = nowUs_;
        for (const std::int64_t end = nowUs_ + durationUs; nowUs_ < end; nowUs_ += 1'000'000 / framesPerSecond_) {
            if (download_) {
                period.downloadBytes += download_->runUntil(
                    nowUs_, [this](std::int64_t atUs, std::uint32_t bytes) { return enqueue(atUs, bytes); });
            }
            pacer_.setRate(controller.pacingBps());
            if (!still_) {
                budgetBytes_ += static_cast<std::int64_t>(encoderShare_ * static_cast<double>(controller.targetBps())) /
                                8 / framesPerSecond_;
                std::int64_t heldBackUs = stragglerEveryFrames_ && ++frames_ % stragglerEveryFrames_ == 0 ? 80'000 : 0;
                const int lostBefore = period.lost;
                for (; budgetBytes_ >= packetBytes; budgetBytes_ -= packetBytes, heldBackUs = 0)
                    send(packetBytes, period, heldBackUs);
                ++period.frames;
                period.wholeFrames += period.lost == lostBefore;
            } else if (nowUs_ - lastStillFrameUs_ >= stillFrameEveryUs_) {
                send(stillFrameBytes, period);
                lastStillFrameUs_ = nowUs_;
            }
            if (nowUs_ - lastFeedbackUs_ >= feedbackUs) {
                report(controller);
                lastFeedbackUs_ = nowUs_;
                if (const auto probeBps = controller.startProbe(nowUs_)) sendProbe(*probeBps, period);
            }
        }
        period.durationUs = nowUs_ - startUs;
        return period;
    }

private:
    // When a packet entering the buffer at `atUs` leaves it, if it fits.
    std::optional<std::int64_t> enqueue(std::int64_t atUs, std::uint32_t bytes) {
        const std::int64_t queuedUntil = std::max(freeAtUs_, atUs);
        if (queuedUntil - atUs > bufferUs_) return std::nullopt;
        freeAtUs_ = queuedUntil + std::int64_t{bytes} * 8 * 1'000'000 / capacityBps_;
        return freeAtUs_;
    }

    void sendProbe(std::int64_t bps, Period& period) {
        const std::int64_t spacingUs = std::int64_t{packetBytes} * 8 * 1'000'000 / bps;
        for (int copy = 0; copy < RateProbe::packetsToMeasure; ++copy)
            send(packetBytes, period, 0, nowUs_ + copy * spacingUs);
    }

    void send(std::uint32_t bytes, Period& period, std::int64_t heldBackUs = 0,
              std::optional<std::int64_t> copySentUs = std::nullopt) {
        const std::int64_t sentUs = copySentUs ? *copySentUs : paced_ ? pacer_.departureUs(bytes, nowUs_) : nowUs_;
        PacketFeedback packet{sentUs, std::nullopt, bytes, copySentUs.has_value()};
        ++period.sent;
        if (random_() >= dropBelow_) packet.arrivalTimeUs = enqueue(sentUs, bytes);
        if (packet.arrivalTimeUs) {
            period.queueDelays.push_back(*packet.arrivalTimeUs - nowUs_);
            period.deliveredBytes += bytes;
            *packet.arrivalTimeUs += heldBackUs;
        } else {
            ++period.lost;
        }
        inFlight_.push_back(packet);
    }

    void report(SendRateController& controller) {
        const auto arrived = [this](const PacketFeedback& packet) {
            return packet.arrivalTimeUs && *packet.arrivalTimeUs <= nowUs_;
        };
        const auto last = std::find_if(inFlight_.rbegin(), inFlight_.rend(), arrived);
        if (last == inFlight_.rend()) return;
        std::vector<PacketFeedback> packets(inFlight_.begin(), last.base());
        inFlight_.erase(inFlight_.begin(), last.base());
        for (PacketFeedback& packet : packets)
            if (packet.arrivalTimeUs) *packet.arrivalTimeUs += remoteClockOffsetUs;
        controller.onTransportFeedback(packets, nowUs_);
    }

    static constexpr std::int64_t feedbackUs = 62'500;
    static constexpr std::uint32_t packetBytes = 1200;
    static constexpr std::uint32_t stillFrameBytes = 300;
    static constexpr std::int64_t remoteClockOffsetUs = 987'654'321;

    std::int64_t capacityBps_;
    std::int64_t bufferUs_;
    bool still_ = false;
    std::int64_t stillFrameEveryUs_ = 1'000'000;
    std::minstd_rand random_;
    std::uint_fast32_t dropBelow_ = 0;
    std::optional<RenoDownload> download_;
    int stragglerEveryFrames_ = 0;
    int framesPerSecond_ = 30;
    bool paced_ = false;  // unpaced, a frame's packets leave at once
    double encoderShare_ = 1;
    Pacer pacer_{1};
    std::int64_t frames_ = 0;
    std::int64_t nowUs_ = 0;
    std::int64_t freeAtUs_ = 0;
    std::int64_t lastFeedbackUs_ = 0;
    std::int64_t lastStillFrameUs_ = -1'000'000;
    std::int64_t budgetBytes_ = 0;
    std::deque<PacketFeedback> inFlight_;
};

std::int64_t percentile95(std::vector<std::int64_t> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() * 95 / 100];
}

TEST(SendRateControl, SettlesBelowABottleneckAndKeepsItsQueueShort) {
    SendRateController controller(bounds);
    BottleneckLink link(1'000'000, 1'000'000);
    link.run(controller, 5'000'000);
    const auto settled = link.run(controller, 20'000'000).queueDelays;
    EXPECT_LT(controller.targetBps(), 1'000'000);
    EXPECT_GT(controller.targetBps(), 500'000);
    EXPECT_LT(percentile95(settled), 150'000);
}

// A packet that arrives after the next frame, once a second, is the path
// reordering, not a reason to stop watching the delay trend.
TEST(SendRateControl, KeepsItsQueueShortWhenThePathReorders) {
    SendRateController controller(bounds);
    BottleneckLink link(1'000'000, 1'000'000);
    link.setStragglerEveryFrames(30);
    link.run(controller, 10'000'000);
    EXPECT_LT(percentile95(link.run(controller, 50'000'000).queueDelays), 100'000);
}

// From a start that does not flood a slow link, a fast one is filled within
// seconds; neither half of the controller may hold the other back.
TEST(SendRateControl, ClimbsToAFastLinkWithinSeconds) {
    SendRateController controller({32'000, 900'000, 20'000'000});
    BottleneckLink link(50'000'000, 200'000);
    link.run(controller, 6'000'000);
    EXPECT_GT(controller.targetBps(), 5'000'000);
}

TEST(SendRateControl, FollowsACapacityStepDownAndClimbsBackWhenItReturns) {
    SendRateController controller(bounds);
    BottleneckLink link(4'000'000, 1'000'000);
    link.run(controller, 15'000'000);
    EXPECT_GT(controller.targetBps(), 2'500'000);
    link.setCapacity(1'000'000);
    link.run(controller, 5'000'000);
    EXPECT_LT(percentile95(link.run(controller, 10'000'000).queueDelays), 150'000);
    EXPECT_LT(controller.targetBps(), 1'000'000);
    link.setCapacity(4'000'000);
    link.run(controller, 30'000'000);
    EXPECT_GT(controller.targetBps(), 2'000'000);
}

// Seconds at 4 Mbit/s, then at 300 kbit/s (the rate proven there is all it
// remembers), then 4 Mbit/s again.
void capacityGoesAndComesBack(SendRateController& controller, BottleneckLink& link) {
    link.run(controller, 15'000'000);
    link.setCapacity(300'000);
    link.run(controller, 15'000'000);
    link.setCapacity(4'000'000);
}

// Far from any capacity the path has shown, the rate climbs by measure, not
// by a guess of a few percent a second: probes double it while the path
// carries them, and stop at the capacity without a long queue.
TEST(SendRateControl, ProbesClimbBackFastWhenCapacityReturns) {
    SendRateController controller(bounds);
    BottleneckLink link(4'000'000, 1'000'000);
    capacityGoesAndComesBack(controller, link);
    link.run(controller, 12'000'000);
    EXPECT_GT(controller.targetBps(), 2'500'000);
    EXPECT_LT(percentile95(link.run(controller, 10'000'000).queueDelays), 150'000);
}

// Near the capacity found at the last cuts the rate grows by half a packet
// per response time, as the draft's additive increase does, and meets the
// capacity again tens of seconds apart: the picture's quality does not swing
// with the probing every few seconds.
TEST(SendRateControl, ProbesGentlyNearTheCapacity) {
    SendRateController controller(bounds);
    BottleneckLink link(5'000'000, 1'000'000);
    link.run(controller, 15'000'000);
    int cuts = 0;
    for (int tick = 0; tick < 600; ++tick) {
        const std::int64_t before = controller.targetBps();
        link.run(controller, 100'000);
        cuts += static_cast<double>(controller.targetBps()) < 0.95 * static_cast<double>(before);
    }
    EXPECT_LE(cuts, 3);
}

// A link that carries next to nothing for seconds drives the rate to its
// floor; when it comes back, so does the rate, within seconds and without a
// standing queue, to the capacity the link comes back with. The trickle the
// outage lets through, long queued, is no measure of the restored link.
TEST(SendRateControl, ComesBackWithinSecondsAfterAnOutage) {
    SendRateController controller(bounds);
    BottleneckLink link(4'000'000, 200'000);
    const auto outage = [&](std::int64_t backBps) {
        link.setCapacity(32'000);
        link.setBuffer(1'000'000);
        link.run(controller, 3'000'000);
        EXPECT_LT(controller.targetBps(), 100'000);
        link.setCapacity(backBps);
        link.setBuffer(200'000);
    };
    link.run(controller, 15'000'000);
    outage(4'000'000);
    link.run(controller, 4'000'000);
    EXPECT_GT(controller.targetBps(), 2'500'000);
    EXPECT_LT(percentile95(link.run(controller, 10'000'000).queueDelays), 150'000);
    // Back slower than before: the climb back stops at the new capacity,
    // about which the rate then probes.
    outage(1'000'000);
    link.run(controller, 5'000'000);
    EXPECT_LT(percentile95(link.run(controller, 10'000'000).queueDelays), 150'000);
    EXPECT_LT(controller.targetBps(), 1'200'000);
}

// A step far down overflows the buffer and loses most packets, as an outage
// does, while the receiver still gets the new capacity: the climb back stops
// at that, and no second wave of queue follows the first.
TEST(SendRateControl, AStepFarDownReturnsToTheCapacityItLeaves) {
    SendRateController controller(bounds);
    BottleneckLink link(4'000'000, 200'000);
    link.run(controller, 15'000'000);
    link.setCapacity(500'000);
    link.run(controller, 1'500'000);
    EXPECT_LT(percentile95(link.run(controller, 10'000'000).queueDelays), 100'000);
}

// Nothing gets through for seconds, and the link comes back slower, with a
// buffer too shallow to show a queue: neither the rate before the outage nor
// the outage itself measures the link that carries again, and the climb back
// stops at the loss it causes.
TEST(SendRateControl, AfterABlackoutTheRateIsMeasuredAfresh) {
    SendRateController controller(bounds);
    BottleneckLink link(4'000'000, 40'000);
    link.run(controller, 15'000'000);
    link.setLoss(1);
    link.run(controller, 3'000'000);
    link.setLoss(0);
    link.setCapacity(1'000'000);
    EXPECT_LT(link.run(controller, 13'000'000).lossShare(), 0.10);
}

// A still screen sends too little for the receiver's rate to be measured,
// which proves no rate: whether the screen starts still or stops moving, the
// first second it moves again neither floods the path nor starves.
TEST(SendRateControl, AStillScreenClaimsNoRateThePathHasNotCarried) {
    SendRateController controller(bounds);
    BottleneckLink link(2'000'000, 100'000);
    const auto stillThenMoving = [&](std::int64_t stillUs) {
        link.setStill(true);
        link.run(controller, stillUs);
        link.setStill(false);
        const Period firstSecond = link.run(controller, 1'000'000);
        EXPECT_LT(firstSecond.lossShare(), 0.05);
        EXPECT_GT(firstSecond.deliveredBps(), 1'400'000);
    };
    stillThenMoving(30'000'000);
    link.run(controller, 15'000'000);
    stillThenMoving(60'000'000);
}

// A ticking clock uses little of the rate: there is no climb to measure,
// even where a moving picture's rate would be probed.
TEST(SendRateControl, ATickingClockIsNotProbed) {
    SendRateController controller(bounds);
    BottleneckLink link(4'000'000, 1'000'000);
    capacityGoesAndComesBack(controller, link);
    link.run(controller, 10'000'000);
    const std::int64_t moving = controller.targetBps();
    link.setStill(true, 33'333);
    link.run(controller, 20'000'000);
    EXPECT_LT(static_cast<double>(controller.targetBps()), 1.25 * static_cast<double>(moving));
}

// A screen where only a small clock ticked sent a trickle; the first burst of
// motion after it may show a queue, and the cut it earns must follow what
// the path carries now, not the trickle the longer window still holds.
TEST(SendRateControl, TheFirstMotionAfterATickingClockIsCutFromWhatThePathCarriesNow) {
    SendRateController controller({32'000, 2'073'000, 20'000'000});
    BottleneckLink link(2'000'000, 100'000);
    link.pace();
    link.setStill(true, 33'333);
    link.run(controller, 15'000'000);
    link.setStill(false);
    link.run(controller, 1'000'000);
    EXPECT_GT(link.run(controller, 2'000'000).deliveredBps(), 1'500'000);
}

// A buffer too shallow for a delay signal leaves loss to find the capacity:
// the rate holds where little is lost and climbs back over it neither at
// once nor while a still screen shows nothing lost.
TEST(SendRateControl, LossHoldsTheRateWhereAShallowBufferShowsNoQueue) {
    SendRateController controller(bounds);
    BottleneckLink link(1'000'000, 20'000);
    link.run(controller, 10'000'000);
    const Period settled = link.run(controller, 30'000'000);
    EXPECT_LT(settled.lossShare(), 0.10);
    EXPECT_GT(settled.deliveredBps(), 750'000);
    link.setStill(true);
    link.run(controller, 60'000'000);
    link.setStill(false);
    EXPECT_LT(link.run(controller, 1'000'000).lossShare(), 0.10);
}

// A download's start overflows the buffer and loss cuts the rate far below
// what the path carried: the climb back is as fast as the delay-based rate's
// there.
TEST(SendRateControl, ARateLossCutFarDownClimbsBackWithinSeconds) {
    SendRateController controller(bounds);
    BottleneckLink link(2'000'000, 200'000);
    link.run(controller, 10'000'000);
    link.setLoss(0.4);
    link.run(controller, 3'000'000);
    link.setLoss(0);
    link.run(controller, 4'000'000);
    EXPECT_GT(link.run(controller, 2'000'000).deliveredBps(), 1'000'000);
}

// A receiver reports only once something arrives, so one report covers all
// a still screen lost since: on a lossy path, a few unlucky seconds. That is
// neither an outage, whose end would climb back to what the path carried
// before it slowed down, nor a verdict on the rate.
TEST(SendRateControl, AStillScreensLostPacketsNeitherEndNorCutTheRate) {
    SendRateController controller(bounds);
    BottleneckLink link(4'000'000, 200'000);
    link.run(controller, 15'000'000);
    link.setCapacity(2'000'000);
    link.run(controller, 5'000'000);
    link.setStill(true);
    link.setLoss(0.3);
    link.run(controller, 30'000'000);
    link.setStill(false);
    link.setLoss(0);
    const Period firstSecond = link.run(controller, 1'000'000);
    EXPECT_LT(percentile95(firstSecond.queueDelays), 120'000);
    EXPECT_GT(firstSecond.deliveredBps(), 1'500'000);
}

// A path that loses a few packets in a hundred at any rate: sending more only
// makes frames of more packets, more of which lose one.
TEST(SendRateControl, MostFramesArriveWholeOnARandomlyLossyPath) {
    SendRateController controller(bounds);
    BottleneckLink link(4'000'000, 200'000);
    link.setLoss(0.05);
    link.run(controller, 10'000'000);
    const Period period = link.run(controller, 30'000'000);
    EXPECT_GT(period.wholeFrames, 0.55 * period.frames);
}

// A download fills whatever buffer the video leaves: cutting the video for
// the queue the download keeps standing only starves the video. Both keep a
// share, the download most of the link.
TEST(SendRateControl, KeepsAShareOfTheLinkBesideADownload) {
    for (const std::int64_t bufferUs : {100'000, 400'000}) {
        SCOPED_TRACE(bufferUs);
        SendRateController controller(bounds);
        BottleneckLink link(4'000'000, bufferUs);
        link.startDownload();
        link.run(controller, 20'000'000);
        const Period shared = link.run(controller, 20'000'000);
        EXPECT_GT(shared.deliveredBps(), 600'000);
        EXPECT_GT(shared.downloadBps(), 2'000'000);
    }
}

// A download whose start fills the buffer at once stands a queue the video's
// cuts cannot drain. Cut for again and again, and each time from a received
// rate the last cut lowered (an encoder sends a little less than its rate),
// the video would starve.
TEST(SendRateControl, AQueueAnotherFlowHoldsIsCutForOnce) {
    SendRateController controller(bounds);
    BottleneckLink link(4'000'000, 400'000);
    link.pace();
    link.setEncoderShare(0.8);
    link.run(controller, 10'000'000);
    link.startDownload(200);
    const Period shared = link.run(controller, 10'000'000);
    EXPECT_GT(shared.deliveredBps(), 900'000);
    EXPECT_GT(shared.downloadBps(), 2'400'000);
}

// The same rule alone: a queue that stands through a drain cut, neither
// growing nor draining, while what arrives follows the rate down. Disowned,
// it no longer counts as the sender's.
TEST(SendRateControl, AStandingQueueOutlastingItsDrainCutIsAnotherFlows) {
    DelayBasedRate rate({32'000, 1'000'000, 20'000'000});
    int foreign = 0;
    for (std::int64_t now = 0; now < 3'000'000; now += 50'000) {
        const auto received = static_cast<std::int64_t>(0.8 * static_cast<double>(rate.bps()));
        const std::int64_t own = foreign ? 0 : 300'000;
        rate.onReport({BandwidthUsage::normal, 300'000, own, received, received, {}, false, true}, now);
        foreign += rate.foreignQueue();
    }
    EXPECT_GT(rate.bps(), 500'000);
    EXPECT_EQ(foreign, 1);
}

// What trickles through a dark path, long queued, cuts the rate to little.
// When the path carries again, the climb back starts where a new path's
// would, never above what this one carried before: not from that trickle.
TEST(SendRateControl, ADarkPathThatCarriesAgainStartsAsANewOne) {
    for (const std::int64_t carried : {3'000'000, 500'000}) {
        DelayBasedRate rate({32'000, 1'000'000, 20'000'000});
        std::int64_t now = 0;
        for (int i = 0; i < 50; ++i)
            rate.onReport({BandwidthUsage::normal, 0, 0, carried, carried, {}, false, true}, now += 100'000);
        rate.onReport({BandwidthUsage::overusing, 2'700'000, 2'700'000, 90'000, 90'000, {}, true, true},
                      now += 100'000);
        rate.onOutageEnded(rate.bps(), std::nullopt);
        EXPECT_NEAR(static_cast<double>(rate.bps()), std::min(1e6, 0.85 * static_cast<double>(carried)), 1000);
    }
}

// A download that starts beside the video cuts it far below the rate it had
// proven, and its delay swings cut it again. Where little queue stands at
// such a cut, or the loss-based rate held the sender below the rate that
// climbed, the cut shows no capacity gone: the rate climbs back fast. Where a
// queue stands after the sender used its climb, the capacity is gone.
TEST(SendRateControl, AFarCutForgetsTheProvenRateOnlyForAQueueTheSenderBuilt) {
    struct Case {
        std::int64_t queueUs;
        bool sending;
        bool climbsFast;
    };
    for (const Case& test : {Case{20'000, true, true}, Case{80'000, false, true}, Case{80'000, true, false}}) {
        SCOPED_TRACE(testing::Message() << test.queueUs << (test.sending ? " sending" : " held"));
        DelayBasedRate rate({32'000, 300'000, 20'000'000});
        std::int64_t now = 0;
        const auto report = [&](BandwidthUsage usage, std::int64_t receivedBps, std::int64_t queue = 0) {
            now += 100'000;
            rate.onReport({usage, queue, 0, receivedBps, receivedBps, {}, false, test.sending}, now);
        };
        for (int i = 0; i < 40; ++i) report(BandwidthUsage::normal, 1'000'000);
        report(BandwidthUsage::overusing, 200'000, test.queueUs);
        for (int i = 0; i < 20; ++i) report(BandwidthUsage::normal, 200'000);
        report(BandwidthUsage::overusing, 250'000, test.queueUs);
        const std::int64_t cut = rate.bps();
        for (int i = 0; i < 30; ++i) report(BandwidthUsage::normal, rate.bps());
        EXPECT_EQ(rate.bps() > 2 * cut, test.climbsFast);
    }
}

TEST(SendRateControl, LossLowersTheRateAndReceiverReportsAloneCanDriveIt) {
    SendRateController controller(bounds);
    for (std::int64_t second = 1; second <= 10; ++second) controller.onReceiverReport(0.2, second * 1'000'000);
    const std::int64_t lowered = controller.targetBps();
    EXPECT_LT(lowered, 1'000'000);
    for (std::int64_t second = 11; second <= 15; ++second) controller.onReceiverReport(0.0, second * 1'000'000);
    EXPECT_GT(controller.targetBps(), lowered);
    EXPECT_LE(controller.targetBps(), bounds.startBps);
    for (std::int64_t second = 16; second <= 60; ++second) controller.onReceiverReport(0.0, second * 1'000'000);
    EXPECT_GT(controller.targetBps(), bounds.startBps);
}

TEST(SendRateControl, AbsurdOrMissingFeedbackKeepsTheRateWithinItsBounds) {
    SendRateController silent(bounds);
    EXPECT_EQ(silent.targetBps(), 1'800'000);

    SendRateController controller(bounds);
    constexpr std::int64_t huge = std::numeric_limits<std::int64_t>::max() / 4;
    std::int64_t now = 0;
    for (int report = 0; report < 2000; ++report, now += 50'000) {
        std::vector<PacketFeedback> packets;
        for (int i = 0; i < 20; ++i) {
            const std::int64_t garbage = (report * 7919 + i * 104729) % 3 == 0 ? -huge : huge / (i + 1);
            packets.push_back({now - i * 1000, garbage, static_cast<std::uint32_t>(i == 0 ? 0 : 0xFFFFFFFFu)});
        }
        controller.onTransportFeedback(packets, now);
        controller.onReceiverReport(report % 2 ? -1.0 : 7.0, now);
        ASSERT_GE(controller.targetBps(), 32'000);
        ASSERT_LE(controller.targetBps(), 20'000'000);
    }
    // Everything lost for seconds: the floor, never below it.
    for (int report = 0; report < 300; ++report, now += 50'000)
        controller.onTransportFeedback({{now, std::nullopt, 1200}, {now + 1, std::nullopt, 1200}}, now);
    EXPECT_EQ(controller.targetBps(), 32'000);

    // A rate that cannot be computed claims nothing.
    EXPECT_EQ(bounds.clamp(std::numeric_limits<double>::quiet_NaN()), 32'000);
    EXPECT_EQ(bounds.clamp(std::numeric_limits<double>::infinity()), 20'000'000);
    EXPECT_EQ(bounds.clamp(1e300), 20'000'000);
    EXPECT_EQ(bounds.clamp(-1e300), 32'000);
}

// Large frames, few a second (a 1080p desktop on a slow link), burst into a
// router buffer of two packets: paced, they lose no more than loss control
// holds to, and the rate stays near what the link carries.
TEST(SendRateControl, PacedLargeFramesCrossAShallowBuffer) {
    SendRateController controller({32'000, 1'000'000, 20'000'000});
    BottleneckLink link(1'000'000, 20'000);
    link.setFramesPerSecond(12);
    link.pace();
    link.run(controller, 10'000'000);
    const Period settled = link.run(controller, 20'000'000);
    EXPECT_LT(settled.lossShare(), 0.1);
    EXPECT_GT(settled.deliveredBps(), 700'000);
}

// A frame leaves fast while no buffer overflows, so it lags little, even where
// the path loses packets of its own on an empty queue; after a buffer
// overflowed it leaves gently for a while, since a burst may be what was lost.
TEST(SendRateControl, PacesFastUntilABufferOverflows) {
    SendRateController controller(bounds);
    BottleneckLink link(4'000'000, 1'000'000);
    link.pace();
    const auto overTarget = [&] {
        return static_cast<double>(controller.pacingBps()) / static_cast<double>(controller.targetBps());
    };
    link.run(controller, 5'000'000);
    EXPECT_NEAR(overTarget(), 2.5, 0.01);
    link.setLoss(0.05);
    link.run(controller, 3'000'000);
    EXPECT_NEAR(overTarget(), 2.5, 0.01) << "lost on an empty queue";
    link.setLoss(0);
    link.run(controller, 3'000'000);
    link.setBuffer(40'000);
    link.setCapacity(500'000);
    link.run(controller, 1'000'000);
    link.setBuffer(1'000'000);
    link.setCapacity(4'000'000);
    link.run(controller, 8'000'000);
    EXPECT_NEAR(overTarget(), 1.25, 0.01);
    link.run(controller, 3'000'000);
    EXPECT_NEAR(overTarget(), 2.5, 0.01);
}

TEST(SendRateControl, ScreenContentGivesUpFrameRateBeforeResolution) {
    SendRateController controller({32'000, 300'000, 20'000'000});
    EXPECT_NEAR(controller.frameRate(1280 * 720, 30), 16.28, 0.01);
    SendRateController fast({32'000, 4'000'000, 20'000'000});
    EXPECT_EQ(fast.frameRate(1280 * 720, 30), 30);
    SendRateController starved({32'000, 32'000, 20'000'000});
    EXPECT_EQ(starved.frameRate(1920 * 1080, 15), 5);
}

}  // namespace
}  // namespace native_worker::congestion
