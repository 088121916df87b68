#pragma once

#include <string>

namespace tw {

// A login with no word from the server is sent again this often: one lost datagram must
// not cost the whole login.
inline constexpr float LOGIN_RESEND_SECONDS = 2.0F;
// A server on the LAN answers a login within a frame or two; after this long the user is
// told that none came (the answer is still taken if it comes later).
inline constexpr float LOGIN_ANSWER_SECONDS = 10.0F;
// A client that lost its server tries to log in again after this long, then after twice
// as long each time, up to RECONNECT_MAX_SECONDS between attempts.
inline constexpr float RECONNECT_FIRST_SECONDS = 2.0F;
inline constexpr float RECONNECT_MAX_SECONDS = 30.0F;
// The connect thread is looked at after a millisecond (a LAN's lookup takes about that),
// then twice as long each time up to a quarter of a second: a name server that never
// answers costs a few wake-ups a second, not a core.
inline constexpr float CONNECT_LOOK_FIRST_SECONDS = 0.001F;
inline constexpr float CONNECT_LOOK_MAX_SECONDS = 0.25F;

// Where a client stands with its server.
enum class SessionPhase {
    none,        // no server chosen, or the last attempt came to nothing
    connecting,  // the name lookup and connect run on their thread
    logging_in,  // the login is out and its answer awaited
    in,          // the server answered: lines reach the room
    lost,        // the server left or went silent; the next attempt waits its turn
};

// A client's way into its server's room and back out, as one state. Each timer counts
// down to the moment it acts, and the frame loop sleeps until the nearest of them.
struct ClientSession {
    SessionPhase phase = SessionPhase::none;
    std::string host;
    // Attempts made by the client itself after a loss, without the notices of a typed
    // connect; one notice said that it is trying.
    bool retrying = false;
    // Connecting: the connect's limit. Logging in: the "No answer" bound. Lost: the wait
    // before the next attempt.
    float phase_left = 0.0F;
    // Connecting: until the thread is looked at. Logging in: until the login goes again.
    float next_step = 0.0F;
    float step_interval = 0.0F;
    // The wait after the next failed attempt while retrying.
    float retry_interval = RECONNECT_FIRST_SECONDS;
    // The server acknowledged the login: it is not sent again.
    bool heard = false;

    // A connect or login is under way, typed or the client's own.
    bool on_the_way_in() const;
    // Seconds until a timer above acts; nothing when none runs.
    float seconds_until_due() const;
};

}  // namespace tw
