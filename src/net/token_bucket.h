#pragma once

#include <algorithm>

#include "transport/session_time.h"

namespace tw {

// At most so many a second, in bursts of as many, on the session's clock: what the server
// spends on datagrams that anyone can send from anywhere.
class TokenBucket {
  public:
    explicit TokenBucket(float per_second) : rate(per_second), tokens(per_second) {}

    // Takes one at `now`; false when none is left.
    bool take(SessionTime now) {
        refill(now);
        if (tokens < 1.0F) {
            return false;
        }
        tokens -= 1.0F;
        return true;
    }

  private:
    void refill(SessionTime now) {
        if (now > refilled_at) {
            tokens = std::min(rate, tokens + to_seconds(now - refilled_at) * rate);
            refilled_at = now;
        }
    }

    float rate;
    float tokens;
    SessionTime refilled_at{0};
};

}  // namespace tw
