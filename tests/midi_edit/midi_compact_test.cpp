// Compaction sounds the same and is never larger; the fitted end mark is a boundary of the
// byte budget.

#include "midi_edit/fit_end_mark.h"
#include "midi_edit/midi_compact.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/smf_cursor.h"

#include "shell/file_io.h"
#include "tests/midi_edit/midi_test_util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using namespace test;
using namespace ::testing;

// An event at its tick: the status, then the data (a meta event's type and data, no length).
using TimedEvent = std::pair<std::int64_t, Bytes>;

// Every event of a well-formed file, track after track; running status as the program
// reads it (it outlasts meta and system exclusive events).
std::vector<TimedEvent> eventsOf(ByteView file)
{
    std::vector<TimedEvent> events;
    std::size_t at = 14;
    auto vlq = [&] {
        std::size_t value = 0;
        do
            value = (value << 7) | (file[at] & 0x7F);
        while (file[at++] & 0x80);
        return value;
    };
    while (at + 8 <= file.size()) {
        const std::size_t end = at + 8 + smf::bigEndian32At(&file[at + 4]);
        std::int64_t tick = 0;
        std::uint8_t running = 0;
        for (at += 8; at < end;) {
            tick += static_cast<std::int64_t>(vlq());
            const std::uint8_t status = file[at] & 0x80 ? file[at++] : running;
            Bytes event{status};
            if (status == 0xFF)
                event.push_back(file[at++]);
            if (status < 0xF0)
                running = status;
            const std::size_t length =
                status < 0xF0 ? static_cast<std::size_t>(smf::channelMessageDataBytes(status)) : vlq();
            event.insert(event.end(), file.begin() + at, file.begin() + at + length);
            at += length;
            events.emplace_back(tick, std::move(event));
        }
    }
    return events;
}

// What a synth hears of a file: per channel each message that changes something, at its
// millisecond (a repeated value changes nothing, except data entry and parameter numbers; a
// system exclusive event forgets every value, a channel mode message its channel's
// controllers, a new bank the program); a Note Off of release velocity 0 or 64 as a Note
// On of velocity 0; the system exclusive events; the tempo changes and the song's length.
struct Heard {
    std::array<std::vector<std::pair<double, Bytes>>, 16> channels;
    std::vector<std::pair<double, Bytes>> sysex;
    std::vector<std::pair<std::int64_t, std::uint32_t>> tempo;
    std::int64_t lengthMs = 0;
    bool operator==(const Heard&) const = default;
};

constexpr int kProgram = 128;
constexpr int kBend = 129;

