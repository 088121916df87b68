#pragma once

#include <cstdint>
#include <string>

namespace tw {

enum class LineStyle : std::int32_t { own_chat = 0, notice = 1, peer_chat = 2 };

struct LogLine {
    LineStyle style = LineStyle::notice;
    std::string text;

    bool operator==(const LogLine&) const = default;
};

}  // namespace tw
