#include "midi_edit/player/fluidsynth_player.h"

#include "midi_edit/midi_reader.h"
#include "shell/file_io.h"
#include "shell/registry.h"
#include "shell/settings_store.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <random>
#include <system_error>

namespace chwr {
namespace fs = std::filesystem;

namespace {

// The only device the player has, as the multimedia control names it.
constexpr std::string_view kSequencerDevice = "Sequencer";
// A MIDI file larger than this is no song the program plays.
constexpr std::size_t kMaxMidiFileBytes = 64 * 1024 * 1024;
// FluidSynth's setting keys.
constexpr const char* kAudioDriverKey = "audio.driver";
constexpr const char* kAudioFileNameKey = "audio.file.name";
constexpr const char* kAudioFileTypeKey = "audio.file.type";
constexpr const char* kAudioFileFormatKey = "audio.file.format";
constexpr const char* kPeriodSizeKey = "audio.period-size";
constexpr const char* kSampleRateKey = "synth.sample-rate";
constexpr const char* kDynamicSampleLoadingKey = "synth.dynamic-sample-loading";
constexpr const char* kLockMemoryKey = "synth.lock-memory";
constexpr const char* kTimingSourceKey = "player.timing-source";
// The rendered WAV: 16-bit stereo at CD rate, timed by the samples written.
constexpr const char* kWavFileType = "wav";
constexpr const char* kSigned16Format = "s16";
constexpr const char* kSampleTiming = "sample";
constexpr double kRenderSampleRate = 44100.0;
constexpr std::int64_t kBytesPerStereoFrame = 4;
// The audio outputs tried when none is named: PulseAudio (which PipeWire also serves),
// then ALSA where the system has sound devices (ALSA complains on its own otherwise).
constexpr std::string_view kPulseAudioDriver = "pulseaudio";
constexpr std::string_view kAlsaDriver = "alsa";
constexpr const char* kSoundDeviceFolder = "/dev/snd";
// FluidSynth's driver that writes the sound to a file as it plays.
constexpr std::string_view kFileAudioDriver = "file";

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string quoted(const fs::path& path)
{
    return "\"" + path.string() + "\"";
}

// FluidSynth reports through a log; its errors are kept for the next message instead
// of being printed, and everything else is dropped.
std::mutex& fluidLogMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::string& fluidLastError()
{
    static std::string error;
    return error;
}

void keepFluidError(int level, const char* message, void*)
{
    if (level > FLUID_ERR || !message)
        return;
    std::lock_guard lock(fluidLogMutex());
    fluidLastError() = message;
}

void captureFluidLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level = 0; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, keepFluidError, nullptr);
    });
    std::lock_guard lock(fluidLogMutex());
    fluidLastError().clear();
}

// ": " and FluidSynth's last error, or nothing when it said none.
std::string fluidReason()
{
    std::lock_guard lock(fluidLogMutex());
    std::string reason = fluidLastError().empty() ? std::string() : ": " + fluidLastError();
    fluidLastError().clear();
    return reason;
}

struct SettingsDeleter {
    void operator()(fluid_settings_t* settings) const { delete_fluid_settings(settings); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* synth) const { delete_fluid_synth(synth); }
};
struct PlayerDeleter {
    void operator()(fluid_player_t* player) const { delete_fluid_player(player); }
};
struct DriverDeleter {
    void operator()(fluid_audio_driver_t* driver) const { delete_fluid_audio_driver(driver); }
};
struct RendererDeleter {
    void operator()(fluid_file_renderer_t* renderer) const { delete_fluid_file_renderer(renderer); }
};
using SettingsHandle = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthHandle = std::unique_ptr<fluid_synth_t, SynthDeleter>;
using PlayerHandle = std::unique_ptr<fluid_player_t, PlayerDeleter>;
using DriverHandle = std::unique_ptr<fluid_audio_driver_t, DriverDeleter>;
using RendererHandle = std::unique_ptr<fluid_file_renderer_t, RendererDeleter>;

// The audio drivers to try, in order; none when silence is asked for.
std::vector<std::string> audioDriverCandidates(const std::string& chosen)
{
    if (!chosen.empty())
        return chosen == kNoAudioDriver ? std::vector<std::string>{} : std::vector<std::string>{chosen};
    if (const char* named = std::getenv(std::string(kAudioDriverEnvironment).c_str()); named && *named) {
        if (std::string_view(named) == kNoAudioDriver)
            return {};
        return {named};
    }
    std::vector<std::string> drivers = {std::string(kPulseAudioDriver)};
    std::error_code error;
    if (fs::is_directory(kSoundDeviceFolder, error))
        drivers.emplace_back(kAlsaDriver);
    return drivers;
}

