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
    // With running status on, a channel event whose status equals the previous one
    // (and follows no meta or system exclusive event) is written without it.
    TrackBuilder& runningStatus(bool on);

    TrackBuilder& noteOn(std::uint32_t delta, int channel, int key, int velocity);
    TrackBuilder& noteOff(std::uint32_t delta, int channel, int key, int velocity = 0);
    TrackBuilder& keyPressure(std::uint32_t delta, int channel, int key, int pressure);
    TrackBuilder& controlChange(std::uint32_t delta, int channel, int controller, int value);
    TrackBuilder& programChange(std::uint32_t delta, int channel, int program);
    TrackBuilder& channelPressure(std::uint32_t delta, int channel, int pressure);
    TrackBuilder& pitchBend(std::uint32_t delta, int channel, int value14);
    // Only the data bytes, relying on whatever running status the reader holds.
    TrackBuilder& dataOnly(std::uint32_t delta, std::initializer_list<std::uint8_t> dataBytes);

    TrackBuilder& meta(std::uint32_t delta, std::uint8_t type, const Bytes& data);
    TrackBuilder& tempo(std::uint32_t delta, std::uint32_t microsPerQuarter);
    TrackBuilder& text(std::uint32_t delta, const std::string& text);
    // F0, the length, the payload (which normally ends with F7).
    TrackBuilder& sysex(std::uint32_t delta, const Bytes& payload);
    // F7, the length, the payload.
    TrackBuilder& escape(std::uint32_t delta, const Bytes& payload);
    TrackBuilder& endOfTrack(std::uint32_t delta = 0);
    // Bytes as they stand, for malformed input and unusual delta forms.
    TrackBuilder& raw(const Bytes& bytes);

    const Bytes& events() const { return m_events; }

private:
    TrackBuilder& channelEvent(std::uint32_t delta, std::uint8_t status,
                               std::initializer_list<std::uint8_t> data);
    // The lead bytes, the length of the data and the data; it ends any running status.
    TrackBuilder& systemEvent(std::uint32_t delta, Bytes event, const Bytes& data);

    Bytes m_events;
    bool m_runningStatus = false;
    std::uint8_t m_lastStatus = 0;
};

// A whole Standard MIDI File: the header chunk and one chunk per track.
class SmfBuilder {
public:
    explicit SmfBuilder(int format = 1, int division = 480);

    TrackBuilder& track();
    // The header announces this many tracks instead of the number built.
    SmfBuilder& announceTracks(int count);
    // Bytes after the last track (a ring tone's trailer).
    SmfBuilder& trailer(const Bytes& bytes);

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
