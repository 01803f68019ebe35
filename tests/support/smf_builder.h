#pragma once

#include "shell/bytes.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace chwr::test {

// A variable-length quantity of the Standard MIDI File kind, shortest form.
Bytes vlq(std::uint32_t value);

// The events of one track, written in order. Every event takes its delta time first.
// Channels are 0 to 15 as in the status byte.
class TrackBuilder {
public:
    using Ticks = std::uint32_t;
    // With running status on, a channel event whose status equals the previous one
    // (and follows no meta or system exclusive event) is written without it.
    TrackBuilder& runningStatus(bool on)
    {
        m_runningStatus = on;
        return *this;
    }

    TrackBuilder& noteOn(Ticks delta, int channel, int key, int velocity)
    {
        return channelEvent(delta, 0x90 | channel, {key, velocity});
    }
    TrackBuilder& noteOff(Ticks delta, int channel, int key, int velocity = 0)
    {
        return channelEvent(delta, 0x80 | channel, {key, velocity});
    }
    TrackBuilder& keyPressure(Ticks delta, int channel, int key, int pressure)
    {
        return channelEvent(delta, 0xA0 | channel, {key, pressure});
    }
    TrackBuilder& controlChange(Ticks delta, int channel, int controller, int value)
    {
        return channelEvent(delta, 0xB0 | channel, {controller, value});
    }
    TrackBuilder& programChange(Ticks delta, int channel, int program)
    {
        return channelEvent(delta, 0xC0 | channel, {program});
    }
    TrackBuilder& channelPressure(Ticks delta, int channel, int pressure)
    {
        return channelEvent(delta, 0xD0 | channel, {pressure});
    }
    TrackBuilder& pitchBend(Ticks delta, int channel, int value14)
    {
        return channelEvent(delta, 0xE0 | channel, {value14 & 0x7F, (value14 >> 7) & 0x7F});
    }
    // Only the data bytes, relying on whatever running status the reader holds.
    TrackBuilder& dataOnly(Ticks delta, std::initializer_list<std::uint8_t> dataBytes);

    TrackBuilder& meta(Ticks delta, std::uint8_t type, const Bytes& data)
    {
        return system(delta, {0xFF, type}, data);
    }
    TrackBuilder& tempo(Ticks delta, std::uint32_t microsPerQuarter);
    TrackBuilder& text(Ticks delta, const std::string& text)
    {
        return meta(delta, 0x01, Bytes(text.begin(), text.end()));
    }
    // F0, the length, the payload (which normally ends with F7).
    TrackBuilder& sysex(Ticks delta, const Bytes& payload) { return system(delta, {0xF0}, payload); }
    // F7, the length, the payload.
    TrackBuilder& escape(Ticks delta, const Bytes& payload) { return system(delta, {0xF7}, payload); }
    TrackBuilder& endOfTrack(Ticks delta = 0) { return meta(delta, 0x2F, {}); }
    // Bytes as they stand, for malformed input and unusual delta forms.
    TrackBuilder& raw(const Bytes& bytes)
    {
        m_events.insert(m_events.end(), bytes.begin(), bytes.end());
        return *this;
    }

    const Bytes& events() const { return m_events; }

private:
    TrackBuilder& channelEvent(Ticks delta, int status, std::initializer_list<int> data);
    // The lead bytes, the length of the data and the data; it ends any running status.
    TrackBuilder& system(Ticks delta, Bytes event, const Bytes& data);

    Bytes m_events;
    bool m_runningStatus = false;
    std::uint8_t m_lastStatus = 0;
};

// A whole Standard MIDI File: the header chunk and one chunk per track.
class SmfBuilder {
public:
    explicit SmfBuilder(int format = 1, int division = 480) : m_format(format), m_division(division) {}

    TrackBuilder& track() { return m_tracks.emplace_back(); }
    // The header announces this many tracks instead of the number built.
    SmfBuilder& announceTracks(int count)
    {
        m_announced = count;
        return *this;
    }
    // Bytes after the last track (a ring tone's trailer).
    SmfBuilder& trailer(const Bytes& bytes)
    {
        m_trailer = bytes;
        return *this;
    }

    Bytes build() const;

private:
    int m_format;
    int m_division;
    std::optional<int> m_announced;
    std::vector<TrackBuilder> m_tracks;
    Bytes m_trailer;
};

// The bytes of a 14-byte header chunk alone.
Bytes smfHeader(int format, int trackCount, int division);
// A track chunk around events, with their true length.
Bytes trackChunk(const Bytes& events);

} // namespace chwr::test
