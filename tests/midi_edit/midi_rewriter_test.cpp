#include "midi_edit/midi_rewriter.h"

#include "tests/support/smf_builder.h"

#include <gtest/gtest.h>

namespace chwr {
namespace {

using test::SmfBuilder;
using test::TrackBuilder;

// The events of each track chunk of a file (the bytes after each 8-byte chunk header).
std::vector<Bytes> trackEventsOf(const Bytes& file)
{
    std::vector<Bytes> tracks;
    std::size_t at = 14;
    while (at + 8 <= file.size()) {
        std::size_t length = (std::size_t{file[at + 4]} << 24) | (std::size_t{file[at + 5]} << 16) |
                             (std::size_t{file[at + 6]} << 8) | file[at + 7];
        at += 8;
        if (at + length > file.size()) {
            ADD_FAILURE() << "a track chunk runs past the end of the file";
            break;
        }
        tracks.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at),
                            file.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    return tracks;
}

ChannelAdjustments change(int channel, ChannelChange channelChange)
{
    ChannelAdjustments adjustments{};
    adjustments[static_cast<std::size_t>(channel - 1)] = channelChange;
    return adjustments;
}

struct Rewritten {
    RewriteResult result;
    Bytes out;
    std::vector<Bytes> tracks;
};

// Rewrites a file as "Apply" would, marks defaulting to the whole song, and reads the
// result back with the program's own reader.
Rewritten rewrite(const Bytes& file, const ChannelAdjustments& adjustments = {}, std::optional<Marks> marks = {})
{
    Rewritten run;
    Result<MidiFileSummary> summary = readMidiFile(file);
    EXPECT_TRUE(summary.ok());
    if (!summary)
        return run;
    RewriteSettings settings;
    settings.adjustments = adjustments;
    settings.marks = marks.value_or(Marks{0, static_cast<double>(summary->lengthMilliseconds)});
    Result<RewriteResult> result = rewriteMidi(file, *summary, settings, [&](ByteView bytes) -> Result<void> {
        run.out.insert(run.out.end(), bytes.begin(), bytes.end());
        return {};
    });
    EXPECT_TRUE(result.ok()) << (result ? "" : result.error());
    if (!result)
        return run;
    run.result = *result;
    run.tracks = trackEventsOf(run.out);
    EXPECT_EQ(run.tracks.size(), static_cast<std::size_t>(run.result.tracksWritten));
    Result<MidiFileSummary> back = readMidiFile(run.out);
    EXPECT_TRUE(back.ok()) << (back ? "" : back.error());
    if (back) {
        EXPECT_EQ(back->tracksRead, run.result.tracksWritten) << "the result does not read back whole";
    }
    return run;
}

// A song that uses every kind of event, running status included.
Bytes everyKindOfEvent()
{
    SmfBuilder smf(1, 480);
    smf.track()
        .tempo(0, 500000)
        .text(0, std::string(200, 't'))
        .meta(0, 0x58, {4, 2, 24, 8})
        .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .escape(0, {0xF3, 0x01})
        .tempo(960, 400000)
        .endOfTrack(960);
    smf.track()
        .runningStatus(true)
        .programChange(0, 0, 19)
        .controlChange(0, 0, 7, 100)
        .controlChange(0, 0, 10, 64)
        .noteOn(0, 0, 60, 100)
        .noteOn(0, 0, 64, 90)
        .noteOn(240, 0, 60, 0)
        .noteOn(0, 0, 64, 0)
        .keyPressure(10, 0, 67, 30)
        .channelPressure(10, 0, 40)
        .pitchBend(10, 0, 9000)
        .noteOff(200, 0, 67, 64)
        .endOfTrack(500);
    smf.track().programChange(0, 9, 0).noteOn(0, 9, 36, 127).noteOff(120, 9, 36, 0).endOfTrack(0);
    return smf.build();
}

TEST(MidiRewriterTest, WithoutChangesEveryByteIsCopied)
{
    Bytes file = everyKindOfEvent();
    Rewritten run = rewrite(file);
    EXPECT_EQ(run.out, file);
    EXPECT_EQ(run.result.tracksWritten, 3);
    EXPECT_EQ(run.result.outcome, RewriteOutcome::Finished);
    EXPECT_TRUE(run.result.notices.empty());
    EXPECT_FALSE(run.result.sourceEndedEarly);
    EXPECT_EQ(run.result.maxTicks, 1920);
}

TEST(MidiRewriterTest, OnlyTheFirstDeltaOfATrackIsWrittenInTheShortestForm)
{
    SmfBuilder smf(0, 480);
    // Deltas of 5 and 7 written in two bytes each.
    smf.track().raw({0x80, 0x05, 0xC0, 0x01}).raw({0x80, 0x07, 0xC0, 0x02}).endOfTrack(10);
    Rewritten run = rewrite(smf.build());
    ASSERT_EQ(run.tracks.size(), 1u);
    EXPECT_EQ(run.tracks[0], TrackBuilder().raw({0x05, 0xC0, 0x01}).raw({0x80, 0x07, 0xC0, 0x02}).endOfTrack(10).events());
}

TEST(MidiRewriterTest, OctaveShiftsTheKeysOfTheChannelsNotesWithinRange)
{
    SmfBuilder smf(0, 480);
    smf.track()
        .noteOn(0, 0, 60, 100)
        .noteOff(10, 0, 60, 64)
        .noteOn(0, 0, 120, 100)
        .noteOn(10, 0, 120, 0)
        .noteOn(0, 1, 60, 100)
        .noteOff(10, 1, 60, 0)
        .endOfTrack();
    Rewritten up = rewrite(smf.build(), change(1, {1, 0, 0, -1}));
    EXPECT_EQ(up.tracks[0], TrackBuilder()
                                .noteOn(0, 0, 72, 100)
                                .noteOff(10, 0, 72, 64)
                                .noteOn(0, 0, 127, 100)
                                .noteOn(10, 0, 127, 0)
                                .noteOn(0, 1, 60, 100)
                                .noteOff(10, 1, 60, 0)
                                .endOfTrack()
                                .events());

    SmfBuilder low(0, 480);
    low.track().noteOn(0, 3, 10, 90).noteOff(10, 3, 10).endOfTrack();
    Rewritten down = rewrite(low.build(), change(4, {-2, 0, 0, -1}));
    EXPECT_EQ(down.tracks[0], TrackBuilder().noteOn(0, 3, 0, 90).noteOff(10, 3, 0).endOfTrack().events());
}

TEST(MidiRewriterTest, VelocityChangesNoteOnsButLeavesReleasesAndNoteOffsAlone)
{
    SmfBuilder smf(0, 480);
    smf.track()
        .noteOn(0, 0, 60, 100)
        .noteOn(0, 0, 62, 50)
        .noteOn(10, 0, 60, 0)
        .noteOff(0, 0, 62, 64)
        .endOfTrack();
    Rewritten louder = rewrite(smf.build(), change(1, {0, 30, 0, -1}));
    EXPECT_EQ(louder.tracks[0], TrackBuilder()
                                    .noteOn(0, 0, 60, 127)
                                    .noteOn(0, 0, 62, 80)
                                    .noteOn(10, 0, 60, 0)
                                    .noteOff(0, 0, 62, 64)
                                    .endOfTrack()
                                    .events());
    Rewritten softer = rewrite(smf.build(), change(1, {0, -60, 0, -1}));
    EXPECT_EQ(softer.tracks[0], TrackBuilder()
                                    .noteOn(0, 0, 60, 40)
                                    .noteOn(0, 0, 62, 0)
                                    .noteOn(10, 0, 60, 0)
                                    .noteOff(0, 0, 62, 64)
                                    .endOfTrack()
                                    .events());
}

TEST(MidiRewriterTest, VolumeChangesController7AndFollowsEachProgramChange)
{
    SmfBuilder smf(0, 480);
    smf.track()
        .runningStatus(true)
        .controlChange(0, 2, 7, 100)
        .controlChange(0, 2, 10, 100)
        .programChange(5, 2, 30)
        .programChange(5, 2, 31)  // relies on running status
        .endOfTrack();
    Rewritten run = rewrite(smf.build(), change(3, {0, 0, -20, -1}));
    // The controller inserted after a program change carries its status, and the next
    // program change gets its own back: 00 B2 07 00 after each.
    EXPECT_EQ(run.tracks[0], TrackBuilder()
                                 .runningStatus(true)
                                 .controlChange(0, 2, 7, 80)
                                 .controlChange(0, 2, 10, 100)
                                 .programChange(5, 2, 30)
                                 .raw({0x00, 0xB2, 0x07, 0x00})
                                 .raw({0x05, 0xC2, 31})
                                 .raw({0x00, 0xB2, 0x07, 0x00})
                                 .endOfTrack()
                                 .events());
}

TEST(MidiRewriterTest, APatchReplacesThePrograms)
{
    SmfBuilder smf(0, 480);
    smf.track().programChange(0, 0, 0).noteOn(0, 0, 60, 100).noteOff(10, 0, 60).endOfTrack();
    Rewritten run = rewrite(smf.build(), change(1, {0, 0, 0, 40}));
    EXPECT_EQ(run.tracks[0],
              TrackBuilder().programChange(0, 0, 40).noteOn(0, 0, 60, 100).noteOff(10, 0, 60).endOfTrack().events());
}

TEST(MidiRewriterTest, AChannelThatChangesInstrumentKeepsItsChangesUnlessThePatchWasChanged)
{
    SmfBuilder smf(1, 480);
    smf.track().programChange(0, 4, 5).programChange(480, 4, 7).endOfTrack();
    smf.track().programChange(0, 5, 9).endOfTrack();
    Bytes file = smf.build();
    Result<MidiFileSummary> summary = readMidiFile(file);
    ASSERT_TRUE(summary.ok());
    ASSERT_EQ(summary->programs[4], 7);

    // The rows as the open fills them: Patch 7 on Channel 5, 9 on Channel 6.
    std::vector<ChannelAdjustment> rows(16);
    for (int i = 0; i < 16; ++i) {
        rows[i].Channel = i + 1;
        rows[i].Patch = summary->programs[i];
    }
    Rewritten untouched = rewrite(file, adjustmentsFromRows(rows, summary->programs));
    EXPECT_EQ(untouched.out, file);

    rows[4].Patch = 40;
    Rewritten changed = rewrite(file, adjustmentsFromRows(rows, summary->programs));
    EXPECT_EQ(changed.tracks[0], TrackBuilder().programChange(0, 4, 40).programChange(480, 4, 40).endOfTrack().events());
    EXPECT_EQ(changed.tracks[1], TrackBuilder().programChange(0, 5, 9).endOfTrack().events());

    // A Patch of -1 (a channel without a program of its own) cannot be written: copied.
    rows[4].Patch = -1;
    Rewritten none = rewrite(file, adjustmentsFromRows(rows, summary->programs));
    EXPECT_EQ(none.out, file);
}

TEST(MidiRewriterTest, AHeaderThatClaimsMoreTracksThanThereAre)
{
    SmfBuilder smf(1, 480);
    smf.announceTracks(3);
    smf.track().tempo(0, 500000).endOfTrack(960);
    smf.track().noteOn(0, 0, 60, 100).noteOff(960, 0, 60).endOfTrack();
    Bytes file = smf.build();
    Rewritten run = rewrite(file);
    EXPECT_EQ(run.result.tracksWritten, 2);
    EXPECT_EQ(run.result.trackCount, 3);
    EXPECT_TRUE(run.result.sourceEndedEarly);
    // The header is copied as it stands.
    EXPECT_EQ(run.out, file);
}

// Division 500 at the default tempo: one tick per millisecond, so marks read as ticks.
constexpr int kTickPerMs = 500;

TEST(MidiRewriterTest, CropKeepsControlsBeforeTheStartAtTime0AndClosesAfterTheEnd)
{
    SmfBuilder smf(0, kTickPerMs);
    smf.track()
        .programChange(0, 0, 5)     // tick 0
        .noteOn(100, 0, 60, 100)    // 100: a note before the start, dropped
        .controlChange(50, 0, 7, 90)  // 150
        .noteOff(100, 0, 60)        // 250: first inside, re-timed to 50
        .text(0, "chorus")          // 250
        .noteOn(150, 0, 62, 100)    // 400
        .noteOn(100, 0, 64, 100)    // 500
        .noteOn(0, 1, 40, 100)      // 500
        .noteOff(100, 0, 62)        // 600: exactly at the end, written
        .noteOff(100, 0, 64)        // 700: past the end: the track is closed here
        .noteOff(0, 1, 40)
        .endOfTrack(100);           // 800
    Rewritten run = rewrite(smf.build(), {}, Marks{200, 600});
    EXPECT_EQ(run.tracks[0], TrackBuilder()
                                 .programChange(0, 0, 5)
                                 .controlChange(0, 0, 7, 90)
                                 .noteOff(50, 0, 60)
                                 .text(0, "chorus")
                                 .noteOn(150, 0, 62, 100)
                                 .noteOn(100, 0, 64, 100)
                                 .noteOn(0, 1, 40, 100)
                                 .noteOff(100, 0, 62)
                                 // The notes still sounding, in the order they started.
                                 .raw({0x00, 0x80, 64, 0x00})
                                 .raw({0x00, 0x81, 40, 0x00})
                                 // All Notes Off on the current channel, End of Track.
                                 .raw({0x00, 0xB0, 0x7B, 0x00, 0x00, 0xFF, 0x2F, 0x00})
                                 .events());
    EXPECT_EQ(run.result.maxTicks, 800);
}

TEST(MidiRewriterTest, AnEndMarkOf0KeepsOnlyTheEventsAtTick0)
{
    SmfBuilder smf(1, kTickPerMs);
    smf.track().tempo(0, 500000).text(0, "title").endOfTrack(1000);
    smf.track().programChange(0, 3, 8).noteOn(0, 3, 50, 90).noteOff(300, 3, 50).endOfTrack();
    Rewritten run = rewrite(smf.build(), {}, Marks{0, 0});
    EXPECT_EQ(run.tracks[0],
              TrackBuilder().tempo(0, 500000).text(0, "title").raw({0x00, 0xB0, 0x7B, 0x00, 0x00, 0xFF, 0x2F, 0x00}).events());
    EXPECT_EQ(run.tracks[1], TrackBuilder()
                                 .programChange(0, 3, 8)
                                 .noteOn(0, 3, 50, 90)
                                 .raw({0x00, 0x83, 50, 0x00})
                                 .raw({0x00, 0xB3, 0x7B, 0x00, 0x00, 0xFF, 0x2F, 0x00})
                                 .events());
}

TEST(MidiRewriterTest, AStartTickOf100Point4ReTimesAnEventAt228To81_00)
{
    // 502 ticks per half second: 100 ms is tick 100.4.
    SmfBuilder smf(0, 502);
    smf.track().noteOn(228, 0, 60, 100).noteOff(10, 0, 60).endOfTrack();
    Result<MidiFileSummary> summary = readMidiFile(smf.build());
    ASSERT_TRUE(summary.ok());
    Rewritten run = rewrite(smf.build(), {}, Marks{100, static_cast<double>(summary->lengthMilliseconds)});
    ASSERT_EQ(run.tracks.size(), 1u);
    EXPECT_EQ(run.tracks[0], TrackBuilder().raw({0x81, 0x00, 0x90, 60, 100}).noteOff(10, 0, 60).endOfTrack().events());
}

TEST(MidiRewriterTest, TheFirstKeptNoteUnderRunningStatusGetsItsStatusByte)
{
    SmfBuilder smf(0, kTickPerMs);
    smf.track()
        .runningStatus(true)
        .noteOn(0, 0, 60, 100)
        .noteOn(100, 0, 60, 0)
        .noteOn(100, 0, 62, 100)
        .noteOn(100, 0, 62, 0)
        .endOfTrack();
    Bytes file = smf.build();
    Result<MidiFileSummary> summary = readMidiFile(file);
    ASSERT_TRUE(summary.ok());
    Rewritten run = rewrite(file, {}, Marks{150, static_cast<double>(summary->lengthMilliseconds)});
    EXPECT_EQ(run.tracks[0],
              TrackBuilder().runningStatus(true).noteOn(50, 0, 62, 100).noteOn(100, 0, 62, 0).endOfTrack().events());
}

TEST(MidiRewriterTest, RunningStatusAfterAMetaEventTakesTheLastChannelStatus)
{
    SmfBuilder smf(0, 480);
    smf.track().noteOn(0, 5, 60, 100).text(10, "lyric").dataOnly(10, {60, 0}).endOfTrack();
    Rewritten run = rewrite(smf.build(), change(6, {1, 0, 0, -1}));
    EXPECT_TRUE(run.result.notices.empty());
    // The output gets the status byte back: a meta event cancels running status.
    EXPECT_EQ(run.tracks[0],
              TrackBuilder().noteOn(0, 5, 72, 100).text(10, "lyric").noteOn(10, 5, 72, 0).endOfTrack().events());
}

TEST(MidiRewriterTest, ADataByteWithoutRunningStatusEndsTheRunWithUnrecognizedEvent)
{
    SmfBuilder smf(1, 480);
    smf.track().programChange(0, 0, 1).endOfTrack(10);
    smf.track().dataOnly(0, {30}).endOfTrack();
    smf.track().programChange(0, 2, 3).endOfTrack();
    Rewritten run = rewrite(smf.build());
    ASSERT_EQ(run.result.notices.size(), 1u);
    EXPECT_EQ(run.result.notices[0], "Unrecognized Event\r\ncommandcount:3\r\nEvent: 30\r\n");
    EXPECT_EQ(run.result.outcome, RewriteOutcome::Finished);
    EXPECT_EQ(run.result.tracksWritten, 1);
    EXPECT_FALSE(run.result.sourceEndedEarly);
}

TEST(MidiRewriterTest, ALongReTimedDeltaTakesFourBytes)
{
    SmfBuilder smf(0, 480);
    smf.track().programChange((1u << 21) + 5, 0, 1).endOfTrack();
    smf.track();
    SmfBuilder shorter(0, 480);
    shorter.track().programChange((1u << 21) - 1, 0, 1).endOfTrack();
    for (auto [file, bytes] : {std::pair{smf.build(), Bytes{0x81, 0x80, 0x80, 0x05}},
                               std::pair{shorter.build(), Bytes{0xFF, 0xFF, 0x7F}}}) {
        Rewritten run = rewrite(file);
        ASSERT_FALSE(run.tracks.empty());
        EXPECT_EQ(Bytes(run.tracks[0].begin(), run.tracks[0].begin() + static_cast<std::ptrdiff_t>(bytes.size())),
                  bytes);
        EXPECT_TRUE(run.result.notices.empty());
    }
}

TEST(MidiRewriterTest, ASourceThatEndsInsideAnyEventEndsTheRunKeepingTheFinishedTracks)
{
    SmfBuilder smf(1, 480);
    smf.track().programChange(0, 0, 1).endOfTrack(10);
    smf.track().sysex(0, {0x43, 0x12, 0x00, 0xF7}).noteOn(20, 1, 60, 100).endOfTrack(20);
    Bytes whole = smf.build();
    Bytes firstTrack = test::trackChunk(TrackBuilder().programChange(0, 0, 1).endOfTrack(10).events());
    Bytes expected(whole.begin(), whole.begin() + 14);
    expected.insert(expected.end(), firstTrack.begin(), firstTrack.end());
    for (std::size_t keep = expected.size(); keep < whole.size(); ++keep) {
        Rewritten run = rewrite(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep)));
        EXPECT_EQ(run.out, expected) << keep;
        EXPECT_TRUE(run.result.sourceEndedEarly) << keep;
    }
}

