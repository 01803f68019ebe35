// libFuzzer target: the rewriting engine with its crop rules. The first bytes of the input
// are the run's settings (the marks, one row per channel and when to cancel), the rest is
// the source file. The result must be whole track chunks that the reader walks to the end,
// under a header that counts them.

#include "midi_edit/channel_table.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/midi_rewriter.h"
#include "midi_edit/smf_format.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Bytes of one channel row: octave, velocity and volume as signed bytes, then the patch
// plus one (0 stands for -1, the Patch of a channel without a program change).
constexpr std::size_t kRowBytes = 4;
// The settings before the source: start mark, end mark, the cancel point, sixteen rows.
constexpr std::size_t kSettingsBytes = 3 + kRowBytes * chwr::smf::kChannelCount;
// A mark byte is a fraction of the song, in 255ths.
constexpr double kMarkSteps = 255.0;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

int signedByte(std::uint8_t byte)
{
    return static_cast<int>(static_cast<std::int8_t>(byte));
}

// Checks that the result is the source's header (its track count that of the chunks
// written, unless the run was cancelled) followed by tracksWritten whole chunks.
void requireWholeChunks(chwr::ByteView result, chwr::ByteView source, int tracksWritten, bool finished)
{
    const std::size_t countAt = chwr::smf::kHeaderTrackCountOffset;
    require(result.size() >= chwr::smf::kHeaderChunkSize);
    require(std::equal(source.begin(), source.begin() + countAt, result.begin()));
    require(std::equal(source.begin() + countAt + 2, source.begin() + chwr::smf::kHeaderChunkSize,
                       result.begin() + countAt + 2));
    if (finished)
        require(((result[countAt] << 8) | result[countAt + 1]) == tracksWritten);
    else
        require(result[countAt] == source[countAt] && result[countAt + 1] == source[countAt + 1]);
    std::size_t offset = chwr::smf::kHeaderChunkSize;
    int chunks = 0;
    while (offset < result.size()) {
        require(result.size() - offset >= chwr::smf::kTrackChunkHeaderSize);
        const std::size_t lengthAt = offset + chwr::smf::kChunkIdSize;
        const std::size_t length = (std::size_t{result[lengthAt]} << 24) |
                                   (std::size_t{result[lengthAt + 1]} << 16) |
                                   (std::size_t{result[lengthAt + 2]} << 8) | result[lengthAt + 3];
        offset += chwr::smf::kTrackChunkHeaderSize;
        require(result.size() - offset >= length);
        offset += length;
        ++chunks;
    }
    require(chunks == tracksWritten);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kSettingsBytes)
        return 0;
    const chwr::ByteView settingsBytes(data, kSettingsBytes);
    const chwr::ByteView source(data + kSettingsBytes, size - kSettingsBytes);
    chwr::Result<chwr::MidiFileSummary> summary = chwr::readMidiFile(source);
    if (!summary)
        return 0;

    chwr::RewriteSettings settings;
    const auto length = static_cast<double>(summary->lengthMilliseconds);
    settings.marks.startMs = length * settingsBytes[0] / kMarkSteps;
    settings.marks.endMs =
        settings.marks.startMs + (length - settings.marks.startMs) * settingsBytes[1] / kMarkSteps;
    const int cancelAt = settingsBytes[2];
    std::vector<chwr::ChannelAdjustment> rows;
    for (int channel = 0; channel < chwr::smf::kChannelCount; ++channel) {
        const std::size_t at = 3 + kRowBytes * static_cast<std::size_t>(channel);
        chwr::ChannelAdjustment row;
        row.Channel = channel + 1;
        row.Octave = signedByte(settingsBytes[at]);
        row.Velocity = signedByte(settingsBytes[at + 1]);
        row.Volume = signedByte(settingsBytes[at + 2]);
        row.Patch = static_cast<int>(settingsBytes[at + 3]) - 1;
        rows.push_back(row);
    }
    settings.adjustments = chwr::adjustmentsFromRows(rows, summary->programs);

    chwr::Bytes result;
    int progressCalls = 0;
    chwr::RewriteCallbacks callbacks;
    callbacks.progress = [&progressCalls](const chwr::RewriteProgress& progress) {
        ++progressCalls;
        require(progress.percent() >= 0 && progress.percent() <= 100);
    };
    callbacks.cancelRequested = [&] { return cancelAt != 0 && progressCalls >= cancelAt; };
    chwr::Result<chwr::RewriteResult> rewritten = chwr::rewriteMidi(
        source, *summary, settings,
        [&result](chwr::ByteView bytes) -> chwr::Result<void> {
            result.insert(result.end(), bytes.begin(), bytes.end());
            return {};
        },
        callbacks,
        [&result](chwr::ByteView header) -> chwr::Result<void> {
            require(result.size() >= header.size());
            std::copy(header.begin(), header.end(), result.begin());
            return {};
        });
    if (!rewritten) {
        require(!rewritten.error().empty());
        require(result.empty());
        return 0;
    }

    requireWholeChunks(result, source, rewritten->tracksWritten,
                       rewritten->outcome == chwr::RewriteOutcome::Finished);
    require(rewritten->tracksWritten <= std::max(rewritten->trackCount, 1));
    chwr::Result<chwr::MidiFileSummary> readBack = chwr::readMidiFile(result);
    require(readBack.ok());
    require(readBack->tracksRead == rewritten->tracksWritten);
    return 0;
}
