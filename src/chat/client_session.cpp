#include "chat/client_session.h"

#include <algorithm>
#include <cmath>

namespace tw {

bool ClientSession::on_the_way_in() const {
    return phase == SessionPhase::connecting || phase == SessionPhase::logging_in ||
           phase == SessionPhase::lost;
}

float ClientSession::seconds_until_due() const {
    switch (phase) {
        case SessionPhase::connecting:
            return std::min(phase_left, next_step);
        case SessionPhase::logging_in: {
            // "No answer" comes once the bound has passed, not on it.
            const float answer_bound = std::nextafter(phase_left, INFINITY);
            return heard ? answer_bound : std::min(answer_bound, next_step);
        }
        case SessionPhase::lost:
            return phase_left;
        case SessionPhase::none:
        case SessionPhase::in:
            break;
    }
    return INFINITY;
}

}  // namespace tw
