#include "midi_edit/midi_rewriter.h"

#include "midi_edit/smf_cursor.h"
#include "midi_edit/smf_format.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"

#include <algorithm>
#include <limits>
#include <system_error>

namespace chwr {
namespace fs = std::filesystem;

namespace {

// The run reports its progress and looks for a cancel once per this many events.
constexpr std::uint32_t kEventsPerProgress = 4096;
// The longest track chunk a 4-byte length can announce.
constexpr std::size_t kMaxTrackLength = std::numeric_limits<std::uint32_t>::max();
// The most one channel message can write: delta, status, two data bytes and the volume
// controller that may follow a program change.
constexpr std::size_t kMaxChannelEventBytes = smf::kVlqMaxBytes + 3 + 4;

std::uint8_t clampToDataByte(std::int64_t value)
{
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(value, 0, smf::kDataByteMax));
}

std::string unrecognizedEventNotice(std::uint32_t eventCount, std::uint8_t byte)
{
    return "Unrecognized Event\r\ncommandcount:" + std::to_string(eventCount) + "\r\nEvent: " + std::to_string(byte) +
           "\r\n";
}

// The bytes of the track being rewritten: the chunk header first (its length filled in
// when the track is finished), then the events.
class TrackBytes {
public:
    explicit TrackBytes(std::size_t expected) { m_bytes.reserve(expected); }

    void begin(const std::uint8_t* chunkId)
    {
        m_bytes.assign(chunkId, chunkId + smf::kChunkIdSize);
        m_bytes.resize(smf::kTrackChunkHeaderSize);
    }
    // Makes room for count more bytes, growing by a quarter at a time so that a track
    // that outgrows its input does not double the memory held.
    void ensureRoom(std::size_t count)
    {
        std::size_t needed = m_bytes.size() + count;
        if (needed > m_bytes.capacity())
            m_bytes.reserve(std::max(needed, m_bytes.capacity() + m_bytes.capacity() / 4));
    }
    void put(std::uint8_t byte) { m_bytes.push_back(byte); }
    void put(const std::uint8_t* bytes, std::size_t count)
    {
        ensureRoom(count);
        m_bytes.insert(m_bytes.end(), bytes, bytes + count);
    }
    void putDelta(const DeltaToWrite& delta, const std::uint8_t* asRead, std::size_t asReadSize)
    {
        switch (delta.kind) {
        case DeltaToWrite::Kind::Zero: put(0); return;
        case DeltaToWrite::Kind::AsRead: put(asRead, asReadSize); return;
        case DeltaToWrite::Kind::Retimed: {
            std::uint8_t encoded[smf::kVlqMaxBytes];
            put(encoded, static_cast<std::size_t>(smf::encodeVariableLengthQuantity(delta.ticks, encoded)));
            return;
        }
        }
    }
    Bytes& bytes() { return m_bytes; }

    // The whole chunk with its length, or a refusal when the events outgrow it.
    Result<ByteView> chunk()
    {
        std::size_t length = m_bytes.size() - smf::kTrackChunkHeaderSize;
        if (length > kMaxTrackLength)
            return Error{"A rewritten track is longer than a track chunk can hold."};
        smf::writeBigEndian32(static_cast<std::uint32_t>(length), m_bytes.data() + smf::kChunkIdSize);
        return ByteView(m_bytes);
    }

private:
    Bytes m_bytes;
};

}  // namespace

