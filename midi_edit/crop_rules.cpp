#include "midi_edit/crop_rules.h"

#include "midi_edit/smf_cursor.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>
#include <vector>

namespace chwr {

Result<double> markFromText(std::string_view text, std::string_view markName)
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
        return Error{"The " + std::string(markName) + " \"" + std::string(text) +
                     "\" is not a number of milliseconds."};
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
    m_count.fill(0);
    m_nextRecent.fill(0);
    m_order = 0;
}

bool SoundingNotes::appendNoteOffs(Bytes& out) const
{
    struct Start {
        std::uint32_t order;
        std::uint16_t slot;
    };
    std::vector<Start> starts;
    for (std::size_t s = 0; s < kSlots; ++s) {
        std::uint32_t count = m_count[s];
        if (count == 0)
            continue;
        if (count > kRecentStarts)
            return false;
        for (std::uint32_t i = 1; i <= count; ++i)
            starts.push_back({m_recent[s][(m_nextRecent[s] - i) % kRecentStarts], static_cast<std::uint16_t>(s)});
    }
    std::sort(starts.begin(), starts.end(), [](const Start& a, const Start& b) { return a.order < b.order; });
    for (const Start& start : starts) {
        out.insert(out.end(), {0x00, static_cast<std::uint8_t>(smf::kNoteOff | (start.slot / kKeysPerChannel)),
                               static_cast<std::uint8_t>(start.slot % kKeysPerChannel), 0x00});
    }
    return true;
}

void appendNoteOffsAfter(ByteView trackEvents, Bytes& out)
{
    // Every start in order; a release ends the earliest sounding start of its key.
    constexpr int kKeys = smf::kDataByteMax + 1;
    std::vector<std::uint16_t> starts;
    std::vector<std::uint32_t> sounding(smf::kChannelCount * kKeys, 0);
    std::vector<std::uint32_t> released(smf::kChannelCount * kKeys, 0);
    smf::SmfCursor cursor(trackEvents);
    std::uint8_t runningStatus = 0;
    while (!cursor.atEnd()) {
        std::uint32_t delta = 0;
        std::uint8_t status = 0;
        if (cursor.readVariableLengthQuantity(delta) != smf::VlqRead::Ok || !cursor.readByte(status))
            break;
        std::uint8_t data1 = status;
        if (smf::isChannelStatus(status)) {
            runningStatus = status;
            if (!cursor.readByte(data1))
                break;
        } else if (!smf::isStatusByte(status)) {
            if (runningStatus == 0)
                break;
            status = runningStatus;
        }
        if (smf::isChannelStatus(status)) {
            std::uint8_t data2 = 0;
            if (smf::channelMessageDataBytes(status) == 2 && !cursor.readByte(data2))
                break;
            const std::uint8_t type = status & smf::kMessageTypeMask;
            auto slot = static_cast<std::uint16_t>((status & smf::kChannelMask) * kKeys + (data1 & smf::kDataByteMax));
            if (type == smf::kNoteOn && data2 != 0) {
                starts.push_back(slot);
                ++sounding[slot];
            } else if ((type == smf::kNoteOn || type == smf::kNoteOff) && sounding[slot] > 0) {
                --sounding[slot];
                ++released[slot];
            }
            continue;
        }
        std::uint8_t metaType = 0;
        std::uint32_t length = 0;
        if ((status != smf::kSysEx && status != smf::kSysExEscape && !cursor.readByte(metaType)) ||
            cursor.readVariableLengthQuantity(length) != smf::VlqRead::Ok || !cursor.skip(length))
            break;
    }
    for (std::uint16_t slot : starts) {
        if (released[slot] > 0) {
            --released[slot];
            continue;
        }
        out.insert(out.end(), {0x00, static_cast<std::uint8_t>(smf::kNoteOff | (slot / kKeys)),
                               static_cast<std::uint8_t>(slot % kKeys), 0x00});
    }
}

void appendClosing(const SoundingNotes& sounding, ByteView writtenEvents, int currentChannel, Bytes& closing)
{
    if (!sounding.appendNoteOffs(closing))
        appendNoteOffsAfter(writtenEvents, closing);
    std::array<std::uint8_t, 8> sequence = ClosingSequence(currentChannel);
    closing.insert(closing.end(), sequence.begin(), sequence.end());
}

}  // namespace chwr
