#include "chat/chat_history.h"

namespace tw {

void ChatHistory::add(const LogLine& line) {
    lines.push_back(line);
    if (lines.size() > CAPACITY) {
        lines.pop_front();
    }
}

}  // namespace tw
