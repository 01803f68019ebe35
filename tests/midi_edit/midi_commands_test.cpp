#include "midi_edit/midi_open.h"
#include "midi_edit/midi_rewriter.h"

#include "shell/program_folder.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using test::SmfBuilder;

class MidiCommandsTest : public test::TempFolderTest {
protected:
    test::ProcessResult chwr(std::vector<std::string> args)
    {
        args.insert(args.begin(), (test::binaryDir() / "cli" / "chwr").string());
        return test::runProcess(args);
    }

    static Bytes song()
    {
        SmfBuilder smf(1, 96);
        smf.track().tempo(0, 600000).text(0, "Ring").endOfTrack(384);
        smf.track()
            .programChange(0, 0, 19)
            .controlChange(0, 0, 7, 100)
            .noteOn(0, 0, 60, 100)
            .noteOff(96, 0, 60)
            .noteOn(0, 0, 62, 90)
            .noteOff(96, 0, 62)
            .endOfTrack(96);
        smf.track().programChange(0, 9, 0).noteOn(48, 9, 36, 120).noteOff(48, 9, 36).endOfTrack(192);
        return smf.build();
    }
};

TEST_F(MidiCommandsTest, InfoPrintsTheWalkAsJson)
{
    fs::path file = writeFile("song.mid", song());
    test::ProcessResult run = chwr({"info", file.string(), "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "{\"format\": 1, \"tracks\": 3, \"division\": 96, \"tempo\": 600000, \"length_ticks\": 384, "
                       "\"length_ms\": 2400, \"programs\": {\"1\": 19, \"2\": -1, \"3\": -1, \"4\": -1, \"5\": -1, "
                       "\"6\": -1, \"7\": -1, \"8\": -1, \"9\": -1, \"10\": 0, \"11\": -1, \"12\": -1, \"13\": -1, "
                       "\"14\": -1, \"15\": -1, \"16\": -1}}\n");
    EXPECT_TRUE(run.err.empty());
}

TEST_F(MidiCommandsTest, InfoShowsTheSameForAPerson)
{
    fs::path file = writeFile("song.mid", song());
    test::ProcessResult run = chwr({"info", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* line : {"Tracks: 3\n", "Division: 96 ticks per quarter note\n",
                             "Tempo: 600000 microseconds per quarter note\n", "Length: 384 ticks, 2400 ms\n",
                             "  Channel 1: 19\n", "  Channel 2: none\n", "  Channel 10: 0\n"})
        EXPECT_THAT(run.out, HasSubstr(line));
}

TEST_F(MidiCommandsTest, InfoRefusesWhatItCannotRead)
{
    test::ProcessResult missing = chwr({"info", path("missing.mid").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_THAT(missing.err, HasSubstr("Cannot open \"" + path("missing.mid").string() + "\""));
    fs::path smpte = writeFile("smpte.mid", test::smfHeader(0, 1, 0xE728));
    test::ProcessResult refused = chwr({"info", smpte.string(), "--json"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "chwr info: SMPTE time division is not supported\n");
    EXPECT_TRUE(refused.out.empty());
    EXPECT_EQ(chwr({"info"}).exitCode, 2);
    EXPECT_EQ(chwr({"info", smpte.string(), "--xml"}).exitCode, 2);
}

TEST_F(MidiCommandsTest, ModifyWritesExactlyWhatApplyWrites)
{
    fs::path file = writeFile("song.mid", song());
    Result<ChannelTable> table = ChannelTable::open();
    ASSERT_TRUE(table.ok()) << table.error();
    MidiEditState state;
    ASSERT_TRUE(openMidiForEditing(file, *table, state).ok());
    std::vector<ChannelAdjustment> rows = *table->rows();
    rows[0].Octave = 1;
    rows[0].Velocity = -30;
    rows[0].Volume = -20;
    rows[0].Patch = 40;
    rows[9].Octave = -1;
    for (const ChannelAdjustment& row : rows)
        ASSERT_TRUE(table->save(row).ok());
    MidiRewriter rewriter;
    Result<RewriteResult> applied = rewriter.apply(state, *table, Marks{300, 2000});
    ASSERT_TRUE(applied.ok()) << applied.error();

    test::ProcessResult run = chwr({"modify", file.string(), path("out.mid").string(), "--start-ms", "300",
                                    "--end-ms=2000", "--adjust", "1:octave=1,velocity=-30,volume=-20,patch=40",
                                    "--adjust", "10:octave=-1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFile(path("out.mid")), readFile(programFolder() / "head"));
    EXPECT_THAT(run.out, HasSubstr("Wrote " + path("out.mid").string()));
    Result<MidiFileSummary> back = readMidiFile(path("out.mid"));
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(back->tracksRead, 3);
    EXPECT_EQ(back->programs[0], 40);
}

TEST_F(MidiCommandsTest, ModifyWithoutOptionsCopiesTheSong)
{
    fs::path file = writeFile("song.mid", song());
    test::ProcessResult run = chwr({"modify", file.string(), path("copy.mid").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFile(path("copy.mid")), song());
    // The program folder is not touched.
    EXPECT_FALSE(fs::exists(programFolder() / "head"));
}

TEST_F(MidiCommandsTest, ModifyRefusesBadUsageBeforeReadingAnything)
{
    fs::path file = writeFile("song.mid", song());
    const std::vector<std::vector<std::string>> cases = {
        {"--start-ms", "1.5"},
        {"--end-ms", "ten"},
        {"--start-ms", "1", "--start-ms", "2"},
        {"--adjust", "17:octave=1"},
        {"--adjust", "0:octave=1"},
        {"--adjust", "1:pan=3"},
        {"--adjust", "1:octave=one"},
        {"--adjust", "1:patch=128"},
        {"--adjust", "1"},
        {"--adjust", "2:octave=1", "--adjust", "2:velocity=3"},
        {"--soundfont", "x"},
    };
    for (const std::vector<std::string>& options : cases) {
        std::vector<std::string> args{"modify", file.string(), path("out.mid").string()};
        args.insert(args.end(), options.begin(), options.end());
        test::ProcessResult run = chwr(args);
        EXPECT_EQ(run.exitCode, 2) << options.front() << " " << options.back();
        EXPECT_THAT(run.err, HasSubstr("Usage: chwr modify"));
    }
    EXPECT_EQ(chwr({"modify", file.string()}).exitCode, 2);
    EXPECT_FALSE(fs::exists(path("out.mid")));
}

TEST_F(MidiCommandsTest, ModifyGivesTheMarkMessagesAndLeavesTheOutputAlone)
{
    fs::path file = writeFile("song.mid", song());
    fs::path out = writeFile("out.mid", asBytes("older"));
    struct Case {
        std::vector<std::string> marks;
        const char* message;
    };
    const Case cases[] = {
        {{"--start-ms", "-5"}, "Starting mark cannot be a value less than 0."},
        {{"--start-ms", "2000", "--end-ms", "1000"}, "Starting mark cannot exceed the Ending mark."},
        {{"--end-ms", "2401"}, "End Mark cannot exceed the length of the MIDI Song."},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"modify", file.string(), out.string()};
        args.insert(args.end(), c.marks.begin(), c.marks.end());
        test::ProcessResult run = chwr(args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, std::string("chwr modify: ") + c.message + "\n");
    }
    EXPECT_EQ(readFile(out), Bytes({'o', 'l', 'd', 'e', 'r'}));
    EXPECT_EQ(listFolder(folder()), (std::vector<std::string>{"home", "out.mid", "song.mid"}));
}

TEST_F(MidiCommandsTest, ModifyReportsWhatTheRunMet)
{
    SmfBuilder smf(1, 96);
    smf.announceTracks(3);
    smf.track().programChange(0, 0, 1).endOfTrack(96);
    smf.track().dataOnly(0, {30}).endOfTrack();
    fs::path file = writeFile("odd.mid", smf.build());
    test::ProcessResult run = chwr({"modify", file.string(), path("out.mid").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "chwr modify: Unrecognized Event commandcount:3 Event: 30\n");
    Result<MidiFileSummary> back = readMidiFile(path("out.mid"));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->tracksRead, 1);
}

}  // namespace
}  // namespace chwr
