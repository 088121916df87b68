#pragma once

#include <optional>

#include "ui/menu_ids.h"
#include "ui/text_surface.h"

namespace tw {

// The one menu command there is: "Exit" in "File".
inline constexpr int COMMAND_EXIT = TW_COMMAND_EXIT;

// Height of the strip above the console; the console's rows are measured from under it.
inline constexpr int MENU_STRIP_HEIGHT = 20;

struct MenuBox {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool contains(int px, int py) const {
        return px >= x && px < x + width && py >= y && py < y + height;
    }
};

// Fixed boxes rather than boxes measured from the font, so that where a click lands does
// not depend on which font the machine happens to have.
inline constexpr MenuBox FILE_TITLE_BOX{0, 0, 40, MENU_STRIP_HEIGHT};
inline constexpr MenuBox DROP_DOWN_BOX{0, MENU_STRIP_HEIGHT, 96, 24};
inline constexpr MenuBox EXIT_ITEM_BOX{2, MENU_STRIP_HEIGHT + 2, 92, 20};

// Neutral greys: red belongs to the prompt alone.
inline constexpr Rgb STRIP_BACKGROUND{200, 200, 200};
inline constexpr Rgb STRIP_TEXT{24, 24, 24};
inline constexpr Rgb TITLE_OPEN_BACKGROUND{96, 96, 96};
inline constexpr Rgb TITLE_OPEN_TEXT{240, 240, 240};
inline constexpr Rgb DROP_DOWN_BORDER{128, 128, 128};
inline constexpr Rgb ITEM_HIGHLIGHT{160, 160, 160};

// What the strip made of an event: whether the console should still see it, and the
// command chosen, if any.
struct MenuOutcome {
    bool consumed = false;
    std::optional<int> command;

    bool operator==(const MenuOutcome&) const = default;
};

// The "File" menu above the console: Alt+F, F10 or a click on its title opens it; "Exit"
// is chosen with X, Enter or a click on it; Escape, F10 or a click elsewhere closes it.
// While it is open it takes every key, and keys held with Alt never reach the console,
// as they belong to the menu's mnemonics.
class MenuStrip {
  public:
    bool is_open() const { return open; }

    MenuOutcome on_key(int vk_code, bool down, bool alt);
    MenuOutcome on_click(int x, int y);

    // Drawn after the console, so that the open drop-down covers the rows under it.
    void draw(TextSurface& surface, int width) const;

  private:
    bool open = false;
};

}  // namespace tw