TEST(MidiRewriterTest, AnEndMarkAtTheSongsLengthCutsNothing)
{
    // A tempo whose milliseconds are never whole: the length is rounded up.
    SmfBuilder smf(1, 480);
    smf.track().tempo(0, 428571).endOfTrack(0);
    smf.track().noteOn(0, 0, 60, 100).noteOff(1439, 0, 60).endOfTrack(1);
    Bytes file = smf.build();
    Result<MidiFileSummary> summary = readMidiFile(file);
    ASSERT_TRUE(summary.ok());
    EXPECT_EQ(rewrite(file, {}, Marks{0, static_cast<double>(summary->lengthMilliseconds)}).out, file);

    // One millisecond less (tick 1439.2) keeps the Note Off at 1439 and cuts the End of
    // Track at 1440.
    EXPECT_EQ(summary->lengthMilliseconds, 1286);
    Rewritten cut = rewrite(file, {}, Marks{0, 1285});
    EXPECT_EQ(cut.tracks[1], TrackBuilder()
                                 .noteOn(0, 0, 60, 100)
                                 .noteOff(1439, 0, 60)
                                 .raw({0x00, 0xB0, 0x7B, 0x00, 0x00, 0xFF, 0x2F, 0x00})
                                 .events());
}

TEST(MidiRewriterTest, MarksFollowTheTempoMap)
{
    // Half a second per quarter note, a quarter of a second from tick 480 on: 750 ms is
    // tick 960, where the note starts.
    SmfBuilder smf(1, 480);
    smf.track().tempo(0, 500000).tempo(480, 250000).endOfTrack(960);
    smf.track().noteOn(960, 0, 60, 100).noteOff(240, 0, 60).endOfTrack(0);
    Bytes file = smf.build();
    Result<MidiFileSummary> summary = readMidiFile(file);
    ASSERT_TRUE(summary.ok());
    EXPECT_EQ(summary->lengthMilliseconds, 1000);
    Rewritten run = rewrite(file, {}, Marks{750, 1000});
    EXPECT_EQ(run.tracks[0], TrackBuilder().tempo(0, 500000).tempo(0, 250000).endOfTrack(480).events());
    EXPECT_EQ(run.tracks[1], TrackBuilder().noteOn(0, 0, 60, 100).noteOff(240, 0, 60).endOfTrack(0).events());
}

