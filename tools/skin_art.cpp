// Draws the main window's face "skin0.bmp": 547 x 182, 24 bits per pixel. A dark hi-fi face with a
// brushed finish, a recessed LCD display area, an engraved well for the transport keys, a ring for
// the volume knob and the shadowed words "Tunefold" and "File Player" in a small font of its own.
// Exact white (0xFFFFFF) marks what lies outside the window: the program cuts those pixels out of
// the window's outline (here the rounded corners), so no pixel of the face itself is exact white.
//
// The recesses are where the window places its controls; app/windows/main_window.cpp holds the
// same rectangles.
//
//   tunefold-skinart OUTPUT_FOLDER
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"

namespace {

constexpr int kWidth = 547;
constexpr int kHeight = 182;
constexpr int kCornerRadius = 12;

struct Rgb {
    int r, g, b;
};
constexpr Rgb kOutside{0xFF, 0xFF, 0xFF};

struct Rect {
    int x, y, w, h;
};
// Shared with the window's layout.
constexpr Rect kDisplay{14, 14, 378, 110};                // the LCD recess
constexpr Rect kKeyWell{12, 150, 252, 26};                // the transport keys
constexpr Rect kTrackSlot{14, 130, 378, 14};              // the seek bar
constexpr Rect kMeterSlot{404, 62, 130, 22};              // the level meters
constexpr Rect kSwitchWell{410, 104, 30, 42};             // the power switch
constexpr int kKnobX = 494, kKnobY = 126, kKnobRing = 34; // centre and radius of the knob's ring

class Canvas {
public:
    Canvas() : px_(static_cast<std::size_t>(kWidth * kHeight), Rgb{0, 0, 0}) {}
    void Set(int x, int y, Rgb c) {
        if (x >= 0 && y >= 0 && x < kWidth && y < kHeight)
            px_[static_cast<std::size_t>(y * kWidth + x)] = c;
    }
    Rgb Get(int x, int y) const { return px_[static_cast<std::size_t>(y * kWidth + x)]; }
    void Fill(const Rect& r, Rgb c) {
        for (int y = r.y; y < r.y + r.h; ++y)
            for (int x = r.x; x < r.x + r.w; ++x)
                Set(x, y, c);
    }
    // A sunken frame: dark on the top and left, light on the bottom and right.
    void Sunken(const Rect& r, Rgb dark, Rgb light) {
        for (int x = r.x; x < r.x + r.w; ++x) {
            Set(x, r.y, dark);
            Set(x, r.y + r.h - 1, light);
        }
        for (int y = r.y; y < r.y + r.h; ++y) {
            Set(r.x, y, dark);
            Set(r.x + r.w - 1, y, light);
        }
    }
    std::string Bmp() const;

private:
    std::vector<Rgb> px_;
};

void Put16(std::string& v, unsigned x) {
    v.push_back(static_cast<char>(x & 0xFF));
    v.push_back(static_cast<char>((x >> 8) & 0xFF));
}
void Put32(std::string& v, unsigned x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

std::string Canvas::Bmp() const {
    const unsigned stride = (kWidth * 3 + 3) / 4 * 4;
    const unsigned offset = 14 + 40;
    std::string v;
    v += "BM";
    Put32(v, offset + stride * kHeight);
    Put32(v, 0);
    Put32(v, offset);
    Put32(v, 40);
    Put32(v, kWidth);
    Put32(v, kHeight); // positive: bottom-up rows
    Put16(v, 1);
    Put16(v, 24);
    Put32(v, 0);
    Put32(v, stride * kHeight);
    Put32(v, 2835);
    Put32(v, 2835);
    Put32(v, 0);
    Put32(v, 0);
    for (int row = kHeight - 1; row >= 0; --row) {
        std::string line(stride, '\0');
        for (int x = 0; x < kWidth; ++x) {
            const Rgb c = Get(x, row);
            line[static_cast<std::size_t>(x * 3)] = static_cast<char>(c.b);
            line[static_cast<std::size_t>(x * 3 + 1)] = static_cast<char>(c.g);
            line[static_cast<std::size_t>(x * 3 + 2)] = static_cast<char>(c.r);
        }
        v += line;
    }
    return v;
}

Rgb Mix(Rgb a, Rgb b, double t) {
    auto m = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
    return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b)};
}

