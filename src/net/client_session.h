#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "transport/session_time.h"

namespace tw {

// A connect that has not reached its host in this long has failed.
inline constexpr SessionTime CONNECT_TIMEOUT = std::chrono::milliseconds(30000);
// A login with no word from the server is sent again this often: one lost datagram must
// not cost the whole login.
inline constexpr SessionTime LOGIN_RESEND = std::chrono::seconds(2);
// A server on the LAN answers a login within a frame or two; after this long the user is
// told that none came (the answer is still taken if it comes later).
inline constexpr SessionTime LOGIN_ANSWER_WAIT = std::chrono::seconds(10);
// A client that lost its server tries to log in again after about this long, then after
// about twice as long each time, up to about RECONNECT_MAX between attempts. Each wait is
// drawn within a quarter of its interval either way, so that the clients of a restarted
// server come back spread over seconds instead of all in one frame; none waits more than
// 10 s, which is as long as a LAN's users wait for a server they just restarted.
inline constexpr SessionTime RECONNECT_FIRST = std::chrono::seconds(2);
inline constexpr SessionTime RECONNECT_MAX = std::chrono::seconds(8);
// The connect thread is looked at after a millisecond (a LAN's lookup takes about that),
// then twice as long each time up to a quarter of a second: a name server that never
// answers costs a few wake-ups a second, not a core.
inline constexpr SessionTime CONNECT_LOOK_FIRST = std::chrono::milliseconds(1);
inline constexpr SessionTime CONNECT_LOOK_MAX = std::chrono::milliseconds(250);
// A time not read yet: a phase begun between frames (by a typed command) begins with the
// next frame's reading, so that it is charged nothing from before it.
inline constexpr SessionTime NEXT_FRAME = SessionTime::min();

// Where a client stands with its server; each phase keeps what only it needs. A time of
// NEXT_FRAME is read by the next pass.
namespace phase {

// No server chosen, or the last attempt came to nothing.
struct None {};
// The name lookup and connect run on their thread, until `gives_up_at`; the thread is
// looked at again at `look_at`, then `look_interval` later.
struct Connecting {
    SessionTime gives_up_at = NEXT_FRAME;
    SessionTime look_at = NEXT_FRAME;
    SessionTime look_interval = CONNECT_LOOK_FIRST;
};
// The login is out, and goes again at `login_again_at` until the server acknowledges it
// (`heard`); after `answer_bound` the user is told that no answer came, unless the server
// said why it refused (`refused`, told at once), in case a place comes free meanwhile.
struct LoggingIn {
    SessionTime answer_bound = NEXT_FRAME;
    SessionTime login_again_at = NEXT_FRAME;
    bool heard = false;
    bool refused = false;
};
// The server answered with `answer`, whose copies alone are acknowledged from then on:
// lines reach the room.
struct In {
    std::int32_t answer = 0;
};
// The server left or went silent; the next attempt waits `wait`, until `attempt_at`.
struct Lost {
    SessionTime wait{0};
    SessionTime attempt_at = NEXT_FRAME;
};

}  // namespace phase

enum class SessionPhase { none, connecting, logging_in, in, lost };
using PhaseData =
    std::variant<phase::None, phase::Connecting, phase::LoggingIn, phase::In, phase::Lost>;

// A client's way into its server's room and back out, as one state. Every time is a
// reading of the frame clock, and the frame loop sleeps until the nearest of them.
struct ClientSession {
    std::string host;
    int port = 0;
    PhaseData now_in;
    // Attempts made by the client itself after a loss, without the notices of an asked
    // connect; one notice said that it is trying.
    bool retrying = false;
    // The wait after the next failed attempt while retrying, before it is spread.
    SessionTime retry_interval = RECONNECT_FIRST;

    SessionPhase phase() const { return static_cast<SessionPhase>(now_in.index()); }
    // The one way from one phase to the next.
    void enter(PhaseData next) { now_in = next; }
    // Gives times still unread the frame's reading.
    void stamp(SessionTime now);
    // A connect or login is under way, asked for or the client's own.
    bool on_the_way_in() const;
    // When a time above acts; NEXT_FRAME when one is unread, NEVER when none runs.
    SessionTime due_at() const;
};

}  // namespace tw