fs::path fromEnvironment(std::string_view name)
{
    const char* value = std::getenv(std::string(name).c_str());
    return value && *value ? fs::path(value) : fs::path();
}

bool isFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

bool isSoundFontName(const fs::path& path)
{
    std::string extension = path.extension().string();
    return equalsNoCase(extension, ".sf2") || equalsNoCase(extension, ".sf3");
}

// The song read and checked: what "Open" and the render both need.
struct CheckedSong {
    Bytes bytes;
    MidiFileSummary summary;
};

Result<CheckedSong> readSong(const fs::path& file, std::string_view verb)
{
    auto bytes = readFileBytes(file, kMaxMidiFileBytes);
    if (!bytes)
        return Error{bytes.error()};
    auto summary = readMidiFile(*bytes);
    if (!summary)
        return Error{"Cannot " + std::string(verb) + " " + quoted(file) + ": " + summary.error()};
    if (summary->lengthMilliseconds <= 0)
        return Error{"Cannot " + std::string(verb) + " " + quoted(file) +
                     ": it holds no music (its length is 0 ms)."};
    return CheckedSong{std::move(*bytes), std::move(*summary)};
}

// Settings and a synthesizer with the SoundFont loaded.
struct LoadedSynth {
    SettingsHandle settings;
    SynthHandle synth;
};

Result<LoadedSynth> loadSynth(const fs::path& soundFont,
                              const std::function<void(fluid_settings_t*)>& configure)
{
    LoadedSynth loaded;
    loaded.settings.reset(new_fluid_settings());
    if (!loaded.settings)
        return Error{"Cannot start the FluidSynth synthesizer" + fluidReason()};
    fluid_settings_setint(loaded.settings.get(), kDynamicSampleLoadingKey, 1);
    fluid_settings_setint(loaded.settings.get(), kLockMemoryKey, 0);
    if (configure)
        configure(loaded.settings.get());
    loaded.synth.reset(new_fluid_synth(loaded.settings.get()));
    if (!loaded.synth)
        return Error{"Cannot start the FluidSynth synthesizer" + fluidReason()};
    if (fluid_synth_sfload(loaded.synth.get(), soundFont.c_str(), 1) == FLUID_FAILED)
        return Error{"Cannot load the SoundFont " + quoted(soundFont) + fluidReason()};
    return loaded;
}

PlayerHandle startSong(fluid_synth_t* synth, const Bytes& song, int tick)
{
    PlayerHandle player(new_fluid_player(synth));
    if (!player || fluid_player_add_mem(player.get(), song.data(), song.size()) != FLUID_OK)
        return nullptr;
    if (tick > 0)
        fluid_player_seek(player.get(), tick);
    if (fluid_player_play(player.get()) != FLUID_OK)
        return nullptr;
    return player;
}

} // namespace

SoundFontSearch systemSoundFontSearch()
{
    SoundFontSearch search;
    search.named = fromEnvironment(kSoundFontEnvironment);
    if (search.named.empty()) {
        auto registry = makeUserRegistry();
        search.named = SettingsStore(*registry).readSetting(kSoundFontSetting);
    }
    for (std::string_view folder : kSoundFontFolders)
        search.folders.emplace_back(folder);
    return search;
}

Result<fs::path> findSoundFont(const SoundFontSearch& search)
{
    if (!search.named.empty()) {
        if (isFile(search.named))
            return search.named;
        return Error{"The SoundFont " + quoted(search.named) + " does not exist."};
    }
    std::string looked;
    for (const fs::path& folder : search.folders) {
        for (std::string_view name : kPreferredSoundFonts)
            if (isFile(folder / name))
                return folder / name;
        std::vector<fs::path> others;
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            if (isSoundFontName(it->path()) && isFile(it->path()))
                others.push_back(it->path());
        if (!others.empty())
            return *std::min_element(others.begin(), others.end());
        looked += (looked.empty() ? "" : ", ") + folder.string();
    }
    return Error{"No General MIDI SoundFont was found (looked in " +
                 (looked.empty() ? std::string("no folder") : looked) +
                 "). Install one, on Debian the package " + std::string(kSoundFontPackages) +
                 ", or name a .sf2 file with " + std::string(kSoundFontEnvironment) + "."};
}

// Owned in this order, so that the audio output stops before the song and the song
// before the synthesizer.
struct FluidSynthPlayer::Synth {
    LoadedSynth loaded;
    PlayerHandle song;
    DriverHandle output;

    void silence()
    {
        output.reset();
        song.reset();
        fluid_synth_all_sounds_off(loaded.synth.get(), -1);
    }
};

