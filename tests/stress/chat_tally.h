#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "participant.h"

namespace tw::test {

// Summary of a set of samples, in simulated seconds.
struct Spread {
    double median = 0.0;
    double p99 = 0.0;
    double worst = 0.0;
};
Spread spread_of(std::vector<double> samples);

// Who typed which line and when, and what every participant showed of it. Every line
// typed must be distinct, so that each sighting names one line and one author.
class ChatTally {
  public:
    struct Member {
        Participant* participant = nullptr;
        std::string name;
    };

    explicit ChatTally(std::vector<Member> members);

    // Types `line` at member `author` at simulated time `now`; every other member is
    // then to show "<author> line" once.
    void type(std::size_t author, const std::string& line, double now);
    // Reads every line the members' logs were given since the last look.
    void observe(double now);

    // Every typed line shown at every other member at least once.
    bool all_delivered() const { return shown_once_or_more == expected; }
    std::size_t expected_deliveries() const { return expected; }
    std::size_t deliveries() const { return shown_once_or_more; }

    // Lines shown twice, lines nobody typed (corrupted), lines shown to their own author,
    // and lines the tally could not see: a participant's log keeps five lines, and one
    // frame that adds more hides the first ones from the transcript as well.
    const std::vector<std::string>& problems() const { return faults; }
    // Time-out notices seen, as "member: notice".
    const std::vector<std::string>& timeouts() const { return time_outs; }
    // Time from typing to first showing, one sample per delivery.
    std::vector<double> latencies() const;

  private:
    struct Typed {
        std::size_t author = 0;
        double at = 0.0;
        std::vector<int> shown;
        std::vector<double> first_shown;
    };

    void see(std::size_t member, const LogLine& line, double now);

    std::vector<Member> members;
    std::vector<std::size_t> looked;
    std::vector<std::uint64_t> unseen;
    std::map<std::string, Typed> lines;
    std::size_t expected = 0;
    std::size_t shown_once_or_more = 0;
    std::vector<std::string> faults;
    std::vector<std::string> time_outs;
};

}  // namespace tw::test
