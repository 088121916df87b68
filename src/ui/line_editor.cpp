#include "ui/line_editor.h"

#include <array>

#include "ui/virtual_key.h"

namespace tw {

namespace {

// The keys of GNU readline's emacs mode that a one-line prompt needs, and the cursor keys.
constexpr auto EDIT_KEYS = std::to_array<EditKey>({
    {vk::left, false, EditAction::left},
    {vk::right, false, EditAction::right},
    {vk::home, false, EditAction::home},
    {vk::letter('A'), true, EditAction::home},
    {vk::end, false, EditAction::end},
    {vk::letter('E'), true, EditAction::end},
    {vk::back, false, EditAction::erase_before},
    {vk::del, false, EditAction::erase_at},
    {vk::letter('U'), true, EditAction::clear},
    {vk::escape, false, EditAction::clear},
    {vk::letter('W'), true, EditAction::erase_word},
    {vk::up, false, EditAction::older},
    {vk::down, false, EditAction::newer},
    {vk::enter, false, EditAction::enter},
});

constexpr char FIRST_PRINTABLE = 0x20;
constexpr char DELETE = 0x7f;
// Latin-1 letters and signs: peers exchange them as single bytes and both front ends show
// them, but no key of the US table types them.
constexpr unsigned char FIRST_LATIN1_SIGN = 0xa0;

bool printable(char byte) {
    return (byte >= FIRST_PRINTABLE && byte < DELETE) ||
           static_cast<unsigned char>(byte) >= FIRST_LATIN1_SIGN;
}

}  // namespace

std::span<const EditKey> edit_keys() {
    return EDIT_KEYS;
}

bool LineEditor::key(const KeyEvent& key, std::string& line, const LineHandler& execute) {
    for (const EditKey& edit : EDIT_KEYS) {
        if (edit.vk == key.vk && edit.ctrl == key.ctrl) {
            if (key.down) {
                act(edit.action, line, execute);
            }
            return true;
        }
    }
    if (key.ctrl) {
        return false;
    }
    const auto character = key_character(key.vk, key.shift);
    if (character && key.down) {
        insert(std::string_view{&*character, 1}, line);
    }
    return character.has_value();
}

std::size_t LineEditor::insert(std::string_view text, std::string& line) {
    at = cursor(line);
    std::string kept;
    for (const char byte : text) {
        if (printable(byte) && line.size() + kept.size() < line_room) {
            kept.push_back(byte);
        }
    }
    line.insert(at, kept);
    at += kept.size();
    return kept.size();
}

void LineEditor::act(EditAction action, std::string& line, const LineHandler& execute) {
    at = cursor(line);
    switch (action) {
        case EditAction::left:
            at -= at > 0 ? 1 : 0;
            return;
        case EditAction::right:
            at += at < line.size() ? 1 : 0;
            return;
        case EditAction::home:
            at = 0;
            return;
        case EditAction::end:
            at = line.size();
            return;
        case EditAction::erase_before:
            if (at > 0) {
                line.erase(--at, 1);
            }
            return;
        case EditAction::erase_at:
            if (at < line.size()) {
                line.erase(at, 1);
            }
            return;
        case EditAction::clear:
            line.clear();
            at = 0;
            return;
        case EditAction::erase_word: {
            // As a shell does: the blanks before the cursor, then the word before them.
            std::size_t start = at;
            while (start > 0 && line[start - 1] == ' ') {
                --start;
            }
            while (start > 0 && line[start - 1] != ' ') {
                --start;
            }
            line.erase(start, at - start);
            at = start;
            return;
        }
        case EditAction::older:
        case EditAction::newer:
            recall(action == EditAction::older, line);
            return;
        case EditAction::enter:
            if (!line.empty()) {
                remember(line);
                // A copy, because the interpreter empties the line it was handed from.
                execute(std::string{line});
                // Emptied when it went, kept whole when it could not: typing goes on at its end.
                at = line.size();
            }
            return;
    }
}

void LineEditor::recall(bool older, std::string& line) {
    recalled = std::min(recalled, entered.size());
    if (older && recalled == 0) {
        return;
    }
    if (!older && recalled == entered.size()) {
        return;
    }
    if (recalled == entered.size()) {
        unsent = line;
    }
    if (older) {
        --recalled;
    } else {
        ++recalled;
    }
    // A recalled line is a copy: editing it leaves the history as it was.
    line = recalled == entered.size() ? unsent : entered[recalled];
    at = line.size();
}

void LineEditor::remember(const std::string& line) {
    if (entered.empty() || entered.back() != line) {
        entered.push_back(line);
    }
    if (entered.size() > HISTORY_LINES) {
        entered.erase(entered.begin());
    }
    recalled = entered.size();
    unsent.clear();
}

}  // namespace tw
