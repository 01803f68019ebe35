#include "midi_edit/midi_compact.h"

#include "midi_edit/midi_reader.h"
#include "midi_edit/smf_cursor.h"
#include "midi_edit/smf_format.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <queue>
#include <utility>
#include <vector>

namespace chwr {

namespace {

constexpr int kControllerCount = smf::kDataByteMax + 1;
// A value no data byte (or pair of them) has: nothing known in force.
constexpr int kUnknown = -1;
constexpr std::size_t kTypicalEventBytes = 3;

// One event read from the source, in 16 bytes: a song holds millions. Channel messages
// keep their bytes here; meta and system exclusive events say where their length and
// data are in the source.
struct Event {
    static constexpr std::uint8_t kSourceHadStatus = 1;
    static constexpr std::uint8_t kKept = 2;

    std::int64_t tick = 0;
    std::uint32_t lengthOffset = 0;
    std::uint8_t status = 0;
    // Channel messages: the data bytes. Meta events: data1 is the meta type.
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint8_t flags = kSourceHadStatus | kKept;

    bool kept() const { return flags & kKept; }
    void drop() { flags &= static_cast<std::uint8_t>(~kKept); }
    bool sourceHadStatus() const { return flags & kSourceHadStatus; }
};
static_assert(sizeof(Event) == 16);

struct Track {
    std::vector<Event> events;
    std::int64_t endTick = 0;
    bool hasKeptEvent() const
    {
        return std::any_of(events.begin(), events.end(), [](const Event& e) { return e.kept(); });
    }
};

using RemovalCounts = std::array<std::size_t, kCompactRemovalKinds>;

void count(RemovalCounts& counts, CompactRemoval kind, std::size_t n = 1)
{
    counts[static_cast<std::size_t>(kind)] += n;
}

// Why a meta or system exclusive event is left out, or nothing when it stays.
std::optional<CompactRemoval> removalOf(std::uint8_t status, std::uint8_t metaType,
                                        const CompactOptions& options)
{
    if (status == smf::kSysEx || status == smf::kSysExEscape) {
        if (options.dropSysEx)
            return CompactRemoval::SysEx;
        return std::nullopt;
    }
    // F1 to FE are read with the meta layout but mean nothing in a file.
    if (status != smf::kMeta)
        return CompactRemoval::OtherMeta;
    if (metaType >= smf::kMetaFirstText && metaType <= smf::kMetaLastText) {
        if (options.keepText)
            return std::nullopt;
        return metaType == smf::kMetaCopyright ? CompactRemoval::Copyright : CompactRemoval::Text;
    }
    switch (metaType) {
    case smf::kMetaSetTempo:
        return std::nullopt;
    case smf::kMetaTimeSignature:
        return CompactRemoval::TimeSignature;
    case smf::kMetaKeySignature:
        return CompactRemoval::KeySignature;
    case smf::kMetaSequencerSpecific:
        return CompactRemoval::SequencerSpecific;
    case smf::kMetaChannelPrefix:
    case smf::kMetaPortPrefix:
        return CompactRemoval::Prefix;
    default:
        return CompactRemoval::OtherMeta;
    }
}

// A Note Off without a release velocity of its own (0, or the default) sounds as a Note
// On of velocity 0, which keeps the running status of the Note Ons around it.
bool releaseVelocityIsDefault(std::uint8_t velocity)
{
    return velocity == 0 || velocity == smf::kDefaultReleaseVelocity;
}

struct ParsedSong {
    std::vector<Track> tracks;
    RemovalCounts removed{};
    std::size_t noteOffsRewritten = 0;
    bool endedEarly = false;
};

// Reads the tracks as the open's walk does (running status outlasts meta and system
// exclusive events, never a track; chunks of other kinds are passed over), leaving out
// the meta and system exclusive events that go and turning Note Offs into Note Ons of
// velocity 0. A track that does not reach its End of Track ends the reading, unkept.
ParsedSong parseSong(ByteView source, const SmfHeader& header, const CompactOptions& options)
{
    ParsedSong song;
    smf::SmfCursor cursor(source, smf::kHeaderChunkSize);
    const int tracksToRead = std::max(header.trackCount, 1);
    for (int started = 0; started < tracksToRead; ++started) {
        smf::skipOtherChunks(cursor);
        if (!cursor.skip(smf::kTrackChunkHeaderSize)) {
            song.endedEarly = true;
            break;
        }
        Track track;
        // A track's events take about three bytes each; its chunk's length (not relied on
        // otherwise) tells how many to make room for.
        const std::size_t announced = smf::bigEndian32At(cursor.here() - smf::kChunkIdSize);
        track.events.reserve(std::min(announced, cursor.remaining()) / kTypicalEventBytes + 1);
        RemovalCounts removed{};
        std::size_t noteOffsRewritten = 0;
        std::int64_t tick = 0;
        std::uint8_t runningStatus = 0;
        bool ended = false;
        for (;;) {
            std::uint32_t delta = 0;
            std::uint8_t byte = 0;
            if (cursor.readVariableLengthQuantity(delta) != smf::VlqRead::Ok || !cursor.readByte(byte))
                break;
            tick += delta;
            Event event;
            event.tick = tick;
            event.status = byte;
            if (!smf::isStatusByte(byte)) {
                if (runningStatus == 0)
                    break;
                event.status = runningStatus;
                event.data1 = byte;
                event.flags = Event::kKept;
            } else if (smf::isChannelStatus(byte)) {
                runningStatus = byte;
            }

            if (smf::isChannelStatus(event.status)) {
                if (event.sourceHadStatus() && !cursor.readByte(event.data1))
                    break;
                if (smf::channelMessageDataBytes(event.status) == 2 && !cursor.readByte(event.data2))
                    break;
                if ((event.status & smf::kMessageTypeMask) == smf::kNoteOff &&
                    releaseVelocityIsDefault(event.data2)) {
                    event.status =
                        static_cast<std::uint8_t>(smf::kNoteOn | (event.status & smf::kChannelMask));
                    event.data2 = 0;
                    ++noteOffsRewritten;
                }
                track.events.push_back(event);
                continue;
            }

            std::uint8_t metaType = 0;
            if (event.status != smf::kSysEx && event.status != smf::kSysExEscape &&
                !cursor.readByte(metaType))
                break;
            event.lengthOffset = static_cast<std::uint32_t>(cursor.position());
            event.data1 = metaType;
            std::uint32_t length = 0;
            if (cursor.readVariableLengthQuantity(length) != smf::VlqRead::Ok)
                break;
            if (!cursor.skip(length))
                break;
            if (event.status == smf::kMeta && metaType == smf::kMetaEndOfTrack) {
                track.endTick = tick;
                ended = true;
                break;
            }
            if (std::optional<CompactRemoval> removal = removalOf(event.status, metaType, options))
                count(removed, *removal);
            else
                track.events.push_back(event);
        }
        if (!ended) {
            song.endedEarly = true;
            break;
        }
        for (std::size_t kind = 0; kind < kCompactRemovalKinds; ++kind)
            song.removed[kind] += removed[kind];
        song.noteOffsRewritten += noteOffsRewritten;
        song.tracks.push_back(std::move(track));
    }
    return song;
}

// The events of every track in the order they sound: by tick, and at one tick in
// track order, then file order (as a player merges the tracks of a format 1 file).
std::vector<Event*> mergedOrder(std::vector<Track>& tracks)
{
    std::size_t total = 0;
    for (const Track& track : tracks)
        total += track.events.size();
    std::vector<Event*> merged;
    merged.reserve(total);
    if (tracks.size() == 1) {
        for (Event& event : tracks.front().events)
            merged.push_back(&event);
        return merged;
    }
    // (tick, track) of each track's next event, the smallest on top.
    using Head = std::pair<std::int64_t, std::size_t>;
    std::priority_queue<Head, std::vector<Head>, std::greater<>> heads;
    std::vector<std::size_t> next(tracks.size(), 0);
    for (std::size_t t = 0; t < tracks.size(); ++t)
        if (!tracks[t].events.empty())
            heads.emplace(tracks[t].events.front().tick, t);
    while (!heads.empty()) {
        const std::size_t t = heads.top().second;
        heads.pop();
        std::vector<Event>& events = tracks[t].events;
        const std::int64_t tick = events[next[t]].tick;
        // The rest of this track's events at the same tick go together.
        while (next[t] < events.size() && events[next[t]].tick == tick)
            merged.push_back(&events[next[t]++]);
        if (next[t] < events.size())
            heads.emplace(events[next[t]].tick, t);
    }
    return merged;
}

// Controllers whose every message acts, so that a repeat of the value is no repeat.
bool repeatsAct(int controller)
{
    return controller == smf::kControllerDataEntry || controller == smf::kControllerDataEntryLsb ||
           (controller >= smf::kControllerDataIncrement &&
            controller <= smf::kControllerLastParameterNumber) ||
           controller >= smf::kControllerFirstChannelMode;
}

// What is known to be in force on one channel.
struct ChannelState {
    std::array<int, kControllerCount> controllers;
    int program;
    int pitchBend;

