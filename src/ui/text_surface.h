#pragma once

#include <cstdint>
#include <string_view>

namespace tw {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;

    bool operator==(const Rgb&) const = default;
};

// What the view draws on: the platform's off-screen picture of one frame, in pixels from
// its top left corner. A text's y is the top of its line, not its baseline, because the
// console's 15-pixel pitch is measured between line tops whatever the font's height.
// Text has no background box: whatever was there shows between the glyphs.
class TextSurface {
  public:
    virtual ~TextSurface() = default;

    virtual void draw_text(int x, int y, Rgb colour, std::string_view text) = 0;
    virtual void fill_rect(int x, int y, int width, int height, Rgb colour) = 0;
    // How far the pen moves, in pixels, for one byte of text (never negative).
    virtual int advance(unsigned char byte) = 0;
    // How wide a whole run is, rounded up: where a run after it can start without touching
    // it. The sum of the advances, unless the platform measures runs more exactly.
    virtual int text_width(std::string_view text) {
        int width = 0;
        for (const char byte : text) {
            width += advance(static_cast<unsigned char>(byte));
        }
        return width;
    }
};

// A surface whose origin lies at (left, top) of another one, so that the console can be
// laid out from its own corner while the menu strip sits above it.
class OffsetSurface final : public TextSurface {
  public:
    OffsetSurface(TextSurface& under, int origin_x, int origin_y)
        : target(under), left(origin_x), top(origin_y) {}

    void draw_text(int x, int y, Rgb colour, std::string_view text) override {
        target.draw_text(x + left, y + top, colour, text);
    }
    void fill_rect(int x, int y, int width, int height, Rgb colour) override {
        target.fill_rect(x + left, y + top, width, height, colour);
    }
    int advance(unsigned char byte) override { return target.advance(byte); }
    int text_width(std::string_view text) override { return target.text_width(text); }

  private:
    TextSurface& target;
    int left;
    int top;
};

}  // namespace tw
