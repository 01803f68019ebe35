#include "midi_edit/channel_table.h"

#include "midi_edit/midi_edit_state.h"
#include "midi_edit/midi_open.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sqlite3.h>

namespace chwr {
namespace {

using Programs = std::array<int, 16>;

Programs noPrograms()
{
    Programs programs{};
    programs.fill(-1);
    return programs;
}

class ChannelTableTest : public test::TempFolderTest {
protected:
    ChannelTable openTable()
    {
        Result<ChannelTable> table = ChannelTable::open();
        EXPECT_TRUE(table.ok()) << (table ? "" : table.error());
        return std::move(table).value();
    }

    std::vector<ChannelAdjustment> rowsOf(ChannelTable& table)
    {
        Result<std::vector<ChannelAdjustment>> rows = table.rows();
        EXPECT_TRUE(rows.ok()) << (rows ? "" : rows.error());
        return rows ? *rows : std::vector<ChannelAdjustment>{};
    }

    // Runs SQL on the table's file behind the program's back, as another tool might.
    void executeOnFile(const std::string& sql)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(ChannelTable::defaultPath().c_str(), &db), SQLITE_OK);
        char* message = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
        sqlite3_free(message);
        sqlite3_close(db);
    }

    ChannelAdjustment& rowOfChannel(std::vector<ChannelAdjustment>& rows, int channel)
    {
        for (ChannelAdjustment& row : rows)
            if (row.Channel == channel)
                return row;
        ADD_FAILURE() << "no row for channel " << channel;
        return rows.front();
    }
};

TEST_F(ChannelTableTest, OpeningCreatesTheFileWithSixteenRows)
{
    ChannelTable table = openTable();
    EXPECT_EQ(table.path(), programFolder() / "MIDIAdjust.db");
    EXPECT_TRUE(std::filesystem::exists(table.path()));
    std::vector<ChannelAdjustment> rows = rowsOf(table);
    ASSERT_EQ(rows.size(), 16u);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(rows[i].Channel, i + 1);
        EXPECT_EQ(rows[i].Octave, 0);
        EXPECT_EQ(rows[i].Velocity, 0);
        EXPECT_EQ(rows[i].Volume, 0);
        EXPECT_EQ(rows[i].Patch, -1);
    }
}

TEST_F(ChannelTableTest, EditsPersistAcrossOpensAndNoRowsAreAdded)
{
    {
        ChannelTable table = openTable();
        std::vector<ChannelAdjustment> rows = rowsOf(table);
        ASSERT_TRUE(writeField(rows[3], "OCTAVE", 2).ok());
        ASSERT_TRUE(writeField(rows[3], "velocity", std::nullopt).ok());
        ASSERT_TRUE(table.save(rows[3]).ok());
    }
    ChannelTable again = openTable();
    std::vector<ChannelAdjustment> rows = rowsOf(again);
    ASSERT_EQ(rows.size(), 16u);
    EXPECT_EQ(rows[3].Octave, 2);
    EXPECT_EQ(rows[3].Velocity, std::nullopt);
}

TEST_F(ChannelTableTest, FieldsAreNamedWithoutRegardToCase)
{
    ChannelAdjustment row;
    row.Channel = 4;
    ASSERT_TRUE(writeField(row, "Patch", 12).ok());
    ASSERT_TRUE(writeField(row, "volume", -3).ok());
    EXPECT_EQ(*readField(row, "PATCH"), 12);
    EXPECT_EQ(*readField(row, "Volume"), -3);
    EXPECT_EQ(*readField(row, "channel"), 4);

    Result<void> channel = writeField(row, "Channel", 5);
    ASSERT_FALSE(channel.ok());
    EXPECT_EQ(channel.error(), "The Channel of a row cannot be changed.");
    Result<std::optional<int>> unknown = readField(row, "Pan");
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error(), "The channel table has no field \"Pan\".");
}

TEST_F(ChannelTableTest, TheResetAndThePatchFillOfAnOpen)
{
    ChannelTable table = openTable();
    std::vector<ChannelAdjustment> rows = rowsOf(table);
    rows[0].Octave = 2;
    rows[1].Volume = -20;
    rows[2].Patch = 40;
    for (const ChannelAdjustment& row : rows)
        ASSERT_TRUE(table.save(row).ok());

    ASSERT_TRUE(table.resetForOpen().ok());
    Programs programs = noPrograms();
    programs[9] = 0;
    ASSERT_TRUE(table.fillPatches(programs).ok());
    rows = rowsOf(table);
    for (const ChannelAdjustment& row : rows) {
        EXPECT_EQ(row.Patch, row.Channel == 10 ? 0 : -1) << row.Channel;
        EXPECT_EQ(row.Octave, 0);
        EXPECT_EQ(row.Velocity, 0);
        EXPECT_EQ(row.Volume, 0);
    }
}

