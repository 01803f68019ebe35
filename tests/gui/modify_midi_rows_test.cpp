#include "midi_edit/ui/channel_table_model.h"
#include "midi_edit/ui/midi_adjust_control.h"
#include "tests/support/temp_folder.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QLabel>
#include <QSpinBox>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace chwr {
namespace {

TEST(MIDIAdjustControl, ListsNoneAndTheGeneralMidiInstruments)
{
    MIDIAdjustControl editor;
    ASSERT_EQ(editor.cboPatch->count(), 129);
    EXPECT_EQ(editor.cboPatch->itemText(0), "none");
    EXPECT_EQ(editor.cboPatch->itemText(1), "0 Acoustic Grand Piano");
    EXPECT_EQ(editor.cboPatch->itemText(41), "40 Violin");
    EXPECT_EQ(editor.cboPatch->itemText(128), "127 Gunshot");

    editor.setMIDIPatchP(40);
    EXPECT_EQ(editor.MIDIPatchP(), 40);
    EXPECT_EQ(editor.cboPatch->currentText(), "40 Violin");
    editor.setMIDIPatchP(-1);
    EXPECT_EQ(editor.MIDIPatchP(), -1);
    // A value no program has is shown as "none" rather than as a wrong instrument.
    editor.setMIDIPatchP(300);
    EXPECT_EQ(editor.MIDIPatchP(), -1);
}

TEST(MIDIAdjustControl, ReportsTheUsersEditsButNotValuesSetFromCode)
{
    MIDIAdjustControl editor;
    std::vector<std::pair<std::string, int>> edits;
    QObject::connect(&editor, &MIDIAdjustControl::edited,
                     [&](const char* property, int value) { edits.emplace_back(property, value); });

    editor.setMIDIChannelP(10);
    editor.setMIDIOctaveP(2);
    editor.setMIDIVelocityP(-30);
    editor.setMIDIVolumeP(5);
    editor.setMIDIPatchP(0);
    EXPECT_TRUE(edits.empty());
    EXPECT_EQ(editor.lblChannel->text(), "Channel 10");
    EXPECT_EQ(editor.property("MIDIOctaveP").toInt(), 2);
    EXPECT_EQ(editor.property("MIDIVelocityP").toInt(), -30);
    EXPECT_EQ(editor.property("MIDIVolumeP").toInt(), 5);

    editor.spnOctave->setValue(-1);
    editor.spnVelocity->stepUp();
    editor.spnVolume->setValue(-20);
    editor.cboPatch->setCurrentIndex(2);
    using Edit = std::pair<std::string, int>;
    EXPECT_EQ(edits, (std::vector<Edit>{
                         {"MIDIOctaveP", -1}, {"MIDIVelocityP", -29}, {"MIDIVolumeP", -20}, {"MIDIPatchP", 1}}));
}

TEST(MIDIAdjustControl, KeepsValuesInsideTheRangesAKeyOrSevenBitValueCanUse)
{
    MIDIAdjustControl editor;
    editor.spnOctave->setValue(50);
    EXPECT_EQ(editor.MIDIOctaveP(), MIDIAdjustControl::kOctaveLimit);
    editor.spnVelocity->setValue(-500);
    EXPECT_EQ(editor.MIDIVelocityP(), -MIDIAdjustControl::kOffsetLimit);
}

class ChannelTableModelTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        Result<ChannelTable> opened = ChannelTable::open(path("MIDIAdjust.db"));
        ASSERT_TRUE(opened.ok()) << opened.error();
        table.emplace(std::move(*opened));
        model = std::make_unique<ChannelTableModel>(state);
        model->setTable(&*table);
        ASSERT_TRUE(model->reload().ok());
    }

    ChannelAdjustment storedRow(int row)
    {
        Result<std::vector<ChannelAdjustment>> rows = table->rows();
        EXPECT_TRUE(rows.ok());
        return rows.ok() ? (*rows)[static_cast<std::size_t>(row)] : ChannelAdjustment{};
    }

    QModelIndex cell(int row, ChannelTableModel::Column column) const { return model->index(row, column); }

    MidiEditState state;
    std::optional<ChannelTable> table;
    std::unique_ptr<ChannelTableModel> model;
};

TEST_F(ChannelTableModelTest, ShowsEveryStoredRowWithEmptyFieldsAsNoChange)
{
    ASSERT_EQ(model->rowCount(), 16);
    ASSERT_EQ(model->columnCount(), 5);
    EXPECT_EQ(model->data(cell(0, ChannelTableModel::ChannelColumn)).toInt(), 1);
    EXPECT_EQ(model->data(cell(15, ChannelTableModel::ChannelColumn)).toInt(), 16);
    EXPECT_EQ(model->headerData(4, Qt::Horizontal).toString(), "Patch");

    ChannelAdjustment row = storedRow(2);
    row.Octave.reset();
    row.Velocity = 30;
    row.Patch.reset();
    ASSERT_TRUE(table->save(row).ok());
    ASSERT_TRUE(model->reload().ok());
    EXPECT_EQ(model->data(cell(2, ChannelTableModel::OctaveColumn)).toInt(), 0);
    EXPECT_EQ(model->data(cell(2, ChannelTableModel::VelocityColumn)).toInt(), 30);
    EXPECT_EQ(model->data(cell(2, ChannelTableModel::PatchColumn)).toInt(), -1);
}