Result<RewriteResult> rewriteMidi(ByteView source, const MidiFileSummary& summary, const RewriteSettings& settings,
                                  const ChunkSink& sink, const RewriteCallbacks& callbacks)
{
    Result<SmfHeader> header = readSmfHeader(source);
    if (!header)
        return Error{header.error()};
    if (auto checked = CheckMarks(settings.marks, summary.lengthMilliseconds); !checked)
        return Error{checked.error()};
    const CropWindow window = cropWindowFor(settings.marks, summary.tempoMap, summary.lengthMilliseconds);

    RewriteResult result;
    result.trackCount = header->trackCount;
    if (auto written = sink(source.first(smf::kHeaderChunkSize)); !written)
        return Error{written.error()};

    smf::SmfCursor cursor(source, smf::kHeaderChunkSize);
    // One track's output is about as long as its input; most files are one or a few tracks.
    TrackBytes track(std::min<std::size_t>(source.size(), kMaxTrackLength) + 64);
    SoundingNotes sounding;
    // The channel of the last channel message that carried its status byte, for the
    // All Notes Off of a track cut at the end mark; it carries over from track to track.
    int currentChannel = 0;
    int trackNumber = 0;
    RewriteProgress progress;
    progress.trackCount = header->trackCount;
    progress.totalBytes = source.size();
    auto reportAndCheckCancel = [&](std::int64_t tick) {
        if (callbacks.progress) {
            progress.trackNumber = trackNumber;
            progress.absoluteTick = tick;
            progress.bytesRead = cursor.position();
            callbacks.progress(progress);
        }
        return callbacks.cancelRequested && callbacks.cancelRequested();
    };
    auto finishTrack = [&]() -> Result<void> {
        Result<ByteView> chunk = track.chunk();
        if (!chunk)
            return Error{chunk.error()};
        if (auto written = sink(*chunk); !written)
            return written;
        ++result.tracksWritten;
        return {};
    };

    for (;;) {
        const std::uint8_t* chunkHeader = cursor.here();
        if (!cursor.skip(smf::kTrackChunkHeaderSize)) {
            result.sourceEndedEarly = true;
            break;
        }
        ++trackNumber;
        TrackCropState crop;
        track.begin(chunkHeader);
        sounding.clear();
        // Running status never crosses into the next track; inside a track it outlasts
        // meta and system exclusive events, as common readers have it.
        std::uint8_t runningStatus = 0;
        // The output's own running status: what a status byte may be left out after.
        std::uint8_t outputStatus = 0;
        if (reportAndCheckCancel(0)) {
            result.outcome = RewriteOutcome::Cancelled;
            return result;
        }
        std::uint32_t untilProgress = kEventsPerProgress;
        bool endOfTrack = false;
        bool stopRun = false;
        bool unrecognized = false;

        while (!endOfTrack && !stopRun) {
            if (cursor.atEnd()) {
                stopRun = true;
                break;
            }
            if (--untilProgress == 0) {
                untilProgress = kEventsPerProgress;
                if (reportAndCheckCancel(crop.absoluteTick)) {
                    result.outcome = RewriteOutcome::Cancelled;
                    return result;
                }
            }
            ++result.eventCount;

            const std::uint8_t* deltaBytes = cursor.here();
            std::uint32_t delta = 0;
            if (cursor.readVariableLengthQuantity(delta) != smf::VlqRead::Ok) {
                stopRun = true;
                break;
            }
            auto deltaSize = static_cast<std::size_t>(cursor.here() - deltaBytes);
            crop.absoluteTick += delta;
            const DeltaToWrite deltaToWrite = ClassifyEvent(crop, window);
            if (CloseTrackIfPastEnd(crop, window, sounding, currentChannel, track.bytes())) {
                if (auto finished = finishTrack(); !finished)
                    return Error{finished.error()};
            }

            const std::uint8_t* eventBytes = cursor.here();
            std::uint8_t status = 0;
            if (!cursor.readByte(status)) {
                stopRun = true;
                break;
            }
            bool hadStatus = true;
            std::uint8_t data1 = 0;
            std::uint8_t data2 = 0;
            if (!smf::isStatusByte(status)) {
                if (runningStatus == 0) {
                    result.notices.push_back(unrecognizedEventNotice(result.eventCount, status));
                    unrecognized = true;
                    stopRun = true;
                    break;
                }
                data1 = status;
                status = runningStatus;
                hadStatus = false;
            }

            if (smf::isChannelStatus(status)) {
                if (hadStatus) {
                    runningStatus = status;
                    currentChannel = status & smf::kChannelMask;
                    if (!cursor.readByte(data1)) {
                        stopRun = true;
                        break;
                    }
                }
                const bool twoDataBytes = smf::channelMessageDataBytes(status) == 2;
                if (twoDataBytes && !cursor.readByte(data2)) {
                    stopRun = true;
                    break;
                }
                if (crop.Closed)
                    continue;

                const std::uint8_t type = status & smf::kMessageTypeMask;
                const int channel = status & smf::kChannelMask;
                const ChannelChange& change = settings.adjustments[static_cast<std::size_t>(channel)];
                if (type == smf::kNoteOff || type == smf::kNoteOn) {
                    // Notes sound only between the marks.
                    if (!crop.Inside)
                        continue;
                    if (change.octave != 0)
                        data1 = clampToDataByte(data1 + std::int64_t{smf::kSemitonesPerOctave} * change.octave);
                    // A Note On of velocity 0 is a release and stays one.
                    if (type == smf::kNoteOn && data2 != 0 && change.velocity != 0)
                        data2 = clampToDataByte(std::int64_t{data2} + change.velocity);
                    if (type == smf::kNoteOn && data2 != 0)
                        sounding.started(channel, data1);
                    else
                        sounding.released(channel, data1);
                } else if (type == smf::kControlChange) {
                    if (data1 == smf::kControllerChannelVolume && change.volume != 0)
                        data2 = clampToDataByte(std::int64_t{data2} + change.volume);
                } else if (type == smf::kProgramChange) {
                    if (change.patch >= 0)
                        data1 = static_cast<std::uint8_t>(change.patch);
                }

                track.ensureRoom(kMaxChannelEventBytes);
                track.putDelta(deltaToWrite, deltaBytes, deltaSize);
                if (std::uint8_t statusByte = StatusToWrite(status, hadStatus, outputStatus))
                    track.put(statusByte);
                outputStatus = status;
                track.put(data1);
                if (twoDataBytes)
                    track.put(data2);
                if (type == smf::kProgramChange && change.volume != 0) {
                    // The channel's volume follows each program change.
                    auto controlChange = static_cast<std::uint8_t>(smf::kControlChange | channel);
                    const std::uint8_t volume[] = {0x00, controlChange, smf::kControllerChannelVolume,
                                                   clampToDataByte(change.volume)};
                    track.put(volume, sizeof volume);
                    outputStatus = controlChange;
                }
                continue;
            }

            // System exclusive and escape events: a length, then the bytes. Everything else
            // from F1 to FF has the meta layout: a type byte, a length, then the bytes.
            std::uint8_t metaType = 0;
            std::uint32_t length = 0;
            if ((status != smf::kSysEx && status != smf::kSysExEscape && !cursor.readByte(metaType)) ||
                cursor.readVariableLengthQuantity(length) != smf::VlqRead::Ok || !cursor.skip(length)) {
                stopRun = true;
                break;
            }
            endOfTrack = status == smf::kMeta && metaType == smf::kMetaEndOfTrack;
            if (crop.Closed)
                continue;
            track.ensureRoom(smf::kVlqMaxBytes);
            track.putDelta(deltaToWrite, deltaBytes, deltaSize);
            track.put(eventBytes, static_cast<std::size_t>(cursor.here() - eventBytes));
            outputStatus = 0;
        }

        if (!endOfTrack) {
            result.sourceEndedEarly = !unrecognized;
            break;
        }
        result.maxTicks = std::max(result.maxTicks, crop.absoluteTick);
        if (!crop.Closed) {
            if (auto finished = finishTrack(); !finished)
                return Error{finished.error()};
        }
        if (trackNumber >= header->trackCount)
            break;
    }
    return result;
}

