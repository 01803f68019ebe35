#pragma once

#include "midi_edit/channel_table.h"
#include "midi_edit/midi_compact.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/midi_rewriter.h"
#include "shell/bytes.h"
#include "shell/result.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace chwr {

// The most a ring tone may hold on the handheld, in bytes (the database's own limit
// for a Standard MIDI File).
inline constexpr std::size_t kRingToneBudgetBytes = 64000;

// A rewrite made in memory: what "Apply" would write, compacted when asked.
struct RewrittenMidi {
    Bytes bytes;
    RewriteResult rewrite;
    // Set when the rewrite was compacted (its bytes are then CompactResult::bytes, moved
    // into `bytes`, and CompactResult::sourceSize is the plain rewrite's size).
    std::optional<CompactResult> compaction;
};

// rewriteMidi() into memory, then compactMidi() over its result when compact is set.
// The header's track count is patched as the rewrite asks. A cancelled run is refused
// ("The rewrite was cancelled.").
Result<RewrittenMidi> rewriteToMemory(ByteView source, const MidiFileSummary& summary,
                                      const RewriteSettings& settings,
                                      const std::optional<CompactOptions>& compact = std::nullopt,
                                      const RewriteCallbacks& callbacks = {});

// The size rewriteToMemory() would give, without keeping the bytes when there is no
// compaction (a counting sink).
Result<std::size_t> rewrittenSize(ByteView source, const MidiFileSummary& summary,
                                  const RewriteSettings& settings,
                                  const std::optional<CompactOptions>& compact = std::nullopt);

struct FitResult {
    // The end mark chosen, in whole milliseconds, and the size of the result with it.
    std::int64_t endMs = 0;
    std::size_t size = 0;
    // The whole song from the start mark fits: endMs is the song's length.
    bool reachedSongEnd = false;
    // Otherwise the size with an end mark one millisecond later (over the budget).
    std::size_t sizeOneLater = 0;
    // Rewrites made by the search.
    int rewrites = 0;
};

// The latest end mark (whole milliseconds, from the start mark rounded up to the song's
// length) whose rewrite with these adjustments, compacted when compact is set, is at
// most budget bytes: either the song's end, or an end mark E that fits while E + 1 does
// not (the size grows with the end mark nearly always, so a binary search over sizes
// finds such a boundary). Refused: the mark checks for the start mark, and a start
// mark whose rewrite alone is over the budget, with both numbers in the message.
Result<FitResult> fitEndMark(ByteView source, const MidiFileSummary& summary,
                             const ChannelAdjustments& adjustments, double startMs, bool compact,
                             std::size_t budget = kRingToneBudgetBytes);

// The same with the compaction's options (nullopt: no compaction).
Result<FitResult> fitEndMark(ByteView source, const MidiFileSummary& summary,
                             const ChannelAdjustments& adjustments, double startMs,
                             const std::optional<CompactOptions>& compact,
                             std::size_t budget = kRingToneBudgetBytes);

// A whole song made to fit the budget: compacted, and when that is still over,
// cropped from its start at the fitted end mark (compacted too), with no channel
// changed. Refused: what the reader and fitEndMark() refuse.
struct FittedSong {
    Bytes bytes;
    // The compaction of the whole song (its bytes moved into `bytes` or dropped).
    CompactResult compaction;
    // Set when the song had to be cropped.
    std::optional<FitResult> fit;
};
Result<FittedSong> fitSong(ByteView source, std::size_t budget = kRingToneBudgetBytes);

} // namespace chwr
