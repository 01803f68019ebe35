#include "midi_edit/midi_reader.h"

#include "midi_edit/smf_cursor.h"
#include "midi_edit/smf_format.h"
#include "shell/file_io.h"

#include <algorithm>
#include <string>
#include <vector>

namespace chwr {

namespace {

// The walk lets the window breathe once per this many events.
constexpr std::uint32_t kEventsPerBreath = 4096;

} // namespace

Result<SmfHeader> readSmfHeader(ByteView bytes)
{
    if (bytes.size() < smf::kHeaderChunkSize)
        return Error{"The file is too short to be a Standard MIDI File (" + std::to_string(bytes.size()) +
                     " bytes)."};
    SmfHeader header;
    header.format = smf::bigEndian16At(bytes, smf::kHeaderFormatOffset);
    header.trackCount = smf::bigEndian16At(bytes, smf::kHeaderTrackCountOffset);
    std::uint16_t division = smf::bigEndian16At(bytes, smf::kHeaderDivisionOffset);
    if (division & smf::kSmpteDivisionFlag)
        return Error{"SMPTE time division is not supported"};
    if (division == 0)
        return Error{"The MIDI file's division is 0 ticks per quarter note, which times nothing."};
    header.division = division;
    return header;
}

Result<MidiFileSummary> readMidiFile(ByteView bytes, const WalkBreath& breath)
{
    Result<SmfHeader> header = readSmfHeader(bytes);
    if (!header)
        return Error{header.error()};

    MidiFileSummary summary;
    summary.fileSize = bytes.size();
    summary.format = header->format;
    summary.trackCount = header->trackCount;
    summary.division = header->division;
    summary.TicksPerQuarter = header->division;
    summary.MicrosPerQuarter = smf::kDefaultMicrosPerQuarter;
    summary.programs.fill(smf::kNoProgram);

    std::vector<TempoChange> tempoChanges;
    smf::SmfCursor cursor(bytes, smf::kHeaderChunkSize);
    std::uint32_t untilBreath = kEventsPerBreath;
    bool walking = true;
    int tracksStarted = 0;

    while (walking) {
        smf::skipOtherChunks(cursor);
        if (!cursor.skip(smf::kTrackChunkHeaderSize))
            break;
        ++tracksStarted;
        std::int64_t tick = 0;
        // Running status lasts through meta and system exclusive events but never
        // into the next track.
        std::uint8_t runningStatus = 0;
        bool trackEnded = false;

        while (!trackEnded) {
            if (cursor.atEnd()) {
                walking = false;
                break;
            }
            if (--untilBreath == 0) {
                untilBreath = kEventsPerBreath;
                if (breath)
                    breath();
            }
            std::uint32_t delta = 0;
            std::uint8_t byte = 0;
            if (cursor.readVariableLengthQuantity(delta) != smf::VlqRead::Ok || !cursor.readByte(byte)) {
                walking = false;
                break;
            }
            tick += delta;

            std::uint8_t status = byte;
            std::uint8_t firstData = 0;
            bool haveFirstData = false;
            if (!smf::isStatusByte(byte)) {
                if (runningStatus == 0) {
                    walking = false;
                    break;
                }
                status = runningStatus;
                firstData = byte;
                haveFirstData = true;
            } else if (smf::isChannelStatus(byte)) {
                runningStatus = byte;
            }

            if (smf::isChannelStatus(status)) {
                if (!haveFirstData && !cursor.readByte(firstData)) {
                    walking = false;
                    break;
                }
                if (smf::channelMessageDataBytes(status) == 2) {
                    if (!cursor.skip(1)) {
                        walking = false;
                        break;
                    }
                } else if ((status & smf::kMessageTypeMask) == smf::kProgramChange) {
                    summary.programs[status & smf::kChannelMask] = firstData;
                }
                continue;
            }

            // System exclusive and escape events: a length, then the bytes. Everything else
            // from F1 to FF has the meta layout: a type byte, a length, then the bytes.
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
            const std::uint8_t* data = cursor.here();
            if (!cursor.skip(length)) {
                walking = false;
                break;
            }
            if (status != smf::kMeta)
                continue;
            if (metaType == smf::kMetaEndOfTrack) {
                trackEnded = true;
            } else if (metaType == smf::kMetaSetTempo && length >= smf::kSetTempoLength) {
                std::uint32_t micros = smf::bigEndian24At(data);
                tempoChanges.push_back(TempoChange{tick, micros});
                summary.MicrosPerQuarter = micros;
            }
        }
        if (!trackEnded)
            break;
        ++summary.tracksRead;
        summary.lengthTicks = std::max(summary.lengthTicks, tick);
        // At least one track is read, whatever the header announces.
        if (tracksStarted >= summary.trackCount)
            break;
    }

    summary.stoppedEarly = summary.tracksRead < std::max(summary.trackCount, 1);
    summary.tempoMap = TempoMap(summary.division, std::move(tempoChanges));
    summary.lengthMilliseconds = summary.tempoMap.lengthMilliseconds(summary.lengthTicks);
    return summary;
}

Result<MidiFileSummary> readMidiFile(const std::filesystem::path& path, const WalkBreath& breath)
{
    Result<Bytes> bytes = readFileBytes(path);
    if (!bytes)
        return Error{bytes.error()};
    return readMidiFile(*bytes, breath);
}

} // namespace chwr
