#include "ui/menu_strip.h"

#include "ui/virtual_key.h"

namespace tw {

namespace {

constexpr int LABEL_LEFT = 8;
constexpr int LABEL_TOP = 2;
constexpr int ITEM_LABEL_LEFT = 10;
constexpr int BORDER = 1;

MenuOutcome consumed() {
    return MenuOutcome{true, std::nullopt};
}
MenuOutcome chosen(int command) {
    return MenuOutcome{true, command};
}
MenuOutcome passed_on() {
    return MenuOutcome{false, std::nullopt};
}

}  // namespace

MenuOutcome MenuStrip::on_key(int vk_code, bool down, bool alt) {
    if (open) {
        if (!down) {
            return consumed();
        }
        if (vk_code == vk::letter('X') || vk_code == vk::enter) {
            open = false;
            return chosen(COMMAND_EXIT);
        }
        if (vk_code == vk::escape || vk_code == vk::f10) {
            open = false;
        }
        return consumed();
    }
    // F10 is the menu key of the platform the key codes come from.
    if (vk_code == vk::f10) {
        if (down) {
            open = true;
        }
        return consumed();
    }
    if (!alt) {
        return passed_on();
    }
    if (down && vk_code == vk::letter('F')) {
        open = true;
    }
    return consumed();
}

MenuOutcome MenuStrip::on_click(int x, int y) {
    if (!open) {
        if (FILE_TITLE_BOX.contains(x, y)) {
            open = true;
            return consumed();
        }
        return passed_on();
    }
    open = false;
    if (EXIT_ITEM_BOX.contains(x, y)) {
        return chosen(COMMAND_EXIT);
    }
    return consumed();
}

void MenuStrip::draw(TextSurface& surface, int width) const {
    surface.fill_rect(0, 0, width, MENU_STRIP_HEIGHT, STRIP_BACKGROUND);
    const MenuBox& title = FILE_TITLE_BOX;
    if (!open) {
        surface.draw_text(title.x + LABEL_LEFT, title.y + LABEL_TOP, STRIP_TEXT, "File");
        return;
    }
    surface.fill_rect(title.x, title.y, title.width, title.height, TITLE_OPEN_BACKGROUND);
    surface.draw_text(title.x + LABEL_LEFT, title.y + LABEL_TOP, TITLE_OPEN_TEXT, "File");

    const MenuBox& panel = DROP_DOWN_BOX;
    surface.fill_rect(panel.x, panel.y, panel.width, panel.height, DROP_DOWN_BORDER);
    surface.fill_rect(panel.x + BORDER, panel.y + BORDER, panel.width - 2 * BORDER,
                      panel.height - 2 * BORDER, STRIP_BACKGROUND);
    const MenuBox& item = EXIT_ITEM_BOX;
    // The only item is the current one, as Enter chooses it.
    surface.fill_rect(item.x, item.y, item.width, item.height, ITEM_HIGHLIGHT);
    surface.draw_text(item.x + ITEM_LABEL_LEFT, item.y + LABEL_TOP, STRIP_TEXT, "Exit");
}

}  // namespace tw
