#include "midi_edit/fit_end_mark.h"

#include "midi_edit/crop_rules.h"
#include "midi_edit/smf_format.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

namespace chwr {

namespace {

constexpr const char* kCancelledMessage = "The rewrite was cancelled.";

} // namespace

Result<RewrittenMidi> rewriteToMemory(ByteView source, const MidiFileSummary& summary,
                                      const RewriteSettings& settings,
                                      const std::optional<CompactOptions>& compact,
                                      const RewriteCallbacks& callbacks)
{
    RewrittenMidi made;
    made.bytes.reserve(source.size() + smf::kHeaderChunkSize);
    auto sink = [&](ByteView bytes) -> Result<void> {
        made.bytes.insert(made.bytes.end(), bytes.begin(), bytes.end());
        return {};
    };
    auto patchHeader = [&](ByteView header) -> Result<void> {
        std::copy(header.begin(), header.end(), made.bytes.begin());
        return {};
    };
    Result<RewriteResult> rewrite = rewriteMidi(source, summary, settings, sink, callbacks, patchHeader);
    if (!rewrite)
        return Error{rewrite.error()};
    if (rewrite->outcome == RewriteOutcome::Cancelled)
        return Error{kCancelledMessage};
    made.rewrite = std::move(rewrite).value();
    if (compact) {
        Result<CompactResult> compacted = compactMidi(made.bytes, *compact);
        if (!compacted)
            return Error{compacted.error()};
        made.bytes = std::move(compacted->bytes);
        compacted->bytes.clear();
        made.compaction = std::move(compacted).value();
    }
    return made;
}

Result<std::size_t> rewrittenSize(ByteView source, const MidiFileSummary& summary,
                                  const RewriteSettings& settings,
                                  const std::optional<CompactOptions>& compact)
{
    if (compact) {
        Result<RewrittenMidi> made = rewriteToMemory(source, summary, settings, compact);
        if (!made)
            return Error{made.error()};
        return made->bytes.size();
    }
    std::size_t size = 0;
    auto countingSink = [&](ByteView bytes) -> Result<void> {
        size += bytes.size();
        return {};
    };
    Result<RewriteResult> rewrite = rewriteMidi(source, summary, settings, countingSink);
    if (!rewrite)
        return Error{rewrite.error()};
    return size;
}

Result<FitResult> fitEndMark(ByteView source, const MidiFileSummary& summary,
                             const ChannelAdjustments& adjustments, double startMs, bool compact,
                             std::size_t budget)
{
    return fitEndMark(source, summary, adjustments, startMs,
                      compact ? std::optional<CompactOptions>(CompactOptions{}) : std::nullopt, budget);
}

Result<FitResult> fitEndMark(ByteView source, const MidiFileSummary& summary,
                             const ChannelAdjustments& adjustments, double startMs,
                             const std::optional<CompactOptions>& compact, std::size_t budget)
{
    const std::int64_t songEnd = summary.lengthMilliseconds;
    if (auto checked = CheckMarks(Marks{startMs, static_cast<double>(songEnd)}, songEnd); !checked)
        return Error{checked.error()};

    FitResult fit;
    // The sizes measured, by end mark: the search asks for a few of them twice.
    std::map<std::int64_t, std::size_t> sizes;
    auto sizeAt = [&](std::int64_t endMs) -> Result<std::size_t> {
        if (auto known = sizes.find(endMs); known != sizes.end())
            return known->second;
        RewriteSettings settings{Marks{startMs, static_cast<double>(endMs)}, adjustments};
        Result<std::size_t> size = rewrittenSize(source, summary, settings, compact);
        if (!size)
            return size;
        ++fit.rewrites;
        sizes.emplace(endMs, *size);
        return size;
    };

    Result<std::size_t> whole = sizeAt(songEnd);
    if (!whole)
        return Error{whole.error()};
    if (*whole <= budget) {
        fit.endMs = songEnd;
        fit.size = *whole;
        fit.reachedSongEnd = true;
        return fit;
    }
    // The earliest end mark in whole milliseconds that the start mark allows.
    std::int64_t fits = std::min(static_cast<std::int64_t>(std::ceil(startMs)), songEnd);
    Result<std::size_t> least = sizeAt(fits);
    if (!least)
        return Error{least.error()};
    if (*least > budget)
        return Error{"Even with the end mark at the start mark (" + std::to_string(fits) +
                     " ms) the result is " + std::to_string(*least) + " bytes, over the limit of " +
                     std::to_string(budget) + " bytes."};
    // fits is within the budget and over is not; halve the stretch between them.
    std::int64_t over = songEnd;
    while (over - fits > 1) {
        const std::int64_t middle = fits + (over - fits) / 2;
        Result<std::size_t> size = sizeAt(middle);
        if (!size)
            return Error{size.error()};
        (*size <= budget ? fits : over) = middle;
    }
    fit.endMs = fits;
    fit.size = sizes.at(fits);
    fit.sizeOneLater = sizes.at(over);
    return fit;
}

Result<FittedSong> fitSong(ByteView source, std::size_t budget)
{
    Result<CompactResult> compacted = compactMidi(source);
    if (!compacted)
        return Error{compacted.error()};
    FittedSong song;
    song.compaction = std::move(compacted).value();
    song.bytes = std::move(song.compaction.bytes);
    song.compaction.bytes.clear();
    if (song.bytes.size() <= budget)
        return song;

    Result<MidiFileSummary> summary = readMidiFile(source);
    if (!summary)
        return Error{summary.error()};
    Result<FitResult> fit = fitEndMark(source, *summary, ChannelAdjustments{}, 0.0, true, budget);
    if (!fit)
        return Error{fit.error()};
    RewriteSettings settings{Marks{0.0, static_cast<double>(fit->endMs)}, ChannelAdjustments{}};
    Result<RewrittenMidi> cropped = rewriteToMemory(source, *summary, settings, CompactOptions{});
    if (!cropped)
        return Error{cropped.error()};
    song.bytes = std::move(cropped->bytes);
    song.fit = *fit;
    return song;
}

} // namespace chwr
