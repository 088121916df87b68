#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chat_tally.h"
#include "lossy_link.h"
#include "participant.h"

namespace tw::test {

inline constexpr float FRAME_SECONDS = 0.01F;

// One server ("boss", 127.B.0.1) and its clients (127.B.1.k), the clients reaching the
// server through a lossy relay (127.B.0.2, routes from 127.B.2.1). The server and the
// relay take ports of the system's choosing, so scenarios never contend for a port and
// need no lock. Frames are stepped by hand: every participant in turn, then the relay,
// then the tally looks at the logs.
class RelayedChat {
  public:
    RelayedChat(std::uint8_t block, const std::vector<std::string>& client_names,
                std::uint64_t seed);

    // Server bound and relay listening; false when an address was taken.
    bool ready() const;
    // Logs every client in over the lossless link and waits until every answer is
    // acknowledged. The login is sent once and never again, so it has to get through.
    bool log_in();
    // Types "connect" at every client again and waits until each is accepted anew.
    bool connect_all();
    // Every member types `lines` distinct lines ("ann <word> 7"), one each per
    // `frames_between` frames.
    void chat(int lines, int frames_between, const std::string& word = "line");
    void run_for(double seconds);
    // Runs frames until every line has arrived everywhere and nothing is in flight any
    // more, for at most `seconds`; true when that happened.
    bool settle(double seconds);
    void frame();

    // Nothing waits for an acknowledgement anywhere and the relay holds nothing.
    bool quiet() const;
    std::uint64_t datagrams_sent() const;
    double now() const { return clock; }

    Participant server;
    std::vector<std::unique_ptr<Participant>> clients;
    std::vector<std::string> names;
    std::uint32_t relay_ip;
    std::optional<LossyLink> link;
    std::optional<ChatTally> tally;

  private:
    std::vector<Participant*> everyone();
    double clock = 0.0;
};

}  // namespace tw::test
