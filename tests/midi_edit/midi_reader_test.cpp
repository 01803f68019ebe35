#include "midi_edit/midi_reader.h"

#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace chwr {
namespace {

using test::SmfBuilder;

MidiFileSummary walk(const Bytes& file)
{
    Result<MidiFileSummary> summary = readMidiFile(file);
    EXPECT_TRUE(summary.ok()) << (summary ? "" : summary.error());
    return summary ? *summary : MidiFileSummary{};
}

std::array<int, 16> noPrograms()
{
    std::array<int, 16> programs{};
    programs.fill(-1);
    return programs;
}

TEST(MidiReaderTest, LearnsHeaderTempoLengthAndPrograms)
{
    SmfBuilder smf(1, 96);
    smf.track().tempo(0, 600000).endOfTrack(384);
    smf.track().programChange(0, 0, 19).noteOn(0, 0, 60, 100).noteOff(192, 0, 60).endOfTrack(0);
    MidiFileSummary s = walk(smf.build());
    EXPECT_EQ(s.format, 1);
    EXPECT_EQ(s.trackCount, 2);
    EXPECT_EQ(s.tracksRead, 2);
    EXPECT_EQ(s.division, 96);
    EXPECT_DOUBLE_EQ(s.TicksPerQuarter, 96);
    EXPECT_DOUBLE_EQ(s.MicrosPerQuarter, 600000);
    EXPECT_EQ(s.lengthTicks, 384);
    EXPECT_EQ(s.lengthMilliseconds, 2400);
    EXPECT_EQ(s.programs[0], 19);
    EXPECT_FALSE(s.stoppedEarly);
}

TEST(MidiReaderTest, ProgramsOfChannels0And9GoToChannels1And10)
{
    SmfBuilder smf(0);
    smf.track().programChange(0, 0, 5).programChange(0, 9, 0).noteOn(0, 9, 36, 90).endOfTrack(10);
    std::array<int, 16> expected = noPrograms();
    expected[0] = 5;
    expected[9] = 0;
    EXPECT_EQ(walk(smf.build()).programs, expected);
}

TEST(MidiReaderTest, TheLastProgramChangeInFileOrderHolds)
{
    SmfBuilder smf;
    smf.track().programChange(0, 3, 40).programChange(960, 3, 41).endOfTrack();
    smf.track().programChange(0, 3, 7).endOfTrack();
    EXPECT_EQ(walk(smf.build()).programs[3], 7);
}

TEST(MidiReaderTest, AProgramChangeUnderRunningStatusTakesTheByteAfterTheDelta)
{
    SmfBuilder smf;
    smf.track().runningStatus(true).programChange(0, 2, 10).programChange(10, 2, 33).endOfTrack();
    Bytes file = smf.build();
    // The second program change has no status byte of its own.
    EXPECT_EQ(file.size(), 14u + 8 + 3 + 2 + 4);
    EXPECT_EQ(walk(file).programs[2], 33);
}

TEST(MidiReaderTest, DeltaTimesOfTwoBytesAreAddedWhole)
{
    SmfBuilder smf;
    smf.track().raw({0x81, 0x00, 0x90, 60, 100}).raw({0xFF, 0x7F, 0x80, 60, 0}).endOfTrack();
    EXPECT_EQ(walk(smf.build()).lengthTicks, 128 + 16383);
}

TEST(MidiReaderTest, AMetaEventWithATwoByteLengthIsSkippedWhole)
{
    SmfBuilder smf;
    smf.track().text(0, std::string(200, 'x')).programChange(5, 1, 77).endOfTrack(3);
    Bytes file = smf.build();
    // The length 200 is written as 81 48.
    EXPECT_EQ(file[14 + 8 + 3], 0x81);
    EXPECT_EQ(file[14 + 8 + 4], 0x48);
    MidiFileSummary s = walk(file);
    EXPECT_EQ(s.programs[1], 77);
    EXPECT_EQ(s.lengthTicks, 8);
}

TEST(MidiReaderTest, AHeaderAnnouncingNoTracksStillReadsTheFirst)
{
    SmfBuilder smf;
    smf.announceTracks(0);
    smf.track().programChange(0, 0, 3).endOfTrack(100);
    smf.track().programChange(0, 1, 4).endOfTrack(200);
    MidiFileSummary s = walk(smf.build());
    EXPECT_EQ(s.tracksRead, 1);
    EXPECT_EQ(s.programs[0], 3);
    EXPECT_EQ(s.programs[1], -1);
    EXPECT_EQ(s.lengthTicks, 100);
}

TEST(MidiReaderTest, TheLengthIsTheLongestTrack)
{
    SmfBuilder smf;
    smf.track().endOfTrack(960);
    smf.track().endOfTrack(1920);
    smf.track().endOfTrack(480);
    EXPECT_EQ(walk(smf.build()).lengthTicks, 1920);
    SmfBuilder shorter;
    shorter.track().endOfTrack(240);
    EXPECT_EQ(walk(shorter.build()).lengthTicks, 240);
}

TEST(MidiReaderTest, WithoutSetTempoTheDivisionAndTheStandardTempoHold)
{
    SmfBuilder smf(0, 240);
    smf.track().noteOn(0, 0, 60, 1).endOfTrack(480);
    MidiFileSummary s = walk(smf.build());
    EXPECT_DOUBLE_EQ(s.TicksPerQuarter, 240);
    EXPECT_DOUBLE_EQ(s.MicrosPerQuarter, 500000);
    EXPECT_EQ(s.lengthMilliseconds, 1000);
    EXPECT_TRUE(s.tempoMap.changes().empty());
}

TEST(MidiReaderTest, TheTempoMapHoldsTheChangesOfEveryTrack)
{
    SmfBuilder smf(1, 480);
    smf.track().tempo(0, 1000000).tempo(960, 250000).endOfTrack(0);
    smf.track().tempo(480, 500000).endOfTrack(960);
    MidiFileSummary s = walk(smf.build());
    ASSERT_EQ(s.tempoMap.changes().size(), 3u);
    EXPECT_EQ(s.tempoMap.changes()[1].tick, 480);
    // MicrosPerQuarter is the last Set Tempo in file order, not the latest in time.
    EXPECT_DOUBLE_EQ(s.MicrosPerQuarter, 500000);
    // 480 ticks at 1 s, 480 at 0.5 s, 480 at 0.25 s.
    EXPECT_EQ(s.lengthMilliseconds, 1750);
}

TEST(MidiReaderTest, RefusesWhatCannotBeTimed)
{
    Result<MidiFileSummary> smpte = readMidiFile(test::smfHeader(0, 1, 0xE728));
    ASSERT_FALSE(smpte.ok());
    EXPECT_EQ(smpte.error(), "SMPTE time division is not supported");

    Result<MidiFileSummary> zero = readMidiFile(test::smfHeader(0, 1, 0));
    ASSERT_FALSE(zero.ok());
    EXPECT_EQ(zero.error(), "The MIDI file's division is 0 ticks per quarter note, which times nothing.");

    Result<MidiFileSummary> shortFile = readMidiFile(Bytes{'M', 'T', 'h', 'd', 0, 0});
    ASSERT_FALSE(shortFile.ok());
    EXPECT_EQ(shortFile.error(), "The file is too short to be a Standard MIDI File (6 bytes).");
}

TEST(MidiReaderTest, AFileThatEndsInsideATrackKeepsWhatWasFound)
{
    SmfBuilder smf;
    smf.track().programChange(0, 0, 1).endOfTrack(500);
    smf.track().programChange(0, 1, 2).noteOn(900, 1, 60, 100);
    Bytes whole = smf.build();
    // Ends between events, and (cut shorter) inside the Note On.
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{2}}) {
        Bytes file(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(cut));
        MidiFileSummary s = walk(file);
        EXPECT_TRUE(s.stoppedEarly);
        EXPECT_EQ(s.tracksRead, 1);
        EXPECT_EQ(s.programs[0], 1);
        EXPECT_EQ(s.programs[1], 2);
        // The unfinished track's ticks do not count.
        EXPECT_EQ(s.lengthTicks, 500);
    }
}

