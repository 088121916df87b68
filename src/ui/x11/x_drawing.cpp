#include "ui/x11/x_drawing.h"

#include <X11/Xresource.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace tw {

namespace {

// fontconfig's default sans-serif face; DejaVu is named as well for machines whose
// fontconfig has no alias for the generic family. 12 pixels fits the 15-pixel line pitch.
constexpr const char* FONT_FAMILY = "sans-serif";
constexpr const char* FALLBACK_FONT_FAMILY = "DejaVu Sans";
constexpr int FONT_PIXELS = 12;

// The desktop's scale: Xft.dpi over the 96 dpi the layout is drawn for, in quarter steps
// (the steps desktops offer: 125 %, 150 %, 200 %), counted in quarters.
constexpr double BASE_DPI = 96.0;
constexpr int MAX_SCALE_QUARTERS = 8 * QUARTER;

constexpr Rgb BLACK{0, 0, 0};

// The font's pixel size is exact at every quarter: 12 is a multiple of four.
std::string font_pattern(const char* family, int quarters) {
    return std::string{family} + ":pixelsize=" + std::to_string(FONT_PIXELS * quarters / QUARTER) +
           ":antialias=true";
}

int desktop_scale_quarters(Display* display) {
    const char* resources = XResourceManagerString(display);
    if (resources == nullptr) {
        return QUARTER;
    }
    XrmInitialize();
    XrmDatabase database = XrmGetStringDatabase(resources);
    char* type = nullptr;
    XrmValue value{};
    double dpi = BASE_DPI;
    if (database != nullptr && XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) &&
        value.addr != nullptr) {
        dpi = std::strtod(value.addr, nullptr);
    }
    if (database != nullptr) {
        XrmDestroyDatabase(database);
    }
    if (!std::isfinite(dpi) || dpi < BASE_DPI) {
        return QUARTER;
    }
    return static_cast<int>(
        std::min<long>(MAX_SCALE_QUARTERS, std::lround(dpi / BASE_DPI * QUARTER)));
}

// X 16-bit colour channels from 8-bit ones: 0xab becomes 0xabab.
unsigned short channel16(std::uint8_t value) {
    return static_cast<unsigned short>(value * 257U);
}

}  // namespace

bool XDrawing::open(Display* display_to_use, int screen) {
    display = display_to_use;
    visual = DefaultVisual(display, screen);
    colormap = DefaultColormap(display, screen);
    depth = DefaultDepth(display, screen);
    quarters = desktop_scale_quarters(display);
    font = XftFontOpenName(display, screen, font_pattern(FONT_FAMILY, quarters).c_str());
    if (font == nullptr) {
        font =
            XftFontOpenName(display, screen, font_pattern(FALLBACK_FONT_FAMILY, quarters).c_str());
    }
    advances.fill(-1);
    return font != nullptr;
}

bool XDrawing::attach(Window window, int width, int height) {
    target = window;
    XGCValues values{};
    // Without this every XCopyArea would send a NoExpose event back and wake the loop.
    values.graphics_exposures = False;
    gc = XCreateGC(display, window, GCGraphicsExposures, &values);
    return make_picture(width, height);
}

bool XDrawing::make_picture(int width, int height) {
    const Pixmap fresh = XCreatePixmap(display, target, static_cast<unsigned>(width),
                                       static_cast<unsigned>(height), static_cast<unsigned>(depth));
    if (fresh == 0) {
        return false;
    }
    if (draw == nullptr) {
        draw = XftDrawCreate(display, fresh, visual, colormap);
        if (draw == nullptr) {
            XFreePixmap(display, fresh);
            return false;
        }
    } else {
        XftDrawChange(draw, fresh);
    }
    if (picture != 0) {
        XFreePixmap(display, picture);
    }
    picture = fresh;
    picture_w = width;
    picture_h = height;
    return true;
}

