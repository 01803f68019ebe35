#include "midi_edit/player/fluidsynth_player.h"
#include "shell/file_io.h"
#include "tests/midi_edit/wav_reader.h"
#include "tests/support/scripted_player.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace chwr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kDivision = 480;
constexpr std::uint32_t kDefaultTempo = 500000; // a quarter note lasts 500 ms

// Two quarter notes at the default tempo (1000 ms), then a tempo twice as fast for two
// more (500 ms): 1500 ms in all, where a single tempo would give 2000.
Bytes twoTempoSong()
{
    test::SmfBuilder song(1, kDivision);
    song.track().tempo(0, kDefaultTempo).tempo(2 * kDivision, kDefaultTempo / 2).endOfTrack(2 * kDivision);
    song.track()
        .programChange(0, 0, 0)
        .noteOn(0, 0, 60, 100)
        .noteOff(2 * kDivision, 0, 60)
        .noteOn(0, 0, 67, 100)
        .noteOff(2 * kDivision, 0, 67)
        .endOfTrack();
    return song.build();
}

// The same length of time with no note: what the synthesizer gives for silence (dither
// at most), the floor a sounding render must stand clearly above.
Bytes silentSong()
{
    test::SmfBuilder song(1, kDivision);
    song.track().tempo(0, kDefaultTempo).tempo(2 * kDivision, kDefaultTempo / 2).endOfTrack(2 * kDivision);
    song.track().programChange(0, 0, 0).endOfTrack(4 * kDivision);
    return song.build();
}

// The player's clock, moved by the test.
class ManualClock {
public:
    void advance(std::chrono::milliseconds step) { m_now += step; }
    PlayerClock clock()
    {
        return [this] { return m_now; };
    }

private:
    std::chrono::steady_clock::time_point m_now{};
};

class PlayerTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        // Silent players only look for the SoundFont; they never load it.
        options.soundFonts.named = writeFile("font.sf2", asBytes("not read when silent"));
        options.audio = AudioOutput::Silent;
        options.clock = clock.clock();
        song = writeFile("song.mid", twoTempoSong());
    }

    std::unique_ptr<FluidSynthPlayer> openPlayer()
    {
        auto player = std::make_unique<FluidSynthPlayer>(options);
        player->setDeviceType("Sequencer");
        player->setFileName(song);
        auto opened = player->command("Open");
        EXPECT_TRUE(opened) << opened.error();
        return player;
    }

    ManualClock clock;
    FluidSynthPlayerOptions options;
    fs::path song;
};

TEST_F(PlayerTest, OpenGivesTheLengthThroughTheTempoMap)
{
    auto player = openPlayer();
    EXPECT_TRUE(player->isOpen());
    EXPECT_EQ(player->length(), 1500);
    EXPECT_EQ(player->position(), 0);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->fileName(), song);
}

TEST_F(PlayerTest, AFileItCannotPlayIsAnErrorNotALengthOfZero)
{
    FluidSynthPlayer player(options);
    player.setFileName(path("missing.mid"));
    EXPECT_THAT(player.command("Open").error(),
                HasSubstr("Cannot open \"" + path("missing.mid").string() + "\""));

    player.setFileName(writeFile("short.mid", asBytes("MThd")));
    EXPECT_THAT(player.command("Open").error(),
                HasSubstr("Cannot play \"" + path("short.mid").string() + "\": "));

    test::SmfBuilder silent(0, kDivision);
    silent.track().endOfTrack();
    player.setFileName(writeFile("empty.mid", silent.build()));
    EXPECT_EQ(player.command("Open").error(),
              "Cannot play \"" + path("empty.mid").string() + "\": it holds no music (its length is 0 ms).");

    player.setFileName(song);
    player.setDeviceType("WaveAudio");
    EXPECT_EQ(player.command("Open").error(),
              "The player has no device \"WaveAudio\"; it plays MIDI files as the \"Sequencer\".");

    EXPECT_FALSE(player.isOpen());
    EXPECT_EQ(player.length(), 0);
}

