#include "bench/smf_generator.h"
#include "midi_edit/midi_open.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/midi_rewriter.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace chwr::bench {
namespace {

namespace fs = std::filesystem;


std::uint32_t bigEndian32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// The floor: decodes each event's delta, status and length and does nothing else.
std::uint64_t decodeOnly(ByteView bytes)
{
    const std::uint8_t* p = bytes.data() + smf::kHeaderChunkSize;
    const std::uint8_t* end = bytes.data() + bytes.size();
    std::uint64_t sum = 0;
    while (end - p >= static_cast<std::ptrdiff_t>(smf::kTrackChunkHeaderSize)) {
        std::size_t length = std::min<std::size_t>(bigEndian32(p + 4), static_cast<std::size_t>(end - p) - 8);
        p += smf::kTrackChunkHeaderSize;
        const std::uint8_t* trackEnd = p + length;
        std::uint8_t running = 0;
        while (p < trackEnd) {
            std::uint32_t delta = 0;
            std::uint8_t byte = 0;
            do {
                byte = *p++;
                delta = (delta << 7) | (byte & 0x7F);
            } while ((byte & 0x80) && p < trackEnd);
            if (p >= trackEnd)
                break;
            std::uint8_t status = *p;
            if (status & 0x80) {
                ++p;
                if (status < 0xF0)
                    running = status;
            } else {
                status = running;
            }
            if (status < 0xF0) {
                p += (status & 0xE0) == 0xC0 ? 1 : 2;
            } else {
                if (status == 0xFF)
                    ++p;
                std::uint32_t size = 0;
                do {
                    byte = *p++;
                    size = (size << 7) | (byte & 0x7F);
                } while ((byte & 0x80) && p < trackEnd);
                p += size;
            }
            sum += delta + status;
        }
        p = trackEnd;
    }
    return sum;
}

void BM_Floor(benchmark::State& state)
{
    const Bytes& bytes = song(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeOnly(bytes));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_Walk(benchmark::State& state)
{
    const Bytes& bytes = song(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        Result<MidiFileSummary> summary = readMidiFile(bytes);
        benchmark::DoNotOptimize(summary);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// The rewrite into a sink that only counts, given the open's walk.
void runRewrite(benchmark::State& state, const RewriteSettings& settings, const Bytes& bytes,
                const MidiFileSummary& summary)
{
    std::size_t written = 0;
    ChunkSink sink = [&](ByteView chunk) -> Result<void> {
        written += chunk.size();
        return {};
    };
    for (auto _ : state) {
        Result<RewriteResult> result = rewriteMidi(bytes, summary, settings, sink);
        if (!result) {
            state.SkipWithError(result.error().c_str());
            return;
        }
        benchmark::DoNotOptimize(written);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_RewritePlain(benchmark::State& state)
{
    const Bytes& bytes = song(static_cast<std::size_t>(state.range(0)));
    MidiFileSummary summary = *readMidiFile(bytes);
    RewriteSettings settings;
    settings.marks = {0, static_cast<double>(summary.lengthMilliseconds)};
    runRewrite(state, settings, bytes, summary);
}

// All four adjustments on half the channels, and a crop of the song's middle 80 %.
RewriteSettings adjustedAndCropped(const MidiFileSummary& summary)
{
    RewriteSettings settings;
    auto length = static_cast<double>(summary.lengthMilliseconds);
    settings.marks = {length * 0.1, length * 0.9};
    for (std::size_t channel = 0; channel < 16; channel += 2)
        settings.adjustments[channel] = ChannelChange{1, -10, -20, static_cast<int>(channel * 3)};
    return settings;
}

void BM_RewriteAdjustedCropped(benchmark::State& state)
{
    const Bytes& bytes = song(static_cast<std::size_t>(state.range(0)));
    MidiFileSummary summary = *readMidiFile(bytes);
    runRewrite(state, adjustedAndCropped(summary), bytes, summary);
}

// The program folder of the "Open File" and "Apply" benchmarks, in a temporary folder.
struct TabFixture {
    fs::path folder;
    fs::path source;
    std::optional<ChannelTable> table;
    MidiEditState state;

    TabFixture()
    {
        folder = fs::temp_directory_path() / ("chwr-bench-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        ::setenv("CHIMEWRIGHT_HOME", folder.c_str(), 1);
        source = folder / "ring.mid";
        (void)writeFileAtomic(source, song(kRingTone));
        table.emplace(ChannelTable::open().value());
        (void)openMidiForEditing(source, *table, state);
    }
    ~TabFixture()
    {
        table.reset();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

TabFixture& tab()
{
    static TabFixture fixture;
    return fixture;
}

void BM_OpenRingTone(benchmark::State& state)
{
    TabFixture& fixture = tab();
    for (auto _ : state) {
        Result<MidiFileSummary> summary = openMidiForEditing(fixture.source, *fixture.table, fixture.state);
        if (!summary) {
            state.SkipWithError(summary.error().c_str());
            return;
        }
    }
}

void BM_ApplyRingTone(benchmark::State& state)
{
    TabFixture& fixture = tab();
    Result<MidiFileSummary> summary = openMidiForEditing(fixture.source, *fixture.table, fixture.state);
    std::vector<ChannelAdjustment> rows = *fixture.table->rows();
    for (std::size_t i = 0; i < rows.size(); i += 2) {
        rows[i].Octave = 1;
        rows[i].Velocity = -10;
        rows[i].Volume = -20;
        rows[i].Patch = static_cast<int>(i * 3);
        (void)fixture.table->save(rows[i]);
    }
    auto length = static_cast<double>(summary->lengthMilliseconds);
    MidiRewriter rewriter;
    for (auto _ : state) {
        Result<RewriteResult> result = rewriter.apply(fixture.state, *fixture.table, {length * 0.1, length * 0.9});
        if (!result) {
            state.SkipWithError(result.error().c_str());
            return;
        }
    }
}

BENCHMARK(BM_Floor)->Arg(kRingTone)->Arg(kOneMegabyte)->Arg(kTenMegabytes);
BENCHMARK(BM_Walk)->Arg(kRingTone)->Arg(kOneMegabyte)->Arg(kTenMegabytes);
BENCHMARK(BM_RewritePlain)->Arg(kRingTone)->Arg(kOneMegabyte)->Arg(kTenMegabytes);
BENCHMARK(BM_RewriteAdjustedCropped)->Arg(kRingTone)->Arg(kOneMegabyte)->Arg(kTenMegabytes);
BENCHMARK(BM_OpenRingTone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ApplyRingTone)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace chwr::bench
