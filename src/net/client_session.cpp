#include "net/client_session.h"

#include <algorithm>

namespace tw {

namespace {

constexpr SessionTime NEVER_DUE = SessionTime::max();

}  // namespace

void ClientSession::stamp(SessionTime now) {
    const auto read = [now](SessionTime& time, SessionTime after) {
        if (time == NEXT_FRAME) {
            time = now + after;
        }
    };
    if (auto* connecting = std::get_if<phase::Connecting>(&now_in)) {
        read(connecting->gives_up_at, CONNECT_TIMEOUT);
        read(connecting->look_at, connecting->look_interval);
    } else if (auto* logging_in = std::get_if<phase::LoggingIn>(&now_in)) {
        read(logging_in->answer_bound, LOGIN_ANSWER_WAIT);
        read(logging_in->login_again_at, LOGIN_RESEND);
    } else if (auto* lost = std::get_if<phase::Lost>(&now_in)) {
        read(lost->attempt_at, lost->wait);
    }
}

bool ClientSession::on_the_way_in() const {
    const SessionPhase current = phase();
    return current == SessionPhase::connecting || current == SessionPhase::logging_in ||
           current == SessionPhase::lost;
}

SessionTime ClientSession::due_at() const {
    if (const auto* connecting = std::get_if<phase::Connecting>(&now_in)) {
        return std::min(connecting->gives_up_at, connecting->look_at);
    }
    if (const auto* logging_in = std::get_if<phase::LoggingIn>(&now_in)) {
        // "No answer" comes once the bound has passed, not on it.
        const SessionTime after_bound = logging_in->answer_bound == NEXT_FRAME
                                            ? NEXT_FRAME
                                            : logging_in->answer_bound + SessionTime{1};
        return logging_in->heard ? after_bound : std::min(after_bound, logging_in->login_again_at);
    }
    if (const auto* lost = std::get_if<phase::Lost>(&now_in)) {
        return lost->attempt_at;
    }
    return NEVER_DUE;
}

}  // namespace tw
