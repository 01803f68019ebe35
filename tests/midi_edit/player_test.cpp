#include "midi_edit/player/fluidsynth_player.h"

#include "shell/file_io.h"
#include "tests/midi_edit/midi_test_util.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <thread>

namespace chwr {
namespace {

using namespace test;
using namespace testing;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A 16-bit PCM WAV file read back: the format in its "fmt " chunk, the loudest sample and
// the length of its "data" chunk (numbers little-endian); all 0 for another file.
struct Wav {
    int channels = 0, sampleRate = 0, bits = 0, peak = 0;
    std::size_t samples = 0;
    double milliseconds() const { return 1000.0 * static_cast<double>(samples) / channels / sampleRate; }
};
Wav readWav(const fs::path& file)
{
    const std::string bytes = asString(readFileBytes(file).value());
    auto number = [&](std::size_t at, int size) {
        std::uint32_t value = 0;
        while (size-- > 0)
            value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(size)]);
        return value;
    };
    const std::size_t fmt = bytes.find("fmt "), data = bytes.find("data", fmt);
    if (!bytes.starts_with("RIFF") || data == std::string::npos || data + 8 > bytes.size())
        return {};
    Wav wav{int(number(fmt + 10, 2)), int(number(fmt + 12, 4)), int(number(fmt + 22, 2))};
    wav.samples = std::min<std::size_t>(number(data + 4, 4), bytes.size() - data - 8) / 2;
    for (std::size_t i = 0; i < wav.samples; ++i)
        wav.peak = std::max(wav.peak, std::abs(int(static_cast<std::int16_t>(number(data + 8 + 2 * i, 2)))));
    return wav;
}

// Two quarter notes at 500 ms, then two at twice the tempo: 1500 ms, where one tempo
// would give 2000. Without its notes, the same time of silence.
Bytes twoTempoSong(bool notes = true)
{
    return song(480, {Track().tempo(0, 500000).tempo(960, 250000).endOfTrack(960).events(),
                      hex(notes ? "00 C0 00|00 90 3C 64|87 40 80 3C 00|00 90 43 64|87 40 80 43 00|00 FF 2F 00"
                                : "00 C0 00|8F 00 FF 2F 00")});
}

// A silent player of twoTempoSong() on a clock that the test moves.
class PlayerTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        // Silent players only look for the SoundFont; they never load it.
        options.soundFonts.named = writeFile("font.sf2", asBytes("not read when silent"));
        options.audio = AudioOutput::Silent;
        options.clock = [this] { return now; };
        song = writeFile("song.mid", twoTempoSong());
    }
    std::unique_ptr<FluidSynthPlayer> openPlayer()
    {
        auto player = std::make_unique<FluidSynthPlayer>(options);
        player->setDeviceType("Sequencer");
        player->setFileName(song);
        EXPECT_EQ(errorOf(player->command("Open")), "(no error)");
        return player;
    }

    std::chrono::steady_clock::time_point now{};
    FluidSynthPlayerOptions options;
    fs::path song;
};

TEST_F(PlayerTest, OpenGivesTheLengthThroughTheTempoMapOrSaysWhyNotAndFindsTheSoundFont)
{
    auto player = openPlayer();
    EXPECT_EQ(std::tuple(player->fileName(), player->length(), player->position(), player->isPlaying()),
              std::tuple(song, 1500, 0, false));
    const std::string missing = path("missing.mid").string(), empty = path("empty.mid").string();
    writeFile("short.mid", asBytes("MThd"));
    writeFile("empty.mid", test::song(480, {hex("00 FF 2F 00")}));
    for (auto [file, device, message] : std::vector<std::tuple<fs::path, std::string, std::string>>{
             {missing, "Sequencer", "Cannot open \"" + missing + "\""},
             {path("short.mid"), "Sequencer", "Cannot play \"" + path("short.mid").string() + "\": "},
             {empty, "Sequencer", "Cannot play \"" + empty + "\": it holds no music (its length is 0 ms)."},
             {song, "WaveAudio",
              "The player has no device \"WaveAudio\"; it plays MIDI files as the \"Sequencer\"."}}) {
        player->setFileName(file);
        player->setDeviceType(device);
        EXPECT_THAT(errorOf(player->command("Open")), StartsWith(message));
        EXPECT_EQ(std::tuple(player->isOpen(), player->length()), std::tuple(false, 0));
    }
    options.soundFonts = {{}, {path("no fonts here")}};
    FluidSynthPlayer noFont(options);
    noFont.setFileName(song);
    EXPECT_EQ(errorOf(noFont.command("Open")),
              "No General MIDI SoundFont was found (looked in " + path("no fonts here").string() +
                  "). Install one, on Debian the package fluid-soundfont-gm or timgm6mb-soundfont, "
                  "or name a .sf2 file with CHIMEWRIGHT_SOUNDFONT.");
    // SoundFonts are looked for in the usual folders, the preferred ones first.
    SoundFontSearch search{{}, {path("fonts/a"), path("fonts/b")}};
    writeFile("fonts/b/readme.txt", asBytes("x"));
    EXPECT_FALSE(findSoundFont(search));
    for (const char* file :
         {"fonts/b/zz.sf2", "fonts/b/aa.SF3", "fonts/b/TimGM6mb.sf2", "fonts/a/FluidR3_GM.sf2"}) {
        writeFile(file, asBytes("x")); // each added file is preferred to those before it
        EXPECT_EQ(findSoundFont(search).value(), path(file));
    }
    search.named = writeFile("mine.sf2", asBytes("x"));
    EXPECT_EQ(findSoundFont(search).value(), path("mine.sf2"));
    ::setenv("CHIMEWRIGHT_SOUNDFONT", path("env.sf2").c_str(), 1);
    EXPECT_EQ(systemSoundFontSearch().named, path("env.sf2"));
    ::unsetenv("CHIMEWRIGHT_SOUNDFONT");
    EXPECT_EQ(systemSoundFontSearch().named, fs::path());
}

