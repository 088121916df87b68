#include "ui/tty/terminal_colour.h"

#include <array>
#include <string_view>

namespace tw {

namespace {

constexpr std::array<int, 6> CUBE_LEVELS{0, 95, 135, 175, 215, 255};
constexpr int CUBE_START = 16;
constexpr int GREY_START = 232;
constexpr int GREY_STEPS = 24;

int squared_distance(Rgb a, int r, int g, int b) {
    const int dr = a.r - r;
    const int dg = a.g - g;
    const int db = a.b - b;
    return dr * dr + dg * dg + db * db;
}

int nearest_level(int value) {
    int best = 0;
    for (int i = 1; i < static_cast<int>(CUBE_LEVELS.size()); ++i) {
        const int d = value - CUBE_LEVELS[static_cast<std::size_t>(i)];
        const int best_d = value - CUBE_LEVELS[static_cast<std::size_t>(best)];
        if (d * d < best_d * best_d) {
            best = i;
        }
    }
    return best;
}

}  // namespace

ColourMode colour_mode(const char* no_color, const char* colorterm) {
    if (no_color != nullptr && *no_color != '\0') {
        return ColourMode::none;
    }
    if (colorterm != nullptr) {
        const std::string_view promise = colorterm;
        if (promise == "truecolor" || promise == "24bit") {
            return ColourMode::truecolor;
        }
    }
    return ColourMode::xterm256;
}

int nearest_xterm_colour(Rgb colour) {
    const int r = nearest_level(colour.r);
    const int g = nearest_level(colour.g);
    const int b = nearest_level(colour.b);
    const int cube = CUBE_START + 36 * r + 6 * g + b;
    const int cube_distance = squared_distance(colour, CUBE_LEVELS[static_cast<std::size_t>(r)],
                                               CUBE_LEVELS[static_cast<std::size_t>(g)],
                                               CUBE_LEVELS[static_cast<std::size_t>(b)]);

    int best_grey = 0;
    int grey_distance = -1;
    for (int step = 0; step < GREY_STEPS; ++step) {
        const int level = 8 + 10 * step;
        const int distance = squared_distance(colour, level, level, level);
        if (grey_distance < 0 || distance < grey_distance) {
            grey_distance = distance;
            best_grey = step;
        }
    }
    return grey_distance < cube_distance ? GREY_START + best_grey : cube;
}

std::string foreground_sequence(Rgb colour, ColourMode mode) {
    switch (mode) {
        case ColourMode::truecolor:
            return "\x1b[38;2;" + std::to_string(colour.r) + ';' + std::to_string(colour.g) + ';' +
                   std::to_string(colour.b) + 'm';
        case ColourMode::xterm256:
            return "\x1b[38;5;" + std::to_string(nearest_xterm_colour(colour)) + 'm';
        case ColourMode::none:
            return {};
    }
    return {};
}

}  // namespace tw
