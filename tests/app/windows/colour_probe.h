// Helpers for checking on grabbed window images that each element shows its scheme colour: a set
// of colours where every slot has a colour of its own (so a wrong slot cannot pass by accident), the
// pixels of one colour inside an element's rectangle, and saving a picture for a person to look
// at. The main window, the compact panel and the equalizer window tests use them alike: a window
// test renders the window, then for each element asks ExpectColourIn(image, element rectangle,
// expected colour, element name).
#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/controls/color_ref.h"
#include "app/logic/colour_scheme.h"
#include "qt/qt_test_support.h"
#include "qt/screenshot.h"

namespace tunefold::test {

// Slot n gets a colour no other slot has and that no face, shadow or blend of two colours is likely
// to produce: distinct red, green and blue bytes per slot.
inline TColourSlots DistinctColourSlots() {
    TColourSlots colours{};
    for (int i = 0; i < ColourSlotCount; ++i) {
        const auto n = static_cast<std::uint32_t>(i + 1);
        const std::uint32_t r = 0x11 + n * 7; // red in the lowest byte
        const std::uint32_t g = 0xE0 - n * 5;
        const std::uint32_t b = (0x35 + n * 11) & 0xFF;
        colours[static_cast<std::size_t>(i)] = r | (g << 8) | (b << 16);
    }
    return colours;
}

inline QColor SlotColour(const TColourSlots& colours, int n) {
    return controls::ColorFromRef(colours[static_cast<std::size_t>(n - 1)]);
}

// How many pixels of `rect` (in the image's logical coordinates at ratio 1) are exactly `colour`.
inline int CountPixels(const QImage& image, const QRect& rect, const QColor& colour) {
    const QRect area = rect.intersected(image.rect());
    const QRgb want = colour.rgb() & 0xFFFFFF;
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) == want) {
                ++count;
            }
        }
    }
    return count;
}

// The element `what` at `rect` of the grabbed window shows `colour` in at least `atLeast` pixels.
inline void ExpectColourIn(const QImage& image, const QRect& rect, const QColor& colour,
                           const std::string& what, int atLeast = 1) {
    const int found = CountPixels(image, rect, colour);
    EXPECT_GE(found, atLeast) << what << " should show " << colour.name().toStdString() << " within ("
                              << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height()
                              << ")";
}

// The same for a child widget of the grabbed window: its rectangle in the window.
inline void ExpectColourOn(const QImage& windowImage, const QWidget& window, const QWidget& child,
                           const QColor& colour, const std::string& what, int atLeast = 1) {
    const QRect r(child.mapTo(&window, QPoint(0, 0)), child.size());
    ExpectColourIn(windowImage, r, colour, what, atLeast);
}

// The window as drawn, at device pixel ratio 1, as 32-bit RGB.
inline QImage Grab(QWidget& window) {
    return Render(window, 1.0).convertToFormat(QImage::Format_RGB32);
}

} // namespace tunefold::test
