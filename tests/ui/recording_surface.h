#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/text_surface.h"

namespace tw::test {

struct DrawnText {
    int x = 0;
    int y = 0;
    Rgb colour;
    std::string text;

    bool operator==(const DrawnText&) const = default;
};

struct FilledRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    Rgb colour;

    bool operator==(const FilledRect&) const = default;
};

// Remembers every drawing call, in order, so that a test can read a frame back.
class RecordingSurface final : public TextSurface {
  public:
    static constexpr int GLYPH_WIDTH = 6;

    void draw_text(int x, int y, Rgb colour, std::string_view text) override {
        texts.push_back(DrawnText{x, y, colour, std::string{text}});
        ++calls;
    }
    void fill_rect(int x, int y, int width, int height, Rgb colour) override {
        rects.push_back(FilledRect{x, y, width, height, colour});
        ++calls;
    }
    // Every byte as wide as a narrow glyph of the window's 12-pixel font.
    int advance(unsigned char) override { return GLYPH_WIDTH; }
    void clear() {
        texts.clear();
        rects.clear();
        calls = 0;
    }

    std::vector<DrawnText> texts;
    std::vector<FilledRect> rects;
    int calls = 0;
};

}  // namespace tw::test