TEST_F(PlayerTest, WithoutASoundFontOpenSaysWhatToInstall)
{
    options.soundFonts = {{}, {path("no fonts here")}};
    FluidSynthPlayer player(options);
    player.setFileName(song);
    auto opened = player.command("Open");
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error(),
              "No General MIDI SoundFont was found (looked in " + path("no fonts here").string() +
                  "). Install one, on Debian the package fluid-soundfont-gm or timgm6mb-soundfont, "
                  "or name a .sf2 file with CHIMEWRIGHT_SOUNDFONT.");
    EXPECT_FALSE(player.isOpen());
}

TEST_F(PlayerTest, PlayMovesThePositionWithTheClockUntilTheEnd)
{
    auto player = openPlayer();
    ASSERT_TRUE(player->command("Play"));
    EXPECT_TRUE(player->isPlaying());
    EXPECT_FALSE(player->audible());
    clock.advance(400ms);
    EXPECT_EQ(player->position(), 400);
    clock.advance(1099ms);
    EXPECT_EQ(player->position(), 1499);
    EXPECT_TRUE(player->isPlaying());
    clock.advance(5000ms);
    EXPECT_EQ(player->position(), 1500);
    EXPECT_FALSE(player->isPlaying());
    player->poll();
    EXPECT_EQ(player->position(), 1500);

    // At the end, "Play" has nothing to play until "Prev".
    ASSERT_TRUE(player->command("Play"));
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(PlayerTest, StopKeepsThePositionAndPlayGoesOnFromThere)
{
    auto player = openPlayer();
    ASSERT_TRUE(player->command("Play"));
    clock.advance(300ms);
    ASSERT_TRUE(player->command("Stop"));
    clock.advance(1000ms);
    EXPECT_EQ(player->position(), 300);
    EXPECT_FALSE(player->isPlaying());

    ASSERT_TRUE(player->command("Play"));
    clock.advance(200ms);
    EXPECT_EQ(player->position(), 500);
    // A second "Play" while playing changes nothing.
    ASSERT_TRUE(player->command("Play"));
    clock.advance(100ms);
    EXPECT_EQ(player->position(), 600);
}

TEST_F(PlayerTest, PrevReturnsToTheStartStopped)
{
    auto player = openPlayer();
    ASSERT_TRUE(player->command("Play"));
    clock.advance(700ms);
    ASSERT_TRUE(player->command("Prev"));
    EXPECT_EQ(player->position(), 0);
    EXPECT_FALSE(player->isPlaying());
    clock.advance(100ms);
    EXPECT_EQ(player->position(), 0);
}

TEST_F(PlayerTest, FromSetsWherePlayStartsAndMovesAStoppedPlayer)
{
    auto player = openPlayer();
    // Moving to a mark: Stop, From, Play, Stop leaves the player stopped there.
    ASSERT_TRUE(player->command("Stop"));
    player->setFrom(700);
    EXPECT_EQ(player->position(), 700);
    ASSERT_TRUE(player->command("Play"));
    ASSERT_TRUE(player->command("Stop"));
    EXPECT_EQ(player->position(), 700);
    EXPECT_FALSE(player->isPlaying());

    // While playing, From waits for the next Play.
    ASSERT_TRUE(player->command("Play"));
    clock.advance(100ms);
    player->setFrom(200);
    EXPECT_EQ(player->position(), 800);
    ASSERT_TRUE(player->command("Play"));
    clock.advance(50ms);
    EXPECT_EQ(player->position(), 250);

    ASSERT_TRUE(player->command("Stop"));
    player->setFrom(99999);
    EXPECT_EQ(player->position(), 1500);
    player->setFrom(-5);
    EXPECT_EQ(player->position(), 0);
}

TEST_F(PlayerTest, StatusUpdatesComeAtTheUpdateInterval)
{
    auto player = openPlayer();
    int updates = 0;
    player->setStatusUpdateHandler([&] { ++updates; });
    player->setUpdateInterval(100);
    player->setTimeFormat(0);

    ASSERT_TRUE(player->command("Play"));
    player->poll();
    EXPECT_EQ(updates, 1); // at once after a play starts
    clock.advance(60ms);
    player->poll();
    EXPECT_EQ(updates, 1);
    clock.advance(40ms);
    player->poll();
    EXPECT_EQ(updates, 2);
    for (int i = 0; i < 10; ++i) {
        clock.advance(50ms);
        player->poll();
    }
    EXPECT_EQ(updates, 7);

    // A stopped player still reports; a closed one, or an interval of 0, does not.
    ASSERT_TRUE(player->command("Stop"));
    clock.advance(100ms);
    player->poll();
    EXPECT_EQ(updates, 8);
    player->setUpdateInterval(0);
    clock.advance(100ms);
    player->poll();
    EXPECT_EQ(updates, 8);
    player->setUpdateInterval(100);
    ASSERT_TRUE(player->command("Close"));
    clock.advance(100ms);
    player->poll();
    EXPECT_EQ(updates, 8);
}

TEST_F(PlayerTest, AStatusUpdateHandlerCanRewindAFinishedTone)
{
    auto player = openPlayer();
    FluidSynthPlayer* raw = player.get();
    std::vector<std::int64_t> seen;
    player->setUpdateInterval(100);
    player->setStatusUpdateHandler([&] {
        seen.push_back(raw->position());
        if (raw->position() >= raw->length()) {
            ASSERT_TRUE(raw->command("Prev"));
        }
    });
    ASSERT_TRUE(player->command("Play"));
    for (int i = 0; i < 4; ++i) {
        player->poll();
        clock.advance(500ms);
    }
    player->poll();
    EXPECT_THAT(seen, ElementsAre(0, 500, 1000, 1500, 0));
    EXPECT_EQ(player->position(), 0);
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(PlayerTest, CommandsActInEitherCase)
{
    auto player = openPlayer();
    ASSERT_TRUE(player->command("play"));
    clock.advance(100ms);
    ASSERT_TRUE(player->command("stop"));
    EXPECT_EQ(player->position(), 100);
    ASSERT_TRUE(player->command("PREV"));
    EXPECT_EQ(player->position(), 0);
    ASSERT_TRUE(player->command("close"));
    EXPECT_FALSE(player->isOpen());
    EXPECT_EQ(player->command("Pause").error(), "The player knows no command \"Pause\".");
}

TEST_F(PlayerTest, CloseReleasesTheFileForRewriting)
{
    auto player = openPlayer();
    ASSERT_TRUE(player->command("Play"));
    clock.advance(300ms);
    ASSERT_TRUE(player->command("stop"));
    ASSERT_TRUE(player->command("close"));
    EXPECT_EQ(player->length(), 0);
    EXPECT_EQ(player->position(), 0);

    test::SmfBuilder shorter(0, kDivision);
    shorter.track().noteOn(0, 0, 60, 90).noteOff(kDivision, 0, 60).endOfTrack();
    ASSERT_TRUE(writeFileAtomic(song, shorter.build()));
    ASSERT_TRUE(player->command("Open"));
    EXPECT_EQ(player->length(), 500);
    EXPECT_EQ(player->position(), 0);
    // "Open" while a song plays starts the new one closed and at 0.
    ASSERT_TRUE(player->command("Play"));
    clock.advance(100ms);
    ASSERT_TRUE(player->command("Open"));
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->position(), 0);
}

TEST_F(PlayerTest, SoundFontsAreFoundInTheUsualFoldersPreferredFirst)
{
    writeFile("fonts/b/zz.sf2", asBytes("x"));
    writeFile("fonts/b/aa.SF3", asBytes("x"));
    writeFile("fonts/b/readme.txt", asBytes("x"));
    SoundFontSearch search{{}, {path("fonts/a"), path("fonts/b")}};
    EXPECT_EQ(findSoundFont(search).value(), path("fonts/b/aa.SF3"));

    writeFile("fonts/b/TimGM6mb.sf2", asBytes("x"));
    EXPECT_EQ(findSoundFont(search).value(), path("fonts/b/TimGM6mb.sf2"));
    writeFile("fonts/a/FluidR3_GM.sf2", asBytes("x"));
    EXPECT_EQ(findSoundFont(search).value(), path("fonts/a/FluidR3_GM.sf2"));

    search.named = path("fonts/mine.sf2");
    EXPECT_EQ(findSoundFont(search).error(),
              "The SoundFont \"" + path("fonts/mine.sf2").string() + "\" does not exist.");
    writeFile("fonts/mine.sf2", asBytes("x"));
    EXPECT_EQ(findSoundFont(search).value(), path("fonts/mine.sf2"));
}

TEST_F(PlayerTest, TheEnvironmentNamesTheSoundFont)
{
    ::setenv("CHIMEWRIGHT_SOUNDFONT", path("env.sf2").c_str(), 1);
    EXPECT_EQ(systemSoundFontSearch().named, path("env.sf2"));
    ::unsetenv("CHIMEWRIGHT_SOUNDFONT");
    EXPECT_EQ(systemSoundFontSearch().named, fs::path());
}

// The real synthesizer: the system's General MIDI SoundFont, which scripts/install-deps
// installs (timgm6mb-soundfont).
class SynthesizerTest : public PlayerTest {
protected:
    void SetUp() override
    {
        PlayerTest::SetUp();
        auto found = findSoundFont(SoundFontSearch{{}, {"/usr/share/sounds/sf2", "/usr/share/soundfonts"}});
        ASSERT_TRUE(found) << found.error();
        soundFont = *found;
        auto silent = renderMidiToWav(writeFile("silent.mid", silentSong()), path("silent.wav"), soundFont);
        ASSERT_TRUE(silent) << silent.error();
        auto wav = test::readWav(readFile(path("silent.wav")));
        ASSERT_TRUE(wav) << wav.error();
        // Any General MIDI SoundFont, however quiet, is far louder than its own silence.
        audibleFloor = 20 * std::max(1, wav->peak());
    }
    fs::path soundFont;
    int audibleFloor = 0;
};

TEST_F(SynthesizerTest, ARenderHasTheSongsLengthAndIsNotSilent)
{
    auto rendered = renderMidiToWav(song, path("out/song.wav"), soundFont);
    ASSERT_FALSE(rendered) << "the output folder does not exist yet";
    fs::create_directories(path("out"));
    rendered = renderMidiToWav(song, path("out/song.wav"), soundFont);
    ASSERT_TRUE(rendered) << rendered.error();
    EXPECT_EQ(rendered->songMilliseconds, 1500);

    auto wav = test::readWav(readFile(path("out/song.wav")));
    ASSERT_TRUE(wav) << wav.error();
    EXPECT_EQ(wav->channels, 2);
    EXPECT_EQ(wav->sampleRate, 44100);
    EXPECT_EQ(wav->bitsPerSample, 16);
    EXPECT_EQ(static_cast<std::int64_t>(wav->frames()), rendered->frames);
    EXPECT_NEAR(wav->milliseconds(), 1500.0, 20.0);
    EXPECT_GT(wav->peak(), audibleFloor);
    EXPECT_THAT(listFolder(path("out")), ElementsAre("song.wav"));
}

TEST_F(SynthesizerTest, AFailedRenderLeavesTheOldWavAndNoTemporaryFile)
{
    fs::path target = writeFile("out/song.wav", asBytes("the old render"));
    setFileFaultHook([](FileOp op, const fs::path& file) {
        return op == FileOp::Write && file.extension() == ".tmp" ? ENOSPC : 0;
    });
    auto failed = renderMidiToWav(song, target, soundFont);
    ASSERT_FALSE(failed);
    EXPECT_THAT(failed.error(), HasSubstr("No space left on device"));
    setFileFaultHook([](FileOp op, const fs::path&) { return op == FileOp::Rename ? EIO : 0; });
    EXPECT_THAT(renderMidiToWav(song, target, soundFont).error(), HasSubstr("Input/output error"));
    setFileFaultHook({});

    EXPECT_THAT(renderMidiToWav(path("font.sf2"), target, soundFont).error(), HasSubstr("Cannot render"));
    EXPECT_EQ(renderMidiToWav(song, target, path("none.sf2")).error(),
              "The SoundFont \"" + path("none.sf2").string() + "\" does not exist.");
    EXPECT_EQ(asString(readFile(target)), "the old render");
    EXPECT_THAT(listFolder(path("out")), ElementsAre("song.wav"));
}

TEST_F(SynthesizerTest, PlaysThroughAnAudioDriverAndStopsCleanly)
{
    // FluidSynth's "file" driver stands in for a sound card: it plays in real time.
    options.audio = AudioOutput::System;
    options.audioDriver = "file";
    options.audioFile = path("live.wav");
    options.soundFonts = {soundFont, {}};
    options.clock = {};
    auto player = openPlayer();
    ASSERT_TRUE(player->isOpen());
    EXPECT_EQ(player->soundFont(), soundFont);
    ASSERT_TRUE(player->command("Play"));
    EXPECT_TRUE(player->audible());
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(player->command("Stop"));
    EXPECT_FALSE(player->audible());
    EXPECT_GE(player->position(), 300);
    auto wav = test::readWav(readFile(path("live.wav")));
    ASSERT_TRUE(wav) << wav.error();
    EXPECT_GT(wav->milliseconds(), 200.0);
    EXPECT_GT(wav->peak(), audibleFloor);

    // Each play starts the output afresh (the file driver rewrites its file).
    ASSERT_TRUE(player->command("Play"));
    EXPECT_TRUE(player->audible());
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(player->command("Close"));
    EXPECT_FALSE(player->audible());

    // With the driver named "none" the same player keeps time silently.
    options.audioDriver = "none";
    auto silent = openPlayer();
    ASSERT_TRUE(silent->command("Play"));
    EXPECT_TRUE(silent->isPlaying());
    EXPECT_FALSE(silent->audible());
}

// The double that GUI tests drive instead of the synthesizer.
TEST(ScriptedPlayer, RecordsTheCallsAndActsLikeAPlayer)
{
    test::ScriptedPlayer player;
    int updates = 0;
    player.setStatusUpdateHandler([&] { ++updates; });
    player.failNextOpen("Cannot play it");
    player.setDeviceType("Sequencer");
    player.setFileName("/x/head");
    EXPECT_EQ(player.command("Open").error(), "Cannot play it");
    EXPECT_FALSE(player.isOpen());
    player.setLength(3000);
    ASSERT_TRUE(player.command("Open"));
    player.setUpdateInterval(100);
    ASSERT_TRUE(player.command("Stop"));
    player.setFrom(1200);
    ASSERT_TRUE(player.command("Play"));
    EXPECT_TRUE(player.isPlaying());
    player.setPosition(3000);
    EXPECT_FALSE(player.isPlaying());
    player.raiseStatusUpdate();
    ASSERT_TRUE(player.command("prev"));
    EXPECT_EQ(player.position(), 0);
    EXPECT_EQ(updates, 1);
    EXPECT_THAT(player.calls(), ElementsAre("DeviceType=Sequencer", "FileName=/x/head", "Open", "Open",
                                            "UpdateInterval=100", "Stop", "From=1200", "Play", "prev"));
    EXPECT_THAT(player.commands(), ElementsAre("Open", "Open", "Stop", "Play", "prev"));
}

} // namespace
} // namespace chwr