    ChannelState() { forget(); }
    void forget()
    {
        forgetControllers();
        program = kUnknown;
    }
    void forgetControllers()
    {
        controllers.fill(kUnknown);
        pitchBend = kUnknown;
    }
};

// Marks as unkept the controllers, program changes and pitch bends that repeat what is in
// force on their channel, walking the events in the order they sound. A system exclusive
// event may reset the synth and a channel mode message the channel's controllers: after
// them nothing is taken as known.
void dropRepeats(const std::vector<Event*>& merged, RemovalCounts& removed)
{
    std::array<ChannelState, smf::kChannelCount> channels;
    for (Event* event : merged) {
        if (!smf::isChannelStatus(event->status)) {
            if (event->status == smf::kSysEx || event->status == smf::kSysExEscape)
                for (ChannelState& channel : channels)
                    channel.forget();
            continue;
        }
        // A data byte with its top bit set (a malformed file) is no value to compare.
        if ((event->data1 | event->data2) & smf::kStatusFlag)
            continue;
        ChannelState& channel = channels[event->status & smf::kChannelMask];
        switch (event->status & smf::kMessageTypeMask) {
        case smf::kControlChange: {
            const int controller = event->data1;
            if (controller >= smf::kControllerFirstChannelMode) {
                channel.forgetControllers();
                break;
            }
            if (repeatsAct(controller))
                break;
            int& inForce = channel.controllers[static_cast<std::size_t>(controller)];
            if (inForce == event->data2) {
                event->drop();
                count(removed, CompactRemoval::RepeatedController);
                break;
            }
            inForce = event->data2;
            // A new bank makes the next program change a change, whatever its number.
            if (controller == smf::kControllerBankSelect || controller == smf::kControllerBankSelectLsb)
                channel.program = kUnknown;
            break;
        }
        case smf::kProgramChange:
            if (channel.program == event->data1) {
                event->drop();
                count(removed, CompactRemoval::RepeatedProgram);
            } else {
                channel.program = event->data1;
            }
            break;
        case smf::kPitchBend: {
            const int value = event->data1 | (event->data2 << 8);
            if (channel.pitchBend == value) {
                event->drop();
                count(removed, CompactRemoval::RepeatedPitchBend);
            } else {
                channel.pitchBend = value;
            }
            break;
        }
        default:
            break;
        }
    }
}

// Writes track chunks into a file's bytes: running status among channel messages (a
// status byte again after each meta or system exclusive event, as every reader
// accepts), every delta and length in its shortest form.
class TrackWriter {
public:
    TrackWriter(Bytes& out, ByteView source) : m_out(out), m_source(source) {}

