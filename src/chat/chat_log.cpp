#include "chat/chat_log.h"

namespace tw {

void ChatLog::add_line(std::string_view text, LineStyle style) {
    lines.push_back(LogLine{style, std::string(text)});
    ++added;
    kept.add(lines.back());
    if (on_add) {
        on_add(lines.back());
    }
    if (lines.size() > CAPACITY) {
        lines.erase(lines.begin());
    }
}

}  // namespace tw