Heard hear(ByteView file)
{
    Result<MidiFileSummary> summary = readMidiFile(file);
    EXPECT_TRUE(summary && !summary->stoppedEarly) << errorOf(summary);
    std::vector<TimedEvent> events = eventsOf(file);
    std::stable_sort(events.begin(), events.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    Heard heard;
    std::array<std::map<int, int>, 16> inForce;
    for (auto& [tick, b] : events) {
        const double ms = summary->tempoMap.millisecondsAt(static_cast<double>(tick));
        if (b[0] == 0xF0 || b[0] == 0xF7) {
            heard.sysex.emplace_back(ms, b);
            for (auto& channel : inForce)
                channel.clear();
        }
        if (b[0] >= 0xF0)
            continue;
        const int channel = b[0] & 0x0F;
        const int type = b[0] & 0xF0;
        if (type == 0x80 && (b[2] == 0 || b[2] == 64))
            b = {static_cast<std::uint8_t>(0x90 | channel), b[1], 0};
        std::optional<std::pair<int, int>> setting;
        if (type == 0xB0 && b[1] >= 120)
            std::erase_if(inForce[channel], [](const auto& kept) { return kept.first != kProgram; });
        else if (type == 0xB0 && b[1] != 6 && b[1] != 38 && (b[1] < 96 || b[1] > 101))
            setting = {b[1], b[2]};
        else if (type == 0xC0)
            setting = {kProgram, b[1]};
        else if (type == 0xE0)
            setting = {kBend, b[1] | b[2] << 7};
        if (setting) {
            auto found = inForce[channel].find(setting->first);
            if (found != inForce[channel].end() && found->second == setting->second)
                continue;
            inForce[channel][setting->first] = setting->second;
            if (setting->first == 0 || setting->first == 32)
                inForce[channel].erase(kProgram);
        }
        heard.channels[static_cast<std::size_t>(channel)].emplace_back(ms, b);
    }
    for (const TempoChange& change : summary->tempoMap.changes())
        heard.tempo.emplace_back(change.tick, change.microsPerQuarter);
    heard.lengthMs = summary->lengthMilliseconds;
    return heard;
}

// A song of several tracks with every kind of event: text of every kind, signatures,
// prefixes, a conductor with tempo changes and a reset; on each channel Note Offs with
// and without a release velocity, repeated controllers, programs and bends, RPN data
// entry, resets, bank changes, pressure; two tracks share a channel when there are more
// than twelve; a text-only track ends the song.
Bytes everyKindOfSong(std::uint32_t seed, int channelTracks, bool runningStatus)
{
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    constexpr std::uint32_t kBar = 1920;
    constexpr std::uint32_t kSongTicks = kBar * 24;
    std::vector<Bytes> tracks;
    Track conductor;
    conductor.meta(0, 0x03, bytesOf("Conductor")).meta(0, 0x02, bytesOf("(c) nobody"));
    conductor.meta(0, 0x58, {4, 2, 24, 8}).meta(0, 0x59, {0, 0}).meta(0, 0x54, {0x60, 0, 0, 0, 0});
    conductor.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).tempo(0, 500000);
    std::uint32_t at = 0;
    for (; at + kBar < kSongTicks; at += kBar)
        conductor.tempo(kBar, static_cast<std::uint32_t>(pick(300000, 900000))).meta(0, 0x06, bytesOf("bar"));
    tracks.push_back(conductor.endOfTrack(kSongTicks - at).events());

    for (int t = 0; t < channelTracks; ++t) {
        const int c = t % 12;
        int program = pick(0, 127);
        int key = 0;
        Track track;
        // What may follow a note.
        const std::function<void()> extras[] = {
            [&] { track.controlChange(0, c, 7, 100); },
            [&] { track.controlChange(0, c, 1, pick(0, 2)); },
            [&] { track.pitchBend(0, c, 8192 + pick(0, 1)).pitchBend(0, c, 8192); },
            [&] { track.controlChange(0, c, 101, 0).controlChange(0, c, 100, 0); },
            [&] { track.controlChange(0, c, 6, 2).controlChange(0, c, 6, 2); },
            [&] { track.controlChange(0, c, 121, 0).controlChange(0, c, 7, 100); },
            [&] { track.sysex(0, hex("41 10 42 12 40 00 7F 00 41 F7")).controlChange(0, c, 7, 100); },
            [&] { track.programChange(0, c, program); },
            [&] { track.controlChange(0, c, 0, pick(0, 1)).programChange(0, c, program); },
            [&] { track.programChange(0, c, program = pick(0, 127)); },
            [&] { track.meta(0, 0x05, bytesOf("la")).meta(0, 0x7F, hex("00 00 41")); },
            [&] { track.channelPressure(0, c, 9).keyPressure(0, c, key, 9).keyPressure(0, c, key, 9); },
            [&] { track.controlChange(0, c, 64, 127).controlChange(0, c, 64, 127); },
        };
        track.runningStatus(runningStatus).meta(0, 0x03, bytesOf("Track")).meta(0, 0x04, bytesOf("Piano"));
        track.meta(0, 0x21, {0}).meta(0, 0x20, {static_cast<std::uint8_t>(c)});
        track.programChange(0, c, program).controlChange(0, c, 7, 100);
        std::uint32_t tick = 0;
        while (tick + kBar < kSongTicks) {
            key = pick(40, 90);
            const auto gap = static_cast<std::uint32_t>(pick(0, 2) * 60);
            const auto length = static_cast<std::uint32_t>(pick(1, 8) * 30);
            const int releases[] = {0, 64, 64, 0, 30};
            track.noteOn(gap, c, key, pick(20, 127)).noteOff(length, c, key, releases[pick(0, 4)]);
            tick += gap + length;
            const int extra = pick(0, 2 * static_cast<int>(std::size(extras)));
            if (extra < static_cast<int>(std::size(extras)))
                extras[extra]();
        }
        tracks.push_back(track.endOfTrack(kSongTicks - tick - kBar / 2).events());
    }
    Track words;
    words.meta(0, 0x03, bytesOf("Words")).meta(kSongTicks, 0x05, bytesOf("end")).endOfTrack(480);
    tracks.push_back(words.events());
    return song(480, tracks);
}