TEST(MidiRewriterTest, RefusesBeforeWritingAByte)
{
    Bytes file = everyKindOfEvent();
    Result<MidiFileSummary> summary = readMidiFile(file);
    ASSERT_TRUE(summary.ok());
    int writes = 0;
    auto sink = [&](ByteView) -> Result<void> {
        ++writes;
        return {};
    };
    RewriteSettings settings;
    settings.marks = {2000, 1000};
    Result<RewriteResult> marks = rewriteMidi(file, *summary, settings, sink);
    ASSERT_FALSE(marks.ok());
    EXPECT_EQ(marks.error(), "Starting mark cannot exceed the Ending mark.");

    Bytes smpte = file;
    smpte[12] = 0xE7;
    settings.marks = {0, 0};
    Result<RewriteResult> division = rewriteMidi(smpte, *summary, settings, sink);
    ASSERT_FALSE(division.ok());
    EXPECT_EQ(division.error(), "SMPTE time division is not supported");
    EXPECT_EQ(writes, 0);
}

TEST(MidiRewriterTest, AFailingSinkStopsTheRun)
{
    Bytes file = everyKindOfEvent();
    Result<MidiFileSummary> summary = readMidiFile(file);
    ASSERT_TRUE(summary.ok());
    int chunks = 0;
    RewriteSettings settings;
    settings.marks = {0, static_cast<double>(summary->lengthMilliseconds)};
    Result<RewriteResult> result = rewriteMidi(file, *summary, settings, [&](ByteView) -> Result<void> {
        if (++chunks == 3)
            return Error{"disk full"};
        return {};
    });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), "disk full");
    EXPECT_EQ(chunks, 3);
}

