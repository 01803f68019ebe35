#pragma once

#include "midi_edit/smf_format.h"
#include "midi_edit/tempo_map.h"
#include "shell/bytes.h"
#include "shell/result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>

namespace chwr {

// The 14-byte header chunk. The chunk identifier and the header length are not
// checked: a track ends at its End of Track event, not by any length.
struct SmfHeader {
    int format = 0;
    int trackCount = 0;
    int division = 0;
};

// Refuses a file shorter than the header, an SMPTE division ("SMPTE time division is
// not supported") and a division of 0, which times nothing.
Result<SmfHeader> readSmfHeader(ByteView bytes);

// What the open learns from one forward walk of a Standard MIDI File.
struct MidiFileSummary {
    std::size_t fileSize = 0;
    int format = 0;
    // The header's number of tracks (what "Tracks: " shows), and how many the walk read
    // to their End of Track.
    int trackCount = 0;
    int tracksRead = 0;
    // The header's division, ticks per quarter note.
    int division = 0;
    // The division again and the tempo of the last Set Tempo event in file order
    // (500000 when there is none), as the rewriter's mark conversion once used them.
    double TicksPerQuarter = 0;
    double MicrosPerQuarter = 0;
    // The largest End of Track tick of the tracks read to their end, and its time.
    std::int64_t lengthTicks = 0;
    std::int64_t lengthMilliseconds = 0;
    // Per channel (index 0 is Channel 1) the last program change in file order, or -1.
    std::array<int, smf::kChannelCount> programs{};
    // Every Set Tempo event the walk met, merged by tick.
    TempoMap tempoMap;
    // True when the walk stopped before the header's last track: the file ended inside a
    // track or an event, or a data byte came where a status was needed.
    bool stoppedEarly = false;
};

// Called every few thousand events so that a window can process its pending events.
using WalkBreath = std::function<void()>;

// Walks the tracks one after another, each to its End of Track, keeping no event list.
// A chunk of another kind in front of a track (a printable id other than "MTrk", its
// length inside the file) is passed over, as the format asks of readers.
// Refused: what readSmfHeader() refuses. Anything that goes wrong inside the tracks
// only ends the walk there, with what was found so far.
Result<MidiFileSummary> readMidiFile(ByteView bytes, const WalkBreath& breath = {});
// The same for a file, read whole through the file layer.
Result<MidiFileSummary> readMidiFile(const std::filesystem::path& path, const WalkBreath& breath = {});

} // namespace chwr
