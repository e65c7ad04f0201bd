#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <sys/stat.h>

#include "app/logic/eq_curve.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;

TEqCurve Ramp() {
    TEqCurve c{};
    for (int d = 1; d <= 120; ++d) {
        c[static_cast<std::size_t>(d - 1)] = (d - 60) * 1.75L;
    }
    return c;
}

TEST(EqCurveTest, BandTableAndBandSampling) {
    EXPECT_EQ(EqBands[0].F1, 0.0f);
    EXPECT_EQ(EqBands[2].F2, 130.0f);
    EXPECT_STREQ(EqBands[2].Caption, "128");
    EXPECT_EQ(EqBands[9].F1, 8300.0f);
    EXPECT_EQ(EqBands[9].F2, 16500.0f);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(EqBands[i].F2, EqBands[i + 1].F1) << i; // the bands tile the range
    }
    EXPECT_EQ(BandCurvePoint(1), 5);
    EXPECT_EQ(BandCurvePoint(10), 95);
    TEqCurve c{};
    c[4] = 55;    // point 5
    c[94] = -110; // point 95
    c[14] = 1;    // point 15
    const auto gains = BandGains(c);
    EXPECT_FLOAT_EQ(gains[0], 10.0f);
    EXPECT_FLOAT_EQ(gains[9], -20.0f);
    EXPECT_FLOAT_EQ(gains[1], static_cast<float>(1 / 5.5));
    EXPECT_FLOAT_EQ(gains[4], 0.0f);
    EXPECT_EQ(BandGain(c, 0), 0.0f);
    EXPECT_EQ(BandGain(c, 11), 0.0f);
}

TEST(EqCurveTest, ResetKeepsTheHiddenPoints) {
    TEqCurve c = Ramp();
    ResetEqCurve(c);
    for (int d = 1; d <= 100; ++d) {
        EXPECT_EQ(c[static_cast<std::size_t>(d - 1)], 0.0L) << d;
    }
    for (int d = 101; d <= 120; ++d) {
        EXPECT_EQ(c[static_cast<std::size_t>(d - 1)], (d - 60) * 1.75L) << d;
    }
}

TEST(EqCurveTest, DragSpreadsAGaussianBumpAndSaturates) {
    TEqCurve saved{};
    // Band 1 dragged up by the full chart height: 99 pixels at 240 / 99 units per pixel.
    const double scale = 240.0 / 99;
    EXPECT_EQ(DragOffsetAt(60, -39, 99, scale, 0), 0); // the pointer above the chart: kept
    EXPECT_EQ(DragOffsetAt(60, 2, 99, scale, 0), 0);   // 2 itself is outside
    TEqCurve c = DragEqCurve(saved, 240.0, 0);
    EXPECT_EQ(c[4], 110.0L);
    EXPECT_FLOAT_EQ(BandGain(c, 1), 20.0f);
    // Band 2, ten points away, follows by exp(-0.5 (10/6)^2) = 0.2494; band 3 by 0.00387.
    TEqCurve small = DragEqCurve(saved, 40.0, 0);
    EXPECT_NEAR(static_cast<double>(small[14]), 40 * std::exp(-0.5 * (10.0 / 6) * (10.0 / 6)), 1e-12);
    EXPECT_NEAR(static_cast<double>(small[14] / small[4]), 0.2494, 1e-4);
    EXPECT_NEAR(static_cast<double>(small[24] / small[4]), 0.00387, 1e-5);
    EXPECT_EQ(small[4], 40.0L);
    // The bump is centred on the grabbed band's point; points beyond the chart follow as well.
    TEqCurve last = DragEqCurve(saved, -30.0, 9);
    EXPECT_EQ(last[94], -30.0L);
    EXPECT_NEAR(static_cast<double>(last[104]), -30 * std::exp(-0.5 * (10.0 / 6) * (10.0 / 6)), 1e-12);
    EXPECT_NEAR(static_cast<double>(last[0]), 0.0, 1e-20);
    // Back to the starting height: the saved curve exactly.
    const TEqCurve ramp = Ramp();
    const TEqCurve moved = DragEqCurve(ramp, 12.5, 4);
    EXPECT_NE(moved, ramp);
    const TEqCurve back = DragEqCurve(ramp, 0.0, 4);
    for (std::size_t i = 0; i < 120; ++i) {
        EXPECT_EQ(back[i],
                  static_cast<long double>(std::clamp<double>(static_cast<double>(ramp[i]), -110, 110)));
    }
    // Downward past the limit.
    EXPECT_EQ(DragEqCurve(ramp, -500.0, 0)[4], -110.0L);
    // The pointer inside the chart sets the offset, moving up raises it.
    EXPECT_DOUBLE_EQ(DragOffsetAt(50, 40, 99, scale, 7), 10 * scale);
    EXPECT_DOUBLE_EQ(DragOffsetAt(50, 91, 99, scale, 7), 7); // not below height - 8
    EXPECT_DOUBLE_EQ(DragOffsetAt(50, 90.5, 99, scale, 7), -40.5 * scale);
}

