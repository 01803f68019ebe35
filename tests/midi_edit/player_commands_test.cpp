#include "tests/midi_edit/wav_reader.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace chwr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
namespace fs = std::filesystem;

// One note held for the given number of quarter notes at 120 beats a minute (500 ms each).
Bytes heldNote(std::uint32_t quarters)
{
    test::SmfBuilder song(0, 96);
    song.track().programChange(0, 0, 19).noteOn(0, 0, 64, 110).noteOff(96 * quarters, 0, 64).endOfTrack();
    return song.build();
}

class PlayerCommands : public test::TempFolderTest {
protected:
    std::string chwr() const { return (test::binaryDir() / "cli" / "chwr").string(); }
};

TEST_F(PlayerCommands, RenderWritesTheWav)
{
    fs::path song = writeFile("song.mid", heldNote(3));
    auto run = test::runProcess({chwr(), "render", song.string(), path("song.wav").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out,
                StartsWith("Rendered " + song.string() + " (0:01.5) to " + path("song.wav").string()));
    auto wav = test::readWav(readFile(path("song.wav")));
    ASSERT_TRUE(wav) << wav.error();
    EXPECT_NEAR(wav->milliseconds(), 1500.0, 20.0);
    EXPECT_GT(wav->peak(), 1000);
}

TEST_F(PlayerCommands, RenderRefusesWhatItCannotDo)
{
    auto missing =
        test::runProcess({chwr(), "render", path("missing.mid").string(), path("out.wav").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_THAT(missing.err, HasSubstr("Cannot open \"" + path("missing.mid").string() + "\""));

    fs::path song = writeFile("song.mid", heldNote(1));
    auto noFont = test::runProcess({chwr(), "render", song.string(), path("out.wav").string(), "--soundfont",
                                    path("none.sf2").string()});
    EXPECT_EQ(noFont.exitCode, 1);
    EXPECT_EQ(noFont.err, "chwr: The SoundFont \"" + path("none.sf2").string() + "\" does not exist.\n");

    auto usage = test::runProcess({chwr(), "render", song.string()});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_THAT(usage.err, HasSubstr("Usage: chwr render FILE.mid OUT.wav [--soundfont SF2]"));
    EXPECT_THAT(listFolder(folder()), ElementsAre("home", "song.mid"));
}

TEST_F(PlayerCommands, PlayShowsThePositionUntilTheEnd)
{
    fs::path song = writeFile("song.mid", heldNote(3));
    auto run = test::runProcess({chwr(), "play", song.string(), "--silent"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, StartsWith("Playing " + song.string() + " (0:01.5) silently, SoundFont "));
    EXPECT_THAT(run.out, HasSubstr("\n  0:00.0 / 0:01.5\n  0:01.0 / 0:01.5\n"));
    EXPECT_THAT(run.out, HasSubstr("Done.\n"));

    auto missing = test::runProcess({chwr(), "play", path("missing.mid").string(), "--silent"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_THAT(missing.err, HasSubstr(path("missing.mid").string()));
    EXPECT_EQ(test::runProcess({chwr(), "play"}).exitCode, 2);
}

TEST_F(PlayerCommands, CtrlCStopsPlayCleanly)
{
    fs::path song = writeFile("long.mid", heldNote(120)); // a minute
    std::string program = chwr();
    std::vector<std::string> argv = {program, "play", song.string(), "--silent"};
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    const std::string output = path("play.out").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Once it has said it plays, it has its handler.
    for (int i = 0; i < 250 && asString(readFile(output)).find("Ctrl-C stops") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_THAT(asString(readFile(output)), HasSubstr("Stopped at 0:0"));
}

} // namespace
} // namespace chwr
