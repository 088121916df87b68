#pragma once

#include <string>

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

// Where a client stands with its server.
enum class SessionPhase {
    none,        // no server chosen, or the last attempt came to nothing
    connecting,  // the name lookup and connect run on their thread
    logging_in,  // the login is out and its answer awaited
    in,          // the server answered: lines reach the room
    lost,        // the server left or went silent; the next attempt waits its turn
};

// A client's way into its server's room and back out, as one state. Every time is a
// reading of the frame clock, and the frame loop sleeps until the nearest of them.
struct ClientSession {
    SessionPhase phase = SessionPhase::none;
    std::string host;
    int port = 0;
    // Attempts made by the client itself after a loss, without the notices of a typed
    // connect; one notice said that it is trying.
    bool retrying = false;
    // When the phase began, and how long it may last: connecting, the connect's limit;
    // logging in, the "No answer" bound; lost, the wait before the next attempt.
    SessionTime began_at = NEXT_FRAME;
    SessionTime phase_span{0};
    // Connecting: when the thread is looked at next. Logging in: when the login goes again.
    SessionTime next_step_at = NEXT_FRAME;
    SessionTime step_interval{0};
    // The wait after the next failed attempt while retrying, before it is spread.
    SessionTime retry_interval = RECONNECT_FIRST;
    // The server acknowledged the login: it is not sent again.
    bool heard = false;

    // Enters `phase` at `now` (or NEXT_FRAME) for at most `span`, the first step after `step`.
    void begin(SessionPhase next, SessionTime now, SessionTime span, SessionTime step);
    // Gives times still unread the frame's reading.
    void stamp(SessionTime now);
    SessionTime phase_ends_at() const { return began_at + phase_span; }
    // A connect or login is under way, typed or the client's own.
    bool on_the_way_in() const;
    // When a time above acts; NEVER when none runs.
    SessionTime due_at() const;
};

}  // namespace tw
