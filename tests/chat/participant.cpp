#include "participant.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tw::test {

Participant::Participant(std::uint32_t local_ip, int port) {
    objects.port = port;
    // The same spread of reconnects every run, so that seeded runs repeat.
    objects.net_node.seed_reconnects(local_ip);
    objects.net_node.set_local_ip(local_ip);
    net_startup(objects.net_node);
}

void Participant::type(const std::string& line) {
    objects.input_line = line;
    app.execute_line(objects.input_line);
    settle_connect();
    record();
}

void Participant::step(float elapsed) {
    now += from_seconds(elapsed);
    app.frame_step(now);
    settle_connect();
    record();
}

void Participant::settle_connect() {
    // The connect runs on its thread, in real time; frames that move no clock take its
    // outcome, so that a test's chosen times never outrun a lookup.
    for (int look = 0;
         look < 5000 && objects.net_node.client_session().phase() == SessionPhase::connecting;
         ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        app.frame_step(now);
    }
}

void Participant::shut_down() {
    net_shutdown(objects.net_node);
    record();
}

void Participant::record() {
    const ChatLog& log = objects.chat_log;
    const std::uint64_t fresh = log.added_count() - recorded;
    const std::size_t kept = std::min<std::size_t>(static_cast<std::size_t>(fresh), log.size());
    for (std::size_t i = log.size() - kept; i < log.size(); ++i) {
        seen.push_back(log.line(i));
    }
    recorded = log.added_count();
}

bool Participant::saw(const std::string& text) const {
    return count(text) > 0;
}

std::size_t Participant::count(const std::string& text) const {
    return static_cast<std::size_t>(std::count_if(
        seen.begin(), seen.end(), [&](const LogLine& line) { return line.text == text; }));
}

bool run_frames(const std::vector<Participant*>& group, float elapsed, int rounds,
                const std::function<bool()>& done) {
    for (int round = 0; round < rounds; ++round) {
        if (done()) {
            return true;
        }
        for (Participant* participant : group) {
            participant->step(elapsed);
        }
    }
    return done();
}

}  // namespace tw::test
