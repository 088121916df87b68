#include "ui/key_guide.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "chat/chat_history.h"
#include "ui/app_shell.h"
#include "ui/line_editor.h"
#include "ui/pasted_lines.h"
#include "ui/virtual_key.h"
#include "ui/window_system.h"

namespace tw {

namespace {

struct KeyName {
    int vk;
    const char* name;
};

constexpr auto KEY_NAMES = std::to_array<KeyName>({
    {vk::left, "Left"},
    {vk::right, "Right"},
    {vk::home, "Home"},
    {vk::end, "End"},
    {vk::back, "Backspace"},
    {vk::del, "Delete"},
    {vk::escape, "Escape"},
    {vk::up, "Up"},
    {vk::down, "Down"},
    {vk::enter, "Enter"},
});

std::string key_name(const EditKey& key) {
    if (key.ctrl) {
        return std::string{"Ctrl+"} + static_cast<char>(key.vk);
    }
    for (const KeyName& named : KEY_NAMES) {
        if (named.vk == key.vk) {
            return named.name;
        }
    }
    return "?";
}

std::string what_it_does(EditAction action) {
    switch (action) {
        case EditAction::left:
            return "moves the cursor one character to the left";
        case EditAction::right:
            return "moves the cursor one character to the right";
        case EditAction::home:
            return "moves the cursor to the start of the line";
        case EditAction::end:
            return "moves the cursor to the end of the line";
        case EditAction::erase_before:
            return "erases the character before the cursor";
        case EditAction::erase_at:
            return "erases the character at the cursor";
        case EditAction::clear:
            return "clears the line";
        case EditAction::erase_word:
            return "erases the word before the cursor";
        case EditAction::older:
            return "brings back the line entered before it, of the last " +
                   grouped_number(LineEditor::HISTORY_LINES) +
                   " of this run; an edited line is entered as a new one";
        case EditAction::newer:
            return "goes the other way, back to the line being typed";
        case EditAction::enter:
            return "hands the line over, as a command or a chat line; a chat line that "
                   "cannot be sent now stays in the prompt";
    }
    return {};
}

// The editor's keys, those of one action together, in the order of the table.
void add_editing_keys(std::vector<KeyHelp>& guide) {
    std::vector<EditAction> listed;
    for (const EditKey& key : edit_keys()) {
        if (std::find(listed.begin(), listed.end(), key.action) != listed.end()) {
            continue;
        }
        listed.push_back(key.action);
        std::string keys;
        for (const EditKey& same : edit_keys()) {
            if (same.action == key.action) {
                keys += (keys.empty() ? "" : ", ") + key_name(same);
            }
        }
        guide.push_back({keys, what_it_does(key.action)});
    }
}

}  // namespace

std::vector<KeyHelp> key_guide(FrontEnd front_end) {
    const bool window = front_end == FrontEnd::window;
    std::vector<KeyHelp> guide;
    guide.push_back(
        {"characters", window ? "what the keyboard types in your layout (AltGr, dead keys and "
                                "compose included) goes in at the cursor, as far as it is "
                                "Latin-1; Caps Lock is not consulted"
                              : "printable ASCII goes in at the cursor"});
    add_editing_keys(guide);
    guide.push_back({"PageUp, PageDown",
                     "page through the session's last " + grouped_number(ChatHistory::CAPACITY) +
                         " lines; a mark under them says how many rows lie below; typing "
                         "returns to the newest"});
    if (window) {
        guide.push_back(
            {"the mouse wheel", "scrolls " + std::to_string(WHEEL_ROWS) + " rows a notch"});
        guide.push_back({"Ctrl+V, Shift+Insert, a middle click",
                         "paste the clipboard, or the primary selection with the middle "
                         "button, at the cursor; at most " +
                             grouped_number(MAX_PASTE_BYTES) + " bytes are kept"});
    } else {
        guide.push_back({"the terminal's paste",
                         "goes in at the cursor where the terminal marks pastes; at most " +
                             grouped_number(MAX_PASTE_BYTES) + " bytes are kept"});
    }
    guide.push_back({"Enter, Escape after a paste",
                     "a paste of several lines, or of one longer than a line may be (" +
                         grouped_number(LINE_ROOM) +
                         " characters), is not typed: a notice asks whether to send its "
                         "lines; Enter sends them, Escape drops them"});
    if (window) {
        guide.push_back({"Alt+F, F10",
                         "open the File menu, whose one item, Exit, X or Enter "
                         "chooses; Escape or F10 closes it"});
    } else {
        guide.push_back({"Ctrl+C, Ctrl+D", "say goodbye to every peer and end the program"});
    }
    return guide;
}

std::string key_guide_text(FrontEnd front_end) {
    // Each entry's keys, then what they do in lines of a terminal's 80 columns.
    constexpr std::string_view INDENT = "      ";
    constexpr std::size_t COLUMNS = 79;
    std::string text = "Keys:\n";
    for (const KeyHelp& entry : key_guide(front_end)) {
        text += "  " + entry.keys + "\n";
        std::string_view rest = entry.what;
        while (!rest.empty()) {
            const std::size_t room = COLUMNS - INDENT.size();
            std::size_t cut = rest.size();
            if (rest.size() > room) {
                const std::size_t blank = rest.substr(0, room + 1).rfind(' ');
                cut = blank == std::string_view::npos ? room : blank;
            }
            text += std::string{INDENT} + std::string{rest.substr(0, cut)} + "\n";
            rest.remove_prefix(std::min(rest.size(), cut + 1));
        }
    }
    return text;
}

std::string key_guide_roff(FrontEnd front_end) {
    std::string roff;
    for (const KeyHelp& entry : key_guide(front_end)) {
        roff += ".TP\n.B " + entry.keys + "\n" + entry.what + ".\n";
    }
    return roff;
}

}  // namespace tw
