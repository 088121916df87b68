// Writes the KEYS section of a manual page from the program's own key table:
//   manual_keys window|terminal FILE

#include <cstdio>
#include <string_view>

#include "ui/key_guide.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: manual_keys window|terminal FILE\n");
        return 2;
    }
    const std::string_view which = argv[1];
    const auto front_end = which == "terminal" ? tw::FrontEnd::terminal : tw::FrontEnd::window;
    std::FILE* out = std::fopen(argv[2], "w");
    if (out == nullptr) {
        std::perror(argv[2]);
        return 1;
    }
    const std::string roff = tw::key_guide_roff(front_end);
    const bool written = std::fputs(roff.c_str(), out) >= 0;
    return std::fclose(out) == 0 && written ? 0 : 1;
}