TEST_F(ChannelTableTest, ATableWithoutARowForChannel16IsUsedAsItIs)
{
    { ChannelTable table = openTable(); }
    executeOnFile("DELETE FROM tblMIDIAdjust WHERE Channel=16");
    ChannelTable table = openTable();
    ASSERT_TRUE(table.fillPatch(15, 30).ok());
    ASSERT_TRUE(table.fillPatch(14, 31).ok());
    std::vector<ChannelAdjustment> rows = rowsOf(table);
    ASSERT_EQ(rows.size(), 15u);
    EXPECT_EQ(rowOfChannel(rows, 15).Patch, 31);
    Result<ChannelAdjustments> adjustments = table.adjustmentsForRewrite(noPrograms());
    ASSERT_TRUE(adjustments.ok());
    EXPECT_EQ((*adjustments)[15], ChannelChange{});
}

TEST_F(ChannelTableTest, TheRewriteQueriesFindNonZeroFieldsAndOtherPatches)
{
    ChannelTable table = openTable();
    std::vector<ChannelAdjustment> rows = rowsOf(table);
    rows[0].Octave = 1;
    rows[0].Velocity = std::nullopt;
    rows[0].Patch = 40;
    rows[1].Octave = std::nullopt;
    for (const ChannelAdjustment& row : rows)
        ASSERT_TRUE(table.save(row).ok());

    Result<std::vector<ChannelAdjustment>> octave = table.rowsChanging(1, AdjustField::Octave);
    ASSERT_TRUE(octave.ok());
    ASSERT_EQ(octave->size(), 1u);
    EXPECT_EQ(octave->front().Octave, 1);
    EXPECT_TRUE(table.rowsChanging(1, AdjustField::Velocity)->empty());
    EXPECT_TRUE(table.rowsChanging(2, AdjustField::Octave)->empty());
    EXPECT_EQ(table.rowsWithPatchOtherThan(1, 0)->size(), 1u);
    EXPECT_TRUE(table.rowsWithPatchOtherThan(1, 40)->empty());
    EXPECT_TRUE(table.rowsWithPatchOtherThan(2, -1)->empty());
}

TEST_F(ChannelTableTest, TheRowsReadForARunAgreeWithTheRowsInMemory)
{
    ChannelTable table = openTable();
    std::vector<ChannelAdjustment> rows = rowsOf(table);
    Programs open = noPrograms();
    open[0] = 0;
    open[1] = 5;
    open[2] = 7;
    open[9] = 3;
    rows[0].Octave = -2;
    rows[0].Patch = 40;   // differs from the file's 0: replaces it
    rows[1].Velocity = 30;
    rows[1].Patch = 5;    // the file's own program: no change
    rows[2].Volume = -20;
    rows[2].Patch = -1;   // outside 0 to 127: the programs are copied
    rows[5].Patch = 9;    // a channel without a program change of its own
    rows[9].Patch = std::nullopt;
    for (const ChannelAdjustment& row : rows)
        ASSERT_TRUE(table.save(row).ok());

    Result<ChannelAdjustments> fromTable = table.adjustmentsForRewrite(open);
    ASSERT_TRUE(fromTable.ok()) << fromTable.error();
    ChannelAdjustments fromRows = adjustmentsFromRows(rowsOf(table), open);
    EXPECT_EQ(*fromTable, fromRows);
    EXPECT_EQ((*fromTable)[0], (ChannelChange{-2, 0, 0, 40}));
    EXPECT_EQ((*fromTable)[1], (ChannelChange{0, 30, 0, -1}));
    EXPECT_EQ((*fromTable)[2], (ChannelChange{0, 0, -20, -1}));
    EXPECT_EQ((*fromTable)[5].patch, 9);
    EXPECT_EQ((*fromTable)[9].patch, -1);
}