FluidSynthPlayer::FluidSynthPlayer(FluidSynthPlayerOptions options) : m_options(std::move(options))
{
    captureFluidLog();
}

FluidSynthPlayer::~FluidSynthPlayer()
{
    close();
}

std::chrono::steady_clock::time_point FluidSynthPlayer::now() const
{
    return m_options.clock ? m_options.clock() : std::chrono::steady_clock::now();
}

Result<void> FluidSynthPlayer::command(std::string_view name)
{
    finishWhenDone();
    if (equalsNoCase(name, "Open")) {
        close();
        return open();
    }
    if (equalsNoCase(name, "Close"))
        close();
    else if (equalsNoCase(name, "Play"))
        play();
    else if (equalsNoCase(name, "Stop"))
        stop();
    else if (equalsNoCase(name, "Prev"))
        rewind();
    else
        return Error{"The player knows no command \"" + std::string(name) + "\"."};
    return {};
}

Result<void> FluidSynthPlayer::open()
{
    if (!m_deviceType.empty() && !equalsNoCase(m_deviceType, kSequencerDevice))
        return Error{"The player has no device \"" + m_deviceType + "\"; it plays MIDI files as the \"" +
                     std::string(kSequencerDevice) + "\"."};
    if (m_fileName.empty())
        return Error{"No MIDI file is named to open."};
    auto song = readSong(m_fileName, "play");
    if (!song)
        return Error{song.error()};
    auto soundFont = findSoundFont(m_options.soundFonts);
    if (!soundFont)
        return Error{soundFont.error()};
    if (m_options.audio == AudioOutput::System && !audioDriverCandidates(m_options.audioDriver).empty()) {
        auto loaded = loadSynth(*soundFont, {});
        if (!loaded)
            return Error{loaded.error()};
        m_synth = std::make_unique<Synth>();
        m_synth->loaded = std::move(*loaded);
    }
    m_song = std::move(song->bytes);
    m_tempoMap = song->summary.tempoMap;
    m_length = song->summary.lengthMilliseconds;
    m_soundFont = *soundFont;
    m_open = true;
    m_playing = false;
    m_position = 0;
    m_from.reset();
    m_lastStatusUpdate.reset();
    return {};
}

void FluidSynthPlayer::close()
{
    if (m_synth)
        m_synth->silence();
    m_synth.reset();
    m_open = false;
    m_playing = false;
    m_song.clear();
    m_length = 0;
    m_position = 0;
    m_from.reset();
}

void FluidSynthPlayer::play()
{
    if (!m_open)
        return;
    if (m_playing && !m_from)
        return;
    std::int64_t start = m_from.value_or(m_position);
    m_from.reset();
    if (m_playing) {
        m_playing = false;
        if (m_synth)
            m_synth->silence();
    }
    m_position = std::clamp<std::int64_t>(start, 0, m_length);
    if (m_position >= m_length)
        return; // at the end there is nothing to play until "Prev"
    m_playing = true;
    m_playStart = now();
    m_lastStatusUpdate.reset();

    if (!m_synth)
        return;
    const int tick = static_cast<int>(std::lround(m_tempoMap.tickAt(static_cast<double>(m_position))));
    m_synth->song = startSong(m_synth->loaded.synth.get(), m_song, tick);
    if (!m_synth->song)
        return; // the clock runs on without sound
    for (const std::string& driver : audioDriverCandidates(m_options.audioDriver)) {
        fluid_settings_setstr(m_synth->loaded.settings.get(), kAudioDriverKey, driver.c_str());
        if (driver == kFileAudioDriver)
            fluid_settings_setstr(m_synth->loaded.settings.get(), kAudioFileNameKey,
                                  m_options.audioFile.c_str());
        m_synth->output.reset(
            new_fluid_audio_driver(m_synth->loaded.settings.get(), m_synth->loaded.synth.get()));
        if (m_synth->output)
            break;
    }
    if (!m_synth->output)
        m_synth->song.reset();
    fluidReason(); // the drivers that failed are no error: there is simply no sound
}

void FluidSynthPlayer::stop()
{
    if (!m_playing)
        return;
    m_position = position();
    m_playing = false;
    if (m_synth)
        m_synth->silence();
}

void FluidSynthPlayer::rewind()
{
    stop();
    m_position = 0;
    m_from.reset();
}

void FluidSynthPlayer::setFrom(std::int64_t milliseconds)
{
    finishWhenDone();
    if (!m_open)
        return;
    m_from = std::clamp<std::int64_t>(milliseconds, 0, m_length);
    if (!m_playing)
        m_position = *m_from;
}

std::int64_t FluidSynthPlayer::position() const
{
    if (!m_open)
        return 0;
    if (!m_playing)
        return m_position;
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now() - m_playStart).count();
    return std::min(m_length, m_position + std::max<std::int64_t>(0, elapsed));
}

