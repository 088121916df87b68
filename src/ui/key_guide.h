#pragma once

#include <string>
#include <vector>

namespace tw {

// The front ends differ in a few keys: the window has a menu, a mouse and the desktop's
// selections; the terminal pastes by itself and leaves by Ctrl+C.
enum class FrontEnd { window, terminal };

// One entry of the key list: the keys, and what they do.
struct KeyHelp {
    std::string keys;
    std::string what;
};

// What every key of a front end does, in the order the help lists them. The editing keys
// are read from the editor's own table, and the limits from the constants the program
// uses, so that --help and the manual pages, both written from this, cannot drift.
std::vector<KeyHelp> key_guide(FrontEnd front_end);

// The list as --help shows it: a "Keys:" heading, then one key list a line.
std::string key_guide_text(FrontEnd front_end);
// The list as the manual's KEYS section: one tagged paragraph for each entry.
std::string key_guide_roff(FrontEnd front_end);

}  // namespace tw