TEST_F(ChannelTableTest, AValueThatIsNoWholeNumberIsReportedByName)
{
    { ChannelTable table = openTable(); }
    executeOnFile("UPDATE tblMIDIAdjust SET Octave='two' WHERE Channel=3");
    ChannelTable table = openTable();
    Result<std::vector<ChannelAdjustment>> rows = table.rows();
    ASSERT_FALSE(rows.ok());
    EXPECT_EQ(rows.error(), "The channel table holds \"two\" in Octave, which is not a whole number.");
    Result<ChannelAdjustments> adjustments = table.adjustmentsForRewrite(noPrograms());
    ASSERT_FALSE(adjustments.ok());
    EXPECT_EQ(adjustments.error(), rows.error());
}

TEST_F(ChannelTableTest, AFileThatIsNoDatabaseIsRefusedAndKept)
{
    std::filesystem::create_directories(programFolder());
    Bytes text = Bytes(100, 'x');
    ASSERT_TRUE(writeFileAtomic(ChannelTable::defaultPath(), text).ok());
    Result<ChannelTable> table = ChannelTable::open();
    ASSERT_FALSE(table.ok());
    EXPECT_NE(table.error().find("MIDIAdjust.db"), std::string::npos) << table.error();
    EXPECT_NE(table.error().find("not a database"), std::string::npos) << table.error();
    EXPECT_EQ(readFile(ChannelTable::defaultPath()), text);
}

TEST_F(ChannelTableTest, AFileThatCannotBeOpenedIsReported)
{
    setFileFaultHook([](FileOp op, const std::filesystem::path& p) {
        return op == FileOp::OpenWrite && p.filename() == "MIDIAdjust.db" ? EACCES : 0;
    });
    Result<ChannelTable> table = ChannelTable::open();
    ASSERT_FALSE(table.ok());
    EXPECT_EQ(table.error(), "The channel table \"" + ChannelTable::defaultPath().string() +
                                 "\" cannot be opened: " + systemMessage(EACCES));
}

class MidiOpenTest : public ChannelTableTest {};

TEST_F(MidiOpenTest, OpeningResetsTheRowsFillsThePatchesAndRecordsTheState)
{
    ChannelTable table = openTable();
    std::vector<ChannelAdjustment> rows = rowsOf(table);
    rows[0].Octave = 2;
    ASSERT_TRUE(table.save(rows[0]).ok());

    test::SmfBuilder smf(1, 96);
    smf.track().tempo(0, 400000).endOfTrack();
    smf.track().programChange(0, 9, 0).programChange(0, 2, 11).programChange(96, 2, 12).endOfTrack();
    std::filesystem::path file = writeFile("song.mid", smf.build());

    MidiEditState state;
    Result<MidiFileSummary> summary = openMidiForEditing(file, table, state);
    ASSERT_TRUE(summary.ok()) << summary.error();
    EXPECT_EQ(state.MidiSourcePath, file.string());
    EXPECT_DOUBLE_EQ(state.TicksPerQuarter, 96);
    EXPECT_DOUBLE_EQ(state.MicrosPerQuarter, 400000);
    EXPECT_TRUE(state.RowCommitFlag);
    EXPECT_EQ(state.OpenPrograms[2], 12);
    rows = rowsOf(table);
    EXPECT_EQ(rows[0].Octave, 0);
    EXPECT_EQ(rows[2].Patch, 12);
    EXPECT_EQ(rows[9].Patch, 0);
    EXPECT_EQ(rows[1].Patch, -1);
}

TEST_F(MidiOpenTest, AFailedOpenLeavesTheRowsAndTheStateAlone)
{
    ChannelTable table = openTable();
    std::vector<ChannelAdjustment> rows = rowsOf(table);
    rows[4].Velocity = 9;
    ASSERT_TRUE(table.save(rows[4]).ok());
    MidiEditState state;
    state.MidiSourcePath = "earlier.mid";
    state.TicksPerQuarter = 480;

    std::filesystem::path smpte = writeFile("smpte.mid", test::smfHeader(0, 1, 0xE250));
    Result<MidiFileSummary> summary = openMidiForEditing(smpte, table, state);
    ASSERT_FALSE(summary.ok());
    EXPECT_EQ(summary.error(), "SMPTE time division is not supported");
    EXPECT_EQ(state.MidiSourcePath, "earlier.mid");
    EXPECT_DOUBLE_EQ(state.TicksPerQuarter, 480);
    EXPECT_TRUE(state.RowCommitFlag);
    EXPECT_EQ(rowsOf(table)[4].Velocity, 9);
}

}  // namespace
}  // namespace chwr
