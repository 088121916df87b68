#pragma once

#include <string>

#include "ui/text_surface.h"

namespace tw {

// How many colours the terminal is asked for: the window's exact RGB, the nearest of the
// 256 xterm colours that almost every terminal has, or none at all.
enum class ColourMode { truecolor, xterm256, none };

// From the environment: NO_COLOR (set and not empty) turns colour off, COLORTERM
// "truecolor" or "24bit" promises exact RGB, anything else gets the 256 colours.
ColourMode colour_mode(const char* no_color, const char* colorterm);

// The 6x6x6 cube and grey ramp of xterm's 256 colours (16 to 255) nearest to `colour`.
// The 16 system colours are left out: every terminal theme paints them differently.
int nearest_xterm_colour(Rgb colour);

// The control sequence that sets the foreground to `colour`; empty without colour.
std::string foreground_sequence(Rgb colour, ColourMode mode);

}  // namespace tw