void XDrawing::begin(int width, int height) {
    if (display != nullptr && (picture_w != width || picture_h != height)) {
        // On failure the old picture stays; the frame is then drawn at the old size.
        make_picture(width, height);
    }
    fill_rect(0, 0, covering(picture_w), covering(picture_h), BLACK);
}

void XDrawing::copy_to(Window window) {
    if (display == nullptr || picture == 0) {
        return;
    }
    XCopyArea(display, picture, window, gc, 0, 0, static_cast<unsigned>(picture_w),
              static_cast<unsigned>(picture_h), 0, 0);
    XFlush(display);
}

const XftColor* XDrawing::colour_of(Rgb rgb) {
    for (std::size_t i = 0; i < colour_count; ++i) {
        if (colours[i].rgb == rgb) {
            return &colours[i].colour;
        }
    }
    if (colour_count == colours.size()) {
        return nullptr;
    }
    XRenderColor wanted{};
    wanted.red = channel16(rgb.r);
    wanted.green = channel16(rgb.g);
    wanted.blue = channel16(rgb.b);
    wanted.alpha = 0xffff;
    CachedColour& slot = colours[colour_count];
    if (XftColorAllocValue(display, visual, colormap, &wanted, &slot.colour) == False) {
        return nullptr;
    }
    slot.rgb = rgb;
    ++colour_count;
    return &slot.colour;
}

void XDrawing::draw_text(int x, int y, Rgb colour, std::string_view text) {
    if (draw == nullptr || font == nullptr || text.empty()) {
        return;
    }
    const XftColor* xft_colour = colour_of(colour);
    if (xft_colour == nullptr) {
        return;
    }
    // Bytes are drawn as Latin-1, one glyph per byte: texts are single-byte characters.
    const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    XftDrawString8(draw, xft_colour, font, to_screen(x), to_screen(y) + font->ascent,
                   reinterpret_cast<const FcChar8*>(text.data()), length);
}

int XDrawing::advance(unsigned char byte) {
    int& known = advances[byte];
    if (known < 0) {
        if (font == nullptr) {
            return 0;
        }
        XGlyphInfo extents{};
        XftTextExtents8(display, font, &byte, 1, &extents);
        // In the layout's pixels: rounded down, so a row is never cut short.
        known = to_layout(std::max(0, static_cast<int>(extents.xOff)));
    }
    return known;
}

int XDrawing::text_width(std::string_view text) {
    if (font == nullptr || text.empty()) {
        return 0;
    }
    XGlyphInfo extents{};
    const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    XftTextExtents8(display, font, reinterpret_cast<const FcChar8*>(text.data()), length, &extents);
    return covering(std::max(0, static_cast<int>(extents.xOff)));
}

void XDrawing::fill_rect(int x, int y, int width, int height, Rgb colour) {
    if (draw == nullptr || width <= 0 || height <= 0) {
        return;
    }
    const XftColor* xft_colour = colour_of(colour);
    if (xft_colour == nullptr) {
        return;
    }
    // From edge to edge, so that neighbouring boxes meet whatever the scale's rounding.
    const int left = to_screen(x);
    const int top = to_screen(y);
    XftDrawRect(draw, xft_colour, left, top, static_cast<unsigned>(to_screen(x + width) - left),
                static_cast<unsigned>(to_screen(y + height) - top));
}

void XDrawing::release() {
    if (display == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < colour_count; ++i) {
        XftColorFree(display, visual, colormap, &colours[i].colour);
    }
    colour_count = 0;
    if (draw != nullptr) {
        XftDrawDestroy(draw);
        draw = nullptr;
    }
    if (picture != 0) {
        XFreePixmap(display, picture);
        picture = 0;
    }
    picture_w = 0;
    picture_h = 0;
    if (font != nullptr) {
        XftFontClose(display, font);
        font = nullptr;
    }
    if (gc != nullptr) {
        XFreeGC(display, gc);
        gc = nullptr;
    }
    display = nullptr;
}

}  // namespace tw