TEST(MidiReaderTest, AFileThatEndsInsideAnyEventEndsTheWalkQuietly)
{
    SmfBuilder smf;
    smf.track().programChange(0, 0, 9).sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).endOfTrack(96);
    Bytes whole = smf.build();
    for (std::size_t keep = 14 + 8; keep < whole.size(); ++keep) {
        Bytes file(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
        Result<MidiFileSummary> s = readMidiFile(file);
        ASSERT_TRUE(s.ok()) << keep;
        EXPECT_TRUE(s->stoppedEarly);
        EXPECT_EQ(s->lengthTicks, 0);
    }
}

TEST(MidiReaderTest, TheTrailerAfterTheLastAnnouncedTrackIsNeverRead)
{
    SmfBuilder smf;
    smf.track().programChange(0, 0, 12).endOfTrack(48);
    // A ring tone added by this program ends in "@"; here it is followed by what would
    // read as another track with a program change.
    Bytes more = test::trackChunk(test::TrackBuilder().programChange(0, 0, 99).endOfTrack().events());
    Bytes trailer = more;
    trailer.insert(trailer.begin(), '@');
    smf.trailer(trailer);
    MidiFileSummary s = walk(smf.build());
    EXPECT_EQ(s.programs[0], 12);
    EXPECT_FALSE(s.stoppedEarly);
}

