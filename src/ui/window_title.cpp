#include "ui/window_title.h"

#include "ui/latin1_text.h"

namespace tw {

namespace {

constexpr std::string_view SEPARATOR = " \u2014 ";

}  // namespace

std::string window_title(const AppObjects& objects) {
    std::string title = utf8_from_latin1(objects.nick);
    if (objects.net_node.is_server()) {
        title += title.empty() ? "serving" : " (serving)";
    } else if (const std::string& host = session_host(objects); !host.empty()) {
        if (!title.empty()) {
            title += SEPARATOR;
        }
        title += utf8_from_latin1(host);
    }
    if (!title.empty()) {
        title += SEPARATOR;
    }
    return title + std::string{PROGRAM_TITLE};
}

}  // namespace tw
