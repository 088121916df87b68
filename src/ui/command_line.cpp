#include "ui/command_line.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <span>

namespace tw {

namespace {

constexpr std::string_view VERSION = TAMBLEWICK_VERSION;

// As GNU programs end them, so that packagers and users find the license and the way back.
constexpr std::string_view ABOUT_VERSION =
    "Copyright (C) " TAMBLEWICK_YEAR
    " The Tamblewick developers\n"
    "License MIT: <https://spdx.org/licenses/MIT.html>\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";
constexpr std::string_view ABOUT_HELP =
    "Report bugs to: <" TAMBLEWICK_BUGS ">\nTamblewick home page: <" TAMBLEWICK_HOMEPAGE ">\n";

int print_help(const ProgramUsage& usage, std::FILE* out) {
    return std::fprintf(out,
                        "Usage: %.*s [--help | --version]\n%.*s\n"
                        "  --help     show this help and exit\n"
                        "  --version  show the version and exit\n\n%.*s\n"
                        "See the manual page %.*s(1).\n\n%.*s",
                        static_cast<int>(usage.name.size()), usage.name.data(),
                        static_cast<int>(usage.description.size()), usage.description.data(),
                        static_cast<int>(usage.keys.size()), usage.keys.data(),
                        static_cast<int>(usage.name.size()), usage.name.data(),
                        static_cast<int>(ABOUT_HELP.size()), ABOUT_HELP.data());
}

int print_version(const ProgramUsage& usage, std::FILE* out) {
    return std::fprintf(out, "%.*s %.*s\n%.*s", static_cast<int>(usage.name.size()),
                        usage.name.data(), static_cast<int>(VERSION.size()), VERSION.data(),
                        static_cast<int>(ABOUT_VERSION.size()), ABOUT_VERSION.data());
}

// A full disk or a closed pipe must not look like an answer given.
int finish_answer(int printed, const ProgramUsage& usage, std::FILE* out, std::FILE* err) {
    if (printed >= 0 && std::fflush(out) == 0) {
        return 0;
    }
    std::fprintf(err, "%.*s: cannot write the answer: %s\n", static_cast<int>(usage.name.size()),
                 usage.name.data(), std::strerror(errno));
    return 1;
}

}  // namespace

std::optional<int> answer_command_line(int argc, const char* const* argv, const ProgramUsage& usage,
                                       std::FILE* out, std::FILE* err) {
    const std::span<const char* const> arguments{argv + 1,
                                                 static_cast<std::size_t>(argc > 1 ? argc - 1 : 0)};
    if (arguments.empty()) {
        return std::nullopt;
    }
    const std::string_view first = arguments.front();
    if (arguments.size() == 1 && first == "--help") {
        return finish_answer(print_help(usage, out), usage, out, err);
    }
    if (arguments.size() == 1 && first == "--version") {
        return finish_answer(print_version(usage, out), usage, out, err);
    }
    // The first argument that is not understood alone: after --help, the one that follows.
    const bool first_is_known = first == "--help" || first == "--version";
    const std::string_view wrong = first_is_known ? std::string_view{arguments[1]} : first;
    std::fprintf(err, "%.*s: unexpected argument '%.*s'; try '%.*s --help'\n",
                 static_cast<int>(usage.name.size()), usage.name.data(),
                 static_cast<int>(wrong.size()), wrong.data(), static_cast<int>(usage.name.size()),
                 usage.name.data());
    return 2;
}

}  // namespace tw