TEST(MidiCompact, SoundsTheSameAndIsNeverLarger)
{
    // Name, song, and whether it has text and tracks enough that at most 85% of it remains.
    std::vector<std::tuple<std::string, Bytes, bool>> songs;
    for (const auto& [seed, tracks, running] :
         {std::tuple{1U, 3, false}, {2U, 8, true}, {3U, 14, false}, {4U, 16, true}})
        songs.emplace_back("seed " + std::to_string(seed), everyKindOfSong(seed, tracks, running), true);
    // Events left out between two that stay, longer apart than one delta holds.
    songs.emplace_back("a gap longer than a delta",
                       song(96, {hex("00 90 3C 5A|FF FF FF 7F FF 01 01 61|FF FF FF 7F FF 01 01 62|"
                                     "05 80 3C 00|00 FF 2F 00")}),
                       false);
    for (const auto& entry : fs::directory_iterator(CHWR_EXAMPLES_DIR))
        if (entry.path().extension() == ".mid")
            songs.emplace_back(entry.path().filename().string(), readFileBytes(entry.path()).value(), false);
    for (const auto& [name, source, muchToRemove] : songs)
        for (bool keepText : {false, true}) {
            SCOPED_TRACE(name + (keepText ? ", text kept" : ""));
            Result<CompactResult> compacted = compactMidi(source, CompactOptions{keepText, false});
            ASSERT_TRUE(compacted) << errorOf(compacted);
            EXPECT_EQ(hear(compacted->bytes), hear(source));
            // Never larger; at most 85% of it when there is much to remove.
            EXPECT_LE(compacted->bytes.size() * 100, source.size() * (muchToRemove && !keepText ? 85 : 100));
            // Nothing is left to take out the second time.
            EXPECT_EQ(compactMidi(compacted->bytes, CompactOptions{keepText, false})->bytes.size(),
                      compacted->bytes.size());
        }
}

// How many events of the result start with these bytes.
std::size_t countOf(ByteView file, const Bytes& start)
{
    std::size_t n = 0;
    for (const auto& [tick, bytes] : eventsOf(file))
        n += bytes.size() >= start.size() && std::equal(start.begin(), start.end(), bytes.begin());
    return n;
}

