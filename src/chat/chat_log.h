#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chat/chat_history.h"
#include "chat/log_line.h"

namespace tw {

// The last few lines the window shows under the prompt, oldest first.
class ChatLog {
  public:
    static constexpr std::size_t CAPACITY = 5;

    void add_line(std::string_view text, LineStyle style);
    std::size_t size() const { return lines.size(); }
    const LogLine& line(std::size_t position) const { return lines[position]; }
    // Lines added since the start, including those pushed out since.
    std::uint64_t added_count() const { return added; }
    // The session's lines beyond the five, for scrolling back; the newest is the log's.
    const ChatHistory& history() const { return kept; }

    // Sees every line as it is added, also those that more lines in the same frame push
    // out before anything is drawn: a front end that prints the log as a stream needs all.
    using Listener = std::function<void(const LogLine&)>;
    void set_listener(Listener listener) { on_add = std::move(listener); }

  private:
    std::vector<LogLine> lines;
    std::uint64_t added = 0;
    ChatHistory kept;
    Listener on_add;
};

}  // namespace tw
