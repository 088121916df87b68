#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

// 1598 as "1,598": counts the user reads in a notice.
std::string grouped_number(std::uint64_t number);

// A paste split into the lines it would send: at every line break (a last break ends the
// last line rather than starting an empty one), and a line longer than `line_room` in
// pieces that fit, each after the first starting with the blank it was cut before, so that
// no piece can read as a command.
std::vector<std::string> paste_lines(std::string_view text, std::size_t line_room);

// Lines pasted together, which go nowhere until the user says so: many lines at once would
// flood everyone's window, and few people mean to send a whole file.
class PastedLines {
  public:
    enum class Outcome { sent, refused, no_room };
    // Sends one line; `sent` when it went, `refused` when the interpreter kept it (it
    // cannot be sent now), `no_room` when it must wait for room to send it in.
    using Sender = std::function<Outcome(const std::string& line)>;

    // Holds the lines and returns the question to put to the user.
    std::string hold(std::vector<std::string> lines);
    bool asking() const { return !lines.empty() && !accepted; }
    bool sending() const { return !lines.empty() && accepted; }
    // Enter: the lines may go, by send_more.
    void accept() { accepted = true; }
    // Escape: the lines go nowhere; the notice that says so.
    std::string drop();
    // Sends what waits, in order, until a line must wait; a line the interpreter refused
    // ends the sending, and the lines left are asked about again: the question, or nothing.
    std::string send_more(const Sender& send);

  private:
    std::deque<std::string> lines;
    bool accepted = false;
};

}  // namespace tw