TEST_F(PlayerTest, TheCommandsMoveThePositionWithTheClockAndStatusUpdatesFollowIt)
{
    auto player = openPlayer();
    // Each step: a command (in any case), "+MS" for time passing or "From=MS", then the
    // position and whether the player plays after it.
    auto follow = [&](const std::string& script) {
        std::istringstream steps(script);
        std::int64_t position = 0, playing = 0;
        for (std::string action; steps >> action >> position >> playing;) {
            if (action[0] == '+')
                now += std::chrono::milliseconds(std::stoi(action.substr(1)));
            else if (action.starts_with("From="))
                player->setFrom(std::stoi(action.substr(5)));
            else
                ASSERT_TRUE(player->command(action));
            EXPECT_EQ(std::tuple(player->position(), player->isPlaying()), std::tuple(position, playing == 1))
                << action;
        }
    };
    follow(
        "Play 0 1  +400 400 1  +1099 1499 1  +5000 1500 0 "
        // At the end there is nothing to play until "Prev".
        "Play 1500 0  Prev 0 0  play 0 1  +300 300 1  stop 300 0  +1000 300 0  Play 300 1  +200 500 1 "
        "Play 500 1  +100 600 1  PREV 0 0  +100 0 0 "
        // Stop, From, Play, Stop moves a stopped player to a mark.
        "From=700 700 0  Play 700 1  Stop 700 0 "
        // While playing, From waits for the next Play; Prev forgets it.
        "Play 700 1  +100 800 1  From=200 800 1  Play 200 1  +50 250 1  From=600 250 1  Prev 0 0  Play 0 1 "
        "Stop 0 0  From=99999 1500 0  From=-5 0 0  Play 0 1  +300 300 1  close 0 0");
    EXPECT_EQ(std::tuple(player->isOpen(), player->length()), std::tuple(false, 0));
    EXPECT_EQ(errorOf(player->command("Pause")), "The player knows no command \"Pause\".");
    // The file is free to be rewritten; "Open" while playing starts the new one stopped.
    ASSERT_TRUE(writeFileAtomic(song, test::song(480, {hex("00 90 3C 64|83 60 80 3C 00|00 FF 2F 00")})));
    follow("Open 0 0  Play 0 1  +100 100 1  Open 0 0");
    EXPECT_EQ(player->length(), 500);
    // Status updates come at the update interval.
    std::vector<std::int64_t> seen;
    player->setStatusUpdateHandler([&, raw = player.get()] {
        seen.push_back(raw->position());
        if (raw->position() >= raw->length()) {
            EXPECT_TRUE(raw->command("Prev"));
        }
    });
    player->setUpdateInterval(100);
    ASSERT_TRUE(player->command("Play"));
    auto wait = [&](std::chrono::milliseconds step) {
        now += step;
        player->poll();
    };
    for (auto step : {0ms, 60ms, 40ms}) // at once when a play starts, then each 100 ms
        wait(step);
    ASSERT_TRUE(player->command("Stop"));
    for (int interval : {100, 0}) { // a stopped player still reports, but not at an interval of 0
        player->setUpdateInterval(interval);
        wait(100ms);
    }
    player->setUpdateInterval(100);
    ASSERT_TRUE(player->command("Close")); // nor once closed
    wait(100ms);
    EXPECT_THAT(seen, ElementsAre(0, 100, 100));
    // The handler rewinds the tone (of 500 ms now) once it has finished.
    seen.clear();
    ASSERT_TRUE(player->command("Open") && player->command("Play"));
    for (auto step : {0ms, 250ms, 250ms, 250ms})
        wait(step);
    EXPECT_THAT(seen, ElementsAre(0, 250, 500, 0));
    EXPECT_EQ(std::tuple(player->position(), player->isPlaying()), std::tuple(0, false));
}

