#include "midi_edit/channel_table.h"
#include "midi_edit/midi_open.h"
#include "midi_edit/midi_rewriter.h"

#include "shell/file_io.h"
#include "shell/program_folder.h"
#include "tests/midi_edit/midi_test_util.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <sqlite3.h>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using namespace test;
using namespace testing;

// The channel table in the program folder and song.mid, of three tracks: "Open File" and
// "Apply" of the "Modify MIDI" tab, and chwr.
class MidiApplyTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        m_table.emplace(ChannelTable::open().value());
        m_tracks = {Track().tempo(0, 400000).text(0, "song").endOfTrack(4000).events()};
        for (int channel = 0; channel < 2; ++channel) {
            Track track;
            track.runningStatus(true).programChange(0, channel, 11).programChange(0, channel, 10 + channel);
            for (int i = 0; i < 2000; ++i)
                track.noteOn(1, channel, 60, i % 2 ? 0 : 100);
            m_tracks.push_back(track.endOfTrack().events());
        }
        m_song = writeFile("song.mid", m_file = song(480, m_tracks));
    }
    ChannelTable& table() { return *m_table; }
    std::vector<ChannelAdjustment> rows() { return table().rows().value(); }
    void save(const std::vector<ChannelAdjustment>& rows)
    {
        for (const ChannelAdjustment& row : rows)
            ASSERT_TRUE(table().save(row).ok());
    }
    // SQL run on the file behind the program's back, as another tool might.
    static void executeOnFile(const std::string& sql)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(ChannelTable::defaultPath().c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    Marks open() // the whole song
    {
        Result<MidiFileSummary> summary = openMidiForEditing(m_song, table(), m_state);
        EXPECT_TRUE(summary.ok()) << errorOf(summary);
        return {0, summary ? static_cast<double>(summary->lengthMilliseconds) : 0};
    }
    Result<RewriteResult> apply(const Marks& marks) { return m_rewriter.apply(m_state, table(), marks); }
    static fs::path head() { return programFolder() / "head"; }
    // A shell command in the test's folder, "$0" the chwr program; chwr with these arguments.
    ProcessResult shell(const std::string& line)
    {
        return runProcess({"sh", "-c", line, chwrPath}, folder());
    }
    ProcessResult chwr(const std::string& arguments) { return shell("\"$0\" " + arguments); }

    const std::string chwrPath = (binaryDir() / "cli" / "chwr").string();
    std::optional<ChannelTable> m_table;
    std::vector<Bytes> m_tracks;
    Bytes m_file;
    fs::path m_song;
    MidiEditState m_state;
    MidiRewriter m_rewriter;
};

TEST_F(MidiApplyTest, TheTableHasSixteenRowsThatKeepTheirEditsAndSaysWhatItCannotUse)
{
    std::vector<ChannelAdjustment> created = rows();
    ASSERT_EQ(created.size(), 16u);
    for (const ChannelAdjustment& row : created)
        EXPECT_EQ(std::tie(row.Octave, row.Velocity, row.Volume, row.Patch, row.Channel),
                  std::tuple(0, 0, 0, -1, &row - &created[0] + 1));
    // Fields are named without regard to case; the Channel names the row.
    ASSERT_TRUE(writeField(created[3], "OCTAVE", 2).ok() &&
                writeField(created[3], "velocity", std::nullopt).ok());
    EXPECT_EQ(errorOf(writeField(created[3], "Channel", 5)), "The Channel of a row cannot be changed.");
    EXPECT_EQ(errorOf(readField(created[3], "Pan")), "The channel table has no field \"Pan\".");
    save({created[3]});
    m_table.emplace(ChannelTable::open().value());
    EXPECT_EQ(rows().size(), 16u);
    EXPECT_EQ(std::tie(rows()[3].Octave, rows()[3].Velocity), std::tuple(2, std::nullopt));
    // A value that is no whole number, a file that is no database, one that cannot be opened.
    executeOnFile("UPDATE tblMIDIAdjust SET Octave='2x' WHERE Channel=3");
    const std::string message = "The channel table holds \"2x\" in Octave, which is not a whole number.";
    EXPECT_EQ(std::tuple(errorOf(table().rows()), errorOf(table().adjustmentsForRewrite(programsOn({})))),
              std::tuple(message, message));
    m_table.reset();
    const std::string name = "The channel table \"" + ChannelTable::defaultPath().string() + "\" cannot be ";
    ASSERT_TRUE(writeFileAtomic(ChannelTable::defaultPath(), Bytes(100, 'x')).ok());
    EXPECT_THAT(errorOf(ChannelTable::open()), AllOf(StartsWith(name), EndsWith("not a database")));
    EXPECT_EQ(readFile(ChannelTable::defaultPath()), Bytes(100, 'x'));
    setFileFaultHook([](FileOp op, const fs::path&) { return op == FileOp::OpenWrite ? EACCES : 0; });
    EXPECT_EQ(errorOf(ChannelTable::open()), name + "opened: " + systemMessage(EACCES));
}

