#include "midi_edit/crop_rules.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/midi_rewriter.h"
#include "midi_edit/song_model.h"

#include "tests/midi_edit/midi_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

// The walk that reads a MIDI file, the tempo map and crop rules that time it, the rewrite
// that changes and crops it, the notes the song view draws (paired, timed through the tempo
// map, grouped by channel). Events are in hex, delta first, "|" between them.
namespace chwr {
namespace {

using namespace test;

TEST(TempoMapTest, TicksMillisecondsAndLengthsThroughTheChanges)
{
    // Each row: a tick, its time in milliseconds and the length of a song ending there.
    auto expect = [](const TempoMap& map, std::initializer_list<std::array<double, 3>> rows) {
        for (auto [tick, ms, length] : rows) {
            EXPECT_NEAR(map.millisecondsAt(tick), ms, 1e-9) << tick;
            EXPECT_NEAR(map.tickAt(ms), tick, 1e-9) << ms;
            EXPECT_EQ(map.lengthMilliseconds(static_cast<std::int64_t>(tick)), length) << tick;
        }
    };
    expect(TempoMap(480, {}), {{0, 0, 0}, {960, 1000, 1000}, {481, 501.0416666666667, 502}});
    expect(TempoMap(96, {{0, 600000}}), {{480, 3000, 3000}});
    // Two tracks' changes, the later track's first in time.
    expect(TempoMap(480, {{960, 1000000}, {480, 250000}}),
           {{480, 500, 500}, {720, 625, 625}, {1440, 1750, 1750}});
    // Of several changes at one tick the last in file order holds.
    expect(TempoMap(480, {{0, 1000000}, {0, 250000}, {480, 500000}, {480, 1000000}}),
           {{480, 250, 250}, {960, 1250, 1250}});
    // At a tempo of 0 no time passes.
    expect(TempoMap(480, {{480, 0}, {960, 1000000}}),
           {{960, 500, 500}, {1200, 1000, 1000}, {1440, 1500, 1500}});
    TempoMap frozen(480, {{480, 0}});
    EXPECT_EQ(std::tuple(frozen.tickAt(800), frozen.lengthMilliseconds(5000)), std::tuple(480.0, 500));
    // With one tempo tickAt is the marks' formula to the last bit.
    for (int division : {96, 480, 502, 960})
        for (std::uint32_t tempo : {500000u, 428571u, 1000000u})
            for (double ms : {1.0, 100.0, 1234.0, 29999.0})
                EXPECT_EQ(TempoMap(division, {{0, tempo}}).tickAt(ms), ms * division / (tempo / 1000.0))
                    << division << " " << tempo << " " << ms;
}

TEST(MidiReaderTest, OneWalkLearnsTheHeaderTempoLengthAndPrograms)
{
    // Track 1: meta events with lengths of one and two bytes, system exclusive and escape
    // events (no type byte), a tempo at tick 96. Track 2: running status, also after a meta
    // event. Track 3, last in file order: its program and tempo (not the latest) hold.
    const Bytes file =
        song(96, {concat({Track().tempo(0, 1000000).text(0, std::string(200, 'x')).events(),
                          hex("00 F0 08 43 10 4C 00 00 7E 00 F7|00 F7 02 F3 01|00 F7 03 05 90 3C|"
                              "60 FF 51 03 09 27 C0|82 20 FF 2F 00")}),
                  hex("00 C2 0A|0A 21|81 00 90 3C 64|00 C6 01|00 FF 01 01 61|00 15|00 C9 00|00 C3 28|"
                      "86 5E FF 2F 00"),
                  hex("30 FF 51 03 03 D0 90|00 C3 07|00 FF 2F 00")});
    // After the last announced track: never read, though it looks like one more.
    Result<MidiFileSummary> s = readMidiFile(concat({file, trackChunk(hex("00 C0 63|00 FF 2F 00"))}));
    EXPECT_EQ(std::tie(s->format, s->trackCount, s->tracksRead, s->division, s->stoppedEarly),
              std::tuple(1, 3, 3, 96, false));
    EXPECT_EQ(std::tie(s->fileSize, s->TicksPerQuarter, s->MicrosPerQuarter),
              std::tuple(file.size() + 15, 96.0, 250000.0));
    // 48 ticks at 1 s a quarter, 48 at 0.25 s, 904 at 0.6 s: 500 + 125 + 5650 ms.
    EXPECT_EQ(std::tie(s->lengthTicks, s->lengthMilliseconds), std::tuple(1000, 6275));
    EXPECT_EQ(s->programs, programsOn({{3, 33}, {4, 7}, {7, 21}, {10, 0}}));
}

TEST(CropRulesTest, TheMarksAreCheckedInOrderReadFromTextAndTurnedIntoTicks)
{
    auto check = [](double start, double end, std::int64_t length) {
        return CheckMarks({start, end}, length).error();
    };
    EXPECT_EQ(check(-5, 1000, 3000), "Starting mark cannot be a value less than 0.");
    EXPECT_EQ(check(-5, -10, 3000), "Starting mark cannot be a value less than 0.");
    EXPECT_EQ(check(2000, 1000, 3000), "Starting mark cannot exceed the Ending mark.");
    EXPECT_EQ(check(4000, 3500, 3000), "Starting mark cannot exceed the Ending mark.");
    EXPECT_EQ(check(0, 3001, 3000), "End Mark cannot exceed the length of the MIDI Song.");
    EXPECT_EQ(check(0, 3000, 3000) + check(1500, 1500, 3000) + check(0, 0, 0), "");
    for (auto [text, value] : {std::pair{" 250 ", 250.0}, {"-5", -5.0}, {"+12.5", 12.5}})
        EXPECT_EQ(markFromText(text).value(), value) << text;
    for (std::string text : {"", "abc", "12abc", "1e3", "nan", "--1"})
        EXPECT_EQ(errorOf(markFromText(text)), "The mark \"" + text + "\" is not a number of milliseconds.");
    // An end mark at the song's length cuts nothing, not even at the song's last tick.
    EXPECT_TRUE(std::isinf(cropWindowFor({0, 2000}, TempoMap(480, {}), 2000).endTick));
    CropWindow cut = cropWindowFor({500, 1999}, TempoMap(480, {}), 2000);
    EXPECT_EQ(std::tie(cut.startTick, cut.endTick, cut.lastTickInside), std::tuple(480.0, 1919.04, 1919));
    // The first kept event's distance from the start tick, halves rounded up.
    EXPECT_EQ(std::tuple(retimedDelta(228, 100.5), retimedDelta(228, 100.6), retimedDelta(100, 100)),
              std::tuple(128u, 127u, 0u));
}

struct Rewritten {
    RewriteResult result;
    Bytes out;
};

// Rewrites a file as "Apply" does, the marks the whole song unless given.
Rewritten rewrite(const Bytes& file, const ChannelAdjustments& adjustments = {},
                  std::optional<Marks> marks = {}, const RewriteCallbacks& callbacks = {})
{
    Rewritten run;
    const MidiFileSummary summary = readMidiFile(file).value();
    const Marks whole{0, static_cast<double>(summary.lengthMilliseconds)};
    auto sink = [&](ByteView bytes) {
        run.out = concat({run.out, bytes});
        return Result<void>();
    };
    auto patchHeader = [&](ByteView header) {
        std::copy(header.begin(), header.end(), run.out.begin());
        return Result<void>();
    };
    run.result =
        rewriteMidi(file, summary, {marks.value_or(whole), adjustments}, sink, callbacks, patchHeader)
            .value();
    return run;
}

struct RewriteCase {
    const char* name;
    std::optional<Marks> marks; // none: the whole song
    ChannelAdjustments adjustments;
    Bytes source;
    std::vector<Bytes> expected; // the events of each track written; none for a copy
    friend void PrintTo(const RewriteCase& c, std::ostream* out) { *out << c.name; }
};
// Each change: the channel (1 to 16), the octave, velocity, volume and patch.
RewriteCase row(const char* name, std::optional<Marks> marks,
                std::initializer_list<std::array<int, 5>> changes, Bytes source, std::vector<Bytes> expected)
{
    RewriteCase c{name, marks, {}, std::move(source), std::move(expected)};
    for (auto [channel, octave, velocity, volume, patch] : changes)
        c.adjustments[static_cast<std::size_t>(channel - 1)] = {octave, velocity, volume, patch};
    return c;
}

class RewriteTest : public testing::TestWithParam<RewriteCase> {};

// At division 500 and the default tempo a tick lasts a millisecond: the marks read as ticks.
const RewriteCase kRewrites[] = {
    // Meta (a length of two bytes too), system exclusive, escape and channel events.
    row("EveryKindOfEventIsCopied", {}, {},
        song(480, {concat({Track().tempo(0, 500000).text(0, std::string(200, 't')).events(),
                           hex("00 FF 58 04 04 02 18 08|00 F0 05 7E 7F 09 01 F7|00 F7 02 F3 01|"
                               "87 40 FF 51 03 06 1A 80|87 40 FF 2F 00")}),
                   hex("00 C0 13|00 B0 07 64|00 0A 40|00 90 3C 64|00 40 5A|81 70 3C 00|00 40 00|0A A0 43 1E|"
                       "0A D0 28|0A E0 28 46|81 48 80 43 40|83 74 FF 2F 00"),
                   hex("00 C9 00|00 99 24 7F|78 89 24 00|00 FF 2F 00")}),
        {}),
    // Each track's first delta is written anew, in the shortest form: 2^21 takes four bytes.
    row("OnlyTheFirstDeltaOfATrackIsWrittenAnew", {}, {},
        song(480, {hex("80 05 C0 01|80 07 C0 02|0A FF 2F 00"), hex("FF FF 7F C0 01|00 FF 2F 00"),
                   hex("81 80 80 00 C0 01|00 FF 2F 00")}),
        {hex("05 C0 01|80 07 C0 02|0A FF 2F 00"), hex("FF FF 7F C0 01|00 FF 2F 00"),
         hex("81 80 80 00 C0 01|00 FF 2F 00")}),
    // Track 1: channels 1 and 2 octaves up and down, 3 and 4 velocities up and down, within
    // 0 to 127; releases keep theirs. Track 2: channel 6 volume under running status, which
    // each controller inserted after a program change ends; channel 7 patch 0. Track 3: the
    // status that running status leaves out after a meta event is written (channel 9).
    row("ChannelChangesAreWrittenIntoTheirEvents", {},
        {{1, 1, 0, 0, -1},
         {2, -2, 0, 0, -1},
         {3, 0, 30, 0, -1},
         {4, 0, -60, 0, -1},
         {6, 0, 0, 30, -1},
         {7, 0, 0, 0, 0},
         {9, 1, 0, 0, -1}},
        song(480,
             {hex("00 90 3C 64|0A 80 3C 40|00 90 78 64|0A 90 78 00|00 91 0A 5A|00 92 3C 64|00 92 3E 32|"
                  "0A 92 3C 00|00 82 3E 40|00 93 3C 64|00 93 3E 32|00 94 3C 64|00 FF 2F 00"),
              hex("00 B5 07 64|00 0A 64|05 C5 1E|05 1F|00 C6 05|83 60 C6 07|00 C7 07|00 FF 2F 00"),
              hex("00 98 3C 64|0A FF 01 01 61|0A 3C 00|00 99 3C 64|00 FF 01 01 61|00 3C 00|00 FF 2F 00")}),
        {hex("00 90 48 64|0A 80 48 40|00 90 7F 64|0A 90 7F 00|00 91 00 5A|00 92 3C 7F|00 92 3E 50|"
             "0A 92 3C 00|00 82 3E 40|00 93 3C 28|00 93 3E 00|00 94 3C 64|00 FF 2F 00"),
         hex("00 B5 07 7F|00 0A 64|05 C5 1E|00 B5 07 1E|05 C5 1F|00 B5 07 1E|00 C6 00|83 60 C6 00|"
             "00 C7 07|00 FF 2F 00"),
         hex("00 98 48 64|0A FF 01 01 61|0A 98 48 00|00 99 3C 64|00 FF 01 01 61|00 99 3C 00|"
             "00 FF 2F 00")}),
    // Marks 200 to 600, channel 1 changed in every way. Before the start controls and meta
    // events are kept at time 0, notes dropped; the first event inside (tick 250) keeps its
    // distance from the start; events at the end mark are kept; past it the track is closed:
    // Note Offs for the notes sounding, in the order of their latest starts, All Notes Off on
    // the channel of the last status read, End of Track.
    row("CropKeepsControlsAtTime0AndClosesAfterTheEnd", Marks{200, 600}, {{1, 1, 10, 30, 40}},
        song(500, {hex("00 C0 05|00 06|64 90 3C 64|00 80 3C 00|32 B0 07 5A|00 FF 01 01 62|00 0A 40|"
                       "64 80 3C 00|00 FF 01 01 61|81 16 90 3E 64|00 92 30 64|32 91 28 64|32 90 40 64|"
                       "00 91 28 64|64 80 3E 00|00 81 28 00|64 80 40 00|00 81 28 00|64 FF 2F 00")}),
        {hex("00 C0 28|00 B0 07 1E|00 C0 28|00 B0 07 1E|00 B0 07 78|00 FF 01 01 62|00 B0 0A 40|"
             "32 80 48 00|00 FF 01 01 61|81 16 90 4A 6E|00 92 30 64|32 91 28 64|32 90 4C 6E|"
             "00 91 28 64|64 80 4A 00|00 81 28 00|00 82 30 00|00 80 4C 00|00 81 28 00|00 B1 7B 00|"
             "00 FF 2F 00")}),
    // Key 60 of channel 2 sounds five times at the cut, more often than the sounding notes
    // keep: the events written are read again for the Note Offs, in the order of their starts.
    row("AKeySoundingMoreOftenThanIsKeptIsReadAgain", Marks{0, 100}, {},
        song(500, {hex("00 91 3C 64|00 3C 64|00 3E 64|00 3C 64|00 3C 64|00 3C 64|00 3C 64|00 3C 00|"
                       "00 FF 01 01 61|00 40 64|00 F0 02 7E F7|00 99 24 7F|00 B1 07 64|81 48 91 41 64|"
                       "00 FF 2F 00")}),
        {hex("00 91 3C 64|00 3C 64|00 3E 64|00 3C 64|00 3C 64|00 3C 64|00 3C 64|00 3C 00|"
             "00 FF 01 01 61|00 91 40 64|00 F0 02 7E F7|00 99 24 7F|00 B1 07 64|00 81 3C 00|"
             "00 81 3E 00|00 81 3C 00|00 81 3C 00|00 81 3C 00|00 81 3C 00|00 81 40 00|00 89 24 00|"
             "00 B1 7B 00|00 FF 2F 00")}),
    row("AnEndMarkOf0KeepsOnlyTheEventsAtTick0", Marks{0, 0}, {},
        song(500,
             {hex("00 FF 01 01 61|87 68 FF 2F 00"), hex("00 93 32 5A|00 34 5A|82 2C 83 32 00|00 FF 2F 00")}),
        {hex("00 FF 01 01 61|00 B0 7B 00|00 FF 2F 00"),
         hex("00 93 32 5A|00 34 5A|00 83 32 00|00 83 34 00|00 B3 7B 00|00 FF 2F 00")}),
    row("TheFirstKeptNoteUnderRunningStatusGetsItsStatus", Marks{150, 300}, {},
        song(500, {hex("00 90 3C 64|64 3C 00|64 3E 64|64 3E 00|00 FF 2F 00")}),
        {hex("32 90 3E 64|64 3E 00|00 FF 2F 00")}),
    // Half a second a quarter note, a quarter second from tick 480: 750 ms is tick 960.
    row("MarksFollowTheTempoMap", Marks{750, 1000}, {},
        song(480, {Track().tempo(0, 500000).tempo(480, 250000).endOfTrack(960).events(),
                   hex("87 40 90 3C 64|81 70 80 3C 00|00 FF 2F 00")}),
        {Track().tempo(0, 500000).tempo(0, 250000).endOfTrack(480).events(),
         hex("00 90 3C 64|81 70 80 3C 00|00 FF 2F 00")})};

TEST_P(RewriteTest, WritesExactlyTheseBytes)
{
    const RewriteCase& c = GetParam();
    Rewritten run = rewrite(c.source, c.adjustments, c.marks);
    EXPECT_EQ(run.out, c.expected.empty() ? c.source : withTracks(c.source, c.expected));
    EXPECT_EQ(std::tuple(run.result.outcome, run.result.sourceEndedEarly, run.result.notices.size()),
              std::tuple(RewriteOutcome::Finished, false, 0u));
}

INSTANTIATE_TEST_SUITE_P(Table, RewriteTest, testing::ValuesIn(kRewrites),
                         [](const testing::TestParamInfo<RewriteCase>& info) { return info.param.name; });

// Cut anywhere in its second track, a file keeps what came before the cut, read and written
// (its first track), not the ticks of what was cut.
TEST(MidiRewriterTest, ASourceCutOrMalformedKeepsItsFinishedTracksAndBadMarksAreRefused)
{
    const Bytes first = hex("00 C0 01|83 74 FF 2F 00"); // ends at tick 500
    // A header announcing no tracks, and none there: stopped.
    EXPECT_TRUE(readMidiFile(smfHeader(0, 0, 480))->stoppedEarly);
    const Bytes whole =
        song(480, {first, hex("00 C1 02|00 F0 05 7E 7F 09 01 F7|87 04 91 3C 64|32 FF 2F 00")});
    Bytes expected = withTracks(whole, {first});
    expected[11] = 1;
    const std::size_t second = 14 + 8 + first.size();
    for (std::size_t size = second; size < whole.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        Result<MidiFileSummary> s = readMidiFile(cut);
        EXPECT_EQ(std::tie(s->tracksRead, s->stoppedEarly, s->lengthTicks, s->programs[0]),
                  std::tuple(1, true, 500, 1));
        EXPECT_EQ(s->programs[1], size >= second + 8 + 3 ? 2 : -1);
        Rewritten run = rewrite(cut);
        EXPECT_EQ(run.out, expected);
        EXPECT_EQ(std::tie(run.result.sourceEndedEarly, run.result.tracksWritten), std::tuple(true, 1));
    }
    // Running status does not carry into the next track: a data byte there ends the walk, and
    // the run with a message; maxTicks is the longest track's.
    const Bytes dataFirst = song(480, {first, first, hex("00 1E|00 C2 02|00 FF 2F 00")});
    Result<MidiFileSummary> walk = readMidiFile(dataFirst);
    EXPECT_EQ(std::tie(walk->tracksRead, walk->stoppedEarly, walk->lengthTicks, walk->programs[2]),
              std::tuple(2, true, 500, -1));
    Rewritten odd = rewrite(dataFirst);
    EXPECT_EQ(odd.result.notices,
              std::vector<std::string>{"Unrecognized Event\r\ncommandcount:5\r\nEvent: 30\r\n"});
    EXPECT_EQ(std::tuple(odd.result.sourceEndedEarly, odd.result.tracksWritten, odd.result.maxTicks),
              std::tuple(false, 2, 500));
    // Refused before the sink sees a byte: marks out of order, a division it cannot time.
    Bytes smpte = whole;
    smpte[12] = 0xE7;
    auto refusal = [&](const Bytes& source, Marks marks) {
        auto sink = [](ByteView) { return Result<void>(Error{"written"}); };
        return errorOf(rewriteMidi(source, readMidiFile(whole).value(), {marks, {}}, sink));
    };
    EXPECT_EQ(refusal(whole, {2000, 1000}), "Starting mark cannot exceed the Ending mark.");
    EXPECT_EQ(refusal(smpte, {0, 0}), "SMPTE time division is not supported");
}

// The header written counts the tracks written, whatever the source announces. Chunks of
// other kinds are passed over and left out; one whose id is not printable, or whose
// length runs past the end, is a track as before, written as "MTrk".
TEST(MidiRewriterTest, TheHeaderCountsTheTracksWrittenAndOtherChunksAreLeftOut)
{
    const Bytes first =
        trackChunk(hex("00 FF 51 03 06 1A 80|00 C0 09|00 90 3C 5A|87 40 80 3C 00|00 FF 2F 00"));
    const Bytes second = trackChunk(hex("00 C1 21|64 91 30 46|8B 5C 81 30 00|00 FF 2F 00"));
    // A chunk of another kind: the id, the length, the data.
    auto chunk = [](const std::string& id, const Bytes& data) {
        Bytes bytes = trackChunk(data);
        std::copy(id.begin(), id.end(), bytes.begin());
        return bytes;
    };
    const Bytes endOnly = hex("00 FF 2F 00"); // would read as a whole track
    // Channel 2 an octave up, 100 ms cut at each end, as "Apply" and chwr modify do.
    ChannelAdjustments adjustments{};
    adjustments[1].octave = 1;
    auto rewritten = [&](const Bytes& file) {
        const auto end = static_cast<double>(readMidiFile(file)->lengthMilliseconds - 100);
        return rewrite(file, adjustments, Marks{100, end});
    };
    const Bytes plain = concat({smfHeader(1, 2, 480), first, second});
    Bytes unprintable = plain;
    unprintable[14] = 0x01;
    Bytes runsPast = plain;
    runsPast[14 + first.size()] = 'J';
    runsPast[14 + first.size() + 4] = 0xFF;
    const std::pair<Bytes, int> cases[] = {
        // the source, the tracks it holds
        {concat({smfHeader(1, 3, 480), first, second, chunk("XFIH", endOnly)}), 2},
        {concat({smfHeader(1, 5, 480), first}), 1},
        {concat({smfHeader(1, 0, 480), first, second}), 1},
        {concat({smfHeader(1, 2, 480), first, Bytes{'M', 'T'}}), 1},
        {concat({smfHeader(1, 2, 480), chunk("XFIH", Bytes(12, 0x7F)), first, second}), 2},
        {concat({smfHeader(1, 2, 480), first, chunk("Text", {}), chunk("XF K", Bytes(3, 0x7F)), second}), 2},
        {concat({plain, chunk("XFIH", endOnly)}), 2},
        {unprintable, 2},
        {runsPast, 2},
    };
    for (const auto& [source, tracks] : cases) {
        SCOPED_TRACE(testing::PrintToString(source));
        const Bytes clean = tracks == 2 ? plain : concat({smfHeader(1, 1, 480), first});
        const Rewritten run = rewritten(source);
        EXPECT_EQ(run.out, rewritten(clean).out);
        const MidiFileSummary out = readMidiFile(run.out).value();
        EXPECT_EQ(std::tie(out.tracksRead, out.stoppedEarly), std::tuple(tracks, false));
    }
}

TEST(MidiRewriterTest, ProgressAndCancelArriveThroughTheCallbacksEveryFewThousandEvents)
{
    std::vector<Bytes> tracks(3);
    for (int t = 0; t < 3; ++t) {
        Track track;
        for (int i = 0; i < 5000; ++i)
            track.runningStatus(true).noteOn(1, t, 60, i % 2 ? 0 : 100);
        tracks[t] = track.endOfTrack().events();
    }
    const Bytes file = song(480, tracks);
    int breaths = 0; // the open's walk lets the window breathe as often
    ASSERT_TRUE(readMidiFile(file, [&] { ++breaths; }));
    std::vector<RewriteProgress> reports;
    RewriteCallbacks callbacks{[&](const RewriteProgress& p) { reports.push_back(p); },
                               [&] { return !reports.empty() && reports.back().trackNumber == 2; }};
    Rewritten run = rewrite(file, {}, {}, callbacks);
    EXPECT_EQ(std::tie(run.result.outcome, run.result.tracksWritten, breaths),
              std::tuple(RewriteOutcome::Cancelled, 1, 3));
    // Track 1 reported at its start and once inside; the cancel came as track 2 began.
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(std::tie(reports[0].trackNumber, reports[1].trackNumber, reports[1].absoluteTick),
              std::tuple(1, 1, 4095));
    EXPECT_EQ(std::tuple(reports[2].trackNumber, reports[2].trackCount, reports[2].percent()),
              std::tuple(2, 3, 33));
    // Asked for inside a track, the cancel comes at the next report, the track unwritten.
    reports.clear();
    callbacks.cancelRequested = [&] { return reports.size() == 2; };
    EXPECT_EQ(rewrite(file, {}, {}, callbacks).result.tracksWritten, 0);
}

// channel, key, start and end in milliseconds, velocity, program.
using Note = std::tuple<int, int, double, double, int, int>;

// At 480 ticks per quarter (83 60 as a delta) and 500000 microseconds per quarter, 480
// ticks are 500 ms.
TEST(SongModelTest, PairsAndTimesEachNote)
{
    const struct {
        const char* name;
        Bytes file;
        std::vector<Note> notes; // by channel, then by start
        double lengthMs;
    } cases[] = {
        {"the tempo halves the quarter at tick 960, from another track than the notes",
         song(480, {Track().tempo(960, 250000).endOfTrack().events(),
                    hex("83 60 90 3C 64|83 60 80 3C 00|00 90 3E 5A|83 60 80 3E 00|00 FF 2F 00")}),
         {{0, 60, 500, 1000, 100, -1}, {0, 62, 1000, 1250, 90, -1}},
         1250},
        {"two Note Ons of one key before their Note Offs: the first on ends at the first off",
         song(480, {hex("00 92 40 50|81 70 92 40 46|81 70 82 40 00|83 60 82 40 00|00 FF 2F 00")}),
         {{2, 64, 0, 500, 80, -1}, {2, 64, 250, 1000, 70, -1}},
         1000},
        {"a note without its Note Off lasts to the song's end, set by a longer track",
         song(480, {hex("83 60 93 32 3C|83 60 FF 2F 00"), Track().endOfTrack(1920).events()}),
         {{3, 50, 500, 2000, 60, -1}},
         2000},
        {"running status carries the Note Ons, and a Note On of velocity 0 ends a note",
         song(480, {hex("00 91 3C 64|83 60 3C 00|00 43 32|87 40 43 00|00 FF 2F 00")}),
         {{1, 60, 0, 500, 100, -1}, {1, 67, 500, 1500, 50, -1}},
         1500},
        {"running status lasts through a meta event; a stray Note Off is passed over; each note takes "
         "the program in force at its start",
         song(480, {hex("00 C9 00|00 99 24 5A|00 FF 01 01 61|00 26 70|83 60 89 24 00|00 26 00|00 C9 10|"
                        "00 99 24 50|00 89 30 00|83 60 24 00|00 FF 2F 00")}),
         {{9, 36, 0, 500, 90, 0}, {9, 38, 0, 500, 112, 0}, {9, 36, 500, 1000, 80, 16}},
         1000},
        {"the walk stops in a cut-short track and keeps the notes it found",
         song(480, {Track().endOfTrack(960).events(), hex("00 94 46 64|81 70 84 46 00|00 94 48")}),
         {{4, 70, 0, 250, 100, -1}},
         1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Result<SongModel> model = SongModel::build(c.file);
        ASSERT_TRUE(model) << model.error();
        std::vector<Note> notes;
        for (int channel = 0; channel < smf::kChannelCount; ++channel)
            for (const SongNote& n : model->notes(channel))
                notes.emplace_back(n.channel, n.key, n.startMs, n.endMs, n.velocity, n.program);
        EXPECT_EQ(notes, c.notes);
        EXPECT_EQ(model->lengthMs(), c.lengthMs);
    }
}

// notesAround() finds every note that sounds in a stretch, from many overlapping notes
// of random lengths on several channels, as a look at every note would.
TEST(SongModelTest, NotesAroundFindsEverySoundingNote)
{
    std::mt19937 random(7);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    SmfBuilder file(1, 480);
    for (int channel : {0, 5, 9}) {
        TrackBuilder& track = file.track();
        for (int n = 0; n < 200; ++n)
            track.noteOn(static_cast<std::uint32_t>(pick(0, 200)), channel, pick(40, 80), 100);
        for (int n = 0; n < 200; ++n)
            track.noteOff(static_cast<std::uint32_t>(pick(0, 2000)), channel, pick(40, 80));
        track.endOfTrack(0);
    }
    Result<SongModel> model = SongModel::build(file.build());
    ASSERT_TRUE(model);
    for (int channel : {0, 5, 9}) {
        ASSERT_EQ(model->notes(channel).size(), 200u);
        for (int probe = 0; probe < 100; ++probe) {
            const double from = pick(-1000, static_cast<int>(model->lengthMs()));
            const double to = from + pick(1, 3000);
            SCOPED_TRACE(testing::Message() << channel << " " << from << " " << to);
            const std::span<const SongNote> found = model->notesAround(channel, from, to);
            for (const SongNote& note : model->notes(channel)) {
                const bool sounds = note.startMs < to && note.endMs > from;
                const bool inSpan = &note >= found.data() && &note < found.data() + found.size();
                EXPECT_TRUE(inSpan || !sounds) << note.startMs << " " << note.endMs;
            }
        }
    }
}

} // namespace
} // namespace chwr
