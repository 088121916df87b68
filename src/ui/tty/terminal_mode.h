#pragma once

#include <string_view>

namespace tw {

// Writes all of `bytes` to stdout unless it fails; async-signal-safe.
void write_output(std::string_view bytes);

// The terminal as the screen front end needs it: stdin raw, without echo or signal keys,
// and stdout on the alternate screen without cursor or line wrap. Only one terminal
// exists per process, so its saved state is process-wide: signal handlers must reach it.
//
// Enters the mode and arranges for leave_screen_mode to run at exit. False when stdin's
// settings cannot be read or changed; nothing is changed then.
bool enter_screen_mode();

// Puts back the settings, the main screen, the cursor and line wrap exactly as they were.
// Does nothing when the mode is not on, so every exit path may call it; async-signal-safe.
void leave_screen_mode();

// For a stop (SIGTSTP): the terminal goes back as leave_screen_mode leaves it, and
// resume_screen_mode takes it again after the continue. Both async-signal-safe.
void suspend_screen_mode();
void resume_screen_mode();

}  // namespace tw