TEST(EqCurveTest, ValuesAreWrittenAsTwentyThreeCharacters) {
    EXPECT_EQ(FormatEqValue(0), " 0.00000000000000E+0000");
    EXPECT_EQ(FormatEqValue(-0.0L), " 0.00000000000000E+0000");
    EXPECT_EQ(FormatEqValue(-110), "-1.10000000000000E+0002");
    EXPECT_EQ(FormatEqValue(55), " 5.50000000000000E+0001");
    EXPECT_EQ(FormatEqValue(110), " 1.10000000000000E+0002");
    EXPECT_EQ(FormatEqValue(0.5L), " 5.00000000000000E-0001");
    EXPECT_EQ(FormatEqValue(1e-80L), " 1.00000000000000E-0080");
    EXPECT_EQ(FormatEqValue(99.999999999999999L), " 1.00000000000000E+0002"); // the carry
    EXPECT_EQ(FormatEqValue(-12.3456789012345678L), "-1.23456789012346E+0001");
    const std::string text = EqCurveText(Ramp());
    ASSERT_EQ(text.size(), 120u * 25);
    for (std::size_t line = 0; line < 120; ++line) {
        EXPECT_EQ(text.substr(line * 25 + 23, 2), "\r\n") << line;
    }
}

TEST(EqCurveTest, EveryWrittenValueReadsBackToTheSameText) {
    std::mt19937_64 rng(77);
    std::uniform_real_distribution<double> linear(-110, 110);
    std::uniform_real_distribution<double> exponent(-300, 2);
    std::vector<long double> values = {0, 110, -110, 1e-300L, -1e-300L, 109.999999999999999L, 1, -1};
    for (int i = 0; i < 20000; ++i) {
        values.push_back(linear(rng));
        const long double tiny = std::pow(10.0L, exponent(rng)) * ((i & 1) ? -1 : 1);
        values.push_back(std::clamp<long double>(tiny, -110, 110));
    }
    for (std::size_t start = 0; start < values.size(); start += 120) {
        TEqCurve c{};
        for (std::size_t k = 0; k < 120 && start + k < values.size(); ++k) {
            c[k] = values[start + k];
        }
        const std::string text = EqCurveText(c);
        TEqCurve back{};
        ASSERT_TRUE(ParseEqCurve(text, back));
        ASSERT_EQ(EqCurveText(back), text);
        for (std::size_t k = 0; k < 120; ++k) {
            ASSERT_NEAR(static_cast<double>(back[k]), static_cast<double>(c[k]),
                        std::fabs(static_cast<double>(c[k])) * 1e-14);
        }
    }
}

TEST(EqCurveTest, TheReaderIsLenient) {
    TEqCurve c = Ramp();
    ASSERT_TRUE(ParseEqCurve("", c)); // empty: all zeros
    EXPECT_EQ(c, TEqCurve{});

    c = Ramp();
    ASSERT_TRUE(ParseEqCurve(" 1.5\r\n\r\n\t-2\n", c)); // blank lines and tabs are skipped
    EXPECT_EQ(c[0], 1.5L);
    EXPECT_EQ(c[1], -2.0L);
    EXPECT_EQ(c[2], 0.0L);
    EXPECT_EQ(c[119], 0.0L);

    ASSERT_TRUE(ParseEqCurve("12.5 and further text 999\r\n7 x\r\n", c));
    EXPECT_EQ(c[0], 12.5L);
    EXPECT_EQ(c[1], 7.0L);

    ASSERT_TRUE(ParseEqCurve("110\n-110\n+5\n5.\n.5\n1e2\n1E+1\n-0\n2.5e-1\n1e-99999\n", c));
    EXPECT_EQ(c[0], 110.0L);
    EXPECT_EQ(c[1], -110.0L);
    EXPECT_EQ(c[2], 5.0L);
    EXPECT_EQ(c[3], 5.0L);
    EXPECT_EQ(c[4], 0.5L);
    EXPECT_EQ(c[5], 100.0L);
    EXPECT_EQ(c[6], 10.0L);
    EXPECT_EQ(c[7], 0.0L);
    EXPECT_EQ(c[8], 0.25L);
    EXPECT_EQ(c[9], 0.0L); // far below the type's range

    // A value ends at the first control character or space and has at most 64 characters: a
    // longer one would be cut into another value, so it rejects the file.
    ASSERT_TRUE(ParseEqCurve(std::string(63, '0') + "5\n3\n", c));
    EXPECT_EQ(c[0], 5.0L);
    EXPECT_EQ(c[1], 3.0L);
    const TEqCurve kept = c;
    EXPECT_FALSE(ParseEqCurve(std::string(64, '0') + "5\n3\n", c));
    EXPECT_EQ(c, kept);
    ASSERT_TRUE(ParseEqCurve("4\x01junk\n6", c));
    EXPECT_EQ(c[0], 4.0L);
    EXPECT_EQ(c[1], 6.0L);

    // Values after the 120th are not read.
    std::string many;
    for (int i = 0; i < 130; ++i) {
        many += (i < 120 ? "1\r\n" : "oops\r\n");
    }
    ASSERT_TRUE(ParseEqCurve(many, c));
    EXPECT_EQ(c[119], 1.0L);
}