// One behaviour per channel, each at its own ticks.
TEST(MidiCompact, DropsRepeatsButKeepsWhatActs)
{
    Track one;
    one.controlChange(0, 0, 7, 99).controlChange(1, 0, 7, 99);   // a repeat goes
    one.controlChange(0, 1, 6, 2).controlChange(1, 1, 6, 2);     // data entry acts
    one.controlChange(0, 2, 101, 0).controlChange(1, 2, 101, 0); // so does an RPN number
    one.controlChange(0, 3, 7, 99).controlChange(1, 3, 121, 0).controlChange(1, 3, 7, 99); // after a reset
    one.programChange(0, 6, 5).controlChange(1, 6, 0, 1).programChange(1, 6, 5);           // a new bank
    one.programChange(0, 7, 5).programChange(1, 7, 5).pitchBend(0, 8, 99).pitchBend(1, 8, 99);
    one.keyPressure(0, 9, 60, 9).keyPressure(1, 9, 60, 9).controlChange(0, 10, 7, 99);
    one.noteOn(0, 11, 60, 9).noteOff(1, 11, 60, 64).noteOn(0, 12, 60, 9).noteOff(1, 12, 60, 30);
    one.text(0, "x").meta(0, 0x02, bytesOf("c")).tempo(0, 400000).tempo(0, 400000);
    one.controlChange(90, 5, 7, 99).sysex(1, hex("7E 7F 09 01 F7")).controlChange(1, 5, 7, 99).endOfTrack();
    const Bytes source = song(96, {one.events(), Track().controlChange(9, 10, 7, 99).endOfTrack().events()});
    const CompactOptions byDefault, keepText{true, false}, dropSysEx{false, true};
    const struct {
        CompactOptions options;
        const char* start;
        std::size_t kept;
    } cases[] = {
        {byDefault, "B0 07", 1}, {byDefault, "B1 06", 2}, {byDefault, "B2 65", 2},    {byDefault, "B3 07", 2},
        {byDefault, "C6", 2},    {byDefault, "C7", 1},    {byDefault, "E8", 1},       {byDefault, "A9", 2},
        {byDefault, "BA 07", 1}, {byDefault, "8B", 0},    {byDefault, "8C 3C 1E", 1}, {byDefault, "FF 01", 0},
        {byDefault, "FF 02", 0}, {byDefault, "FF 51", 2}, {byDefault, "B5 07", 2},    {byDefault, "F0", 1},
        {keepText, "FF 01", 1},  {keepText, "FF 02", 1},  {dropSysEx, "F0", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + (c.options.keepText ? ", text kept" : "") +
                     (c.options.dropSysEx ? ", system exclusive dropped" : ""));
        Result<CompactResult> compacted = compactMidi(source, c.options);
        ASSERT_TRUE(compacted) << errorOf(compacted);
        EXPECT_EQ(countOf(compacted->bytes, hex(c.start)), c.kept);
    }
}

TEST(MidiCompact, CountsWhatItRemovesAndMergesWhenSmaller)
{
    const Bytes source =
        song(96, {Track().text(0, "t").meta(0, 0x02, bytesOf("c")).tempo(0, 400000).endOfTrack().events(),
                  Track().meta(0, 0x03, bytesOf("n")).meta(0, 0x58, {4, 2, 24, 8}).endOfTrack(9).events(),
                  hex("00 B2 07 09|01 B2 07 09|01 82 3C 00|00 FF 2F 00")});
    Result<CompactResult> compacted = compactMidi(source);
    ASSERT_TRUE(compacted) << errorOf(compacted);
    const std::pair<CompactRemoval, std::size_t> expected[] = {
        {CompactRemoval::Text, 2},          {CompactRemoval::Copyright, 1},
        {CompactRemoval::TimeSignature, 1}, {CompactRemoval::RepeatedController, 1},
        {CompactRemoval::EmptyTrack, 1},    {CompactRemoval::SysEx, 0}};
    for (const auto& [kind, count] : expected)
        EXPECT_EQ(compacted->removedCount(kind), count) << compactRemovalName(kind);
    EXPECT_EQ(compacted->noteOffsRewritten, 1U);
    // Two tracks of one event each cost more as chunks than merged.
    EXPECT_EQ(std::tie(compacted->format, compacted->trackCount), std::tuple(0, 1));
    EXPECT_EQ(hear(compacted->bytes), hear(source));
}