// Inside the rounded outline?
bool Inside(int x, int y) {
    const int r = kCornerRadius;
    const int cx = x < r ? r : (x >= kWidth - r ? kWidth - 1 - r : x);
    const int cy = y < r ? r : (y >= kHeight - r ? kHeight - 1 - r : y);
    const double dx = x - cx, dy = y - cy;
    return dx * dx + dy * dy <= (r + 0.25) * (r + 0.25);
}

// A deterministic grain for the brushed finish: the same picture on every run.
int Grain(int x, int y) {
    unsigned h = static_cast<unsigned>(y) * 2654435761u ^ static_cast<unsigned>(x / 7) * 40503u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<int>(h % 7) - 3;
}

// ---- the lettering: 5 x 9 glyphs (two rows of descender), bit 4 the leftmost column ----
struct Letter {
    char c;
    std::uint8_t rows[9];
};
constexpr Letter kLetters[] = {
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x00}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10, 0x00, 0x00}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10, 0x00, 0x00}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E, 0x00, 0x00}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A, 0x00, 0x00}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F, 0x00, 0x00}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11, 0x00, 0x00}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04, 0x00, 0x00}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F, 0x00, 0x00}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E, 0x00, 0x00}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11, 0x00, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F, 0x00, 0x00}},
    {'d', {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F, 0x00, 0x00}},
    {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E, 0x00, 0x00}},
    {'f', {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08, 0x00, 0x00}},
    {'i', {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E, 0x00, 0x00}},
    {'l', {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E, 0x00, 0x00}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11, 0x00, 0x00}},
    {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E, 0x00, 0x00}},
    {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10, 0x00, 0x00}},
    {'u', {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D, 0x00, 0x00}},
    {'y', {0x00, 0x00, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x0E, 0x00}},
};

const Letter* Find(char c) {
    for (const Letter& l : kLetters)
        if (l.c == c)
            return &l;
    return nullptr;
}

// Draws `text` with its top left at (x, y), `scale` pixels per dot, slanted by `slant` pixels per
// `scale` rows, in a vertical gradient from `top` to `bottom` over a shadow `shadow` pixels down right.
void Lettering(Canvas& cv, int x, int y, std::string_view text, int scale, bool slant, Rgb top, Rgb bottom,
               int shadow) {
    const int rows = 9 * scale;
    for (int pass = 0; pass < 2; ++pass) {
        const int off = pass == 0 ? shadow : 0;
        int pen = x;
        for (char ch : text) {
            const Letter* l = Find(ch);
            if (l != nullptr) {
                for (int py = 0; py < rows; ++py) {
                    const int shear = slant ? (rows - 1 - py) / (2 * scale) : 0;
                    const std::uint8_t bits = l->rows[py / scale];
                    for (int px = 0; px < 5 * scale; ++px) {
                        if (!((bits >> (4 - px / scale)) & 1))
                            continue;
                        const Rgb c = pass == 0 ? Rgb{0x05, 0x06, 0x07}
                                                : Mix(top, bottom, static_cast<double>(py) / (7.0 * scale));
                        cv.Set(pen + px + shear + off, y + py + off, c);
                    }
                }
            }
            pen += 6 * scale;
        }
    }
}

int TextWidth(std::string_view text, int scale) {
    return static_cast<int>(text.size()) * 6 * scale - scale;
}