TEST(EqCurveTest, ARejectedTextChangesNothing) {
    const TEqCurve before = Ramp();
    const char* bad[] = {"abc", "12a",  "1e",  "1e+",  "-",     "+",     ".",         "1.2.3",
                         "--1", "0x10", "nan", "inf",  "12,5",  "110.5", "-110.0001", "1e999999",
                         "e5",  "1..2", "+-1", "5e5.", "1e2e3", "\xff"};
    for (const char* text : bad) {
        TEqCurve c = before;
        EXPECT_FALSE(ParseEqCurve(text, c)) << text;
        EXPECT_EQ(c, before) << text;
    }
    // The 37th value out of range rejects the whole file.
    std::string file;
    for (int i = 1; i <= 120; ++i) {
        file += (i == 37 ? "110.5" : "3") + std::string("\r\n");
    }
    TEqCurve c = before;
    EXPECT_FALSE(ParseEqCurve(file, c));
    EXPECT_EQ(c, before);
    // 64 characters make a value even when they are too large for the curve.
    EXPECT_FALSE(ParseEqCurve("1" + std::string(63, '0'), c));
}

TEST(EqCurveTest, FilesAreReplacedWhole) {
    const fs::path folder = test::Sandbox() / "program" / "curves";
    fs::remove_all(folder); // left by an earlier run of this test in the same process
    fs::create_directories(folder);
    const fs::path file = folder / "normal.eq0";
    TEqCurve c = Ramp();
    EXPECT_FALSE(ReadEqCurveFile(file, c)); // missing
    EXPECT_EQ(c, Ramp());

    ASSERT_EQ(WriteEqCurveFile(file, Ramp()), TEqWriteResult::Ok);
    {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes, EqCurveText(Ramp()));
    }
    TEqCurve read{};
    ASSERT_TRUE(ReadEqCurveFile(file, read));
    EXPECT_EQ(EqCurveText(read), EqCurveText(Ramp()));

    // Replacing keeps the old permissions and leaves no temporary file behind.
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_EQ(WriteEqCurveFile(file, TEqCurve{}), TEqWriteResult::Ok);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);

    // A link stays a link; its target gets the curve.
    const fs::path real = folder / "real.eq";
    const fs::path link = folder / "link.eq";
    ASSERT_EQ(WriteEqCurveFile(real, TEqCurve{}), TEqWriteResult::Ok);
    fs::create_symlink(real, link);
    ASSERT_EQ(WriteEqCurveFile(link, Ramp()), TEqWriteResult::Ok);
    EXPECT_TRUE(fs::is_symlink(link));
    ASSERT_TRUE(ReadEqCurveFile(real, read));
    EXPECT_EQ(EqCurveText(read), EqCurveText(Ramp()));

    // A folder that does not exist: nothing can be created.
    EXPECT_EQ(WriteEqCurveFile(folder / "missing" / "x.eq", Ramp()), TEqWriteResult::CannotCreate);
    // A target that cannot be replaced: the error is reported and nothing is left behind.
    const fs::path dir = folder / "adir.eq";
    fs::create_directories(dir / "inside");
    EXPECT_EQ(WriteEqCurveFile(dir, Ramp()), TEqWriteResult::WriteError);
    EXPECT_TRUE(fs::is_directory(dir / "inside"));
    entries = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 4); // normal.eq0, real.eq, link.eq, adir.eq

    // A rejected file read from disk changes nothing either.
    std::ofstream(folder / "bad.eq", std::ios::binary) << "1\r\n2\r\nthree\r\n";
    c = Ramp();
    EXPECT_FALSE(ReadEqCurveFile(folder / "bad.eq", c));
    EXPECT_EQ(c, Ramp());
}

TEST(EqCurveTest, OnlyRegularFilesOfACurvesSizeAreRead) {
    const fs::path folder = test::Sandbox() / "program" / "odd-curves";
    fs::remove_all(folder);
    fs::create_directories(folder / "adir.eq");
    ASSERT_EQ(::mkfifo((folder / "pipe.eq").c_str(), 0600), 0);
    // Valid values, but far more text than a curve of 120 lines.
    std::string padded = EqCurveText(Ramp());
    padded += std::string(kEqCurveFileCap, ' ');
    std::ofstream(folder / "huge.eq", std::ios::binary) << padded;
    TEqCurve c = Ramp();
    // A folder threw from deep inside the stream library, a pipe waited for a writer, /dev/zero
    // was read without end.
    for (const fs::path& odd :
         {folder / "adir.eq", folder / "pipe.eq", folder / "huge.eq", fs::path("/dev/zero")}) {
        TEqCurve changed = c;
        changed[0] = 1;
        EXPECT_FALSE(ReadEqCurveFile(odd, changed)) << odd;
        EXPECT_EQ(changed[0], 1) << odd;
    }
}

} // namespace
} // namespace tunefold
