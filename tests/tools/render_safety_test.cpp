// tunefold-render handed what a careless or hostile user hands it: outputs that name inputs, runs
// cut short by a signal, things that are not files, files that are not what their name says, and
// names made to upset a terminal. Nothing may be lost, crash or hang.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/files.h"
#include "support/pull.h"
#include "support/render_run.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;
using test::ReadWhole;
using test::RunRender;
using test::WriteBytes;

fs::path Folder() {
    return test::FreshFolder("safety");
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

int Entries(const fs::path& folder) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        (void)e;
        ++n;
    }
    return n;
}

TEST(RenderSafety, NoOutputOverwritesAnInput) {
    const fs::path folder = Folder();
    const fs::path in = folder / "in.wav";
    fs::copy_file(test::Fixture("pcm16_stereo_44100.wav"), in);
    const std::string original = ReadWhole(in);
    fs::create_symlink(in, folder / "link.wav");
    WriteBytes(folder / "list.lst", "in.wav\n");
    WriteBytes(folder / "flat.eq", "0\r\n");
    const std::vector<std::string> cases = {
        "--out " + Quoted(in) + " " + Quoted(in),
        "--out " + Quoted(folder / "link.wav") + " " + Quoted(in), // a link to it is the same file
        "--out " + Quoted(in) + " " + Quoted(folder / "list.lst"), // an entry of a list
        "--out " + Quoted(folder / "x.wav") + " --snapshot-ms 0 --snapshot " + Quoted(in) + " " + Quoted(in),
        "--out " + Quoted(folder / "list.lst") + " " + Quoted(folder / "list.lst"),
        "--eq " + Quoted(folder / "flat.eq") + " --out " + Quoted(folder / "flat.eq") + " " + Quoted(in),
    };
    for (const auto& args : cases) {
        const auto r = RunRender(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("is the input"), std::string::npos) << args << ": " << r.err;
    }
    EXPECT_EQ(ReadWhole(in), original);
    EXPECT_EQ(ReadWhole(folder / "list.lst"), "in.wav\n");
    EXPECT_EQ(ReadWhole(folder / "flat.eq"), "0\r\n");
    EXPECT_FALSE(fs::exists(folder / "x.wav"));
    EXPECT_EQ(Entries(folder), 4); // nothing left behind
    const auto both = RunRender("--out " + Quoted(folder / "o.wav") + " --snapshot-ms 0 --snapshot " +
                                Quoted(folder / "o.wav") + " " + Quoted(in));
    EXPECT_EQ(both.status, 2);
    EXPECT_FALSE(fs::exists(folder / "o.wav"));
}

TEST(RenderSafety, AnEndlessRenderingIsRefused) {
    const fs::path folder = Folder();
    const auto r = RunRender("--loop 0 --out " + Quoted(folder / "x.wav") + " " +
                             test::Fixture("pcm16_stereo_44100.wav"));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--loop 0"), std::string::npos);
    EXPECT_EQ(Entries(folder), 0);
}

