#include "midi_edit/player/fluidsynth_player.h"
#include "shell/file_io.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

namespace chwr::bench {
namespace {

namespace fs = std::filesystem;

// The song: at 120 beats a minute and 96 ticks a quarter note, four channels play a
// chord on every eighth note for this many seconds.
constexpr int kSongSeconds = 30;
constexpr int kTicksPerQuarter = 96;
constexpr int kEighth = kTicksPerQuarter / 2;
constexpr int kEighthsPerSecond = 4;

void appendVlq(Bytes& out, std::uint32_t value)
{
    Bytes groups{static_cast<std::uint8_t>(value & 0x7F)};
    while (value >>= 7)
        groups.insert(groups.begin(), static_cast<std::uint8_t>((value & 0x7F) | 0x80));
    out.insert(out.end(), groups.begin(), groups.end());
}

void appendBigEndian(Bytes& out, std::uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A format 0 Standard MIDI File, built here so the benchmark needs nothing else.
Bytes chordSong()
{
    Bytes events;
    const std::uint8_t programs[] = {0, 33, 48, 73};
    for (std::uint8_t channel = 0; channel < 4; ++channel) {
        appendVlq(events, 0);
        events.insert(events.end(), {static_cast<std::uint8_t>(0xC0 | channel), programs[channel]});
    }
    for (int step = 0; step < kSongSeconds * kEighthsPerSecond; ++step) {
        for (std::uint8_t channel = 0; channel < 4; ++channel) {
            appendVlq(events, 0);
            events.insert(events.end(), {static_cast<std::uint8_t>(0x90 | channel),
                                         static_cast<std::uint8_t>(48 + 7 * channel + step % 12), 96});
        }
        for (std::uint8_t channel = 0; channel < 4; ++channel) {
            appendVlq(events, channel == 0 ? kEighth : 0);
            events.insert(events.end(), {static_cast<std::uint8_t>(0x80 | channel),
                                         static_cast<std::uint8_t>(48 + 7 * channel + step % 12), 0});
        }
    }
    appendVlq(events, 0);
    events.insert(events.end(), {0xFF, 0x2F, 0x00});

    Bytes file = {'M', 'T', 'h', 'd'};
    appendBigEndian(file, 6, 4);
    appendBigEndian(file, 0, 2);
    appendBigEndian(file, 1, 2);
    appendBigEndian(file, kTicksPerQuarter, 2);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    appendBigEndian(file, static_cast<std::uint32_t>(events.size()), 4);
    file.insert(file.end(), events.begin(), events.end());
    return file;
}

// Offline render of the song through the system's SoundFont; the counter says how many
// seconds of music one second of wall time renders, file writing included.
void BM_RenderToWav(benchmark::State& state)
{
    auto soundFont = findSoundFont(systemSoundFontSearch());
    if (!soundFont) {
        state.SkipWithError(soundFont.error().c_str());
        return;
    }
    const fs::path folder = fs::temp_directory_path() / ("chwr-render-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path midi = folder / "song.mid";
    const fs::path wav = folder / "song.wav";
    if (!writeFileAtomic(midi, chordSong())) {
        state.SkipWithError("cannot write the song");
        return;
    }
    for (auto _ : state) {
        auto rendered = renderMidiToWav(midi, wav, *soundFont);
        if (!rendered) {
            state.SkipWithError(rendered.error().c_str());
            break;
        }
        benchmark::DoNotOptimize(rendered->frames);
    }
    state.counters["music_seconds_per_second"] =
        benchmark::Counter(static_cast<double>(kSongSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}
BENCHMARK(BM_RenderToWav)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace chwr::bench
