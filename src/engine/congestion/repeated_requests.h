#pragma once

#include <cstdint>
#include <deque>

namespace native_worker::congestion {

// A receiver asks again for a packet whose copy has not reached it yet: where
// a queue delays the copy, every request sends another, and the copies keep
// the queue standing. A copy sent less than the spacing ago is on its way.
class RepeatedRequests {
public:
    static constexpr std::int64_t longestSpacingUs = 1'000'000;

    // Whether a copy of the packet went within `spacingUs` before `nowUs`.
    bool copyUnderWay(std::uint32_t ssrc, std::uint32_t sequence, std::int64_t nowUs, std::int64_t spacingUs) const;
    void onCopySent(std::uint32_t ssrc, std::uint32_t sequence, std::int64_t nowUs);

private:
    struct Copy {
        std::int64_t sentUs;
        std::uint32_t ssrc;
        std::uint32_t sequence;
    };
    std::deque<Copy> copies_;  // of the last longest spacing, oldest first
};

}  // namespace native_worker::congestion
