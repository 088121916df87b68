#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chat/chat_app.h"
#include "ui/key_input.h"
#include "ui/window_system.h"

namespace tw {

// The longest line the prompt holds: the longest chat line that can be sent, so that what
// was typed or pasted is never refused whole after the fact.
inline constexpr std::size_t LINE_ROOM = MAX_CHAT_LINE;

// What an editing key does to the line being typed.
enum class EditAction {
    left,
    right,
    home,
    end,
    erase_before,
    erase_at,
    clear,
    erase_word,
    older,
    newer,
    enter,
};

// One key of the editor: a virtual-key code, held with Ctrl or not.
struct EditKey {
    int vk = 0;
    bool ctrl = false;
    EditAction action = EditAction::left;
};

// Every key the editor knows, in the order the help lists them. The editor looks keys up
// here and the help and the manuals are written from here, so that neither can say a key
// does what it does not.
std::span<const EditKey> edit_keys();

// The line being typed and the place in it where the next character goes, with the lines
// entered before for Up and Down. The line itself is the application's: the interpreter
// reads it and empties it, or keeps a line it could not send.
class LineEditor {
  public:
    // Lines Up can recall, oldest first; the oldest gives way.
    static constexpr std::size_t HISTORY_LINES = 500;

    // A line holds at most `room` bytes.
    explicit LineEditor(std::size_t room = LINE_ROOM) : line_room(room) {}
    std::size_t room() const { return line_room; }

    // One key event; false when it is no key of the editor's nor a character key. Enter
    // hands a copy of a non-empty line to `execute` and remembers it for Up.
    bool key(const KeyEvent& key, std::string& line, const LineHandler& execute);
    // Printable text goes in at the cursor, as far as the line has room; how many bytes
    // went in. Control bytes, line breaks included, are dropped.
    std::size_t insert(std::string_view text, std::string& line);
    // Where the cursor stands in `line`: the line may have changed under it.
    std::size_t cursor(const std::string& line) const { return std::min(at, line.size()); }

  private:
    void act(EditAction action, std::string& line, const LineHandler& execute);
    void recall(bool older, std::string& line);
    void remember(const std::string& line);

    std::size_t line_room;
    std::size_t at = 0;
    std::vector<std::string> entered;
    // The history line shown, or entered.size() for the line being typed before Up.
    std::size_t recalled = 0;
    std::string unsent;
};

}  // namespace tw
