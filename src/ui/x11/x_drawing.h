#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>

#include <array>
#include <cstddef>
#include <string_view>

#include "ui/text_surface.h"

namespace tw {

// The desktop's scale is counted in quarters of the layout's size.
inline constexpr int QUARTER = 4;

// The window's off-screen picture and what draws on it: a pixmap with anti-aliased Xft
// text in a dozen kept colours, at the desktop's scale. The view draws in the layout's
// pixels; every coordinate is scaled here, and nowhere else.
class XDrawing final : public TextSurface {
  public:
    XDrawing() = default;
    ~XDrawing() override { release(); }
    XDrawing(const XDrawing&) = delete;
    XDrawing& operator=(const XDrawing&) = delete;

    // The scale from the display's Xft.dpi, and the font at its exact pixel size; false
    // when no font could be loaded.
    bool open(Display* display, int screen);
    // Makes the picture for `window` at its size in screen pixels; false on failure.
    bool attach(Window window, int width, int height);
    // A picture of the given size, made again only when the size changed, filled black.
    void begin(int width, int height);
    // Copies the whole picture to the window in one request.
    void copy_to(Window window);
    void release();

    int to_screen(int layout) const { return (layout * quarters + QUARTER / 2) / QUARTER; }
    // Rounded down: a row measured in the layout's pixels is never cut short.
    int to_layout(int screen_pixels) const { return screen_pixels * QUARTER / quarters; }

    void draw_text(int x, int y, Rgb colour, std::string_view text) override;
    void fill_rect(int x, int y, int width, int height, Rgb colour) override;
    int advance(unsigned char byte) override;
    int text_width(std::string_view text) override;

  private:
    struct CachedColour {
        Rgb rgb;
        XftColor colour;
    };

    bool make_picture(int width, int height);
    const XftColor* colour_of(Rgb rgb);
    // Screen pixels in the layout's, rounded up, so that the last of them are covered too.
    int covering(int screen_pixels) const {
        return (screen_pixels * QUARTER + quarters - 1) / quarters;
    }

    Display* display = nullptr;
    Visual* visual = nullptr;
    Colormap colormap = 0;
    int depth = 0;
    Window target = 0;
    GC gc = nullptr;
    XftFont* font = nullptr;
    Pixmap picture = 0;
    XftDraw* draw = nullptr;
    int picture_w = 0;
    int picture_h = 0;
    // Every coordinate the view draws at is multiplied by this many quarters on the screen.
    int quarters = QUARTER;
    std::array<CachedColour, 16> colours{};
    std::size_t colour_count = 0;
    // Pen advance of every byte in the font, measured the first time it is needed; -1
    // while unknown.
    std::array<int, 256> advances{};
};

}  // namespace tw
