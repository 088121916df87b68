#pragma once

#include <string>

#include "chat/chat_app.h"

namespace tw {

inline constexpr std::string_view PROGRAM_TITLE = "Tamblewick";

// The window's title, in UTF-8: who the user is and where, so that two windows can be
// told apart in a task bar: "bob \u2014 10.0.0.5 \u2014 Tamblewick" on the way into or in a
// session, "bob (serving) \u2014 Tamblewick" for a server, the program's name alone at first.
std::string window_title(const AppObjects& objects);

}  // namespace tw