TEST_F(MidiApplyTest, ARunTakesEachChannelsFirstChangesAndOnlyAPatchThatDiffersFromTheFiles)
{
    // No row for Channel 16, a second one for Channel 2; status channel 14 is Channel 15.
    executeOnFile(
        "DELETE FROM tblMIDIAdjust WHERE Channel=16; INSERT INTO tblMIDIAdjust VALUES (2, 5, 7, 0, 5)");
    ASSERT_TRUE(table().fillPatch(15, 30).ok() && table().fillPatch(14, 31).ok());
    std::vector<ChannelAdjustment> edited = rows();
    ASSERT_EQ(edited.size(), 16u);
    edited[0] = {edited[0].rowId, 1, -2, std::nullopt, 0, 40};
    edited[1] = {edited[1].rowId, 2, 0, 30, 0, 5}; // Patch 5: the file's own program
    edited[2] = {edited[2].rowId, 3, 0, 0, -20, -1};
    edited[3].Patch = 128;
    edited[5].Patch = 127;
    edited[6].Patch = 0;
    edited[9].Patch = std::nullopt;
    save(edited);
    ChannelAdjustments expected{};
    expected[0] = {-2, 0, 0, 40};
    expected[1] = {5, 30, 0, -1}; // the octave of the second row, as the first leaves it at 0
    expected[2] = {0, 0, -20, -1};
    expected[5].patch = 127;
    expected[6].patch = 0;
    expected[14].patch = 31;
    const auto open = programsOn({{1, 0}, {2, 5}, {3, 7}});
    EXPECT_EQ(table().adjustmentsForRewrite(open).value(), expected);
    EXPECT_EQ(adjustmentsFromRows(rows(), open), expected);
}

TEST_F(MidiApplyTest, OpenFillsThePatchesAndApplyAndChwrModifyWriteTheChanges)
{
    std::vector<ChannelAdjustment> edited = rows();
    edited[4] = {edited[4].rowId, 5, 2, 9, -20, 40};
    save(edited);
    open();
    // The rows are reset, each Patch the channel's last program; the state records the file.
    const auto programs = programsOn({{1, 10}, {2, 11}});
    for (const ChannelAdjustment& row : rows())
        EXPECT_EQ(std::tie(row.Octave, row.Velocity, row.Volume, row.Patch),
                  std::tuple(0, 0, 0, programs[static_cast<std::size_t>(row.Channel - 1)]));
    EXPECT_EQ(std::tie(m_state.MidiSourcePath, m_state.TicksPerQuarter, m_state.MicrosPerQuarter,
                       m_state.RowCommitFlag, m_state.OpenPrograms),
              std::tuple(m_song.string(), 480.0, 400000.0, true, programs));
    edited = rows();
    edited[0] = {edited[0].rowId, 1, 1, -30, -20, 40};
    edited[1].Octave = -1;
    edited[15].Patch = 127;
    save(edited);
    writeFile("home/midi/debug.txt", asBytes("an earlier run\n"));
    Result<RewriteResult> result = apply({300, 2000});
    EXPECT_EQ(std::tie(result->outcome, result->resultPath), std::tuple(RewriteOutcome::Finished, head()));
    EXPECT_EQ(std::tie(m_state.ResultFilePath, m_state.RowCommitFlag), std::tuple(head().string(), true));
    EXPECT_TRUE(readFile(programFolder() / "midi" / "debug.txt").empty());
    // chwr modify makes the same of the same changes given as options.
    EXPECT_THAT(
        chwr("modify song.mid out.mid --start-ms 300 --end-ms=2000 --adjust "
             "1:octave=1,velocity=-30,volume=-20,patch=40 --adjust 2:octave=-1 --adjust 16:patch=127"),
        FieldsAre(0, "Wrote out.mid (" + std::to_string(fs::file_size(head())) + " bytes, 3 track(s))\n",
                  ""));
    EXPECT_EQ(readFile(path("out.mid")), readFile(head()));
    EXPECT_NE(readFile(head()), m_file);
}