TEST(MidiReaderTest, SystemExclusiveAndEscapeEventsHaveALengthAndNoTypeByte)
{
    // Read with a type byte, the F7 event's length would be taken from its first data
    // byte and the program change after it would be lost.
    SmfBuilder smf;
    smf.track()
        .sysex(0, {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7})
        .escape(0, {0xF3, 0x01})
        .escape(0, {0x05, 0x90, 0x3C})
        .programChange(0, 4, 55)
        .endOfTrack(10);
    MidiFileSummary s = walk(smf.build());
    EXPECT_EQ(s.programs[4], 55);
    EXPECT_EQ(s.lengthTicks, 10);
    EXPECT_FALSE(s.stoppedEarly);
}

TEST(MidiReaderTest, RunningStatusOutlastsMetaEventsInsideATrack)
{
    SmfBuilder smf;
    smf.track().programChange(0, 6, 1).text(0, "verse").dataOnly(0, {21}).endOfTrack(5);
    MidiFileSummary s = walk(smf.build());
    EXPECT_EQ(s.programs[6], 21);
    EXPECT_FALSE(s.stoppedEarly);
}

TEST(MidiReaderTest, ADataByteWithNoRunningStatusEndsTheWalk)
{
    SmfBuilder smf;
    smf.track().programChange(0, 0, 1).endOfTrack(100);
    // Running status does not carry into the next track.
    smf.track().dataOnly(0, {30}).programChange(0, 1, 2).endOfTrack(300);
    MidiFileSummary s = walk(smf.build());
    EXPECT_TRUE(s.stoppedEarly);
    EXPECT_EQ(s.programs[1], -1);
    EXPECT_EQ(s.lengthTicks, 100);
}

TEST(MidiReaderTest, TheWindowBreathesDuringALongWalk)
{
    SmfBuilder smf;
    test::TrackBuilder& track = smf.track().runningStatus(true);
    for (int i = 0; i < 10000; ++i)
        track.noteOn(1, 0, 60, i % 2 ? 0 : 90);
    track.endOfTrack();
    int breaths = 0;
    Result<MidiFileSummary> s = readMidiFile(smf.build(), [&] { ++breaths; });
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->lengthTicks, 10000);
    EXPECT_EQ(breaths, 2);
}

class MidiReaderFileTest : public test::TempFolderTest {};

TEST_F(MidiReaderFileTest, ReadsAFileThroughTheFileLayerAndReportsAMissingOne)
{
    SmfBuilder smf(0, 480);
    smf.track().endOfTrack(480);
    Result<MidiFileSummary> s = readMidiFile(writeFile("song.mid", smf.build()));
    ASSERT_TRUE(s.ok());
    // The End of Track at delta 480 takes five bytes (83 60 FF 2F 00).
    EXPECT_EQ(s->fileSize, 14u + 8 + 5);
    Result<MidiFileSummary> missing = readMidiFile(path("missing.mid"));
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("missing.mid"), std::string::npos);
}

}  // namespace
}  // namespace chwr