Result<RewriteResult> MidiRewriter::apply(MidiEditState& state, ChannelTable& table, const Marks& marks)
{
    if (m_running)
        return Error{"A rewrite is already running."};
    // Whatever way the run ends, the rows may be committed again and a new run may start.
    struct RunGuard {
        MidiRewriter& rewriter;
        MidiEditState& state;
        RunGuard(MidiRewriter& r, MidiEditState& s) : rewriter(r), state(s)
        {
            rewriter.m_running = true;
            rewriter.m_cancelRequested = false;
            state.RowCommitFlag = false;
        }
        ~RunGuard()
        {
            rewriter.m_running = false;
            state.RowCommitFlag = true;
        }
    } guard(*this, state);

    if (state.MidiSourcePath.empty())
        return Error{"No MIDI file is open."};
    Result<Bytes> source = readFileBytes(state.MidiSourcePath);
    if (!source)
        return Error{source.error()};
    Result<MidiFileSummary> summary = readMidiFile(*source);
    if (!summary)
        return Error{summary.error()};
    if (auto checked = CheckMarks(marks, summary->lengthMilliseconds); !checked)
        return Error{checked.error()};
    // The rows are read once: nothing can commit them while the run goes on.
    Result<ChannelAdjustments> adjustments = table.adjustmentsForRewrite(state.OpenPrograms);
    if (!adjustments)
        return Error{adjustments.error()};

    Result<fs::path> folder = ensureProgramFolder();
    if (!folder)
        return Error{folder.error()};
    const fs::path head = *folder / kResultFileName;
    if (auto removed = removeFile(head); !removed)
        return Error{removed.error()};
    state.ResultFilePath = head.string();

    std::error_code folderError;
    fs::create_directories(*folder / kDebugFolder, folderError);
    if (folderError)
        return Error{"Cannot create the folder \"" + (*folder / kDebugFolder).string() + "\": " + folderError.message()};
    // Each run empties the debug file; nothing is written to it.
    Result<OutputFile> debug = OutputFile::create(*folder / kDebugFolder / kDebugFileName);
    if (!debug)
        return Error{debug.error()};
    if (auto closed = debug->close(); !closed)
        return Error{closed.error()};

    Result<OutputFile> output = OutputFile::create(head);
    if (!output)
        return Error{output.error()};
    RewriteSettings settings{marks, *adjustments};
    RewriteCallbacks callbacks;
    callbacks.progress = m_progress;
    callbacks.cancelRequested = [this] { return m_cancelRequested; };
    Result<RewriteResult> result = rewriteMidi(
        *source, *summary, settings, [&](ByteView bytes) { return output->write(bytes); }, callbacks);
    Result<void> closed = output->close();
    if (!result)
        return result;
    if (!closed)
        return Error{closed.error()};
    result->resultPath = head;
    return result;
}

}  // namespace chwr