// A rendering ended by SIGINT or SIGTERM leaves the target as it was and no temporary file.
TEST(RenderSafety, AnInterruptedRenderingLeavesTheTargetAsItWas) {
    for (const int signal : {SIGTERM, SIGINT}) {
        const fs::path folder = Folder();
        const fs::path out = folder / "kept.wav";
        WriteBytes(out, "the user's old file");
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const std::string binary = std::string(TUNEFOLD_BINARY_DIR) + "/tools/tunefold-render";
        const std::string fixture = test::Fixture("pcm16_stereo_44100.wav");
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::dup2(pipeFds[1], 1);
            ::close(pipeFds[0]);
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            ::execl(binary.c_str(), binary.c_str(), "--progress", "--loop", "65535", "--out", out.c_str(),
                    fixture.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        // The first progress line comes from inside the playing loop: the rendering is under way.
        char c = 0;
        ASSERT_EQ(::read(pipeFds[0], &c, 1), 1);
        ::kill(pid, signal);
        while (::read(pipeFds[0], &c, 1) > 0) {
        }
        ::close(pipeFds[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_EQ(ReadWhole(out), "the user's old file");
        EXPECT_EQ(Entries(folder), 1) << "a temporary file was left behind";
    }
}

TEST(RenderSafety, ThingsThatAreNoFilesEndWithAMessage) {
    const fs::path folder = Folder();
    fs::create_directories(folder / "adir.eq");
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    const std::string fixture = test::Fixture("pcm16_stereo_44100.wav");
    for (const std::string& eq :
         {(folder / "adir.eq").string(), std::string("/dev/zero"), (folder / "pipe").string()}) {
        const auto r = RunRender("--eq " + eq + " --out " + Quoted(folder / "x.wav") + " " + fixture);
        EXPECT_EQ(r.status, 2) << eq;
        EXPECT_NE(r.err.find("is not a readable equalizer curve file"), std::string::npos) << r.err;
    }
    for (const std::string& info :
         {(folder / "pipe").string(), (folder / "adir.eq").string(), std::string("/dev/zero")}) {
        const auto r = RunRender("--info " + info);
        EXPECT_EQ(r.status, 1) << info;
        EXPECT_EQ(r.err, info + " is not a valid Audiofile\n");
    }
    const auto played =
        RunRender("--out " + Quoted(folder / "x.wav") + " " + Quoted(folder / "pipe") + " /dev/zero");
    EXPECT_EQ(played.status, 1);
    EXPECT_EQ(played.err,
              (folder / "pipe").string() + " is not a valid Audiofile\n/dev/zero is not a valid Audiofile\n");
    EXPECT_FALSE(fs::exists(folder / "x.wav"));
}

TEST(RenderSafety, BinaryFilesAreNoListsAndNamesAreShownSafely) {
    const fs::path folder = Folder();
    // A "picture" full of terminal escapes, and a text file that says it is an MP3 and names a real one.
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\x1b[2J\x1b]0;owned\x07\n", 30);
    WriteBytes(folder / "cover.png", png + test::Fixture("pcm16_stereo_44100.wav") + "\n");
    WriteBytes(folder / "x.mp3", test::Fixture("pcm16_stereo_44100.wav") + "\n");
    const auto r = RunRender("--out " + Quoted(folder / "x.wav") + " " + Quoted(folder / "cover.png") + " " +
                             Quoted(folder / "x.mp3"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, (folder / "cover.png").string() + " is not a valid Audiofile\n" +
                         (folder / "x.mp3").string() + " is not a valid Audiofile\n");
    EXPECT_FALSE(fs::exists(folder / "x.wav"));
    // A name with escapes and a 1 MB line are shown escaped and cut short.
    const auto named = RunRender("\"$(printf '%s/\\033[31mred\\n.lst' '" + folder.string() + "')\"");
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.err, folder.string() + "/\\x1b[31mred\\x0a.lst is not a valid Audiofile\n");
    WriteBytes(folder / "long.lst",
               std::string(1 << 20, 'a') + "\n" + test::Fixture("pcm16_mono_11025.s16") + "\n");
    const auto longLine = RunRender("--out " + Quoted(folder / "y.wav") + " " + Quoted(folder / "long.lst"));
    EXPECT_EQ(longLine.status, 1);
    EXPECT_LT(longLine.err.size(), 1000u) << "a long entry is not echoed whole";
}

TEST(RenderSafety, ListsMadeOnLinuxPlay) {
    const fs::path folder = Folder();
    const std::string fixture = test::Fixture("pcm16_stereo_44100.wav");
    WriteBytes(folder / "list.m3u",
               "#EXTM3U\n#EXTINF:1,Fixture\n" + fixture + "\nmissing.wav\n" + fixture + "\n");
    const auto listed =
        RunRender("--no-eq --out " + Quoted(folder / "list.wav") + " " + Quoted(folder / "list.m3u"));
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.err, "");
    const auto direct =
        RunRender("--no-eq --out " + Quoted(folder / "twice.wav") + " " + fixture + " " + fixture);
    ASSERT_EQ(direct.status, 0);
    EXPECT_EQ(ReadWhole(folder / "list.wav"), ReadWhole(folder / "twice.wav"));
    // An entry that exists but is no audio is the one thing reported.
    WriteBytes(folder / "junk.lst", test::Fixture("pcm16_mono_11025.s16") + "\n");
    const auto junk = RunRender("--out " + Quoted(folder / "j.wav") + " " + Quoted(folder / "junk.lst"));
    EXPECT_EQ(junk.status, 1);
    EXPECT_EQ(junk.err, test::Fixture("pcm16_mono_11025.s16") + " is not a valid Audiofile\n");
}

TEST(RenderSafety, AnUnreachableSoundDeviceIsNamedAsSuch) {
    // An ALSA set-up whose default device does not exist, as on a machine with no card and no server.
    const fs::path folder = Folder();
    WriteBytes(folder / "asound.conf", "pcm.!default { type hw card 99 }\n");
    const auto r = RunRender("--device -1 " + test::Fixture("pcm16_stereo_44100.wav"),
                             "TUNEFOLD_PLATFORM= ALSA_CONFIG_PATH=" + (folder / "asound.conf").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find("can''t"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("can't play this format"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("No sound device"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ALSA: \"default\""), std::string::npos) << r.err;
}

} // namespace
} // namespace tunefold