    void begin()
    {
        m_chunkStart = m_out.size();
        m_out.insert(m_out.end(), smf::kTrackChunkId.begin(), smf::kTrackChunkId.end());
        m_out.resize(m_out.size() + smf::kTrackChunkHeaderSize - smf::kChunkIdSize);
        m_lastTick = 0;
        m_runningStatus = 0;
    }

    void write(const Event& event)
    {
        writeDelta(event.tick);
        if (smf::isChannelStatus(event.status)) {
            // A data byte with its top bit set (a malformed file) is read as data only
            // right after a status byte.
            if (event.status != m_runningStatus || (event.data1 & smf::kStatusFlag)) {
                m_out.push_back(event.status);
                m_runningStatus = event.status;
                ++m_channelStatusBytes;
            }
            m_out.push_back(event.data1);
            if (smf::channelMessageDataBytes(event.status) == 2)
                m_out.push_back(event.data2);
            return;
        }
        m_out.push_back(event.status);
        if (event.status == smf::kMeta)
            m_out.push_back(event.data1);
        // The length and the data were read once already.
        smf::SmfCursor cursor(m_source, event.lengthOffset);
        std::uint32_t length = 0;
        (void)cursor.readVariableLengthQuantity(length);
        writeVariableLengthQuantity(length);
        m_out.insert(m_out.end(), cursor.here(), cursor.here() + length);
        m_runningStatus = 0;
    }

