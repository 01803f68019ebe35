#include "midi_edit/crop_rules.h"

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
    CropWindow window;
    window.startTick = MarkToTick(tempoMap, marks.startMs);
    if (marks.endMs < static_cast<double>(songLengthMs))
        window.endTick = MarkToTick(tempoMap, marks.endMs);
    return window;
}

std::array<std::uint8_t, 8> ClosingSequence(int currentChannel)
{
    auto controlChange = static_cast<std::uint8_t>(smf::kControlChange | (currentChannel & smf::kChannelMask));
    return {0x00, controlChange, smf::kControllerAllNotesOff, 0x00, 0x00, smf::kMeta, smf::kMetaEndOfTrack, 0x00};
}

void SoundingNotes::started(int channel, int key)
{
    std::size_t s = slot(channel, key);
    m_starts.push_back(static_cast<std::uint16_t>(s));
    ++m_count[s];
    ++m_sounding;
}

void SoundingNotes::released(int channel, int key)
{
    std::size_t s = slot(channel, key);
    if (m_count[s] == 0)
        return;
    --m_count[s];
    ++m_released[s];
    if (--m_sounding == 0)
        clear();
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

bool CloseTrackIfPastEnd(TrackCropState& track, const CropWindow& window, const SoundingNotes& sounding,
                         int currentChannel, Bytes& trackBytes)
{
    if (track.Closed || !(static_cast<double>(track.absoluteTick) > window.endTick))
        return false;
    sounding.appendNoteOffs(trackBytes);
    std::array<std::uint8_t, 8> closing = ClosingSequence(currentChannel);
    trackBytes.insert(trackBytes.end(), closing.begin(), closing.end());
    track.Closed = true;
    return true;
}

}  // namespace chwr