TEST(MidiRewriterTest, ProgressAndCancelArriveThroughTheCallbacks)
{
    SmfBuilder smf(1, 480);
    for (int t = 0; t < 3; ++t) {
        TrackBuilder& track = smf.track().runningStatus(true);
        for (int i = 0; i < 5000; ++i)
            track.noteOn(1, t, 60, i % 2 ? 0 : 100);
        track.endOfTrack();
    }
    Bytes file = smf.build();
    Result<MidiFileSummary> summary = readMidiFile(file);
    ASSERT_TRUE(summary.ok());
    RewriteSettings settings;
    settings.marks = {0, static_cast<double>(summary->lengthMilliseconds)};

    std::vector<RewriteProgress> reports;
    Bytes out;
    RewriteCallbacks callbacks;
    callbacks.progress = [&](const RewriteProgress& p) { reports.push_back(p); };
    callbacks.cancelRequested = [&] { return !reports.empty() && reports.back().trackNumber == 2; };
    Result<RewriteResult> result = rewriteMidi(file, *summary, settings, [&](ByteView bytes) -> Result<void> {
        out.insert(out.end(), bytes.begin(), bytes.end());
        return {};
    }, callbacks);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->outcome, RewriteOutcome::Cancelled);
    EXPECT_EQ(result->tracksWritten, 1);
    // Track 1 reported at its start and once inside; the cancel came as track 2 began.
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].trackNumber, 1);
    EXPECT_EQ(reports[1].trackNumber, 1);
    EXPECT_EQ(reports[1].absoluteTick, 4095);
    EXPECT_EQ(reports[2].trackNumber, 2);
    EXPECT_EQ(reports[2].trackCount, 3);
    EXPECT_GT(reports[2].percent(), 30);
    EXPECT_LT(reports[2].percent(), 40);
    EXPECT_EQ(trackEventsOf(out).size(), 1u);
}

}  // namespace
}  // namespace chwr