    // End of Track at endTick, and the chunk's length.
    void end(std::int64_t endTick)
    {
        writeDelta(endTick);
        m_out.insert(m_out.end(), {smf::kMeta, smf::kMetaEndOfTrack, 0});
        const std::size_t length = m_out.size() - m_chunkStart - smf::kTrackChunkHeaderSize;
        smf::writeBigEndian32(static_cast<std::uint32_t>(length),
                              m_out.data() + m_chunkStart + smf::kChunkIdSize);
    }

    std::size_t channelStatusBytes() const { return m_channelStatusBytes; }

private:
    void writeVariableLengthQuantity(std::uint32_t value)
    {
        std::array<std::uint8_t, smf::kVlqMaxBytes> bytes{};
        const int size = smf::encodeVariableLengthQuantity(value, bytes.data());
        m_out.insert(m_out.end(), bytes.begin(), bytes.begin() + size);
    }

    // A gap longer than one delta holds (the events between were left out) is bridged
    // by empty text events, which make no sound.
    void writeDelta(std::int64_t tick)
    {
        std::int64_t gap = tick - m_lastTick;
        while (gap > static_cast<std::int64_t>(smf::kVlqMaxValue)) {
            writeVariableLengthQuantity(smf::kVlqMaxValue);
            m_out.insert(m_out.end(), {smf::kMeta, smf::kMetaFirstText, 0});
            m_runningStatus = 0;
            gap -= smf::kVlqMaxValue;
        }
        writeVariableLengthQuantity(static_cast<std::uint32_t>(gap));
        m_lastTick = tick;
    }

