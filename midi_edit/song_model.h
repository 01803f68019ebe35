#pragma once

#include "midi_edit/smf_format.h"
#include "midi_edit/tempo_map.h"
#include "shell/bytes.h"
#include "shell/result.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace chwr {

// The channel that General MIDI keeps for percussion (Channel 10): its keys pick drums.
inline constexpr int kPercussionChannel = 9;

// One note: from its Note On to the Note Off that ends it, timed through the song's tempo
// map. Channels are 0 to 15 as in the status byte.
struct SongNote {
    double startMs = 0;
    double endMs = 0;
    std::uint8_t channel = 0;
    std::uint8_t key = 0;
    // The Note On's velocity, 1 to 127.
    std::uint8_t velocity = 0;
    // The channel's program at the note's start (its last Program Change at or before it),
    // or -1 when none came yet.
    std::int8_t program = smf::kNoProgram;
};

// The notes of a Standard MIDI File, for drawing the song: built once per open from one
// walk of the file (the same rules as readMidiFile()), grouped by channel and sorted by
// start within each, so the notes of a stretch of time are found by binary search.
//
// Pairing, per track, channel and key: a Note Off, or a Note On of velocity 0, ends the
// note of that key that started first and is still sounding (first in, first out). A
// note still sounding when its track ends lasts to the song's end.
class SongModel {
public:
    // An empty song of length 0.
    SongModel() = default;

    // Refused: what readSmfHeader() refuses, and a file that cannot be read. A walk that
    // stops inside a track keeps what it found, as the open does.
    static Result<SongModel> build(ByteView bytes);
    static Result<SongModel> build(const std::filesystem::path& path);

    // The song's length as the open gives it: the latest End of Track, rounded up.
    double lengthMs() const { return m_lengthMs; }
    const TempoMap& tempoMap() const { return m_tempoMap; }
    std::size_t noteCount() const { return m_notes.size(); }
    bool empty() const { return m_notes.empty(); }

    // The notes of one channel (0 to 15), sorted by start; notes that start together keep
    // file order.
    std::span<const SongNote> notes(int channel) const;
    // The notes of a channel that may sound between fromMs and toMs: every note that does
    // (starts before toMs and ends after fromMs) is in the span; notes that ended before
    // fromMs may be too, so callers test each end.
    std::span<const SongNote> notesAround(int channel, double fromMs, double toMs) const;
    // The longest note of a channel, which bounds how far back notesAround() looks.
    double longestNoteMs(int channel) const;
    // The lowest and highest key a channel plays, or nothing when it plays none.
    std::optional<std::pair<int, int>> keyRange(int channel) const;

private:
    std::vector<SongNote> m_notes;
    // m_notes[m_channelStart[c], m_channelStart[c + 1]) are channel c's notes.
    std::array<std::size_t, smf::kChannelCount + 1> m_channelStart{};
    std::array<double, smf::kChannelCount> m_longestMs{};
    std::array<std::pair<int, int>, smf::kChannelCount> m_keyRange{};
    TempoMap m_tempoMap;
    double m_lengthMs = 0;
};

} // namespace chwr