TEST_F(ChannelTableModelTest, CommitsAnEditAtOnceWhileRowsMayBeCommitted)
{
    ASSERT_TRUE(model->setData(cell(0, ChannelTableModel::OctaveColumn), 2));
    ASSERT_TRUE(model->setData(cell(9, ChannelTableModel::PatchColumn), 40));
    EXPECT_EQ(storedRow(0).Octave, 2);
    EXPECT_EQ(storedRow(9).Patch, 40);
    EXPECT_FALSE(model->hasPendingEdits());
}

TEST_F(ChannelTableModelTest, HoldsEditsBackWhileAnOpenOrARewriteRuns)
{
    state.RowCommitFlag = false;
    ASSERT_TRUE(model->setData(cell(1, ChannelTableModel::VolumeColumn), -20));
    EXPECT_EQ(model->data(cell(1, ChannelTableModel::VolumeColumn)).toInt(), -20);
    EXPECT_EQ(storedRow(1).Volume, 0);
    EXPECT_TRUE(model->hasPendingEdits());
    ASSERT_TRUE(model->commitPending().ok());
    EXPECT_EQ(storedRow(1).Volume, 0);

    state.RowCommitFlag = true;
    ASSERT_TRUE(model->commitPending().ok());
    EXPECT_EQ(storedRow(1).Volume, -20);
    EXPECT_FALSE(model->hasPendingEdits());
}

TEST_F(ChannelTableModelTest, RefusesToChangeAChannelOrToStoreText)
{
    EXPECT_FALSE(model->flags(cell(0, ChannelTableModel::ChannelColumn)) & Qt::ItemIsEditable);
    EXPECT_TRUE(model->flags(cell(0, ChannelTableModel::OctaveColumn)) & Qt::ItemIsEditable);
    EXPECT_FALSE(model->setData(cell(0, ChannelTableModel::ChannelColumn), 5));
    EXPECT_FALSE(model->setData(cell(0, ChannelTableModel::OctaveColumn), QString("two")));
    EXPECT_EQ(storedRow(0).Channel, 1);
    EXPECT_EQ(storedRow(0).Octave, 0);
}

TEST_F(ChannelTableModelTest, ReportsACommitThatTheTableRefuses)
{
    QSignalSpy failures(model.get(), &ChannelTableModel::commitFailed);
    // Another connection takes the table away: the edit stays on screen and pending.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path("MIDIAdjust.db").c_str(), &other), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(other, "DROP TABLE tblMIDIAdjust", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);

    ASSERT_TRUE(model->setData(cell(0, ChannelTableModel::OctaveColumn), 3));
    ASSERT_EQ(failures.count(), 1);
    EXPECT_THAT(failures.at(0).at(0).toString().toStdString(), ::testing::HasSubstr("cannot be written"));
    EXPECT_TRUE(model->hasPendingEdits());
    EXPECT_EQ(model->data(cell(0, ChannelTableModel::OctaveColumn)).toInt(), 3);
}

TEST_F(ChannelTableModelTest, TheRepeaterShowsOneBoundEditorPerRow)
{
    DataRepeater repeater;
    repeater.setModel(model.get());
    ASSERT_EQ(repeater.editors().size(), 16u);
    EXPECT_EQ(repeater.editors()[9]->MIDIChannelP(), 10);
    EXPECT_EQ(repeater.editors()[9]->MIDIPatchP(), -1);

    // Editor to table.
    repeater.editors()[0]->spnOctave->setValue(-2);
    repeater.editors()[0]->cboPatch->setCurrentIndex(repeater.editors()[0]->cboPatch->findData(40));
    EXPECT_EQ(storedRow(0).Octave, -2);
    EXPECT_EQ(storedRow(0).Patch, 40);

    // Table to editor: a reload (as after an open) shows the stored rows.
    ASSERT_TRUE(table->resetForOpen().ok());
    ASSERT_TRUE(table->fillPatch(9, 0).ok());
    ASSERT_TRUE(model->reload().ok());
    ASSERT_EQ(repeater.editors().size(), 16u);
    EXPECT_EQ(repeater.editors()[0]->MIDIOctaveP(), 0);
    EXPECT_EQ(repeater.editors()[0]->MIDIPatchP(), -1);
    EXPECT_EQ(repeater.editors()[9]->MIDIPatchP(), 0);
}

}  // namespace
}  // namespace chwr