void Draw(Canvas& cv) {
    const Rgb faceTop{0x3c, 0x41, 0x49}, faceBottom{0x1b, 0x1e, 0x23};
    const Rgb edgeDark{0x07, 0x08, 0x0a}, edgeLight{0x6e, 0x74, 0x7e};
    const Rgb recessDark{0x0a, 0x0b, 0x0d}, recessLight{0x5c, 0x62, 0x6c};
    const Rgb lcd{0x08, 0x12, 0x10};

    // Face: gradient with a brushed grain, then the outline.
    for (int y = 0; y < kHeight; ++y) {
        const Rgb base = Mix(faceTop, faceBottom, static_cast<double>(y) / (kHeight - 1));
        for (int x = 0; x < kWidth; ++x) {
            if (!Inside(x, y)) {
                cv.Set(x, y, kOutside);
                continue;
            }
            const int g = Grain(x, y);
            cv.Set(x, y, {base.r + g, base.g + g, base.b + g});
        }
    }
    // Edge: one dark pixel along the outline, a light one inside it on the top and left.
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            if (!Inside(x, y))
                continue;
            const bool edge = !Inside(x - 1, y) || !Inside(x + 1, y) || !Inside(x, y - 1) ||
                              !Inside(x, y + 1) || x == 0 || y == 0 || x == kWidth - 1 || y == kHeight - 1;
            if (edge) {
                cv.Set(x, y, edgeDark);
            } else if (!Inside(x - 2, y) || !Inside(x, y - 2) || x == 1 || y == 1) {
                cv.Set(x, y, edgeLight);
            }
        }

    // The LCD: a two-pixel sunken frame around the display glass, with faint glass reflection.
    cv.Sunken({kDisplay.x - 2, kDisplay.y - 2, kDisplay.w + 4, kDisplay.h + 4}, recessDark, recessLight);
    cv.Sunken({kDisplay.x - 1, kDisplay.y - 1, kDisplay.w + 2, kDisplay.h + 2}, edgeDark,
              Rgb{0x2c, 0x30, 0x36});
    for (int y = 0; y < kDisplay.h; ++y) {
        const double t = static_cast<double>(y) / kDisplay.h;
        cv.Fill({kDisplay.x, kDisplay.y + y, kDisplay.w, 1},
                Mix(Rgb{0x0c, 0x1a, 0x17}, lcd, std::min(1.0, t * 3)));
    }

    // Seek bar slot, meter slot and switch well: shallow recesses.
    for (const Rect& r : {kTrackSlot, kMeterSlot, kSwitchWell}) {
        cv.Fill(r, Rgb{0x14, 0x16, 0x1a});
        cv.Sunken(r, recessDark, recessLight);
    }
    cv.Fill({kMeterSlot.x + 2, kMeterSlot.y + 2, kMeterSlot.w - 4, kMeterSlot.h - 4}, lcd);

    // The key well: engraved, darker than the face.
    cv.Fill(kKeyWell, Rgb{0x12, 0x14, 0x17});
    cv.Sunken(kKeyWell, recessDark, recessLight);

    // The knob's ring: a dark groove with a lit lower rim.
    for (int y = kKnobY - kKnobRing - 2; y <= kKnobY + kKnobRing + 2; ++y)
        for (int x = kKnobX - kKnobRing - 2; x <= kKnobX + kKnobRing + 2; ++x) {
            const double d = std::hypot(x - kKnobX, y - kKnobY);
            if (d <= kKnobRing - 2)
                cv.Set(x, y, Rgb{0x14, 0x16, 0x1a});
            else if (d <= kKnobRing)
                cv.Set(x, y, y < kKnobY ? recessDark : recessLight);
        }

    // Lettering: the name large and slanted, the window's name below it, the controls' names.
    const Rgb bright{0xe6, 0xea, 0xf0}, dim{0x98, 0x9e, 0xa8};
    Lettering(cv, 410, 16, "Tunefold", 2, true, bright, dim, 2);
    Lettering(cv, 412 + TextWidth("Tunefold", 2) - TextWidth("File Player", 1), 40, "File Player", 1, false,
              Rgb{0xb8, 0xbe, 0xc8}, Rgb{0x88, 0x8e, 0x98}, 1);
    const Rgb engraved{0x8a, 0x90, 0x9a};
    Lettering(cv, kSwitchWell.x + kSwitchWell.w / 2 - TextWidth("POWER", 1) / 2,
              kSwitchWell.y + kSwitchWell.h + 4, "POWER", 1, false, engraved, engraved, 1);
    Lettering(cv, kKnobX - TextWidth("VOLUME", 1) / 2, kKnobY + kKnobRing + 3, "VOLUME", 1, false, engraved,
              engraved, 1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    Canvas canvas;
    Draw(canvas);
    const std::string path = std::string(argv[1]) + "/skin0.bmp";
    if (!tunefold::platform::ReplaceFileContents(path, canvas.Bmp())) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