bool FluidSynthPlayer::isPlaying() const
{
    return m_playing && position() < m_length;
}

bool FluidSynthPlayer::audible() const
{
    return isPlaying() && m_synth && m_synth->output;
}

void FluidSynthPlayer::finishWhenDone()
{
    if (!m_playing || position() < m_length)
        return;
    m_playing = false;
    m_position = m_length;
    if (m_synth)
        m_synth->silence();
}

void FluidSynthPlayer::poll()
{
    finishWhenDone();
    if (!m_open || m_updateInterval <= 0 || !m_statusUpdate)
        return;
    const auto time = now();
    if (m_lastStatusUpdate && time - *m_lastStatusUpdate < std::chrono::milliseconds(m_updateInterval))
        return;
    m_lastStatusUpdate = time;
    auto handler = m_statusUpdate; // the handler may replace itself
    handler();
}

Result<RenderSummary> renderMidiToWav(const fs::path& midiFile, const fs::path& wavFile,
                                      const fs::path& soundFont)
{
    captureFluidLog();
    auto song = readSong(midiFile, "render");
    if (!song)
        return Error{song.error()};
    if (!isFile(soundFont))
        return Error{"The SoundFont " + quoted(soundFont) + " does not exist."};

    static std::mt19937_64 random{std::random_device{}()};
    fs::path temporary = wavFile;
    temporary.replace_filename("." + wavFile.filename().string() + "." +
                               std::to_string(random() % 1000000000) + ".tmp");
    if (int error = injectedFault(FileOp::OpenWrite, temporary))
        return Error{"Cannot create " + quoted(temporary) + ": " + systemMessage(error)};

    auto loaded = loadSynth(soundFont, [&](fluid_settings_t* settings) {
        fluid_settings_setstr(settings, kAudioFileNameKey, temporary.c_str());
        fluid_settings_setstr(settings, kAudioFileTypeKey, kWavFileType);
        fluid_settings_setstr(settings, kAudioFileFormatKey, kSigned16Format);
        fluid_settings_setstr(settings, kTimingSourceKey, kSampleTiming);
        fluid_settings_setnum(settings, kSampleRateKey, kRenderSampleRate);
    });
    if (!loaded)
        return Error{loaded.error()};
    PlayerHandle player = startSong(loaded->synth.get(), song->bytes, 0);
    if (!player)
        return Error{"FluidSynth cannot play " + quoted(midiFile) + fluidReason()};

    // Whatever happens from here on, the temporary file goes unless it was renamed.
    struct TemporaryFile {
        const fs::path& path;
        bool kept = false;
        ~TemporaryFile()
        {
            if (!kept) {
                std::error_code ignored;
                fs::remove(path, ignored);
            }
        }
    } cleanup{temporary};
    RendererHandle renderer(new_fluid_file_renderer(loaded->synth.get()));
    if (!renderer)
        return Error{"Cannot create " + quoted(temporary) + fluidReason()};

    int periodSize = 0;
    fluid_settings_getint(loaded->settings.get(), kPeriodSizeKey, &periodSize);
    RenderSummary summary;
    summary.songMilliseconds = song->summary.lengthMilliseconds;
    summary.sampleRate = static_cast<int>(kRenderSampleRate);
    // The song ends at its last End of Track; FluidSynth would go on while notes ring out.
    const auto songFrames = static_cast<std::int64_t>(
        std::ceil(static_cast<double>(summary.songMilliseconds) * kRenderSampleRate / 1000.0));
    while (summary.frames < songFrames && fluid_player_get_status(player.get()) == FLUID_PLAYER_PLAYING) {
        if (int error = injectedFault(FileOp::Write, temporary))
            return Error{"Cannot write " + quoted(temporary) + ": " + systemMessage(error)};
        if (fluid_file_renderer_process_block(renderer.get()) != FLUID_OK)
            return Error{"Cannot write " + quoted(temporary) + fluidReason()};
        summary.frames += periodSize;
    }
    renderer.reset(); // closes the file
    player.reset();

    // The renderer cannot report a write that failed when the file was closed: a file
    // shorter than its samples is a failed write.
    std::error_code error;
    auto size = fs::file_size(temporary, error);
    if (error || static_cast<std::int64_t>(size) < summary.frames * kBytesPerStereoFrame)
        return Error{"Cannot write " + quoted(temporary) + ": the file came out short (is the disk full?)"};
    if (auto renamed = renameFile(temporary, wavFile); !renamed)
        return Error{renamed.error()};
    cleanup.kept = true;
    return summary;
}

} // namespace chwr
