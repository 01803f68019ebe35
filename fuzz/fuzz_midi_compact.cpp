// libFuzzer target: compaction and the song view's model, on the reader's inputs. A
// compacted file is never larger than its source, reads to its last track, and has
// nothing more to give the second time; every note of the model is of its channel, ends
// after it starts and is no longer than the channel's longest.

#include "midi_edit/midi_compact.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/song_model.h"
#include "midi_edit/smf_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void compactAndCheck(chwr::ByteView source, const chwr::CompactOptions& options)
{
    chwr::Result<chwr::CompactResult> compacted = chwr::compactMidi(source, options);
    if (!compacted) {
        require(!compacted.error().empty());
        return;
    }
    require(compacted->bytes.size() <= source.size());
    chwr::Result<chwr::MidiFileSummary> readBack = chwr::readMidiFile(compacted->bytes);
    require(readBack.ok());
    if (compacted->bytes.size() < source.size()) {
        require(!readBack->stoppedEarly);
        require(readBack->tracksRead == compacted->trackCount);
        chwr::Result<chwr::CompactResult> again = chwr::compactMidi(compacted->bytes, options);
        require(again.ok());
        require(again->bytes.size() == compacted->bytes.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const chwr::ByteView source(data, size);
    compactAndCheck(source, {});
    compactAndCheck(source, chwr::CompactOptions{true, true});

    chwr::Result<chwr::SongModel> model = chwr::SongModel::build(source);
    if (!model)
        return 0;
    for (int channel = 0; channel < chwr::smf::kChannelCount; ++channel) {
        for (const chwr::SongNote& note : model->notes(channel)) {
            require(note.channel == channel);
            require(note.startMs >= 0 && note.startMs <= note.endMs);
            require(note.endMs - note.startMs <= model->longestNoteMs(channel) + 1e-9);
        }
    }
    return 0;
}
