#pragma once

#include <cstddef>
#include <deque>

#include "chat/log_line.h"

namespace tw {

// Every line of the session the window can scroll back to, oldest first: the five-line
// `ChatLog` is what is shown, this is what can be found again. Bounded, so that a long
// session's memory stays small.
class ChatHistory {
  public:
    static constexpr std::size_t CAPACITY = 1000;

    void add(const LogLine& line);
    std::size_t size() const { return lines.size(); }
    const LogLine& line(std::size_t position) const { return lines[position]; }

  private:
    std::deque<LogLine> lines;
};

}  // namespace tw
