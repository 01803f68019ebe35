#include "tests/support/smf_builder.h"

namespace chwr::test {

namespace {

void appendBigEndian(Bytes& out, std::uint32_t value, int size)
{
    for (int i = size - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

std::uint8_t byte(int value)
{
    return static_cast<std::uint8_t>(value);
}

} // namespace

Bytes vlq(std::uint32_t value)
{
    Bytes groups{byte(value & 0x7F)};
    while (value >>= 7)
        groups.insert(groups.begin(), byte((value & 0x7F) | 0x80));
    return groups;
}

TrackBuilder& TrackBuilder::channelEvent(Ticks delta, int status, std::initializer_list<int> data)
{
    append(m_events, vlq(delta));
    if (!m_runningStatus || status != m_lastStatus)
        m_events.push_back(byte(status));
    m_lastStatus = byte(status);
    for (int value : data)
        m_events.push_back(byte(value));
    return *this;
}

TrackBuilder& TrackBuilder::system(Ticks delta, Bytes event, const Bytes& data)
{
    append(m_events, vlq(delta));
    append(event, vlq(static_cast<std::uint32_t>(data.size())));
    append(event, data);
    append(m_events, event);
    m_lastStatus = 0;
    return *this;
}

TrackBuilder& TrackBuilder::dataOnly(Ticks delta, std::initializer_list<std::uint8_t> dataBytes)
{
    append(m_events, vlq(delta));
    m_events.insert(m_events.end(), dataBytes.begin(), dataBytes.end());
    return *this;
}

TrackBuilder& TrackBuilder::tempo(Ticks delta, std::uint32_t microsPerQuarter)
{
    return meta(delta, 0x51,
                {byte(microsPerQuarter >> 16), byte(microsPerQuarter >> 8), byte(microsPerQuarter)});
}

Bytes smfHeader(int format, int trackCount, int division)
{
    Bytes header{'M', 'T', 'h', 'd', 0, 0, 0, 6};
    for (int field : {format, trackCount, division})
        appendBigEndian(header, static_cast<std::uint32_t>(field), 2);
    return header;
}

Bytes trackChunk(const Bytes& events)
{
    Bytes chunk{'M', 'T', 'r', 'k'};
    appendBigEndian(chunk, static_cast<std::uint32_t>(events.size()), 4);
    append(chunk, events);
    return chunk;
}

Bytes SmfBuilder::build() const
{
    Bytes file = smfHeader(m_format, m_announced.value_or(static_cast<int>(m_tracks.size())), m_division);
    for (const TrackBuilder& track : m_tracks)
        append(file, trackChunk(track.events()));
    append(file, m_trailer);
    return file;
}

} // namespace chwr::test
