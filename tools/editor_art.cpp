// Draws the playlist editor's pictures: "BM_NOTE" (the note at the start of each play-list row,
// 16 x 16, a navy note on white, white standing for transparent) and the three drag cursors
// "CR_TRACKDRAG" (rows moved within a list), "CR_TRACKADD" (files added to the play list) and
// "CR_TRACKDELETE" (entries dragged out of the play list): 32 x 32, an arrow with its sign below
// right, magenta (0xFF00FF) standing for transparent, the hot spot at the arrow's tip (0, 0).
// All are 24-bit bitmaps.
//
//   tunefold-editorart OUTPUT_FOLDER
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"

namespace {

using Rgb = std::uint32_t; // 0xRRGGBB

struct Picture {
    int width;
    int height;
    std::vector<Rgb> px;
    Picture(int w, int h, Rgb fill) : width(w), height(h), px(static_cast<std::size_t>(w * h), fill) {}
    void Set(int x, int y, Rgb c) {
        if (x >= 0 && y >= 0 && x < width && y < height) {
            px[static_cast<std::size_t>(y * width + x)] = c;
        }
    }
    // Rows of characters: every `key` in them becomes `colour`, the rest is left alone.
    void Draw(int left, int top, const std::vector<std::string_view>& rows, char key, Rgb colour) {
        for (int y = 0; y < static_cast<int>(rows.size()); ++y) {
            for (int x = 0; x < static_cast<int>(rows[static_cast<std::size_t>(y)].size()); ++x) {
                if (rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] == key) {
                    Set(left + x, top + y, colour);
                }
            }
        }
    }
};

void Put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::string Bmp(const Picture& p) {
    const std::uint32_t stride = (static_cast<std::uint32_t>(p.width) * 3 + 3) & ~3u;
    const std::uint32_t imageSize = stride * static_cast<std::uint32_t>(p.height);
    std::string out = "BM";
    Put32(out, 54 + imageSize);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(p.width));
    Put32(out, static_cast<std::uint32_t>(p.height));
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);
    Put32(out, imageSize);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = p.height - 1; y >= 0; --y) { // bottom row first
        std::string row;
        for (int x = 0; x < p.width; ++x) {
            const Rgb c = p.px[static_cast<std::size_t>(y * p.width + x)];
            row += static_cast<char>(c & 0xFF);
            row += static_cast<char>((c >> 8) & 0xFF);
            row += static_cast<char>((c >> 16) & 0xFF);
        }
        row.resize(stride, '\0');
        out += row;
    }
    return out;
}

Picture Note() {
    Picture p(16, 16, 0xFFFFFF);
    p.Draw(0, 0,
           {
               "................",
               ".......##.......",
               ".......###......",
               ".......#.##.....",
               ".......#..##....",
               ".......#...#....",
               ".......#...#....",
               ".......#..#.....",
               ".......#........",
               ".......#........",
               "...#####........",
               "..######........",
               ".#######........",
               ".######.........",
               "..####..........",
               "................",
           },
           '#', 0x000080);
    return p;
}

enum class Sign { Move, Add, Delete };

Picture Cursor(Sign sign) {
    Picture p(32, 32, 0xFF00FF);
    const std::vector<std::string_view> arrow = {
        "X...........", "XX..........", "XoX.........", "XooX........", "XoooX.......", "XooooX......",
        "XoooooX.....", "XooooooX....", "XoooooooX...", "XooooooooX..", "XoooooXXXXX.", "XooXooX.....",
        "XoX.XooX....", "XX..XooX....", "X....XooX...", ".....XooX...", "......XX....",
    };
    p.Draw(0, 0, arrow, 'X', 0x000000);
    p.Draw(0, 0, arrow, 'o', 0xFFFFFF);
    // The badge: a framed square with the sign in white.
    const Rgb fill = sign == Sign::Delete ? 0xC81E1E : 0x1E78C8;
    for (int y = 0; y < 13; ++y) {
        for (int x = 0; x < 13; ++x) {
            const bool frame = x == 0 || y == 0 || x == 12 || y == 12;
            p.Set(14 + x, 16 + y, frame ? 0x000000 : fill);
        }
    }
    const auto bar = [&p](int x0, int y0, int w, int h) {
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                p.Set(x, y, 0xFFFFFF);
            }
        }
    };
    switch (sign) {
    case Sign::Add:
        bar(17, 21, 7, 3);
        bar(19, 19, 3, 7);
        break;
    case Sign::Delete:
        bar(17, 21, 7, 3);
        break;
    case Sign::Move:
        bar(17, 19, 7, 2);
        bar(17, 23, 7, 2);
        break;
    }
    return p;
}

bool Write(const std::string& folder, const char* name, const Picture& p) {
    const std::string path = folder + "/" + name + ".bmp";
    if (!tunefold::platform::ReplaceFileContents(path, Bmp(p))) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tunefold-editorart OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const bool ok = Write(folder, "BM_NOTE", Note()) && Write(folder, "CR_TRACKDRAG", Cursor(Sign::Move)) &&
                    Write(folder, "CR_TRACKADD", Cursor(Sign::Add)) &&
                    Write(folder, "CR_TRACKDELETE", Cursor(Sign::Delete));
    return ok ? 0 : 1;
}
