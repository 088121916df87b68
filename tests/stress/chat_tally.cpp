#include "chat_tally.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace tw::test {

namespace {

bool ends_with(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

Spread spread_of(std::vector<double> samples) {
    if (samples.empty()) {
        return {};
    }
    std::sort(samples.begin(), samples.end());
    // Nearest rank: the smallest sample with at least that share of samples at or below it.
    const auto rank = [&](double share) {
        const auto position =
            static_cast<std::size_t>(std::ceil(share * static_cast<double>(samples.size())));
        return samples[std::clamp<std::size_t>(position, 1, samples.size()) - 1];
    };
    return Spread{rank(0.5), rank(0.99), samples.back()};
}

namespace {

// Lines added to a participant's log that its transcript never got.
std::uint64_t hidden_lines(const Participant& participant) {
    return participant.objects.chat_log.added_count() - participant.transcript().size();
}

}  // namespace

ChatTally::ChatTally(std::vector<Member> all)
    : members(std::move(all)), looked(members.size(), 0), unseen(members.size(), 0) {
    // Whatever the members showed before the tally began is not looked at.
    for (std::size_t i = 0; i < members.size(); ++i) {
        looked[i] = members[i].participant->transcript().size();
        unseen[i] = hidden_lines(*members[i].participant);
    }
}

void ChatTally::type(std::size_t author, const std::string& line, double now) {
    const std::string shown_as = "<" + members[author].name + "> " + line;
    Typed typed{author, now, std::vector<int>(members.size(), 0),
                std::vector<double>(members.size(), 0.0)};
    if (!lines.emplace(shown_as, typed).second) {
        faults.push_back("line typed twice by the test: " + shown_as);
    }
    expected += members.size() - 1;
    members[author].participant->type(line);
}

void ChatTally::observe(double now) {
    for (std::size_t i = 0; i < members.size(); ++i) {
        const std::uint64_t hidden = hidden_lines(*members[i].participant);
        if (hidden != unseen[i]) {
            faults.push_back(members[i].name + ": " + std::to_string(hidden - unseen[i]) +
                             " lines went by unseen (more than a log's five in one frame)");
            unseen[i] = hidden;
        }
        const auto& seen = members[i].participant->transcript();
        for (; looked[i] < seen.size(); ++looked[i]) {
            see(i, seen[looked[i]], now);
        }
    }
}

void ChatTally::see(std::size_t member, const LogLine& line, double now) {
    const std::string& who = members[member].name;
    if (line.style == LineStyle::notice) {
        if (ends_with(line.text, " Timed Out")) {
            time_outs.push_back(who + ": " + line.text);
        }
        return;
    }
    if (line.style != LineStyle::peer_chat) {
        return;
    }
    const auto found = lines.find(line.text);
    if (found == lines.end()) {
        faults.push_back(who + " showed a line nobody typed: " + line.text);
        return;
    }
    Typed& typed = found->second;
    if (typed.author == member) {
        faults.push_back(who + " got its own line back: " + line.text);
        return;
    }
    if (++typed.shown[member] == 1) {
        typed.first_shown[member] = now;
        ++shown_once_or_more;
    } else {
        faults.push_back(who + " showed a line twice: " + line.text);
    }
}

std::vector<double> ChatTally::latencies() const {
    std::vector<double> samples;
    for (const auto& [text, typed] : lines) {
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (typed.shown[i] > 0) {
                samples.push_back(typed.first_shown[i] - typed.at);
            }
        }
    }
    return samples;
}

}  // namespace tw::test
