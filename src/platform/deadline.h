// The moment by which everything one call downloads must be done.
//
// A call makes one Deadline from its time limit when it starts and hands it
// to every routine that fetches (caIssuers certificates, CRLs). Each
// download then gets the smaller of its own limit and what remains, and none
// is started once nothing remains, so a token that names many slow URLs
// cannot keep a call busy longer than its caller allowed.
//
// The monotonic clock is read: a change of the wall clock, or the tests'
// fixed clock (platform/clock.h), does not move a deadline.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace zorbelu::platform {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    // `ms` milliseconds from now.
    static Deadline After(uint32_t ms) { return Deadline(Clock::now() + std::chrono::milliseconds(ms)); }

    // Whole milliseconds left; 0 once the deadline has passed.
    uint32_t RemainingMs() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return left <= 0 ? 0u : static_cast<uint32_t>(std::min<int64_t>(left, UINT32_MAX));
    }

    bool Passed() const { return RemainingMs() == 0; }

    // What one download whose own limit is `ownMs` may take: 0 means that it
    // must not be started.
    uint32_t Allow(uint32_t ownMs) const { return std::min(ownMs, RemainingMs()); }

private:
    explicit Deadline(Clock::time_point end) : end_(end) {}
    Clock::time_point end_;
};

}  // namespace zorbelu::platform
