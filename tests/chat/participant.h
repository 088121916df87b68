#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "chat/chat_app.h"

namespace tw::test {

// One headless chat program: its process-wide objects and its ChatApp, on its own
// loopback address. Lines typed here go through execute_line as Enter sends them, and
// frames run with the elapsed time the test chooses.
class Participant {
  public:
    explicit Participant(std::uint32_t local_ip, int port = CHAT_PORT);
    Participant(const Participant&) = delete;
    Participant& operator=(const Participant&) = delete;

    void type(const std::string& line);
    void step(float elapsed);
    // The reading of the clock its frames are given: the sum of the steps.
    SessionTime now{0};
    void shut_down();

    // Every line this participant's log was given, in order (the log keeps only five).
    const std::vector<LogLine>& transcript() const { return seen; }
    bool saw(const std::string& text) const;
    std::size_t count(const std::string& text) const;

    AppObjects objects;
    ChatApp app{objects};

  private:
    void record();
    void settle_connect();
    std::vector<LogLine> seen;
    std::uint64_t recorded = 0;
};

// Steps every participant by `elapsed` in turn until `done` holds or `rounds` have run.
bool run_frames(const std::vector<Participant*>& group, float elapsed, int rounds,
                const std::function<bool()>& done);

}  // namespace tw::test
