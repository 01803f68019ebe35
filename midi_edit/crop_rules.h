#pragma once

#include "midi_edit/smf_format.h"
#include "midi_edit/tempo_map.h"
#include "shell/bytes.h"
#include "shell/result.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

namespace chwr {

// The three refusals of the marks, in the order they are checked.
inline constexpr const char* kStartMarkBelowZeroMessage = "Starting mark cannot be a value less than 0.";
inline constexpr const char* kStartMarkPastEndMessage = "Starting mark cannot exceed the Ending mark.";
inline constexpr const char* kEndMarkPastSongMessage = "End Mark cannot exceed the length of the MIDI Song.";

// The crop marks in milliseconds from the start of the song.
struct Marks {
    double startMs = 0;
    double endMs = 0;
};

// A mark box's text as milliseconds: a decimal number, spaces around it allowed. Other
// text is refused up front rather than read as 0, with a message that names the mark
// ("start mark", "end mark").
Result<double> markFromText(std::string_view text, std::string_view markName = "mark");

// The checks made before a rewrite touches any file; songLengthMs is the player's length.
Result<void> CheckMarks(const Marks& marks, std::int64_t songLengthMs);

// The tick at which a mark sounds, through the song's tempo map; a mark of 0 or less
// is tick 0. Fractions are kept.
double MarkToTick(const TempoMap& tempoMap, double milliseconds);

// The marks as ticks for one run. An end mark at or past the song's length cuts nothing.
// Ticks are whole numbers, so the zone of an event is decided by the first and the
// last whole tick inside the marks.
struct CropWindow {
    CropWindow() = default;
    CropWindow(double start, double end)
        : startTick(start),
          endTick(end),
          firstTickInside(static_cast<std::int64_t>(std::ceil(start))),
          lastTickInside(std::isinf(end) ? std::numeric_limits<std::int64_t>::max()
                                         : static_cast<std::int64_t>(std::floor(end)))
    {
    }

    double startTick = 0;
    double endTick = std::numeric_limits<double>::infinity();
    std::int64_t firstTickInside = 0;
    std::int64_t lastTickInside = std::numeric_limits<std::int64_t>::max();
};
CropWindow cropWindowFor(const Marks& marks, const TempoMap& tempoMap, std::int64_t songLengthMs);

// Per track, reset as each track begins.
struct TrackCropState {
    // The sum of every delta read in this track, kept and dropped events alike.
    std::int64_t absoluteTick = 0;
    bool Inside = false;       // the current event lies between the marks
    bool FirstInside = true;   // no event inside the marks handled yet
    bool Closed = false;       // the track was cut at the end mark
};

// Which delta the current event is written with.
struct DeltaToWrite {
    enum class Kind : std::uint8_t {
        Zero,     // before the marks (or past the end): gathered at time 0 of the track
        AsRead,   // inside the marks: the bytes exactly as read
        Retimed,  // the first event inside: its distance from the start tick
    };
    Kind kind = Kind::Zero;
    std::uint32_t ticks = 0;  // for Retimed
};

// The first kept event's distance from the start tick, rounded to the nearest tick
// (halves up); never more than a four-byte variable-length quantity holds.
inline std::uint32_t retimedDelta(std::int64_t absoluteTick, double startTick)
{
    double distance = std::floor(static_cast<double>(absoluteTick) - startTick + 0.5);
    if (distance <= 0)
        return 0;
    return distance >= smf::kVlqMaxValue ? smf::kVlqMaxValue : static_cast<std::uint32_t>(distance);
}

// Called once the event's delta is added to absoluteTick: sets Inside and says which
// delta to write.
inline DeltaToWrite ClassifyEvent(TrackCropState& track, const CropWindow& window)
{
    if (track.absoluteTick < window.firstTickInside || track.absoluteTick > window.lastTickInside) {
        track.Inside = false;
        return {};
    }
    track.Inside = true;
    if (track.FirstInside) {
        track.FirstInside = false;
        return {DeltaToWrite::Kind::Retimed, retimedDelta(track.absoluteTick, window.startTick)};
    }
    return {DeltaToWrite::Kind::AsRead, 0};
}

// The status byte a written channel message needs, or 0 for none. outputRunningStatus
// is the status of the last channel message written in this track, 0 at the start of
// the track and after a meta or system exclusive event. The byte is written when the
// source event had one or when the output's running status differs.
inline std::uint8_t StatusToWrite(std::uint8_t status, bool sourceHadStatus, std::uint8_t outputRunningStatus)
{
    return (sourceHadStatus || status != outputRunningStatus) ? status : 0;
}

// All Notes Off on the current channel, then End of Track, both at delta 0.
std::array<std::uint8_t, 8> ClosingSequence(int currentChannel);

// The notes written in a track that are still sounding. A release ends the earliest
// sounding note of its channel and key, so the notes of a key that still sound are its
// latest starts: the last few starts of each key are kept with their order.
class SoundingNotes {
public:
    SoundingNotes() { clear(); }

    void clear();
    void started(int channel, int key)
    {
        std::size_t s = slot(channel, key);
        m_recent[s][m_nextRecent[s]++ % kRecentStarts] = ++m_order;
        ++m_count[s];
    }
    void released(int channel, int key)
    {
        std::size_t s = slot(channel, key);
        if (m_count[s] > 0)
            --m_count[s];
    }
    // A Note Off (delta 00, status 8n, the key, velocity 00) for each sounding note, in
    // the order the notes started. False (nothing appended) when a key sounds more often
    // at once than is kept; the caller then reads the track's events again.
    bool appendNoteOffs(Bytes& out) const;

private:
    static constexpr int kKeysPerChannel = smf::kDataByteMax + 1;
    static constexpr std::size_t kSlots = smf::kChannelCount * kKeysPerChannel;
    static constexpr std::uint32_t kRecentStarts = 4;
    static std::size_t slot(int channel, int key)
    {
        return static_cast<std::size_t>(channel * kKeysPerChannel + (key & smf::kDataByteMax));
    }

    std::array<std::uint32_t, kSlots> m_count;
    std::array<std::uint32_t, kSlots> m_nextRecent;
    std::array<std::array<std::uint32_t, kRecentStarts>, kSlots> m_recent;
    std::uint32_t m_order = 0;
};

// Note Offs for the notes still sounding at the end of a track's written events, found
// by reading them again, in the order the notes started.
void appendNoteOffsAfter(ByteView trackEvents, Bytes& out);

// When the event lies past the end tick in a track not yet closed: appends to closing
// a Note Off for each note still sounding and the ClosingSequence, marks the track
// Closed and returns true (the engine then finishes the track). writtenEvents are the
// track's events written so far, read again only when sounding cannot tell.
void appendClosing(const SoundingNotes& sounding, ByteView writtenEvents, int currentChannel, Bytes& closing);
inline bool CloseTrackIfPastEnd(TrackCropState& track, const CropWindow& window, const SoundingNotes& sounding,
                                ByteView writtenEvents, int currentChannel, Bytes& closing)
{
    if (track.Closed || track.absoluteTick <= window.lastTickInside)
        return false;
    appendClosing(sounding, writtenEvents, currentChannel, closing);
    track.Closed = true;
    return true;
}

}  // namespace chwr
