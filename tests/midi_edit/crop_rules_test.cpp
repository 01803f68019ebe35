#include "midi_edit/crop_rules.h"

#include "midi_edit/smf_format.h"
#include "tests/support/smf_builder.h"

#include <gtest/gtest.h>

#include <limits>

namespace chwr {
namespace {

TEST(CheckMarksTest, TheThreeRefusalsInTheirOrder)
{
    struct Case {
        double start, end;
        std::int64_t length;
        const char* message;
    };
    const Case cases[] = {
        {-5, 1000, 3000, "Starting mark cannot be a value less than 0."},
        {-5, -10, 3000, "Starting mark cannot be a value less than 0."},
        {2000, 1000, 3000, "Starting mark cannot exceed the Ending mark."},
        {4000, 3500, 3000, "Starting mark cannot exceed the Ending mark."},
        {0, 3001, 3000, "End Mark cannot exceed the length of the MIDI Song."},
    };
    for (const Case& c : cases) {
        Result<void> checked = CheckMarks({c.start, c.end}, c.length);
        ASSERT_FALSE(checked.ok()) << c.start << " " << c.end;
        EXPECT_EQ(checked.error(), c.message);
    }
}

TEST(CheckMarksTest, MarksWithinTheSongPass)
{
    EXPECT_TRUE(CheckMarks({0, 3000}, 3000).ok());
    EXPECT_TRUE(CheckMarks({0, 0}, 3000).ok());
    EXPECT_TRUE(CheckMarks({1500, 1500}, 3000).ok());
    EXPECT_TRUE(CheckMarks({0, 0}, 0).ok());
}

TEST(MarkFromTextTest, ReadsDecimalNumbersAndRefusesOtherText)
{
    EXPECT_DOUBLE_EQ(*markFromText("1500"), 1500);
    EXPECT_DOUBLE_EQ(*markFromText(" 250 "), 250);
    EXPECT_DOUBLE_EQ(*markFromText("-5"), -5);
    EXPECT_DOUBLE_EQ(*markFromText("12.5"), 12.5);
    for (const char* text : {"", "abc", "12abc", "1e3", "nan", "--1"}) {
        Result<double> mark = markFromText(text);
        ASSERT_FALSE(mark.ok()) << text;
        EXPECT_EQ(mark.error(), std::string("The mark \"") + text + "\" is not a number of milliseconds.");
    }
}

TEST(MarkToTickTest, OneTempoGivesTheFormulaAndMarksAtOrBelowZeroGiveTick0)
{
    TempoMap map(480, {{0, 500000}});
    EXPECT_DOUBLE_EQ(MarkToTick(map, 1000), 960);
    EXPECT_DOUBLE_EQ(MarkToTick(map, 0), 0);
    EXPECT_DOUBLE_EQ(MarkToTick(map, -30), 0);
    // Fractions are kept: 100 ms at 502 ticks per half second.
    EXPECT_DOUBLE_EQ(MarkToTick(TempoMap(502, {}), 100), 100.4);
}

TEST(MarkToTickTest, MarksFollowTempoChanges)
{
    // Half a second per quarter note up to tick 480, then a quarter of a second.
    TempoMap map(480, {{480, 250000}});
    EXPECT_DOUBLE_EQ(MarkToTick(map, 500), 480);
    EXPECT_DOUBLE_EQ(MarkToTick(map, 750), 960);
}

TEST(CropWindowTest, AnEndMarkAtOrPastTheSongsLengthCutsNothing)
{
    TempoMap map(480, {});
    CropWindow whole = cropWindowFor({0, 2000}, map, 2000);
    EXPECT_EQ(whole.startTick, 0);
    EXPECT_EQ(whole.endTick, std::numeric_limits<double>::infinity());
    CropWindow cut = cropWindowFor({500, 1999}, map, 2000);
    EXPECT_DOUBLE_EQ(cut.startTick, 480);
    EXPECT_DOUBLE_EQ(cut.endTick, 1919.04);
}

TEST(ClassifyEventTest, ZonesAndTheDeltaEachWrites)
{
    CropWindow window{100.4, 500};
    TrackCropState track;
    track.absoluteTick = 100;
    DeltaToWrite before = ClassifyEvent(track, window);
    EXPECT_FALSE(track.Inside);
    EXPECT_EQ(before.kind, DeltaToWrite::Kind::Zero);

    track.absoluteTick = 228;
    DeltaToWrite first = ClassifyEvent(track, window);
    EXPECT_TRUE(track.Inside);
    EXPECT_FALSE(track.FirstInside);
    EXPECT_EQ(first.kind, DeltaToWrite::Kind::Retimed);
    // 228 - 100.4 = 127.6, rounded to 128: the two bytes 81 00.
    EXPECT_EQ(first.ticks, 128u);
    std::uint8_t encoded[4] = {};
    ASSERT_EQ(smf::encodeVariableLengthQuantity(first.ticks, encoded), 2);
    EXPECT_EQ(encoded[0], 0x81);
    EXPECT_EQ(encoded[1], 0x00);

    track.absoluteTick = 500;
    EXPECT_EQ(ClassifyEvent(track, window).kind, DeltaToWrite::Kind::AsRead);
    EXPECT_TRUE(track.Inside);
    track.absoluteTick = 501;
    EXPECT_EQ(ClassifyEvent(track, window).kind, DeltaToWrite::Kind::Zero);
    EXPECT_FALSE(track.Inside);
}

TEST(ClassifyEventTest, RetimedDeltasRoundHalvesUp)
{
    EXPECT_EQ(retimedDelta(228, 100.5), 128u);
    EXPECT_EQ(retimedDelta(228, 100.6), 127u);
    EXPECT_EQ(retimedDelta(100, 100), 0u);
}

TEST(VariableLengthQuantityTest, LongDeltasTakeUpToFourBytes)
{
    struct Case {
        std::uint32_t value;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x81, 0x00}},
        {16383, {0xFF, 0x7F}},
        {16384, {0x81, 0x80, 0x00}},
        {(1u << 21) - 1, {0xFF, 0xFF, 0x7F}},
        {1u << 21, {0x81, 0x80, 0x80, 0x00}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const Case& c : cases) {
        std::uint8_t out[4] = {};
        int size = smf::encodeVariableLengthQuantity(c.value, out);
        EXPECT_EQ(std::vector<std::uint8_t>(out, out + size), c.bytes) << c.value;
        EXPECT_EQ(smf::variableLengthQuantitySize(c.value), size);
    }
}

TEST(StatusToWriteTest, AStatusByteIsWrittenWhenTheOutputsRunningStatusDiffers)
{
    // The source had one: always written.
    EXPECT_EQ(StatusToWrite(0x90, true, 0x90), 0x90);
    // Running status in the source and the same status written last: left out.
    EXPECT_EQ(StatusToWrite(0x90, false, 0x90), 0);
    // Events before it were dropped or a controller was inserted: restored.
    EXPECT_EQ(StatusToWrite(0x90, false, 0x80), 0x90);
    EXPECT_EQ(StatusToWrite(0xC3, false, 0xB3), 0xC3);
    // After a meta or system exclusive event, or at the start of a track.
    EXPECT_EQ(StatusToWrite(0x90, false, 0), 0x90);
}

TEST(ClosingSequenceTest, AllNotesOffOnTheCurrentChannelThenEndOfTrack)
{
    std::array<std::uint8_t, 8> expected{0x00, 0xB5, 0x7B, 0x00, 0x00, 0xFF, 0x2F, 0x00};
    EXPECT_EQ(ClosingSequence(5), expected);
    EXPECT_EQ(ClosingSequence(0)[1], 0xB0);
}

TEST(SoundingNotesTest, NoteOffsForTheNotesStillSoundingInTheOrderTheyStarted)
{
    SoundingNotes notes;
    notes.started(0, 60);
    notes.started(9, 36);
    notes.started(0, 64);
    notes.started(0, 60);  // the same key again
    notes.released(0, 60); // ends the first 60
    notes.released(3, 10); // nothing sounds there: ignored
    Bytes offs;
    ASSERT_TRUE(notes.appendNoteOffs(offs));
    EXPECT_EQ(offs, (Bytes{0x00, 0x89, 36, 0x00, 0x00, 0x80, 64, 0x00, 0x00, 0x80, 60, 0x00}));
    notes.clear();
    offs.clear();
    ASSERT_TRUE(notes.appendNoteOffs(offs));
    EXPECT_TRUE(offs.empty());
}

TEST(SoundingNotesTest, AKeyHeldMoreOftenThanIsKeptIsReadAgainFromTheEvents)
{
    // Six Note Ons of key 60 on channel 1, one of 62, one release of 60: five 60s sound.
    test::TrackBuilder track;
    for (int i = 0; i < 6; ++i)
        track.noteOn(0, 1, 60, 100);
    track.noteOn(0, 1, 62, 100).noteOn(0, 1, 60, 0);
    SoundingNotes notes;
    for (int i = 0; i < 6; ++i)
        notes.started(1, 60);
    notes.started(1, 62);
    notes.released(1, 60);
    Bytes offs;
    EXPECT_FALSE(notes.appendNoteOffs(offs));
    EXPECT_TRUE(offs.empty());

    Bytes closing;
    appendClosing(notes, track.events(), 4, closing);
    Bytes expected;
    for (int i = 0; i < 5; ++i)
        expected.insert(expected.end(), {0x00, 0x81, 60, 0x00});
    expected.insert(expected.end(), {0x00, 0x81, 62, 0x00, 0x00, 0xB4, 0x7B, 0x00, 0x00, 0xFF, 0x2F, 0x00});
    EXPECT_EQ(closing, expected);
}

TEST(SoundingNotesTest, ReadingTheEventsAgainFollowsRunningStatusAndSkipsOtherEvents)
{
    // 90 3C 64, (running) 40 64, 3C 00; 80 40 00 after a meta; 99 24 7F; B0 07 64; 90 3E 50; sysex.
    Bytes events{0x00, 0x90, 0x3C, 0x64, 0x00, 0x40, 0x64, 0x10, 0x3C, 0x00, 0x00, 0xFF, 0x01, 0x01, 'x',
                 0x00, 0x80, 0x40, 0x00, 0x00, 0x99, 0x24, 0x7F, 0x05, 0xB0, 0x07, 0x64, 0x00, 0x90, 0x3E, 0x50,
                 0x00, 0xF0, 0x02, 0x7E, 0xF7};
    Bytes offs;
    appendNoteOffsAfter(events, offs);
    EXPECT_EQ(offs, (Bytes{0x00, 0x89, 0x24, 0x00, 0x00, 0x80, 0x3E, 0x00}));
}

TEST(CloseTrackIfPastEndTest, ClosesOnceAfterTheEndTick)
{
    CropWindow window{0, 960};
    TrackCropState track;
    SoundingNotes notes;
    notes.started(2, 70);
    Bytes out;
    track.absoluteTick = 960;
    EXPECT_FALSE(CloseTrackIfPastEnd(track, window, notes, {}, 2, out));
    EXPECT_TRUE(out.empty());
    track.absoluteTick = 961;
    EXPECT_TRUE(CloseTrackIfPastEnd(track, window, notes, {}, 2, out));
    EXPECT_TRUE(track.Closed);
    EXPECT_EQ(out, (Bytes{0x00, 0x82, 70, 0x00, 0x00, 0xB2, 0x7B, 0x00, 0x00, 0xFF, 0x2F, 0x00}));
    track.absoluteTick = 2000;
    EXPECT_FALSE(CloseTrackIfPastEnd(track, window, notes, {}, 2, out));
    EXPECT_EQ(out.size(), 12u);
}

TEST(CloseTrackIfPastEndTest, AFractionalEndTickClosesAtTheNextWholeTick)
{
    CropWindow window{0, 959.6};
    TrackCropState track;
    Bytes out;
    track.absoluteTick = 959;
    SoundingNotes silent;
    EXPECT_FALSE(CloseTrackIfPastEnd(track, window, silent, {}, 0, out));
    track.absoluteTick = 960;
    EXPECT_TRUE(CloseTrackIfPastEnd(track, window, silent, {}, 0, out));
}

}  // namespace
}  // namespace chwr