TEST_F(MidiApplyTest, CancelKeepsTheFinishedTracksAndTheNextRunReadsTheRowsOnce)
{
    EXPECT_THAT(errorOf(openMidiForEditing(path("missing.mid"), table(), m_state)), HasSubstr("missing.mid"));
    EXPECT_EQ(errorOf(apply({0, 0})), "No MIDI file is open.");
    EXPECT_FALSE(fs::exists(head()));
    const Bytes announcingFour = smfHeader(1, 4, 480); // one track more than the file holds
    writeFile("song.mid", withTracks(announcingFour, m_tracks));
    const Marks whole = open();
    std::string nested;
    m_rewriter.setProgressHandler([&](const RewriteProgress& p) {
        if (nested.empty()) {
            nested = errorOf(apply(whole));
            EXPECT_TRUE(m_rewriter.isRunning() && !m_state.RowCommitFlag); // the refused run ends nothing
        }
        if (p.trackNumber == 2)
            m_rewriter.requestCancel();
    });
    Result<RewriteResult> cancelled = apply(whole);
    EXPECT_EQ(std::tie(nested, cancelled->outcome, m_state.RowCommitFlag),
              std::tuple("A rewrite is already running.", RewriteOutcome::Cancelled, true));
    EXPECT_EQ(readFile(head()), withTracks(announcingFour, {m_tracks[0]}));
    // An edit committed while the next run goes on does not reach it.
    m_rewriter.setProgressHandler([&](const RewriteProgress& p) {
        std::vector<ChannelAdjustment> edited = rows();
        edited[1].Octave = p.trackNumber;
        save(edited);
    });
    EXPECT_EQ(apply(whole)->outcome, RewriteOutcome::Finished);
    EXPECT_EQ(readFile(head()), m_file); // the header counts the tracks written
    // A mark refused leaves head and the debug file alone.
    writeFile("home/midi/debug.txt", asBytes("kept\n"));
    EXPECT_EQ(errorOf(apply({0, whole.endMs + 1})), "End Mark cannot exceed the length of the MIDI Song.");
    EXPECT_EQ(std::tuple(readFile(head()), asString(readFile(programFolder() / "midi" / "debug.txt"))),
              std::tuple(m_file, "kept\n"));
}

TEST_F(MidiApplyTest, ChwrInfoShowsTheWalkAsTextOrJson)
{
    auto json = nlohmann::ordered_json::parse(R"({"format": 1, "tracks": 3, "division": 480, "tempo": 400000,
        "length_ticks": 4000, "length_ms": 3334, "programs": {"1": 10, "2": 11}})");
    std::string text =
        "File: song.mid\nSize: " + std::to_string(m_file.size()) +
        " bytes\nFormat: 1\nTracks: 3\nDivision: 480 ticks per quarter note\nTempo: 400000 "
        "microseconds per quarter note\nLength: 4000 ticks, 3334 ms\nPrograms:\n  Channel 1: 10\n"
        "  Channel 2: 11\n";
    for (int channel = 3; channel <= 16; ++channel) {
        json["programs"][std::to_string(channel)] = -1;
        text += "  Channel " + std::to_string(channel) + ": none\n";
    }
    EXPECT_THAT(chwr("info song.mid --json"), FieldsAre(0, json.dump() + "\n", ""));
    EXPECT_THAT(chwr("info song.mid"), FieldsAre(0, text, ""));
    EXPECT_THAT(chwr("info song.mid song.mid"), FieldsAre(2, "", HasSubstr("Usage: chwr info")));
}

