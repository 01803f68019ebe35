#pragma once

#include "midi_edit/midi_player.h"
#include "midi_edit/tempo_map.h"
#include "shell/bytes.h"
#include "shell/result.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chwr {

// Names a General MIDI SoundFont to use instead of the system's usual ones.
inline constexpr std::string_view kSoundFontEnvironment = "CHIMEWRIGHT_SOUNDFONT";
// Names the FluidSynth audio driver to play through; "none" keeps time silently.
inline constexpr std::string_view kAudioDriverEnvironment = "CHIMEWRIGHT_AUDIO_DRIVER";
inline constexpr std::string_view kNoAudioDriver = "none";
// Where distributions put General MIDI SoundFonts.
inline constexpr std::array<std::string_view, 3> kSoundFontFolders = {
    "/usr/share/sounds/sf2", "/usr/share/soundfonts", "/usr/share/sounds/sf3"};
// The fonts preferred in those folders, best first; any other *.sf2 or *.sf3 follows.
inline constexpr std::array<std::string_view, 4> kPreferredSoundFonts = {"default-GM.sf2", "FluidR3_GM.sf2",
                                                                         "default.sf2", "TimGM6mb.sf2"};
// The Debian packages that bring a General MIDI SoundFont.
inline constexpr std::string_view kSoundFontPackages = "fluid-soundfont-gm or timgm6mb-soundfont";

// Where a SoundFont is looked for: a font named by the caller or the settings first
// (it must then exist), else the folders in order.
struct SoundFontSearch {
    std::filesystem::path named;
    std::vector<std::filesystem::path> folders;
};

// The search of this system: CHIMEWRIGHT_SOUNDFONT, else the "CHWR-SoundFont" setting,
// else kSoundFontFolders.
SoundFontSearch systemSoundFontSearch();

// The SoundFont to play with, or a message that says what to install.
Result<std::filesystem::path> findSoundFont(const SoundFontSearch& search);

// The time the player counts with; tests step it by hand.
using PlayerClock = std::function<std::chrono::steady_clock::time_point()>;

enum class AudioOutput {
    System, // the system's audio output when there is one, else silent
    Silent, // keeps time only: the same positions and status updates, no sound
};

struct FluidSynthPlayerOptions {
    SoundFontSearch soundFonts = systemSoundFontSearch();
    AudioOutput audio = AudioOutput::System;
    // The FluidSynth audio driver; empty for CHIMEWRIGHT_AUDIO_DRIVER or the system's
    // usual ones. The "file" driver writes what it plays, in real time, to audioFile.
    std::string audioDriver;
    std::filesystem::path audioFile;
    PlayerClock clock; // the steady clock when empty
};

// The MIDI player over FluidSynth. Position and Length are whole milliseconds through
// the song's tempo map and are counted on the player's clock, so they move the same
// whether or not there is sound. Each "Play" plays through the audio output (when
// there is one) from the position in force; "Stop" silences it and keeps the position.
class FluidSynthPlayer : public MidiPlayer {
public:
    explicit FluidSynthPlayer(FluidSynthPlayerOptions options = {});
    ~FluidSynthPlayer() override;
    FluidSynthPlayer(const FluidSynthPlayer&) = delete;
    FluidSynthPlayer& operator=(const FluidSynthPlayer&) = delete;

    void setDeviceType(std::string type) override { m_deviceType = std::move(type); }
    void setFileName(std::filesystem::path file) override { m_fileName = std::move(file); }
    const std::filesystem::path& fileName() const override { return m_fileName; }

    Result<void> command(std::string_view name) override;

    void setFrom(std::int64_t milliseconds) override;
    std::int64_t length() const override { return m_open ? m_length : 0; }
    std::int64_t position() const override;
    bool isOpen() const override { return m_open; }
    bool isPlaying() const override;

    void setTimeFormat(int format) override { m_timeFormat = format; }
    void setUpdateInterval(int milliseconds) override { m_updateInterval = milliseconds; }
    int updateInterval() const override { return m_updateInterval; }
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    bool enabled() const override { return m_enabled; }

    void setStatusUpdateHandler(std::function<void()> handler) override
    {
        m_statusUpdate = std::move(handler);
    }
    void poll() override;

    // True while the song sounds through an audio output.
    bool audible() const;
    // The SoundFont of the open song.
    const std::filesystem::path& soundFont() const { return m_soundFont; }

private:
    struct Synth;

    Result<void> open();
    void close();
    void play();
    void stop();
    void rewind();
    // Stops at the end once the clock has passed it.
    void finishWhenDone();
    std::chrono::steady_clock::time_point now() const;

    FluidSynthPlayerOptions m_options;
    std::string m_deviceType;
    std::filesystem::path m_fileName;
    int m_timeFormat = 0;
    int m_updateInterval = 0;
    bool m_enabled = true;
    std::function<void()> m_statusUpdate;

    bool m_open = false;
    Bytes m_song;
    TempoMap m_tempoMap;
    std::int64_t m_length = 0;
    std::filesystem::path m_soundFont;
    std::unique_ptr<Synth> m_synth;

    bool m_playing = false;
    std::int64_t m_position = 0; // while stopped; where the play started while playing
    std::chrono::steady_clock::time_point m_playStart;
    std::optional<std::int64_t> m_from;
    std::optional<std::chrono::steady_clock::time_point> m_lastStatusUpdate;
};

// What an offline render made.
struct RenderSummary {
    std::int64_t songMilliseconds = 0; // the song's length through its tempo map
    std::int64_t frames = 0;           // stereo frames written
    int sampleRate = 0;
};

// Renders a MIDI file through the same synthesizer into a 16-bit stereo WAV file, as
// fast as the processor allows. The WAV is written beside its target and renamed into
// place, so a failed render leaves no file and an existing one unchanged.
Result<RenderSummary> renderMidiToWav(const std::filesystem::path& midiFile,
                                      const std::filesystem::path& wavFile,
                                      const std::filesystem::path& soundFont);

} // namespace chwr
