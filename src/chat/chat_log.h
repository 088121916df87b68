#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

enum class LineStyle : std::int32_t { own_chat = 0, notice = 1, peer_chat = 2 };

struct LogLine {
    LineStyle style = LineStyle::notice;
    std::string text;

    bool operator==(const LogLine&) const = default;
};

// The last few lines the window shows under the prompt, oldest first.
class ChatLog {
  public:
    static constexpr std::size_t CAPACITY = 5;

    void add_line(std::string_view text, LineStyle style);
    std::size_t size() const { return lines.size(); }
    const LogLine& line(std::size_t position) const { return lines[position]; }
    // Lines added since the start, including those pushed out since.
    std::uint64_t added_count() const { return added; }

  private:
    std::vector<LogLine> lines;
    std::uint64_t added = 0;
};

}  // namespace tw
