#pragma once

#include "shell/bytes.h"
#include "shell/result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace chwr {

// What a compaction may leave in beyond the events that sound.
struct CompactOptions {
    // Keeps the text meta events: text, copyright, track and instrument names, lyrics,
    // markers, cue points.
    bool keepText = false;
    // Drops system exclusive and escape events, which are kept by default: a synth reset
    // or a GS/XG part setting can change the sound.
    bool dropSysEx = false;
};

// The kinds of event a compaction leaves out, for the counts it reports.
enum class CompactRemoval : std::uint8_t {
    Text,              // text, names, lyrics, markers, cue points (meta types 01 to 0F)
    Copyright,         // meta 02, counted apart as it is the one a user may want kept
    TimeSignature,     // meta 58
    KeySignature,      // meta 59
    SequencerSpecific, // meta 7F
    Prefix,            // MIDI channel prefix (meta 20) and port (meta 21)
    OtherMeta,         // sequence number, SMPTE offset and meta types of no known meaning
    RepeatedController,
    RepeatedProgram,
    RepeatedPitchBend,
    SysEx,      // with CompactOptions::dropSysEx
    EmptyTrack, // a track left with nothing but its End of Track
};
inline constexpr std::size_t kCompactRemovalKinds = 12;

// A short name for each kind: "text", "copyright", "time_signature", "key_signature",
// "sequencer_specific", "prefix", "other_meta", "repeated_controller",
// "repeated_program", "repeated_pitch_bend", "sysex", "empty_track" (JSON keys too).
std::string_view compactRemovalName(CompactRemoval kind);

struct CompactResult {
    // The compacted Standard MIDI File.
    Bytes bytes;
    std::size_t sourceSize = 0;
    // The format and track count written: 0 when one merged track came out smaller,
    // otherwise the source's format.
    int format = 0;
    int trackCount = 0;
    // Events (and tracks) left out, per kind (index: CompactRemoval).
    std::array<std::size_t, kCompactRemovalKinds> removed{};
    // Note Offs written as Note On with velocity 0, and status bytes left out by running
    // status (counted against the source's own status bytes).
    std::size_t noteOffsRewritten = 0;
    std::size_t statusBytesSaved = 0;
    // The source ended (or turned malformed) before its last announced track; the
    // tracks read to their End of Track are compacted, the rest left out, as a rewrite
    // does.
    bool sourceEndedEarly = false;
    // Nothing came out smaller than the source: bytes are the source's as they are.
    bool keptSource = false;

    std::size_t removedCount(CompactRemoval kind) const { return removed[static_cast<std::size_t>(kind)]; }
    std::size_t saved() const { return sourceSize > bytes.size() ? sourceSize - bytes.size() : 0; }
};

// Rewrites a Standard MIDI File to the fewest bytes that sound the same: every channel
// event and every Set Tempo stays at its tick (so at its millisecond), in its order per
// channel; the division is kept. Running status throughout (a status byte is written
// again after each meta or system exclusive event); Note Off as Note On with velocity 0
// when its release velocity is 0 or the default 64 (other release velocities are kept,
// as synths that read them sound them); meta events that make no sound are left out
// (text unless keepText); a controller, program change or pitch bend that repeats the
// value in force on its channel is left out, except the controllers whose repeats act
// (data entry, increment and decrement, RPN and NRPN numbers, channel mode messages);
// tracks left with only their End of Track are dropped (the song's length is kept); the
// shortest deltas; and of the source's format and one merged track (events of one tick
// in track order) whichever is smaller (format 2, whose tracks do not play together,
// is never merged). The result is never larger than the source.
// Refused: what readSmfHeader() refuses, and a source with no complete track.
Result<CompactResult> compactMidi(ByteView source, const CompactOptions& options = {});

} // namespace chwr
