// Generates the LED strip bitmaps the digit, panel and mode-lamp displays load: thirteen digit strips
// "LCD_<size>" (11 frames: blank, 0 .. 9), thirteen symbol strips "LCDS_<size>" (4 frames: blank,
// period, colon, minus) and "LCD_MODE" (4 frames of 27 x 11: disabled, mono, stereo, spare).
// Colour roles: white = lit segment, silver = unlit segment, black = background; written as 4 bits
// per pixel with the 16-colour VGA palette (black 0, silver 7, white 15).
//
//   tunefold-ledstrips OUTPUT_FOLDER
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

enum Role : std::uint8_t { kBlack = 0, kSilver = 7, kWhite = 15 };

struct Strip {
    int frameWidth;
    int frameHeight;
    int frames;
    std::vector<std::uint8_t> px; // one role per pixel, row-major, top row first
    Strip(int w, int h, int n)
        : frameWidth(w), frameHeight(h), frames(n), px(static_cast<std::size_t>(w * n * h), kBlack) {}
    int Width() const { return frameWidth * frames; }
    void Set(int frame, int x, int y, Role r) {
        if (x < 0 || y < 0 || x >= frameWidth || y >= frameHeight)
            return;
        px[static_cast<std::size_t>(y * Width() + frame * frameWidth + x)] = r;
    }
    void Fill(int frame, int x0, int y0, int x1, int y1, Role r) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                Set(frame, x, y, r);
    }
};

// Segment rectangles a..g of a seven-segment digit in a w x h frame.
struct Box {
    int x0, y0, x1, y1;
};
void Segments(int w, int h, Box seg[7]) {
    const int t = w >= 11 ? (w >= 17 ? 3 : 2) : 1;
    const int midTop = (h - t) / 2;
    const int midBottom = midTop + t;
    seg[0] = {t, 0, w - t, t};              // a: top
    seg[1] = {w - t, t, w, midTop};         // b: upper right
    seg[2] = {w - t, midBottom, w, h - t};  // c: lower right
    seg[3] = {t, h - t, w - t, h};          // d: bottom
    seg[4] = {0, midBottom, t, h - t};      // e: lower left
    seg[5] = {0, t, t, midTop};             // f: upper left
    seg[6] = {t, midTop, w - t, midBottom}; // g: middle
}

// Which segments each digit lights (bit 0 = a ... bit 6 = g).
constexpr std::uint8_t kDigitSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

Strip DigitStrip(int w, int h) {
    Strip s(w, h, 11);
    Box seg[7];
    Segments(w, h, seg);
    for (int frame = 0; frame < 11; ++frame)
        for (int k = 0; k < 7; ++k) {
            const bool lit = frame > 0 && (kDigitSegments[frame - 1] >> k) & 1;
            s.Fill(frame, seg[k].x0, seg[k].y0, seg[k].x1, seg[k].y1, lit ? kWhite : kSilver);
        }
    return s;
}

Strip SymbolStrip(int w, int h) {
    Strip s(w, h, 4);
    const int t = w >= 11 ? (w >= 17 ? 3 : 2) : 1;
    const int cx = (w - t) / 2;
    const Box period = {cx, h - t, cx + t, h};
    const Box colonTop = {cx, h / 4, cx + t, h / 4 + t};
    const Box colonBottom = {cx, (3 * h) / 4 - t, cx + t, (3 * h) / 4};
    Box seg[7];
    Segments(w, h, seg);
    const Box minus = seg[6];
    for (int frame = 0; frame < 4; ++frame) {
        auto put = [&](const Box& b, bool lit) {
            s.Fill(frame, b.x0, b.y0, b.x1, b.y1, lit ? kWhite : kSilver);
        };
        put(period, frame == 1);
        put(colonTop, frame == 2);
        put(colonBottom, frame == 2);
        put(minus, frame == 3);
    }
    return s;
}

Strip ModeStrip() {
    Strip s(27, 11, 4);
    // Two rings side by side: the left one alone lit means mono, both lit stereo.
    auto ring = [&](int frame, int cx, int cy, bool lit) {
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 27; ++x) {
                const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                if (d2 >= 12 && d2 <= 25)
                    s.Set(frame, x, y, lit ? kWhite : kSilver);
            }
    };
    for (int frame = 0; frame < 4; ++frame) {
        ring(frame, 9, 5, frame == 1 || frame == 2);
        ring(frame, 17, 5, frame == 2);
    }
    return s;
}

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Put32(std::vector<std::uint8_t>& v, unsigned x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

bool Write4Bit(const Strip& s, const std::string& path) {
    static const std::uint32_t vga[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                          0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                          0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF}; // 0x00RRGGBB
    const unsigned w = static_cast<unsigned>(s.Width()), h = static_cast<unsigned>(s.frameHeight);
    const unsigned stride = ((w * 4 + 31) / 32) * 4;
    const unsigned offset = 14 + 40 + 16 * 4;
    std::vector<std::uint8_t> v;
    v.push_back('B');
    v.push_back('M');
    Put32(v, offset + stride * h);
    Put32(v, 0);
    Put32(v, offset);
    Put32(v, 40);
    Put32(v, w);
    Put32(v, h);
    Put16(v, 1);
    Put16(v, 4);
    Put32(v, 0);
    Put32(v, stride * h);
    Put32(v, 2835);
    Put32(v, 2835);
    Put32(v, 16);
    Put32(v, 0);
    for (std::uint32_t c : vga) {
        v.push_back(static_cast<std::uint8_t>(c));
        v.push_back(static_cast<std::uint8_t>(c >> 8));
        v.push_back(static_cast<std::uint8_t>(c >> 16));
        v.push_back(0);
    }
    for (unsigned row = 0; row < h; ++row) {
        const unsigned y = h - 1 - row;
        std::vector<std::uint8_t> line(stride, 0);
        for (unsigned x = 0; x < w; ++x) {
            const std::uint8_t role = s.px[y * w + x];
            line[x / 2] |= static_cast<std::uint8_t>((x & 1) ? role : role << 4);
        }
        v.insert(v.end(), line.begin(), line.end());
    }
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
    return static_cast<bool>(f);
}

struct Size {
    const char* name;
    int w, h;
};
// Names and frame sizes in the order of the digit-size enumeration.
constexpr Size kSizes[13] = {{"06X07", 4, 7},   {"07X11", 5, 9},   {"08X13", 7, 13},  {"11X19", 9, 19},
                             {"13X20", 11, 20}, {"13X21", 11, 21}, {"15X24", 13, 24}, {"15X25", 13, 25},
                             {"17X29", 15, 29}, {"18X25", 15, 23}, {"19X33", 17, 33}, {"21X37", 19, 37},
                             {"23X41", 21, 41}};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    for (const Size& size : kSizes) {
        ok &= Write4Bit(DigitStrip(size.w, size.h), dir + "/LCD_" + size.name + ".bmp");
        ok &= Write4Bit(SymbolStrip(size.w, size.h), dir + "/LCDS_" + size.name + ".bmp");
    }
    ok &= Write4Bit(ModeStrip(), dir + "/LCD_MODE.bmp");
    if (!ok) {
        std::fprintf(stderr, "could not write the strips into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
