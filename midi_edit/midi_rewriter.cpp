#include "midi_edit/midi_rewriter.h"

#include "midi_edit/smf_cursor.h"
#include "midi_edit/smf_format.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
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
    return "Unrecognized Event\r\ncommandcount:" + std::to_string(eventCount) +
           "\r\nEvent: " + std::to_string(byte) + "\r\n";
}

// The bytes of the track being rewritten: the chunk header first (its length filled in
// when the track is finished), then the events. The engine writes through a pointer of
// its own (a local, so that byte stores cannot be taken to change the engine's state)
// after asking for room.
class TrackBytes {
public:
    explicit TrackBytes(std::size_t expected) { grow(0, expected); }

    // Starts a track; returns where its events go. Every chunk written is an "MTrk",
    // whatever id the source's chunk had.
    std::uint8_t* begin()
    {
        std::copy(smf::kTrackChunkId.begin(), smf::kTrackChunkId.end(), m_data.get());
        return m_data.get() + smf::kTrackChunkHeaderSize;
    }
    // Makes room for count bytes at out, growing by a quarter at a time so that a track
    // that outgrows its input does not double the memory held; returns the new out.
    std::uint8_t* room(std::uint8_t* out, std::size_t count)
    {
        auto used = static_cast<std::size_t>(out - m_data.get());
        if (m_capacity - used < count)
            grow(used, std::max(used + count, m_capacity + m_capacity / 4));
        return m_data.get() + used;
    }

    // The events written so far, up to out.
    ByteView eventsUpTo(const std::uint8_t* out) const
    {
        const std::uint8_t* events = m_data.get() + smf::kTrackChunkHeaderSize;
        return ByteView(events, static_cast<std::size_t>(out - events));
    }

    // The whole chunk ending at out, with its length, or a refusal when the events
    // outgrow a chunk.
    Result<ByteView> chunk(const std::uint8_t* out)
    {
        auto size = static_cast<std::size_t>(out - m_data.get());
        std::size_t length = size - smf::kTrackChunkHeaderSize;
        if (length > kMaxTrackLength)
            return Error{"A rewritten track is longer than a track chunk can hold."};
        smf::writeBigEndian32(static_cast<std::uint32_t>(length), m_data.get() + smf::kChunkIdSize);
        return ByteView(m_data.get(), size);
    }

private:
    void grow(std::size_t used, std::size_t capacity)
    {
        auto larger = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        if (m_data)
            std::copy(m_data.get(), m_data.get() + used, larger.get());
        m_data = std::move(larger);
        m_capacity = capacity;
    }

    std::unique_ptr<std::uint8_t[]> m_data;
    std::size_t m_capacity = 0;
};

// Delta bytes as read (one to four).
inline std::uint8_t* copyDelta(std::uint8_t* out, const std::uint8_t* delta, const std::uint8_t* deltaEnd)
{
    *out++ = *delta++;
    while (delta != deltaEnd)
        *out++ = *delta++;
    return out;
}

inline std::uint8_t* writeDelta(std::uint8_t* out, const DeltaToWrite& delta, const std::uint8_t* asRead,
                                const std::uint8_t* asReadEnd)
{
    switch (delta.kind) {
    case DeltaToWrite::Kind::Zero:
        *out++ = 0;
        break;
    case DeltaToWrite::Kind::AsRead:
        out = copyDelta(out, asRead, asReadEnd);
        break;
    case DeltaToWrite::Kind::Retimed:
        out += smf::encodeVariableLengthQuantity(delta.ticks, out);
        break;
    }
    return out;
}

// Copies the source bytes from `from` up to `upTo` (events that go out as read) and
// forgets `from`; nothing when there are none.
inline std::uint8_t* flushVerbatim(TrackBytes& track, std::uint8_t* out, const std::uint8_t*& from,
                                   const std::uint8_t* upTo)
{
    if (!from)
        return out;
    auto count = static_cast<std::size_t>(upTo - from);
    out = track.room(out, count);
    out = std::copy(from, upTo, out);
    from = nullptr;
    return out;
}

