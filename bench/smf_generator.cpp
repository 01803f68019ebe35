#include "bench/smf_generator.h"

#include "midi_edit/smf_format.h"

#include <map>
#include <random>
#include <string>

namespace chwr::bench {

namespace {

constexpr int kDivision = 480;
constexpr int kTracks = 1 + smf::kChannelCount;
constexpr std::uint8_t kMetaText = 0x01;
constexpr std::uint8_t kMetaTrackName = 0x03;
constexpr std::uint8_t kMetaLyric = 0x05;
constexpr std::uint8_t kMetaTimeSignature = 0x58;
constexpr std::uint8_t kControllerModulation = 0x01;
constexpr std::uint8_t kControllerPan = 0x0A;
constexpr std::uint8_t kControllerExpression = 0x0B;
constexpr std::uint8_t kPercussionChannel = 9;

class Track {
public:
    void delta(std::uint32_t ticks)
    {
        std::uint8_t encoded[smf::kVlqMaxBytes];
        int size = smf::encodeVariableLengthQuantity(ticks, encoded);
        bytes.insert(bytes.end(), encoded, encoded + size);
    }
    void channel(std::uint32_t ticks, std::uint8_t status, std::uint8_t data1, int data2 = -1)
    {
        delta(ticks);
        if (status != m_running)
            bytes.push_back(status);
        m_running = status;
        bytes.push_back(data1);
        if (data2 >= 0)
            bytes.push_back(static_cast<std::uint8_t>(data2));
    }
    void meta(std::uint32_t ticks, std::uint8_t type, const Bytes& data)
    {
        delta(ticks);
        bytes.push_back(smf::kMeta);
        bytes.push_back(type);
        delta(static_cast<std::uint32_t>(data.size()));
        bytes.insert(bytes.end(), data.begin(), data.end());
        m_running = 0;
    }
    void text(std::uint32_t ticks, std::uint8_t type, const std::string& text)
    {
        meta(ticks, type, Bytes(text.begin(), text.end()));
    }
    void sysex(std::uint32_t ticks, const Bytes& payload)
    {
        delta(ticks);
        bytes.push_back(smf::kSysEx);
        delta(static_cast<std::uint32_t>(payload.size()));
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        m_running = 0;
    }

    Bytes bytes;

private:
    std::uint8_t m_running = 0;
};

void appendBigEndian(Bytes& out, std::uint32_t value, int size)
{
    for (int i = size - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes tempoBytes(std::uint32_t micros)
{
    return {static_cast<std::uint8_t>(micros >> 16), static_cast<std::uint8_t>(micros >> 8),
            static_cast<std::uint8_t>(micros)};
}

}  // namespace

Bytes generateSong(std::size_t targetBytes, std::uint32_t seed)
{
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const std::size_t perTrack = targetBytes / kTracks;
    std::uint32_t songTicks = 0;

    std::vector<Track> tracks(kTracks);
    for (int c = 0; c < smf::kChannelCount; ++c) {
        Track& track = tracks[static_cast<std::size_t>(c + 1)];
        auto ch = static_cast<std::uint8_t>(c);
        track.text(0, kMetaTrackName, "Channel " + std::to_string(c + 1));
        track.channel(0, smf::kProgramChange | ch, static_cast<std::uint8_t>(pick(0, 127)));
        track.channel(0, smf::kControlChange | ch, smf::kControllerChannelVolume, pick(60, 127));
        track.channel(0, smf::kControlChange | ch, kControllerPan, pick(0, 127));
        std::uint32_t ticks = 0;
        int bar = 0;
        while (track.bytes.size() < perTrack) {
            // A phrase of notes under running status, each released by a Note On of velocity 0.
            int notes = pick(4, 12);
            auto on = static_cast<std::uint8_t>(smf::kNoteOn | ch);
            for (int n = 0; n < notes; ++n) {
                auto key = static_cast<std::uint8_t>(ch == kPercussionChannel ? pick(35, 81) : pick(36, 96));
                std::uint32_t gap = static_cast<std::uint32_t>(pick(0, 2) * 60);
                std::uint32_t length = static_cast<std::uint32_t>(pick(1, 8) * 30);
                track.channel(gap, on, key, pick(40, 120));
                track.channel(length, on, key, 0);
                ticks += gap + length;
            }
            switch (pick(0, 9)) {
            case 0: track.channel(0, smf::kControlChange | ch, kControllerModulation, pick(0, 127)); break;
            case 1: track.channel(0, smf::kControlChange | ch, kControllerExpression, pick(60, 127)); break;
            case 2: track.channel(0, smf::kPitchBend | ch, static_cast<std::uint8_t>(pick(0, 127)), pick(0, 127)); break;
            case 3: track.channel(0, smf::kControlChange | ch, smf::kControllerChannelVolume, pick(60, 127)); break;
            case 4: track.channel(0, smf::kChannelPressure | ch, static_cast<std::uint8_t>(pick(0, 127))); break;
            case 5:
                if (pick(0, 3) == 0)
                    track.channel(0, smf::kProgramChange | ch, static_cast<std::uint8_t>(pick(0, 127)));
                break;
            case 6:
                if (c == 0)
                    track.text(0, kMetaLyric, "la" + std::to_string(bar));
                break;
            default: break;
            }
            ++bar;
        }
        track.meta(0, smf::kMetaEndOfTrack, {});
        songTicks = std::max(songTicks, ticks);
    }

    // The conductor: tempo changes every few bars up to the end of the song.
    Track& conductor = tracks[0];
    conductor.text(0, kMetaTrackName, "Conductor");
    conductor.meta(0, kMetaTimeSignature, {4, 2, 24, 8});
    conductor.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
    conductor.text(0, kMetaText, "Generated for benchmarks");
    conductor.meta(0, smf::kMetaSetTempo, tempoBytes(500000));
    std::uint32_t at = 0;
    const std::uint32_t step = kDivision * 16;
    while (at + step < songTicks) {
        conductor.meta(step, smf::kMetaSetTempo, tempoBytes(static_cast<std::uint32_t>(pick(400000, 700000))));
        at += step;
    }
    conductor.meta(songTicks - at, smf::kMetaEndOfTrack, {});

    Bytes file{'M', 'T', 'h', 'd'};
    appendBigEndian(file, 6, 4);
    appendBigEndian(file, 1, 2);
    appendBigEndian(file, kTracks, 2);
    appendBigEndian(file, kDivision, 2);
    for (const Track& track : tracks) {
        file.insert(file.end(), {'M', 'T', 'r', 'k'});
        appendBigEndian(file, static_cast<std::uint32_t>(track.bytes.size()), 4);
        file.insert(file.end(), track.bytes.begin(), track.bytes.end());
    }
    return file;
}

const Bytes& song(std::size_t size)
{
    static std::map<std::size_t, Bytes> songs;
    auto it = songs.find(size);
    if (it == songs.end())
        it = songs.emplace(size, generateSong(size)).first;
    return it->second;
}

}  // namespace chwr::bench