// The real synthesizer with the system's General MIDI SoundFont (scripts/install-deps
// installs one). Whatever the font, a song sounds far louder than its own silence.
class SynthesizerTest : public PlayerTest {
protected:
    void SetUp() override
    {
        PlayerTest::SetUp();
        auto found = findSoundFont(systemSoundFontSearch());
        ASSERT_TRUE(found) << found.error();
        soundFont = *found;
        ASSERT_TRUE(
            renderMidiToWav(writeFile("silent.mid", twoTempoSong(false)), path("silent.wav"), soundFont));
        audibleFloor = 20 * std::max(1, readWav(path("silent.wav")).peak);
    }
    fs::path soundFont;
    int audibleFloor = 0;
};

TEST_F(SynthesizerTest, ARenderHasTheSongsLengthAndSoundsOrLeavesTheOldWav)
{
    fs::path target = writeFile("out/song.wav", asBytes("the old render"));
    setFileFaultHook([](FileOp op, const fs::path& file) {
        return op == FileOp::Write && file.extension() == ".tmp" ? ENOSPC : 0;
    });
    EXPECT_THAT(errorOf(renderMidiToWav(song, target, soundFont)), HasSubstr(systemMessage(ENOSPC)));
    setFileFaultHook([](FileOp op, const fs::path&) { return op == FileOp::Rename ? EIO : 0; });
    EXPECT_THAT(errorOf(renderMidiToWav(song, target, soundFont)), HasSubstr(systemMessage(EIO)));
    setFileFaultHook({});
    EXPECT_THAT(errorOf(renderMidiToWav(path("font.sf2"), target, soundFont)), HasSubstr("Cannot render"));
    EXPECT_EQ(errorOf(renderMidiToWav(song, target, path("none.sf2"))),
              "The SoundFont \"" + path("none.sf2").string() + "\" does not exist.");
    EXPECT_EQ(asString(readFile(target)), "the old render");
    EXPECT_FALSE(renderMidiToWav(song, path("new/song.wav"), soundFont)); // no such folder
    EXPECT_THAT(listFolder(path("out")), ElementsAre("song.wav"));
    auto rendered = renderMidiToWav(song, target, soundFont);
    ASSERT_TRUE(rendered) << rendered.error();
    const Wav wav = readWav(target);
    EXPECT_EQ(
        std::tuple(rendered->songMilliseconds, wav.channels, wav.sampleRate, wav.bits, rendered->frames),
        std::tuple(1500, 2, 44100, 16, static_cast<std::int64_t>(wav.samples / 2)));
    EXPECT_NEAR(wav.milliseconds(), 1500.0, 20.0);
    EXPECT_GT(wav.peak, audibleFloor);
    EXPECT_THAT(listFolder(path("out")), ElementsAre("song.wav"));
}

TEST_F(SynthesizerTest, PlaysThroughAnAudioDriverAndStopsCleanly)
{
    // FluidSynth's "file" driver stands in for a sound card: it plays in real time.
    options = {{soundFont, {}}, AudioOutput::System, "file", path("live.wav"), {}};
    auto player = openPlayer();
    EXPECT_EQ(player->soundFont(), soundFont);
    ASSERT_TRUE(player->command("Play"));
    EXPECT_TRUE(player->audible());
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(player->command("Stop"));
    EXPECT_FALSE(player->audible());
    EXPECT_GE(player->position(), 300);
    const Wav wav = readWav(path("live.wav"));
    EXPECT_GT(wav.milliseconds(), 200.0);
    EXPECT_GT(wav.peak, audibleFloor);
    ASSERT_TRUE(player->command("Play")); // each play starts the output afresh
    EXPECT_TRUE(player->audible());
    ASSERT_TRUE(player->command("Close"));
    EXPECT_FALSE(player->audible());
}

} // namespace
} // namespace chwr
