#include "cdinfo/big_ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/files.h"

namespace tunefold {
namespace {

using test::FreshFolder;
using test::ReadWhole;
using test::WriteBytes;

TEST(BigIniFile, SectionsAndKeysMatchWithoutCaseAndOnlyExactly) {
    TBigIniFile ini;
    ini.LoadFromText("[3a4f2]\r\nartist =Spaced\r\nARTIST=Caps\r\ntitle=\r\nnote\r\n[abc] \r\n"
                     "inside=still 3a4f2\r\n");
    // The lower-case section is the disc 3A4F2; the key written in capitals is "artist", the one with
    // a space before "=" is not (the load options are off).
    EXPECT_EQ(ini.ReadString("3A4F2", "artist", "none"), "Caps");
    EXPECT_EQ(ini.ReadString("3A4F2", "artist ", "none"), "Spaced");
    // An empty value is a value, not the default.
    EXPECT_EQ(ini.ReadString("3a4f2", "Title", "none"), "");
    // A line without "=" never matches a key, though it stays in the section.
    EXPECT_EQ(ini.ReadString("3a4f2", "note", "none"), "none");
    // "[abc] " (trailing space) is no header: its line and the next belong to 3a4f2.
    TStrings names;
    ini.ReadSections(names);
    EXPECT_EQ(names, TStrings{"3a4f2"});
    EXPECT_EQ(ini.ReadString("3a4f2", "inside", ""), "still 3a4f2");
    TStrings values;
    ini.ReadSectionValues("3A4F2", values);
    EXPECT_EQ(values.size(), 6u);
    EXPECT_EQ(ini.ReadString("missing", "artist", "dflt"), "dflt");
}

TEST(BigIniFile, LinesBeforeTheFirstHeaderCtrlZAndLineEnds) {
    TBigIniFile ini;
    ini.LoadFromText("orphan=1\n\x1A\n[a]\rx=1\n\x1A\r\n\n[b]\r\ny=2\x1A\r\n[]\nz=3");
    TStrings names;
    ini.ReadSections(names);
    EXPECT_EQ(names, (TStrings{"a", "b", ""}));
    TStrings a;
    ini.ReadSectionValues("a", a);
    EXPECT_EQ(a, TStrings{"x=1"}); // the Ctrl-Z line counts as empty and is dropped
    EXPECT_EQ(ini.ReadString("b", "y", ""), "2\x1A");
    EXPECT_EQ(ini.ReadString("", "z", ""), "3");
    EXPECT_EQ(ini.ReadString("a", "orphan", "gone"), "gone");
}

TEST(BigIniFile, FirstDuplicateWinsUnlessTheHandlerKeepsTheLater) {
    const std::string text =
        "[Disc]\nartist=First\n[other]\nk=v\n[DISC]\nartist=Second\n[disc]\nartist=Third\n";
    {
        TBigIniFile ini;
        ini.LoadFromText(text);
        EXPECT_EQ(ini.ReadString("disc", "artist", ""), "First");
        TStrings names;
        ini.ReadSections(names);
        EXPECT_EQ(names, (TStrings{"Disc", "other"}));
        EXPECT_FALSE(ini.Modified()); // loading never makes the file due for a rewrite
    }
    {
        TBigIniFile ini;
        std::vector<std::pair<std::string, std::string>> asked;
        ini.OnDuplicateSection = [&](const std::string& name, const TStrings& earlier,
                                     const TStrings& later) {
            asked.emplace_back(name + ":" + earlier.at(0), later.at(0));
            return false;
        };
        ini.LoadFromText(text);
        // Each pair is the survivor so far against the next one; the last survivor stays, in its
        // own place in file order.
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_EQ(asked[0], std::make_pair(std::string("Disc:artist=First"), std::string("artist=Second")));
        EXPECT_EQ(asked[1], std::make_pair(std::string("DISC:artist=Second"), std::string("artist=Third")));
        EXPECT_EQ(ini.ReadString("Disc", "artist", ""), "Third");
        TStrings names;
        ini.ReadSections(names);
        EXPECT_EQ(names, (TStrings{"other", "disc"}));
    }
}

TEST(BigIniFile, IntegersHexAndBadNumbersGiveTheDefault) {
    TBigIniFile ini;
    ini.LoadFromText("[s]\nhex=0x1F\nHEX2=0X1f\ndollar=$ff\ndec=42\nneg=-7\nletters=abc\nhuge=99999999999\n"
                     "max=2147483647\nover=2147483648\nmin=-2147483648\nempty=\nlead=  12\ntrail=12 \n"
                     "bare0x=0x\nfull=0xFFFFFFFF\nlong=0x100000000\nyes=5\nno=0\n");
    EXPECT_EQ(ini.ReadInteger("s", "hex", -1), 31);
    EXPECT_EQ(ini.ReadInteger("s", "hex2", -1), 31);
    EXPECT_EQ(ini.ReadInteger("s", "dollar", -1), 255);
    EXPECT_EQ(ini.ReadInteger("s", "dec", -1), 42);
    EXPECT_EQ(ini.ReadInteger("s", "neg", 0), -7);
    EXPECT_EQ(ini.ReadInteger("s", "letters", 9), 9);
    EXPECT_EQ(ini.ReadInteger("s", "huge", 9), 9);
    EXPECT_EQ(ini.ReadInteger("s", "max", 9), 2147483647);
    EXPECT_EQ(ini.ReadInteger("s", "over", 9), 9);
    EXPECT_EQ(ini.ReadInteger("s", "min", 9), -2147483647 - 1);
    EXPECT_EQ(ini.ReadInteger("s", "empty", 9), 9);
    EXPECT_EQ(ini.ReadInteger("s", "lead", 9), 12);
    EXPECT_EQ(ini.ReadInteger("s", "trail", 9), 9);
    EXPECT_EQ(ini.ReadInteger("s", "bare0x", 9), 9);
    EXPECT_EQ(ini.ReadInteger("s", "full", 9), -1);
    EXPECT_EQ(ini.ReadInteger("s", "long", 9), 9);
    EXPECT_EQ(ini.ReadInteger("s", "absent", 9), 9);
    EXPECT_TRUE(ini.ReadBool("s", "yes", false));
    EXPECT_FALSE(ini.ReadBool("s", "no", true));
    EXPECT_TRUE(ini.ReadBool("s", "absent", true));
}

TEST(BigIniFile, LoadOptionsShapeTheLines) {
    TBigIniFile ini;
    ini.SkipComments = true;
    ini.KeyLinesOnly = true;
    ini.TrimAroundEquals = true;
    ini.StripQuotes = true;
    ini.TrimTrailing = true;
    ini.LoadFromText(
        "[s]\n;comment=1\nname \t= \t\"quoted\"\nsingle='x'\nmixed=\"x'\nq=\"\nplain line\ntail=v \t\n");
    TStrings lines;
    ini.ReadSectionValues("s", lines);
    EXPECT_EQ(lines, (TStrings{"name=quoted", "single=x", "mixed=\"x'", "q=\"", "tail=v"}));
}

TEST(BigIniFile, WritingOperationsAndTheirModifiedMark) {
    TBigIniFile ini;
    ini.LoadFromText("[a]\nk=1\nother=2\n[b]\nx=y\n");
    ini.WriteString("a", "K", "1");
    EXPECT_TRUE(ini.Modified()); // "K=1" differs from "k=1" as a line
    TBigIniFile same;
    same.LoadFromText("[a]\nk=1\n");
    same.WriteString("A", "k", "1");
    EXPECT_FALSE(same.Modified());
    ini.WriteInteger("new", "n", -5);
    ini.WriteBool("new", "b", true);
    EXPECT_EQ(ini.ReadInteger("new", "n", 0), -5);
    EXPECT_TRUE(ini.ReadBool("new", "b", false));
    ini.DeleteKey("a", "other");
    TStrings keys;
    ini.ReadSection("a", keys);
    EXPECT_EQ(keys, TStrings{"K"});
    ini.AppendSectionLines("b", {"raw line", "z=1"});
    EXPECT_EQ(ini.ReadString("b", "z", ""), "1");
    ini.WriteString("b", "", "");
    TStrings names;
    ini.ReadSections(names);
    EXPECT_EQ(names, (TStrings{"a", "new"}));
    ini.EraseSection("NEW");
    ini.WriteString("empty", "k", "v");
    ini.DeleteKey("empty", "k");
    TStrings all;
    ini.GetStrings(all);
    EXPECT_EQ(all, (TStrings{"[a]", "K=1", ""})); // sections without lines are left out
    EXPECT_EQ(ini.LastSection(), 1);
}

TEST(BigIniFile, LoadingNeverRewritesAndWritesAreWholeFiles) {
    const auto folder = FreshFolder("bigini");
    const auto path = folder / "cdplayer.ini";
    const std::string original = "; a shared file\r\n[1]\r\nartist=A\r\n\r\n\r\n[1]\r\nartist=B\r\n";
    WriteBytes(path, original);
    {
        TBigIniFile ini(path.string());
        EXPECT_EQ(ini.ReadString("1", "artist", ""), "A");
        EXPECT_FALSE(ini.Modified());
    }
    EXPECT_EQ(ReadWhole(path), original); // duplicates and blank lines kept: not ours to tidy

    {
        TBigIniFile ini(path.string());
        ini.WriteString("2", "title", "T");
        EXPECT_TRUE(ini.UpdateFile());
        EXPECT_FALSE(ini.Modified());
    }
    EXPECT_EQ(ReadWhole(path), "[1]\r\nartist=A\r\n\r\n[2]\r\ntitle=T\r\n\r\n");
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().filename(), "cdplayer.ini"); // no temporary file left behind
    }

