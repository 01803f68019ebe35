#include "bench/smf_generator.h"
#include "midi_edit/fit_end_mark.h"
#include "midi_edit/midi_compact.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/midi_rewriter.h"

#include <benchmark/benchmark.h>

#include <algorithm>

namespace chwr::bench {
namespace {


// The plain rewrite into memory: what compaction is measured against.
void BM_RewriteToMemory(benchmark::State& state)
{
    const Bytes& bytes = song(static_cast<std::size_t>(state.range(0)));
    const MidiFileSummary summary = *readMidiFile(bytes);
    const RewriteSettings settings{Marks{0, static_cast<double>(summary.lengthMilliseconds)}, {}};
    for (auto _ : state) {
        Result<RewrittenMidi> made = rewriteToMemory(bytes, summary, settings);
        if (!made) {
            state.SkipWithError(made.error().c_str());
            return;
        }
        benchmark::DoNotOptimize(made->bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_Compact(benchmark::State& state)
{
    const Bytes& bytes = song(static_cast<std::size_t>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state) {
        Result<CompactResult> compacted = compactMidi(bytes);
        if (!compacted) {
            state.SkipWithError(compacted.error().c_str());
            return;
        }
        size = compacted->bytes.size();
        benchmark::DoNotOptimize(compacted->bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["kept_percent"] = 100.0 * static_cast<double>(size) / static_cast<double>(bytes.size());
}

// "Apply" with the check box: the rewrite, then its compaction.
void BM_RewriteAndCompact(benchmark::State& state)
{
    const Bytes& bytes = song(static_cast<std::size_t>(state.range(0)));
    const MidiFileSummary summary = *readMidiFile(bytes);
    const RewriteSettings settings{Marks{0, static_cast<double>(summary.lengthMilliseconds)}, {}};
    for (auto _ : state) {
        Result<RewrittenMidi> made = rewriteToMemory(bytes, summary, settings, CompactOptions{});
        if (!made) {
            state.SkipWithError(made.error().c_str());
            return;
        }
        benchmark::DoNotOptimize(made->bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// The end mark fitted from a tenth of the song to 64000 bytes, or to half the song when
// that is less (a 64 KB song fits whole); range(1) compacts.
void BM_FitEndMark(benchmark::State& state)
{
    const Bytes& bytes = song(static_cast<std::size_t>(state.range(0)));
    const MidiFileSummary summary = *readMidiFile(bytes);
    const double startMs = static_cast<double>(summary.lengthMilliseconds) / 10;
    const std::size_t budget = std::min(kRingToneBudgetBytes, bytes.size() / 2);
    int rewrites = 0;
    for (auto _ : state) {
        Result<FitResult> fit = fitEndMark(bytes, summary, {}, startMs, state.range(1) != 0, budget);
        if (!fit) {
            state.SkipWithError(fit.error().c_str());
            return;
        }
        rewrites = fit->rewrites;
        benchmark::DoNotOptimize(fit->endMs);
    }
    state.counters["rewrites"] = rewrites;
}

BENCHMARK(BM_RewriteToMemory)->Arg(kRingTone)->Arg(kOneMegabyte)->Arg(kTenMegabytes);
BENCHMARK(BM_Compact)->Arg(kRingTone)->Arg(kOneMegabyte)->Arg(kTenMegabytes);
BENCHMARK(BM_RewriteAndCompact)->Arg(kRingTone)->Arg(kOneMegabyte)->Arg(kTenMegabytes);
BENCHMARK(BM_FitEndMark)
    ->Args({kRingTone, 0})
    ->Args({kRingTone, 1})
    ->Args({kOneMegabyte, 0})
    ->Args({kOneMegabyte, 1})
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace chwr::bench
