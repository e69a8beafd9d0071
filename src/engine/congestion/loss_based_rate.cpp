#include "engine/congestion/loss_based_rate.h"

#include "engine/congestion/delay_based_rate.h"

#include <algorithm>
#include <cmath>

namespace native_worker::congestion {
namespace {

// A verdict on transport-wide feedback every 200 ms, as Pion's reading of the
// draft has it; a receiver report is one as it comes, about once a second.
// Growth is 5 % per 200 ms, a receiver report's at most 5 %. A window of
// feedback stays open until it has packets enough to judge a loss share, or a
// second without loss, and its growth counts its whole length: else a rate
// that loss once cut low (a download's start does) climbs back slower the
// lower it is, since a window there takes seconds to fill.
constexpr std::int64_t windowUs = 200'000;
constexpr std::int64_t longestWindowGrowthUs = 5'000'000;
// A loss share of fewer packets is chance: a still screen sends one a second.
constexpr int windowPackets = 20;
constexpr std::int64_t longestCleanWindowUs = 1'000'000;
constexpr double lowLoss = 0.02;
constexpr double highLoss = 0.10;
constexpr double increasePerVerdict = 1.05;
// A window in which the sender used less than this share of its rate says
// nothing of that rate, unless it lost most of it: then the path carries next
// to nothing at any rate.
constexpr double usedShareToJudge = 0.5;
constexpr double lossAtAnyRate = 0.5;

}  // namespace

LossBasedRate::LossBasedRate(const RateBounds& bounds)
    : bounds_(bounds), bps_(bounds.clamp(static_cast<double>(bounds.startBps))) {}

std::int64_t LossBasedRate::bps(std::optional<std::int64_t> delayBasedBps) const {
    if (!delayBasedBps) return bps_;
    return state_ == State::following ? *delayBasedBps : std::min(bps_, *delayBasedBps);
}

void LossBasedRate::onReport(const ReportTally& report, std::optional<std::int64_t> delayBasedBps,
                             double fastClimbBelowBps, std::int64_t nowUs) {
    if (!windowStartUs_) windowStartUs_ = nowUs;
    window_.sent += report.sent;
    window_.lost += report.lost;
    window_.sentBytes += report.sentBytes;
    const std::int64_t spanUs = nowUs - *windowStartUs_;
    const bool judgeable = window_.sent >= windowPackets || (window_.lost == 0 && spanUs >= longestCleanWindowUs);
    if (spanUs < windowUs || !judgeable) return;
    const double sentBps = static_cast<double>(window_.sentBytes) * 8e6 / static_cast<double>(spanUs);
    const double fractionLost = static_cast<double>(window_.lost) / window_.sent;
    if (sentBps >= usedShareToJudge * static_cast<double>(bps(delayBasedBps)) || fractionLost > lossAtAnyRate)
        judge(fractionLost, delayBasedBps, std::min(spanUs, longestWindowGrowthUs), fastClimbBelowBps);
    restartWindow(nowUs);
}

void LossBasedRate::onFractionLost(double fractionLost, std::optional<std::int64_t> delayBasedBps, std::int64_t nowUs) {
    const std::int64_t growthUs =
        lastReceiverReportUs_ ? std::clamp<std::int64_t>(nowUs - *lastReceiverReportUs_, 0, windowUs) : windowUs;
    lastReceiverReportUs_ = nowUs;
    judge(fractionLost, delayBasedBps, growthUs, 0);
}

void LossBasedRate::judge(double fractionLost, std::optional<std::int64_t> delayBasedBps, std::int64_t growthUs,
                          double fastClimbBelowBps) {
    // Far below what the path has carried, loss was another flow's start, not
    // capacity lost: the rate climbs back as fast as the delay-based rate.
    const double growth = static_cast<double>(bps_) < fastClimbBelowBps
                              ? std::pow(DelayBasedRate::fastIncreasePerSecond, static_cast<double>(growthUs) / 1e6)
                              : std::pow(increasePerVerdict, static_cast<double>(growthUs) / windowUs);
    if (fractionLost > highLoss) {
        bps_ = bounds_.clamp(static_cast<double>(bps(delayBasedBps)) * (1 - 0.5 * fractionLost));
        state_ = State::limiting;
    } else if (fractionLost < lowLoss) {
        bps_ = bounds_.clamp(static_cast<double>(bps_) * growth);
        if (delayBasedBps && bps_ >= *delayBasedBps) state_ = State::following;
    } else if (state_ == State::following) {
        bps_ = bps(delayBasedBps);
        state_ = State::limiting;
    }
}

void LossBasedRate::onOutageEnded(std::int64_t nowUs) {
    state_ = State::following;
    restartWindow(nowUs);
}

void LossBasedRate::restartWindow(std::int64_t nowUs) {
    windowStartUs_ = nowUs;
    window_ = {};
}

}  // namespace native_worker::congestion
