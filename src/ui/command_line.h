#pragma once

#include <cstdio>
#include <optional>
#include <string_view>

namespace tw {

// What a program says about itself on --help: its name, the lines after the usage, and
// its keys (key_guide_text).
struct ProgramUsage {
    std::string_view name;
    std::string_view description;
    std::string_view keys;
};

// The programs take --help and --version and nothing else. Returns the exit status when
// the arguments ask for anything but the chat (0 after help or version, 2 after a wrong
// argument, 1 when the answer could not be written), or nothing when there are none.
// argv is main's, the program's name first.
std::optional<int> answer_command_line(int argc, const char* const* argv, const ProgramUsage& usage,
                                       std::FILE* out, std::FILE* err);

}  // namespace tw
