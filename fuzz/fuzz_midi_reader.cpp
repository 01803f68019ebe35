// libFuzzer target: the one forward walk of the Standard MIDI File reader, on any bytes.

#include "midi_edit/midi_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    int breaths = 0;
    chwr::Result<chwr::MidiFileSummary> summary =
        chwr::readMidiFile(chwr::ByteView(data, size), [&breaths] { ++breaths; });
    if (!summary) {
        require(!summary.error().empty());
        return 0;
    }
    require(summary->fileSize == size);
    require(summary->tracksRead >= 0 && summary->tracksRead <= std::max(summary->trackCount, 1));
    require(summary->stoppedEarly == (summary->tracksRead < std::max(summary->trackCount, 1)));
    require(summary->division > 0);
    require(summary->lengthTicks >= 0 && summary->lengthMilliseconds >= 0);
    for (int program : summary->programs)
        require(program >= -1 && program <= 0xFF);
    // The song's length converts back to about its last tick.
    (void)summary->tempoMap.tickAt(static_cast<double>(summary->lengthMilliseconds));
    return 0;
}