TEST_F(MidiApplyTest, ChwrModifyRefusesBadUsageAndLeavesTheOutputAlone)
{
    writeFile("out.mid", asBytes("older"));
    // More bad usage of modify is refused with the other commands' in the command-line tests.
    for (std::string options : {"--start-ms 1 --start-ms 2", "--adjust 17:octave=1", "--adjust 0:octave=1",
                                "--adjust 1:pan=3", "--adjust 1:patch=128", "--adjust 1:patch=-2",
                                "--adjust 1", "--adjust 2:octave=1 --adjust 2:velocity=3", ""})
        EXPECT_THAT(chwr("modify song.mid " + (options.empty() ? std::string() : "out.mid " + options)),
                    FieldsAre(2, "", HasSubstr("Usage: chwr modify")))
            << options;
    EXPECT_EQ(asString(readFile(path("out.mid"))), "older");
    // Without options the song is written whole, its header counting the tracks it holds, and
    // the program folder is left alone.
    writeFile("song.mid", withTracks(smfHeader(1, 4, 480), m_tracks));
    EXPECT_EQ(chwr("modify song.mid out.mid").exitCode, 0);
    EXPECT_EQ(readFile(path("out.mid")), m_file);
    EXPECT_FALSE(fs::exists(head()));
}

// chwr play and render, which run chwr-player, on one note held for some half seconds.
Bytes heldNote(std::uint32_t quarters)
{
    return song(96, {concat({hex("00 C0 13|00 90 40 6E"), vlq(96 * quarters), hex("80 40 00|00 FF 2F 00")})});
}

TEST_F(MidiApplyTest, ChwrRenderAndPlayRunThePlayerProgram)
{
    writeFile("held.mid", heldNote(3));
    EXPECT_THAT(chwr("render held.mid held.wav"),
                FieldsAre(0, StartsWith("Rendered held.mid (0:01.5) to held.wav"), ""));
    EXPECT_THAT(chwr("render held.mid x.wav --soundfont none.sf2"),
                FieldsAre(1, "", "chwr: The SoundFont \"none.sf2\" does not exist.\n"));
    EXPECT_THAT(listFolder(folder()), ElementsAre("held.mid", "held.wav", "home", "song.mid"));
    EXPECT_THAT(chwr("play held.mid --silent"),
                FieldsAre(0,
                          AllOf(StartsWith("Playing held.mid (0:01.5) silently, SoundFont "),
                                HasSubstr("\n  0:00.0 / 0:01.5\n  0:01.0 / 0:01.5\nDone.\n")),
                          ""));
    EXPECT_EQ(chwr("play missing.mid --silent").exitCode, 1);
    // Ctrl-C (with its default action, not ignored as in the background) once it says that
    // Ctrl-C stops it, and so has its handler: it stops, and its exit status is 0.
    writeFile("long.mid", heldNote(120));
    const std::string script =
        "env --default-signal=INT \"$0\" play long.mid --silent >play.out & for i in $(seq 250); do "
        "grep -q 'Ctrl-C stops' play.out && break; sleep 0.02; done; sleep 0.3; kill -INT $!; wait $!";
    EXPECT_EQ(shell(script).exitCode, 0);
    EXPECT_THAT(asString(readFile(path("play.out"))), HasSubstr("Stopped at 0:0"));
}

} // namespace
} // namespace chwr
