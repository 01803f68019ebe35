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

TrackBuilder& TrackBuilder::runningStatus(bool on)
{
    m_runningStatus = on;
    return *this;
}

TrackBuilder& TrackBuilder::channelEvent(std::uint32_t delta, std::uint8_t status,
                                         std::initializer_list<std::uint8_t> data)
{
    append(m_events, vlq(delta));
    if (!m_runningStatus || status != m_lastStatus)
        m_events.push_back(status);
    m_lastStatus = status;
    m_events.insert(m_events.end(), data.begin(), data.end());
    return *this;
}

TrackBuilder& TrackBuilder::systemEvent(std::uint32_t delta, Bytes event, const Bytes& data)
{
    append(m_events, vlq(delta));
    append(event, vlq(static_cast<std::uint32_t>(data.size())));
    append(event, data);
    append(m_events, event);
    m_lastStatus = 0;
    return *this;
}

TrackBuilder& TrackBuilder::noteOn(std::uint32_t delta, int channel, int key, int velocity)
{
    return channelEvent(delta, byte(0x90 | channel), {byte(key), byte(velocity)});
}

TrackBuilder& TrackBuilder::noteOff(std::uint32_t delta, int channel, int key, int velocity)
{
    return channelEvent(delta, byte(0x80 | channel), {byte(key), byte(velocity)});
}

TrackBuilder& TrackBuilder::keyPressure(std::uint32_t delta, int channel, int key, int pressure)
{
    return channelEvent(delta, byte(0xA0 | channel), {byte(key), byte(pressure)});
}

TrackBuilder& TrackBuilder::controlChange(std::uint32_t delta, int channel, int controller, int value)
{
    return channelEvent(delta, byte(0xB0 | channel), {byte(controller), byte(value)});
}

TrackBuilder& TrackBuilder::programChange(std::uint32_t delta, int channel, int program)
{
    return channelEvent(delta, byte(0xC0 | channel), {byte(program)});
}

TrackBuilder& TrackBuilder::channelPressure(std::uint32_t delta, int channel, int pressure)
{
    return channelEvent(delta, byte(0xD0 | channel), {byte(pressure)});
}

TrackBuilder& TrackBuilder::pitchBend(std::uint32_t delta, int channel, int value14)
{
    return channelEvent(delta, byte(0xE0 | channel), {byte(value14 & 0x7F), byte((value14 >> 7) & 0x7F)});
}

TrackBuilder& TrackBuilder::dataOnly(std::uint32_t delta, std::initializer_list<std::uint8_t> dataBytes)
{
    append(m_events, vlq(delta));
    m_events.insert(m_events.end(), dataBytes.begin(), dataBytes.end());
    return *this;
}

TrackBuilder& TrackBuilder::meta(std::uint32_t delta, std::uint8_t type, const Bytes& data)
{
    return systemEvent(delta, {0xFF, type}, data);
}

TrackBuilder& TrackBuilder::tempo(std::uint32_t delta, std::uint32_t microsPerQuarter)
{
    return meta(delta, 0x51,
                {byte(microsPerQuarter >> 16), byte(microsPerQuarter >> 8), byte(microsPerQuarter)});
}

TrackBuilder& TrackBuilder::text(std::uint32_t delta, const std::string& text)
{
    return meta(delta, 0x01, Bytes(text.begin(), text.end()));
}

TrackBuilder& TrackBuilder::sysex(std::uint32_t delta, const Bytes& payload)
{
    return systemEvent(delta, {0xF0}, payload);
}

TrackBuilder& TrackBuilder::escape(std::uint32_t delta, const Bytes& payload)
{
    return systemEvent(delta, {0xF7}, payload);
}

TrackBuilder& TrackBuilder::endOfTrack(std::uint32_t delta)
{
    return meta(delta, 0x2F, {});
}

TrackBuilder& TrackBuilder::raw(const Bytes& bytes)
{
    append(m_events, bytes);
    return *this;
}

SmfBuilder::SmfBuilder(int format, int division) : m_format(format), m_division(division) {}

TrackBuilder& SmfBuilder::track()
{
    return m_tracks.emplace_back();
}

SmfBuilder& SmfBuilder::announceTracks(int count)
{
    m_announced = count;
    return *this;
}

SmfBuilder& SmfBuilder::trailer(const Bytes& bytes)
{
    m_trailer = bytes;
    return *this;
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