    // A missing file is an empty database.
    TBigIniFile missing((folder / "none.ini").string());
    EXPECT_EQ(missing.Sections().Count(), 0);
    EXPECT_EQ(missing.ReadString("1", "artist", "d"), "d");
}

TEST(BigIniFile, SomethingUnreadableIsNeverWrittenOver) {
    const auto folder = FreshFolder("bigini-unreadable");
    // A folder where the file should be: nothing to read, and nothing may be written over it.
    std::filesystem::create_directory(folder / "db.ini");
    {
        TBigIniFile ini((folder / "db.ini").string());
        ini.WriteString("s", "k", "v");
        EXPECT_FALSE(ini.UpdateFile());
        EXPECT_TRUE(ini.Modified());
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder / "db.ini"));
}

TEST(SectionList, SearchStartsWhereTheLastEndedAndWraps) {
    TSectionList list;
    list.Add("one");
    list.Add("Two");
    list.Add("two");
    EXPECT_EQ(list.Find("TWO"), 1);
    list.SetSearchStart(2);
    EXPECT_EQ(list.Find("two"), 2);
    EXPECT_EQ(list.Find("ONE"), 0); // wrapped round
    EXPECT_EQ(list.SearchStart(), 0);
    EXPECT_EQ(list.Find("three"), -1);
    list.SetSearchStart(2);
    list.Delete(2);
    EXPECT_EQ(list.SearchStart(), 0);
    EXPECT_EQ(list.Find("two"), 1);
}

} // namespace
} // namespace tunefold