// A channel message as read, and what the channel's changes make of it.
struct ChannelMessage {
    std::uint8_t status = 0;
    bool hadStatus = false;
    bool twoDataBytes = false;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};

// Applies the channel's changes to the data bytes; true when a volume controller is to
// follow (after a program change on a channel with a Volume).
inline bool applyChannelChange(ChannelMessage& message, const ChannelChange& change)
{
    const std::uint8_t type = message.status & smf::kMessageTypeMask;
    if (type == smf::kNoteOff || type == smf::kNoteOn) {
        if (change.octave != 0)
            message.data1 =
                clampToDataByte(message.data1 + std::int64_t{smf::kSemitonesPerOctave} * change.octave);
        // A Note On of velocity 0 is a release and stays one.
        if (type == smf::kNoteOn && message.data2 != 0 && change.velocity != 0)
            message.data2 = clampToDataByte(std::int64_t{message.data2} + change.velocity);
    } else if (type == smf::kControlChange) {
        if (message.data1 == smf::kControllerChannelVolume && change.volume != 0)
            message.data2 = clampToDataByte(std::int64_t{message.data2} + change.volume);
    } else if (type == smf::kProgramChange) {
        if (change.patch >= 0)
            message.data1 = static_cast<std::uint8_t>(change.patch);
        return change.volume != 0;
    }
    return false;
}

// A written Note On with a velocity starts a note; a Note Off or a Note On of velocity 0
// ends one.
inline void followNote(SoundingNotes& sounding, const ChannelMessage& message)
{
    const std::uint8_t type = message.status & smf::kMessageTypeMask;
    if (type == smf::kNoteOn && message.data2 != 0)
        sounding.started(message.status & smf::kChannelMask, message.data1);
    else if (type == smf::kNoteOn || type == smf::kNoteOff)
        sounding.released(message.status & smf::kChannelMask, message.data1);
}

// Writes the message after its delta: the status byte if there is one to write, the data
// and the volume controller that may follow a program change.
inline std::uint8_t* writeChannelMessage(std::uint8_t* out, const ChannelMessage& message,
                                         std::uint8_t statusByte, bool volumeFollows, int volume)
{
    if (statusByte)
        *out++ = statusByte;
    *out++ = message.data1;
    if (message.twoDataBytes)
        *out++ = message.data2;
    if (volumeFollows) {
        *out++ = 0x00;
        *out++ = static_cast<std::uint8_t>(smf::kControlChange | (message.status & smf::kChannelMask));
        *out++ = smf::kControllerChannelVolume;
        *out++ = clampToDataByte(volume);
    }
    return out;
}

} // namespace