    Bytes& m_out;
    ByteView m_source;
    std::size_t m_chunkStart = 0;
    std::int64_t m_lastTick = 0;
    std::uint8_t m_runningStatus = 0;
    std::size_t m_channelStatusBytes = 0;
};

struct Layout {
    Bytes bytes;
    int format = 0;
    int trackCount = 0;
    std::size_t channelStatusBytes = 0;
};

Layout startLayout(ByteView source, int format, int trackCount, std::size_t expectedSize)
{
    Layout layout;
    layout.format = format;
    layout.trackCount = trackCount;
    layout.bytes.reserve(expectedSize);
    layout.bytes.assign(source.begin(), source.begin() + smf::kHeaderChunkSize);
    // The header's own length says 6, whatever the source's said: its tracks follow at once.
    smf::writeBigEndian32(static_cast<std::uint32_t>(smf::kHeaderChunkSize - smf::kTrackChunkHeaderSize),
                          layout.bytes.data() + smf::kChunkIdSize);
    smf::writeBigEndian16(static_cast<std::uint16_t>(format), layout.bytes.data() + smf::kHeaderFormatOffset);
    smf::writeBigEndian16(static_cast<std::uint16_t>(trackCount),
                          layout.bytes.data() + smf::kHeaderTrackCountOffset);
    return layout;
}

// The tracks that keep an event, in their order, the first of them ending no earlier
// than the song did.
Layout trackLayout(ByteView source, int format, const std::vector<Track>& tracks, std::int64_t songEnd)
{
    std::vector<const Track*> kept;
    for (const Track& track : tracks)
        if (track.hasKeptEvent())
            kept.push_back(&track);
    if (kept.empty())
        kept.push_back(&tracks.front());
    std::int64_t keptEnd = 0;
    for (const Track* track : kept)
        keptEnd = std::max(keptEnd, track->endTick);

    Layout layout = startLayout(source, format, static_cast<int>(kept.size()), source.size());
    TrackWriter writer(layout.bytes, source);
    for (const Track* track : kept) {
        writer.begin();
        for (const Event& event : track->events)
            if (event.kept())
                writer.write(event);
        writer.end(track == kept.front() && keptEnd < songEnd ? songEnd : track->endTick);
    }
    layout.channelStatusBytes = writer.channelStatusBytes();
    return layout;
}

// One track with every kept event in the order they sound.
Layout mergedLayout(ByteView source, const std::vector<Event*>& merged, std::int64_t songEnd)
{
    Layout layout = startLayout(source, 0, 1, source.size());
    TrackWriter writer(layout.bytes, source);
    writer.begin();
    for (const Event* event : merged)
        if (event->kept())
            writer.write(*event);
    writer.end(songEnd);
    layout.channelStatusBytes = writer.channelStatusBytes();
    return layout;
}

} // namespace

std::string_view compactRemovalName(CompactRemoval kind)
{
    switch (kind) {
    case CompactRemoval::Text:
        return "text";
    case CompactRemoval::Copyright:
        return "copyright";
    case CompactRemoval::TimeSignature:
        return "time_signature";
    case CompactRemoval::KeySignature:
        return "key_signature";
    case CompactRemoval::SequencerSpecific:
        return "sequencer_specific";
    case CompactRemoval::Prefix:
        return "prefix";
    case CompactRemoval::OtherMeta:
        return "other_meta";
    case CompactRemoval::RepeatedController:
        return "repeated_controller";
    case CompactRemoval::RepeatedProgram:
        return "repeated_program";
    case CompactRemoval::RepeatedPitchBend:
        return "repeated_pitch_bend";
    case CompactRemoval::SysEx:
        return "sysex";
    case CompactRemoval::EmptyTrack:
        return "empty_track";
    }
    return "other";
}

Result<CompactResult> compactMidi(ByteView source, const CompactOptions& options)
{
    Result<SmfHeader> header = readSmfHeader(source);
    if (!header)
        return Error{header.error()};
    if (source.size() > std::numeric_limits<std::uint32_t>::max())
        return Error{"The MIDI file is too large to compact (over 4 GB)."};
    ParsedSong song = parseSong(source, *header, options);
    if (song.tracks.empty())
        return Error{"The MIDI file has no complete track to compact."};

    std::vector<Event*> merged = mergedOrder(song.tracks);
    dropRepeats(merged, song.removed);
    std::int64_t songEnd = 0;
    std::size_t keptTracks = 0;
    for (const Track& track : song.tracks) {
        songEnd = std::max(songEnd, track.endTick);
        if (track.hasKeptEvent())
            ++keptTracks;
    }
    // A song that is all empty tracks still keeps one.
    count(song.removed, CompactRemoval::EmptyTrack,
          song.tracks.size() - std::max<std::size_t>(keptTracks, 1));

    // Format 0 is one track already; format 2 holds songs that do not play together.
    std::optional<Layout> best;
    if (header->format != 0)
        best = trackLayout(source, header->format, song.tracks, songEnd);
    if (header->format <= 1) {
        Layout layout = mergedLayout(source, merged, songEnd);
        if (!best || layout.bytes.size() < best->bytes.size())
            best = std::move(layout);
    }

    CompactResult result;
    result.sourceSize = source.size();
    result.sourceEndedEarly = song.endedEarly;
    if (best->bytes.size() > source.size()) {
        result.bytes.assign(source.begin(), source.end());
        result.format = header->format;
        result.trackCount = header->trackCount;
        result.keptSource = true;
        return result;
    }
    std::size_t sourceStatusBytes = 0;
    for (const Event* event : merged)
        if (event->kept() && event->sourceHadStatus() && smf::isChannelStatus(event->status))
            ++sourceStatusBytes;
    result.bytes = std::move(best->bytes);
    result.format = best->format;
    result.trackCount = best->trackCount;
    result.removed = song.removed;
    result.noteOffsRewritten = song.noteOffsRewritten;
    result.statusBytesSaved =
        sourceStatusBytes > best->channelStatusBytes ? sourceStatusBytes - best->channelStatusBytes : 0;
    return result;
}

} // namespace chwr
