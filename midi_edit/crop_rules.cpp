#include "midi_edit/crop_rules.h"

#include "midi_edit/smf_cursor.h"

#include <cctype>
#include <charconv>
#include <string>

namespace chwr {

Result<double> markFromText(std::string_view text)
{
    std::string_view trimmed = text;
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.front())))
        trimmed.remove_prefix(1);
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.back())))
        trimmed.remove_suffix(1);
    double value = 0;
    const char* begin = trimmed.data();
    const char* end = trimmed.data() + trimmed.size();
    if (!trimmed.empty() && *begin == '+')
        ++begin;
    auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::fixed);
    if (trimmed.empty() || error != std::errc() || stop != end || !std::isfinite(value))
        return Error{"The mark \"" + std::string(text) + "\" is not a number of milliseconds."};
    return value;
}

Result<void> CheckMarks(const Marks& marks, std::int64_t songLengthMs)
{
    if (marks.startMs < 0)
        return Error{kStartMarkBelowZeroMessage};
    if (marks.endMs < marks.startMs)
        return Error{kStartMarkPastEndMessage};
    if (marks.endMs > static_cast<double>(songLengthMs))
        return Error{kEndMarkPastSongMessage};
    return {};
}

double MarkToTick(const TempoMap& tempoMap, double milliseconds)
{
    return milliseconds <= 0 ? 0.0 : tempoMap.tickAt(milliseconds);
}

CropWindow cropWindowFor(const Marks& marks, const TempoMap& tempoMap, std::int64_t songLengthMs)
{
    double endTick = marks.endMs < static_cast<double>(songLengthMs) ? MarkToTick(tempoMap, marks.endMs)
                                                                      : std::numeric_limits<double>::infinity();
    return CropWindow(MarkToTick(tempoMap, marks.startMs), endTick);
}

std::array<std::uint8_t, 8> ClosingSequence(int currentChannel)
{
    auto controlChange = static_cast<std::uint8_t>(smf::kControlChange | (currentChannel & smf::kChannelMask));
    return {0x00, controlChange, smf::kControllerAllNotesOff, 0x00, 0x00, smf::kMeta, smf::kMetaEndOfTrack, 0x00};
}

void SoundingNotes::clear()
{
    for (std::uint16_t s : m_starts) {
        m_count[s] = 0;
        m_released[s] = 0;
    }
    m_starts.clear();
    m_sounding = 0;
}

void SoundingNotes::appendNoteOffs(Bytes& out) const
{
    if (m_sounding == 0)
        return;
    std::array<std::uint32_t, kSlots> skip = m_released;
    for (std::uint16_t s : m_starts) {
        if (skip[s] > 0) {
            --skip[s];
            continue;
        }
        int channel = s / kKeysPerChannel;
        int key = s % kKeysPerChannel;
        out.insert(out.end(), {0x00, static_cast<std::uint8_t>(smf::kNoteOff | channel), static_cast<std::uint8_t>(key),
                               0x00});
    }
}

SoundingNotes notesSoundingAfter(ByteView trackEvents)
{
    SoundingNotes sounding;
    smf::SmfCursor cursor(trackEvents);
    std::uint8_t runningStatus = 0;
    while (!cursor.atEnd()) {
        std::uint32_t delta = 0;
        std::uint8_t status = 0;
        if (cursor.readVariableLengthQuantity(delta) != smf::VlqRead::Ok || !cursor.readByte(status))
            break;
        std::uint8_t data1 = status;
        if (smf::isStatusByte(status)) {
            if (smf::isChannelStatus(status))
                runningStatus = status;
            if (smf::isChannelStatus(status) && !cursor.readByte(data1))
                break;
        } else if (runningStatus != 0) {
            status = runningStatus;
        } else {
            break;
        }
        if (smf::isChannelStatus(status)) {
            std::uint8_t data2 = 0;
            if (smf::channelMessageDataBytes(status) == 2 && !cursor.readByte(data2))
                break;
            const std::uint8_t type = status & smf::kMessageTypeMask;
            const int channel = status & smf::kChannelMask;
            if (type == smf::kNoteOn && data2 != 0)
                sounding.started(channel, data1);
            else if (type == smf::kNoteOn || type == smf::kNoteOff)
                sounding.released(channel, data1);
            continue;
        }
        std::uint8_t metaType = 0;
        std::uint32_t length = 0;
        if ((status != smf::kSysEx && status != smf::kSysExEscape && !cursor.readByte(metaType)) ||
            cursor.readVariableLengthQuantity(length) != smf::VlqRead::Ok || !cursor.skip(length))
            break;
    }
    return sounding;
}

void appendClosing(ByteView writtenEvents, int currentChannel, Bytes& closing)
{
    notesSoundingAfter(writtenEvents).appendNoteOffs(closing);
    std::array<std::uint8_t, 8> sequence = ClosingSequence(currentChannel);
    closing.insert(closing.end(), sequence.begin(), sequence.end());
}

}  // namespace chwr