Result<RewriteResult> rewriteMidi(ByteView source, const MidiFileSummary& summary,
                                  const RewriteSettings& settings, const ChunkSink& sink,
                                  const RewriteCallbacks& callbacks, const HeaderPatch& patchHeader)
{
    Result<SmfHeader> header = readSmfHeader(source);
    if (!header)
        return Error{header.error()};
    if (auto checked = CheckMarks(settings.marks, summary.lengthMilliseconds); !checked)
        return Error{checked.error()};
    const CropWindow window = cropWindowFor(settings.marks, summary.tempoMap, summary.lengthMilliseconds);
    // Only a track cut at the end mark needs to know which notes still sound.
    const bool cutsAtEnd = window.lastTickInside != std::numeric_limits<std::int64_t>::max();
    const ChannelAdjustments adjustments = settings.adjustments;
    // One bit per channel that has any change, so that other channels are copied at once.
    std::uint32_t changedChannels = 0;
    for (std::size_t channel = 0; channel < adjustments.size(); ++channel)
        if (adjustments[channel] != ChannelChange{})
            changedChannels |= 1U << channel;
    const int trackCount = header->trackCount;

    RewriteResult result;
    result.trackCount = trackCount;
    if (auto written = sink(source.first(smf::kHeaderChunkSize)); !written)
        return Error{written.error()};

    smf::SmfCursor cursor(source, smf::kHeaderChunkSize);
    // One track's output is about as long as its input; most files are one or a few tracks.
    TrackBytes track(std::min<std::size_t>(source.size(), kMaxTrackLength) + 64);
    auto sounding = std::make_unique<SoundingNotes>();
    Bytes closing;
    // The channel of the last channel message that carried its status byte, for the
    // All Notes Off of a track cut at the end mark; it carries over from track to track.
    int currentChannel = 0;
    int trackNumber = 0;
    std::uint32_t eventCount = 0;
    RewriteProgress progress;
    progress.trackCount = trackCount;
    progress.totalBytes = source.size();
    auto reportAndCheckCancel = [&](std::int64_t tick, std::size_t position) {
        if (callbacks.progress) {
            progress.trackNumber = trackNumber;
            progress.absoluteTick = tick;
            progress.bytesRead = position;
            callbacks.progress(progress);
        }
        return callbacks.cancelRequested && callbacks.cancelRequested();
    };
    auto finishTrack = [&](const std::uint8_t* out) -> Result<void> {
        Result<ByteView> chunk = track.chunk(out);
        if (!chunk)
            return Error{chunk.error()};
        if (auto written = sink(*chunk); !written)
            return written;
        ++result.tracksWritten;
        return {};
    };
    auto cancelled = [&] {
        result.eventCount = eventCount;
        result.outcome = RewriteOutcome::Cancelled;
        return result;
    };

    for (;;) {
        // Chunks of other kinds are not tracks: the walk passes over them, and so does the copy.
        smf::skipOtherChunks(cursor);
        if (!cursor.skip(smf::kTrackChunkHeaderSize)) {
            result.sourceEndedEarly = true;
            break;
        }
        ++trackNumber;
        TrackCropState crop;
        std::uint8_t* out = track.begin();
        // Events that go out exactly as read are not written one by one: the source bytes
        // from here up to the event in hand are copied at once when something else comes.
        const std::uint8_t* verbatimFrom = nullptr;
        if (cutsAtEnd)
            sounding->clear();
        // Running status never crosses into the next track; inside a track it outlasts
        // meta and system exclusive events, as common readers have it.
        std::uint8_t runningStatus = 0;
        // The output's own running status: what a status byte may be left out after.
        std::uint8_t outputStatus = 0;
        if (reportAndCheckCancel(0, cursor.position()))
            return cancelled();
        std::uint32_t untilProgress = kEventsPerProgress;
        bool endOfTrack = false;
        bool unrecognized = false;

        for (;;) {
            // Between the marks, after the first event there, events are read here as the
            // walk reads them; the first that needs more (the end mark, End of Track, the
            // end of the source, a data byte without running status) is read again below.
            if (crop.Inside && !crop.FirstInside && !crop.Closed) {
                while (untilProgress > 1) {
                    const std::uint8_t* at = cursor.here();
                    std::uint32_t delta = 0;
                    std::uint8_t byte = 0;
                    if (cursor.readVariableLengthQuantity(delta) != smf::VlqRead::Ok) {
                        cursor.rewind(at);
                        break;
                    }
                    const std::uint8_t* deltaEnd = cursor.here();
                    if (!cursor.readByte(byte) || crop.absoluteTick + delta > window.lastTickInside) {
                        cursor.rewind(at);
                        break;
                    }
                    const bool hadStatus = smf::isStatusByte(byte);
                    const std::uint8_t status = hadStatus ? byte : runningStatus;
                    if (smf::isChannelStatus(status)) {
                        ChannelMessage message{status, hadStatus, smf::channelMessageDataBytes(status) == 2,
                                               byte, 0};
                        if ((hadStatus && !cursor.readByte(message.data1)) ||
                            (message.twoDataBytes && !cursor.readByte(message.data2))) {
                            cursor.rewind(at);
                            break;
                        }
                        if (hadStatus) {
                            runningStatus = status;
                            currentChannel = status & smf::kChannelMask;
                        }
                        const int channel = status & smf::kChannelMask;
                        const std::uint8_t statusByte = StatusToWrite(status, hadStatus, outputStatus);
                        outputStatus = status;
                        if (!(changedChannels & (1U << channel))) {
                            if (cutsAtEnd)
                                followNote(*sounding, message);
                            if (statusByte == 0 || hadStatus) {
                                if (!verbatimFrom)
                                    verbatimFrom = at;
                            } else {
                                out = flushVerbatim(track, out, verbatimFrom, at);
                                out = track.room(out, kMaxChannelEventBytes);
                                out = copyDelta(out, at, deltaEnd);
                                out = writeChannelMessage(out, message, statusByte, false, 0);
                            }
                        } else {
                            const ChannelChange& change = adjustments[static_cast<std::size_t>(channel)];
                            const bool volumeFollows = applyChannelChange(message, change);
                            if (cutsAtEnd)
                                followNote(*sounding, message);
                            out = flushVerbatim(track, out, verbatimFrom, at);
                            out = track.room(out, kMaxChannelEventBytes);
                            out = copyDelta(out, at, deltaEnd);
                            out = writeChannelMessage(out, message, statusByte, volumeFollows, change.volume);
                            if (volumeFollows)
                                outputStatus = static_cast<std::uint8_t>(smf::kControlChange | channel);
                        }
                    } else {
                        std::uint8_t metaType = 0;
                        std::uint32_t length = 0;
                        if (!hadStatus ||
                            (byte != smf::kSysEx && byte != smf::kSysExEscape &&
                             !cursor.readByte(metaType)) ||
                            cursor.readVariableLengthQuantity(length) != smf::VlqRead::Ok ||
                            !cursor.skip(length) ||
                            (byte == smf::kMeta && metaType == smf::kMetaEndOfTrack)) {
                            cursor.rewind(at);
                            break;
                        }
                        outputStatus = 0;
                        if (!verbatimFrom)
                            verbatimFrom = at;
                    }
                    crop.absoluteTick += delta;
                    ++eventCount;
                    --untilProgress;
                }
            }

            if (cursor.atEnd())
                break;
            if (--untilProgress == 0) {
                untilProgress = kEventsPerProgress;
                if (reportAndCheckCancel(crop.absoluteTick, cursor.position()))
                    return cancelled();
            }
            ++eventCount;

            const std::uint8_t* deltaBytes = cursor.here();
            std::uint32_t delta = 0;
            if (cursor.readVariableLengthQuantity(delta) != smf::VlqRead::Ok)
                break;
            const std::uint8_t* deltaEnd = cursor.here();
            crop.absoluteTick += delta;
            const DeltaToWrite deltaToWrite = ClassifyEvent(crop, window);
            // Before a cut, everything written so far goes into place: the notes still
            // sounding may have to be read from it.
            if (!crop.Closed && crop.absoluteTick > window.lastTickInside)
                out = flushVerbatim(track, out, verbatimFrom, deltaBytes);
            if (CloseTrackIfPastEnd(crop, window, *sounding, track.eventsUpTo(out), currentChannel,
                                    closing)) {
                out = track.room(out, closing.size());
                out = std::copy(closing.begin(), closing.end(), out);
                closing.clear();
                if (auto finished = finishTrack(out); !finished)
                    return Error{finished.error()};
            }
            // A delta written as 00 before the marks is as read when it was 00.
            const bool deltaAsRead =
                deltaToWrite.kind == DeltaToWrite::Kind::AsRead ||
                (deltaToWrite.kind == DeltaToWrite::Kind::Zero && deltaEnd - deltaBytes == 1 && delta == 0);

            const std::uint8_t* eventBytes = cursor.here();
            std::uint8_t status = 0;
            if (!cursor.readByte(status))
                break;
            bool hadStatus = true;
            std::uint8_t data1 = 0;
            std::uint8_t data2 = 0;
            if (!smf::isStatusByte(status)) {
                if (runningStatus == 0) {
                    result.notices.push_back(unrecognizedEventNotice(eventCount, status));
                    unrecognized = true;
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
                    if (!cursor.readByte(data1))
                        break;
                }
                const bool twoDataBytes = smf::channelMessageDataBytes(status) == 2;
                if (twoDataBytes && !cursor.readByte(data2))
                    break;
                if (crop.Closed)
                    continue;
                const std::uint8_t type = status & smf::kMessageTypeMask;
                // Notes sound only between the marks.
                if ((type == smf::kNoteOff || type == smf::kNoteOn) && !crop.Inside) {
                    out = flushVerbatim(track, out, verbatimFrom, deltaBytes);
                    continue;
                }
                const int channel = status & smf::kChannelMask;
                const ChannelChange& change = adjustments[static_cast<std::size_t>(channel)];
                ChannelMessage message{status, hadStatus, twoDataBytes, data1, data2};
                const bool volumeFollows = applyChannelChange(message, change);
                if (cutsAtEnd)
                    followNote(*sounding, message);
                const std::uint8_t statusByte = StatusToWrite(status, hadStatus, outputStatus);
                outputStatus =
                    volumeFollows ? static_cast<std::uint8_t>(smf::kControlChange | channel) : status;
                if (deltaAsRead && message.data1 == data1 && message.data2 == data2 && !volumeFollows &&
                    (statusByte != 0) == hadStatus) {
                    if (!verbatimFrom)
                        verbatimFrom = deltaBytes;
                    continue;
                }
                out = flushVerbatim(track, out, verbatimFrom, deltaBytes);
                out = track.room(out, kMaxChannelEventBytes);
                out = writeDelta(out, deltaToWrite, deltaBytes, deltaEnd);
                out = writeChannelMessage(out, message, statusByte, volumeFollows, change.volume);
                continue;
            }

            // System exclusive and escape events: a length, then the bytes. Everything else
            // from F1 to FF has the meta layout: a type byte, a length, then the bytes.
            std::uint8_t metaType = 0;
            std::uint32_t length = 0;
            if ((status != smf::kSysEx && status != smf::kSysExEscape && !cursor.readByte(metaType)) ||
                cursor.readVariableLengthQuantity(length) != smf::VlqRead::Ok || !cursor.skip(length))
                break;
            endOfTrack = status == smf::kMeta && metaType == smf::kMetaEndOfTrack;
            if (!crop.Closed) {
                outputStatus = 0;
                if (deltaAsRead) {
                    if (!verbatimFrom)
                        verbatimFrom = deltaBytes;
                } else {
                    out = flushVerbatim(track, out, verbatimFrom, deltaBytes);
                    auto eventSize = static_cast<std::size_t>(cursor.here() - eventBytes);
                    out = track.room(out, smf::kVlqMaxBytes + eventSize);
                    out = writeDelta(out, deltaToWrite, deltaBytes, deltaEnd);
                    out = std::copy(eventBytes, cursor.here(), out);
                }
            }
            if (endOfTrack)
                break;
        }

        if (!endOfTrack) {
            result.sourceEndedEarly = !unrecognized;
            break;
        }
        result.maxTicks = std::max(result.maxTicks, crop.absoluteTick);
        if (!crop.Closed) {
            out = flushVerbatim(track, out, verbatimFrom, cursor.here());
            if (auto finished = finishTrack(out); !finished)
                return Error{finished.error()};
        }
        if (trackNumber >= trackCount)
            break;
    }
    result.eventCount = eventCount;
    // The header went out first with the source's count; the result says how many
    // track chunks it holds.
    if (result.tracksWritten != trackCount && patchHeader) {
        std::array<std::uint8_t, smf::kHeaderChunkSize> finished;
        std::copy_n(source.begin(), finished.size(), finished.begin());
        smf::writeBigEndian16(static_cast<std::uint16_t>(result.tracksWritten),
                              finished.data() + smf::kHeaderTrackCountOffset);
        if (auto patched = patchHeader(finished); !patched)
            return Error{patched.error()};
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
        return Error{"Cannot create the folder \"" + (*folder / kDebugFolder).string() +
                     "\": " + folderError.message()};
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
        *source, *summary, settings, [&](ByteView bytes) { return output->write(bytes); }, callbacks,
        [&](ByteView header) { return overwriteFileBytes(head, 0, header); });
    Result<void> closed = output->close();
    if (!result)
        return result;
    if (!closed)
        return Error{closed.error()};
    result->resultPath = head;
    return result;
}

} // namespace chwr
