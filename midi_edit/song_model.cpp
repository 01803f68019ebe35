#include "midi_edit/song_model.h"

#include "midi_edit/midi_reader.h"
#include "midi_edit/smf_cursor.h"
#include "shell/file_io.h"

#include <algorithm>
#include <memory>

namespace chwr {

namespace {

constexpr int kKeyCount = smf::kDataByteMax + 1;
constexpr std::int64_t kStillSounding = -1;

// A note as the walk finds it, in ticks; its channel is the list it is in.
struct TickNote {
    std::int64_t startTick = 0;
    std::int64_t endTick = kStillSounding;
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
};

struct ProgramAt {
    std::int64_t tick = 0;
    std::uint8_t program = 0;
};

// The notes of one track still sounding, per channel and key, oldest first: a queue kept
// as a vector and the index of its head, emptied whenever it runs out.
class SoundingNotes {
public:
    void start(int channel, int key, std::size_t note) { m_queues[slot(channel, key)].notes.push_back(note); }
    // The oldest note still sounding on the channel and key, taken off the queue.
    std::optional<std::size_t> end(int channel, int key)
    {
        Queue& queue = m_queues[slot(channel, key)];
        if (queue.head == queue.notes.size())
            return std::nullopt;
        const std::size_t note = queue.notes[queue.head++];
        if (queue.head == queue.notes.size()) {
            queue.notes.clear();
            queue.head = 0;
        }
        return note;
    }
    // Forgets every note: what still sounds at a track's end lasts to the song's end.
    void clear()
    {
        for (Queue& queue : m_queues) {
            queue.notes.clear();
            queue.head = 0;
        }
    }

private:
    struct Queue {
        std::vector<std::size_t> notes;
        std::size_t head = 0;
    };
    static std::size_t slot(int channel, int key)
    {
        return static_cast<std::size_t>(channel * kKeyCount + key);
    }
    std::array<Queue, smf::kChannelCount * kKeyCount> m_queues;
};

// What one walk of the tracks finds.
struct Walk {
    std::array<std::vector<TickNote>, smf::kChannelCount> notes;
    std::array<std::vector<ProgramAt>, smf::kChannelCount> programs;
    std::vector<TempoChange> tempoChanges;
    std::int64_t lengthTicks = 0;
};

// The walk of readMidiFile() (running status kept through meta and system exclusive
// events but not into the next track, foreign chunks passed over, each track read to its
// End of Track, a stop inside a track keeping what came before), noting the notes.
Walk walkNotes(ByteView bytes, int trackCount)
{
    Walk walk;
    auto sounding = std::make_unique<SoundingNotes>();
    smf::SmfCursor cursor(bytes, smf::kHeaderChunkSize);
    int tracksStarted = 0;
    bool walking = true;
    while (walking) {
        smf::skipOtherChunks(cursor);
        if (!cursor.skip(smf::kTrackChunkHeaderSize))
            break;
        ++tracksStarted;
        sounding->clear();
        std::int64_t tick = 0;
        std::uint8_t runningStatus = 0;
        bool trackEnded = false;
        while (!trackEnded) {
            std::uint32_t delta = 0;
            std::uint8_t byte = 0;
            if (cursor.readVariableLengthQuantity(delta) != smf::VlqRead::Ok || !cursor.readByte(byte)) {
                walking = false;
                break;
            }
            tick += delta;
            std::uint8_t status = byte;
            std::uint8_t data[2] = {0, 0};
            int dataRead = 0;
            if (!smf::isStatusByte(byte)) {
                if (runningStatus == 0) {
                    walking = false;
                    break;
                }
                status = runningStatus;
                data[dataRead++] = byte;
            } else if (smf::isChannelStatus(byte)) {
                runningStatus = byte;
            }

            if (smf::isChannelStatus(status)) {
                const int needed = smf::channelMessageDataBytes(status);
                while (dataRead < needed && cursor.readByte(data[dataRead]))
                    ++dataRead;
                if (dataRead < needed) {
                    walking = false;
                    break;
                }
                const std::uint8_t type = status & smf::kMessageTypeMask;
                const int channel = status & smf::kChannelMask;
                const std::uint8_t key = data[0] & smf::kDataByteMax;
                if (type == smf::kNoteOn && data[1] != 0) {
                    std::vector<TickNote>& notes = walk.notes[static_cast<std::size_t>(channel)];
                    sounding->start(channel, key, notes.size());
                    notes.push_back(TickNote{tick, kStillSounding, key,
                                             static_cast<std::uint8_t>(data[1] & smf::kDataByteMax)});
                } else if (type == smf::kNoteOn || type == smf::kNoteOff) {
                    if (std::optional<std::size_t> ended = sounding->end(channel, key))
                        walk.notes[static_cast<std::size_t>(channel)][*ended].endTick = tick;
                } else if (type == smf::kProgramChange) {
                    walk.programs[static_cast<std::size_t>(channel)].push_back(
                        ProgramAt{tick, static_cast<std::uint8_t>(data[0] & smf::kDataByteMax)});
                }
                continue;
            }

            std::uint8_t metaType = 0;
            if (status != smf::kSysEx && status != smf::kSysExEscape && !cursor.readByte(metaType)) {
                walking = false;
                break;
            }
            std::uint32_t length = 0;
            if (cursor.readVariableLengthQuantity(length) != smf::VlqRead::Ok) {
                walking = false;
                break;
            }
            const std::uint8_t* payload = cursor.here();
            if (!cursor.skip(length)) {
                walking = false;
                break;
            }
            if (status != smf::kMeta)
                continue;
            if (metaType == smf::kMetaEndOfTrack)
                trackEnded = true;
            else if (metaType == smf::kMetaSetTempo && length >= smf::kSetTempoLength)
                walk.tempoChanges.push_back(TempoChange{tick, smf::bigEndian24At(payload)});
        }
        if (!trackEnded)
            break;
        walk.lengthTicks = std::max(walk.lengthTicks, tick);
        if (tracksStarted >= trackCount)
            break;
    }
    return walk;
}

} // namespace

Result<SongModel> SongModel::build(ByteView bytes)
{
    Result<SmfHeader> header = readSmfHeader(bytes);
    if (!header)
        return Error{header.error()};
    Walk walk = walkNotes(bytes, header->trackCount);

    SongModel model;
    model.m_tempoMap = TempoMap(header->division, std::move(walk.tempoChanges));
    model.m_lengthMs = static_cast<double>(model.m_tempoMap.lengthMilliseconds(walk.lengthTicks));

    // Channel by channel, by start; a stable sort keeps file order among notes that start
    // together. Tracks usually hold one channel each, so the notes are mostly sorted already.
    std::size_t noteCount = 0;
    for (const std::vector<TickNote>& notes : walk.notes)
        noteCount += notes.size();
    model.m_notes.reserve(noteCount);
    const auto earlierStart = [](const auto& a, const auto& b) { return a.startTick < b.startTick; };
    for (int channel = 0; channel < smf::kChannelCount; ++channel) {
        std::vector<TickNote>& notes = walk.notes[static_cast<std::size_t>(channel)];
        std::vector<ProgramAt>& programs = walk.programs[static_cast<std::size_t>(channel)];
        if (!std::is_sorted(notes.begin(), notes.end(), earlierStart))
            std::stable_sort(notes.begin(), notes.end(), earlierStart);
        std::stable_sort(programs.begin(), programs.end(),
                         [](const ProgramAt& a, const ProgramAt& b) { return a.tick < b.tick; });
        model.m_channelStart[static_cast<std::size_t>(channel)] = model.m_notes.size();
        double& longest = model.m_longestMs[static_cast<std::size_t>(channel)];
        std::pair<int, int>& keys = model.m_keyRange[static_cast<std::size_t>(channel)];
        keys = {kKeyCount, -1};
        auto program = programs.begin();
        std::int8_t current = smf::kNoProgram;
        for (const TickNote& note : notes) {
            while (program != programs.end() && program->tick <= note.startTick)
                current = static_cast<std::int8_t>((program++)->program);
            SongNote drawn;
            drawn.startMs = model.m_tempoMap.millisecondsAt(static_cast<double>(note.startTick));
            drawn.endMs = note.endTick == kStillSounding
                              ? std::max(drawn.startMs, model.m_lengthMs)
                              : model.m_tempoMap.millisecondsAt(static_cast<double>(note.endTick));
            drawn.channel = static_cast<std::uint8_t>(channel);
            drawn.key = note.key;
            drawn.velocity = note.velocity;
            drawn.program = current;
            longest = std::max(longest, drawn.endMs - drawn.startMs);
            keys = {std::min<int>(keys.first, note.key), std::max<int>(keys.second, note.key)};
            model.m_notes.push_back(drawn);
        }
    }
    model.m_channelStart[smf::kChannelCount] = model.m_notes.size();
    return model;
}

Result<SongModel> SongModel::build(const std::filesystem::path& path)
{
    Result<Bytes> bytes = readFileBytes(path);
    if (!bytes)
        return Error{bytes.error()};
    return build(*bytes);
}

std::span<const SongNote> SongModel::notes(int channel) const
{
    if (channel < 0 || channel >= smf::kChannelCount)
        return {};
    const auto c = static_cast<std::size_t>(channel);
    return std::span<const SongNote>(m_notes).subspan(m_channelStart[c],
                                                      m_channelStart[c + 1] - m_channelStart[c]);
}

std::span<const SongNote> SongModel::notesAround(int channel, double fromMs, double toMs) const
{
    const std::span<const SongNote> all = notes(channel);
    if (all.empty())
        return all;
    // A note that starts before fromMs minus the channel's longest note has ended by fromMs.
    const double earliest = fromMs - m_longestMs[static_cast<std::size_t>(channel)];
    const auto startsBefore = [](const SongNote& note, double ms) { return note.startMs < ms; };
    const auto first = std::lower_bound(all.begin(), all.end(), earliest, startsBefore);
    const auto last = std::lower_bound(first, all.end(), toMs, startsBefore);
    return {first, last};
}

double SongModel::longestNoteMs(int channel) const
{
    if (channel < 0 || channel >= smf::kChannelCount)
        return 0;
    return m_longestMs[static_cast<std::size_t>(channel)];
}

std::optional<std::pair<int, int>> SongModel::keyRange(int channel) const
{
    if (notes(channel).empty())
        return std::nullopt;
    return m_keyRange[static_cast<std::size_t>(channel)];
}

} // namespace chwr
