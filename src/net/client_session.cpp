#include "net/client_session.h"

#include <algorithm>

namespace tw {

namespace {

constexpr SessionTime NEVER_DUE = SessionTime::max();

}  // namespace

void ClientSession::begin(SessionPhase next, SessionTime now, SessionTime span, SessionTime step) {
    phase = next;
    began_at = now;
    phase_span = span;
    step_interval = step;
    next_step_at = now == NEXT_FRAME ? NEXT_FRAME : now + step;
}

void ClientSession::stamp(SessionTime now) {
    if (began_at == NEXT_FRAME) {
        began_at = now;
    }
    if (next_step_at == NEXT_FRAME) {
        next_step_at = now + step_interval;
    }
}

bool ClientSession::on_the_way_in() const {
    return phase == SessionPhase::connecting || phase == SessionPhase::logging_in ||
           phase == SessionPhase::lost;
}

SessionTime ClientSession::due_at() const {
    if (began_at == NEXT_FRAME || next_step_at == NEXT_FRAME) {
        return on_the_way_in() ? NEXT_FRAME : NEVER_DUE;
    }
    switch (phase) {
        case SessionPhase::connecting:
            return std::min(phase_ends_at(), next_step_at);
        case SessionPhase::logging_in: {
            // "No answer" comes once the bound has passed, not on it.
            const SessionTime answer_bound = phase_ends_at() + SessionTime{1};
            return heard ? answer_bound : std::min(answer_bound, next_step_at);
        }
        case SessionPhase::lost:
            return phase_ends_at();
        case SessionPhase::none:
        case SessionPhase::in:
            break;
    }
    return NEVER_DUE;
}

}  // namespace tw