TEST(MidiCompact, RefusesWhatItCannotReadAndKeepsWhatEndedEarly)
{
    EXPECT_THAT(errorOf(compactMidi(withTracks(smfHeader(0, 1, 0xE728), {hex("00 FF 2F 00")}))),
                HasSubstr("SMPTE time division is not supported"));
    EXPECT_THAT(errorOf(compactMidi(withTracks(smfHeader(0, 1, 96), {hex("00 90 3C")}))),
                HasSubstr("no complete track"));
    const Bytes cut =
        withTracks(smfHeader(1, 2, 96), {hex("00 90 3C 40 60 3C 00 00 FF 2F 00"), hex("00 91 3C")});
    Result<CompactResult> compacted = compactMidi(cut);
    ASSERT_TRUE(compacted) << errorOf(compacted);
    EXPECT_TRUE(compacted->sourceEndedEarly);
    EXPECT_EQ(countOf(compacted->bytes, hex("90 3C")), 2U);
}

TEST(FitEndMark, FitsTheBudgetAndOneMillisecondLaterDoesNot)
{
    const Bytes songs[] = {everyKindOfSong(5, 6, true), everyKindOfSong(6, 16, false)};
    ChannelAdjustments adjustments{};
    adjustments[1].octave = 1;
    for (const Bytes& source : songs)
        for (std::size_t budget : {std::size_t{3000}, source.size() / 3, source.size() * 2})
            for (bool compact : {false, true})
                for (double startMs : {0.0, 1500.5}) {
                    SCOPED_TRACE(std::to_string(source.size()) + " bytes into " + std::to_string(budget) +
                                 (compact ? ", compacted" : "") + " from " + std::to_string(startMs));
                    const MidiFileSummary summary = readMidiFile(source).value();
                    Result<FitResult> fit =
                        fitEndMark(source, summary, adjustments, startMs, compact, budget);
                    ASSERT_TRUE(fit) << errorOf(fit);
                    auto sizeAt = [&](std::int64_t endMs) {
                        RewriteSettings settings{Marks{startMs, static_cast<double>(endMs)}, adjustments};
                        return rewrittenSize(source, summary, settings,
                                             compact ? std::optional(CompactOptions{}) : std::nullopt)
                            .value();
                    };
                    EXPECT_THAT(fit->size, AllOf(Eq(sizeAt(fit->endMs)), Le(budget)));
                    EXPECT_EQ(fit->reachedSongEnd, fit->endMs == summary.lengthMilliseconds);
                    if (!fit->reachedSongEnd) {
                        EXPECT_THAT(sizeAt(fit->endMs + 1), AllOf(Gt(budget), Eq(fit->sizeOneLater)));
                    }
                }
    // A start that alone is over the budget, and one past the song's end.
    const MidiFileSummary summary = readMidiFile(songs[0]).value();
    EXPECT_THAT(errorOf(fitEndMark(songs[0], summary, {}, 999.5, true, 60)),
                MatchesRegex(".*\\(1000 ms\\) the result is [0-9]+ bytes, over the limit of 60 bytes\\."));
    EXPECT_EQ(errorOf(fitEndMark(songs[0], summary, {}, summary.lengthMilliseconds + 1.0, false)),
              kStartMarkPastEndMessage);
    // fitSong compacts, and crops only when it must.
    const std::size_t compactedSize = compactMidi(songs[1])->bytes.size();
    for (std::size_t budget : {compactedSize, compactedSize - 1, compactedSize / 4}) {
        SCOPED_TRACE(budget);
        Result<FittedSong> fitted = fitSong(songs[1], budget);
        ASSERT_TRUE(fitted) << errorOf(fitted);
        EXPECT_LE(fitted->bytes.size(), budget);
        EXPECT_EQ(fitted->fit.has_value(), budget < compactedSize);
        EXPECT_EQ(fitted->compaction.sourceSize, songs[1].size());
    }
}

} // namespace
} // namespace chwr
