#include "midi_edit/ui/channel_table_model.h"
#include "midi_edit/crop_rules.h"
#include "midi_edit/ui/midi_adjust_control.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/ui/mm_control.h"
#include "midi_edit/ui/modify_midi_tab.h"
#include "midi_edit/ui/progress_dialog.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "shell/file_io.h"
#include "tests/gui/scripted_ui.h"
#include "tests/support/scripted_player.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Calls = std::vector<std::string>;

constexpr int kDivision = 480;
// Four quarter notes at the default tempo: 1920 ticks, 2000 milliseconds.
constexpr std::int64_t kSongTicks = 1920;
constexpr std::int64_t kSongMs = 2000;

// A song of three tracks: tempo; a melody on channel 0 (program 5, volume 100, four
// notes of a quarter each, 60 62 64 65); drums on channel 9 (program 0, one note of two
// quarters).
Bytes threeTrackSong()
{
    test::SmfBuilder song(1, kDivision);
    song.track().tempo(0, 500000).endOfTrack(1920);
    test::TrackBuilder& melody = song.track();
    melody.programChange(0, 0, 5).controlChange(0, 0, 7, 100);
    for (int key : {60, 62, 64, 65})
        melody.noteOn(0, 0, key, 100).noteOff(480, 0, key);
    melody.endOfTrack(0);
    song.track().programChange(0, 9, 0).noteOn(0, 9, 36, 90).noteOff(960, 9, 36).endOfTrack(0);
    return song.build();
}

bool contains(const Bytes& haystack, const Bytes& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

QString qtPath(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

class ModifyMidiTabTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        services = ui.services([] { return std::make_unique<test::ScriptedPlayer>(); });
        tab = std::make_unique<ModifyMidiTab>(services, state);
        preview().clearCalls();
        result().clearCalls();
        songPath = writeFile("songs/song.mid", threeTrackSong());
    }

    void TearDown() override
    {
        tab.reset();
        TempFolderTest::TearDown();
    }

    test::ScriptedPlayer& preview() { return static_cast<test::ScriptedPlayer&>(tab->MMControl1->player()); }
    test::ScriptedPlayer& result() { return static_cast<test::ScriptedPlayer&>(tab->MMControl3->player()); }
    fs::path head() const { return home() / "head"; }

    // "Open File" on a file chosen in the dialog, which the preview player times as
    // lengthMs.
    void openThroughDialog(const fs::path& file, std::int64_t lengthMs = kSongMs)
    {
        ui.dialogs.answer(file);
        preview().setLength(lengthMs);
        tab->Command5->click();
    }

    void apply() { tab->Command11->click(); }

    MIDIAdjustControl& editor(int row) { return *tab->DataRepeater1->editors().at(static_cast<std::size_t>(row)); }

    std::vector<int> shownPatches()
    {
        std::vector<int> patches;
        for (MIDIAdjustControl* row : tab->DataRepeater1->editors())
            patches.push_back(row->MIDIPatchP());
        return patches;
    }

    test::ScriptedUi ui;
    WindowServices services;
    MidiEditState state;
    std::unique_ptr<ModifyMidiTab> tab;
    fs::path songPath;
};

TEST_F(ModifyMidiTabTest, StartsWithTheCropAndResultButtonsDisabled)
{
    for (QPushButton* button : {tab->Command8, tab->Command9, tab->Command10, tab->Command11, tab->Command15,
                                tab->Command16, tab->Command17})
        EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_TRUE(tab->Command5->isEnabled());
    EXPECT_EQ(tab->Command5->text(), "Open File");
    EXPECT_EQ(tab->lblMIDIName->text(), "File:");
    EXPECT_EQ(tab->txtMaxTicks->text(), "0");
    EXPECT_EQ(tab->txtCurrentTicks->text(), "0");
    EXPECT_EQ(tab->txtMarkStartMSec->text(), "");
    EXPECT_EQ(tab->Label3->text(), "Milliseconds");
    // The table's rows are on show before any file is opened.
    EXPECT_EQ(tab->DataRepeater1->editors().size(), 16u);
}

TEST_F(ModifyMidiTabTest, OpenFillsPropertiesMarksAndEachChannelsProgram)
{
    openThroughDialog(songPath);
    EXPECT_TRUE(ui.messages.shown.empty()) << ui.messages.texts().join("\n").toStdString();

    ASSERT_EQ(ui.dialogs.calls.size(), 1u);
    const FileDialogRequest& request = ui.dialogs.calls[0].request;
    EXPECT_EQ(request.title, "Open MIDI File");
    EXPECT_EQ(request.filter, "MIDI File (*.mid)|*.mid");
    EXPECT_EQ(request.initialFolder, qtPath(home() / "midi") + "/");
    EXPECT_EQ(request.fileName, "");

    EXPECT_EQ(tab->lblMIDIName->text(), "File: song");
    EXPECT_EQ(tab->lblMIDISize->text(), QString("Size: %1").arg(threeTrackSong().size()));
    EXPECT_EQ(tab->lblMIDITracks->text(), "Tracks: 3");
    EXPECT_EQ(tab->txtMarkStartMSec->text(), "0");
    EXPECT_EQ(tab->txtMarkEndMSec->text(), "2000");
    EXPECT_EQ(tab->txtCurrentMSec->text(), "0");
    EXPECT_EQ(tab->txtMaxMSec->text(), "2000");
    EXPECT_EQ(tab->txtMaxTicks->text(), "1920");
    EXPECT_EQ(tab->HScroll1->maximum(), 100);

    std::vector<int> expected(16, -1);
    expected[0] = 5;
    expected[9] = 0;
    EXPECT_EQ(shownPatches(), expected);
    EXPECT_EQ(editor(0).MIDIOctaveP(), 0);
    EXPECT_EQ(editor(9).cboPatch->currentText(), "0 Acoustic Grand Piano");
    EXPECT_TRUE(tab->DataRepeater1->isVisibleTo(tab.get()));

    EXPECT_EQ(state.MidiSourcePath, songPath.string());
    EXPECT_EQ(state.MidiDisplayName, "song");
    EXPECT_EQ(state.OpenPrograms[0], 5);
    EXPECT_EQ(state.OpenPrograms[9], 0);
    EXPECT_EQ(state.TicksPerQuarter, kDivision);
    EXPECT_TRUE(state.RowCommitFlag);

    EXPECT_EQ(preview().calls(), (Calls{"DeviceType=Sequencer", "Close", "FileName=" + songPath.string(),
                                        "Open", "UpdateInterval=100", "TimeFormat=0"}));
    for (QPushButton* button : {tab->Command9, tab->Command10, tab->Command11, tab->Command15, tab->Command16})
        EXPECT_TRUE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_FALSE(tab->Command8->isEnabled());
    EXPECT_FALSE(tab->Command17->isEnabled());
}

TEST_F(ModifyMidiTabTest, EachOpenResetsTheRowsAndAShorterSongShortensTheLength)
{
    openThroughDialog(songPath);
    editor(0).spnOctave->setValue(2);
    editor(3).spnVolume->setValue(-10);

    test::SmfBuilder shortSong(0, kDivision);
    shortSong.track().programChange(0, 3, 71).noteOn(0, 3, 60, 80).noteOff(240, 3, 60).endOfTrack(0);
    openThroughDialog(writeFile("short (1).mid", shortSong.build()), 250);

    EXPECT_EQ(tab->txtMaxTicks->text(), "240");
    EXPECT_EQ(tab->lblMIDIName->text(), "File: short");
    EXPECT_EQ(editor(0).MIDIOctaveP(), 0);
    EXPECT_EQ(editor(3).MIDIVolumeP(), 0);
    std::vector<int> expected(16, -1);
    expected[3] = 71;
    EXPECT_EQ(shownPatches(), expected);
}

TEST_F(ModifyMidiTabTest, ACancelledDialogChangesNothing)
{
    openThroughDialog(songPath);
    editor(0).spnOctave->setValue(1);
    preview().clearCalls();

    ui.dialogs.cancel();
    tab->Command5->click();

    EXPECT_TRUE(ui.messages.shown.empty());
    EXPECT_TRUE(preview().calls().empty());
    EXPECT_EQ(tab->lblMIDIName->text(), "File: song");
    EXPECT_EQ(tab->txtMaxTicks->text(), "1920");
    EXPECT_EQ(editor(0).MIDIOctaveP(), 1);
    EXPECT_EQ(state.MidiSourcePath, songPath.string());
}

TEST_F(ModifyMidiTabTest, AFileTheReaderRefusesIsReportedAndChangesNothing)
{
    openThroughDialog(songPath);
    editor(0).spnOctave->setValue(1);
    const fs::path broken = writeFile("broken.mid", asBytes("MThd"));
    const std::string expected = readMidiFile(broken).error();
    ASSERT_FALSE(expected.empty());

    openThroughDialog(broken);

    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_EQ(ui.messages.shown[0].text.toStdString(), expected);
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::None);
    EXPECT_EQ(tab->lblMIDIName->text(), "File: song");
    EXPECT_EQ(editor(0).MIDIOctaveP(), 1);
    EXPECT_EQ(state.MidiSourcePath, songPath.string());
    EXPECT_EQ(preview().fileName(), songPath);
    EXPECT_TRUE(preview().isOpen());
}

TEST_F(ModifyMidiTabTest, AFileThePlayerCannotOpenLeavesThePreviousFileInPlace)
{
    openThroughDialog(songPath);
    const fs::path other = writeFile("other.mid", threeTrackSong());
    preview().failNextOpen("The player cannot play \"other.mid\".");

    openThroughDialog(other);

    ASSERT_EQ(ui.messages.texts(), QStringList{"The player cannot play \"other.mid\"."});
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::None);
    EXPECT_EQ(state.MidiSourcePath, songPath.string());
    EXPECT_EQ(state.MidiDisplayName, "song");
    EXPECT_EQ(preview().fileName(), songPath);
    EXPECT_TRUE(preview().isOpen());
    EXPECT_TRUE(tab->DataRepeater1->isVisibleTo(tab.get()));
    EXPECT_TRUE(tab->Command5->isEnabled());
}

TEST_F(ModifyMidiTabTest, ASongThePlayerTimesAsEmptyIsRefused)
{
    openThroughDialog(songPath, 0);
    ASSERT_EQ(ui.messages.texts(), QStringList{"The MIDI file \"song.mid\" has nothing to play."});
    EXPECT_EQ(state.MidiSourcePath, "");
    EXPECT_FALSE(tab->Command11->isEnabled());
}

TEST_F(ModifyMidiTabTest, HandOffModeOpensTheListsFileUnderTheRingToneName)
{
    test::SmfBuilder tone(0, kDivision);
    tone.track().programChange(0, 2, 19).noteOn(0, 2, 60, 90).noteOff(480, 2, 60).endOfTrack(0);
    tone.trailer(Bytes{'@'});
    writeFile("home/" + std::string(kModifyExportFileName), tone.build());
    state.PendingImportName = "Ring (2)";
    tab->Command5Tag = kModifyExportTag;
    preview().setLength(500);

    tab->Command5_Click();

    EXPECT_TRUE(ui.dialogs.calls.empty());
    EXPECT_TRUE(ui.messages.shown.empty()) << ui.messages.texts().join("\n").toStdString();
    EXPECT_EQ(tab->Command5Tag, "");
    EXPECT_EQ(tab->lblMIDIName->text(), "File: Ring");
    EXPECT_EQ(state.MidiDisplayName, "Ring");
    EXPECT_EQ(state.MidiSourcePath, (home() / kModifyExportFileName).string());
    EXPECT_EQ(tab->txtMaxTicks->text(), "480");
    EXPECT_EQ(editor(2).MIDIPatchP(), 19);
    ASSERT_TRUE(tab->openedSummary().has_value());
    EXPECT_FALSE(tab->openedSummary()->stoppedEarly);

    // The next click asks again.
    ui.dialogs.cancel();
    tab->Command5->click();
    EXPECT_EQ(ui.dialogs.calls.size(), 1u);
}

TEST_F(ModifyMidiTabTest, ARefusedHandOffPutsThePreviousFileBackInThePlayer)
{
    openThroughDialog(songPath);
    // The list's "Modify MIDI" releases the preview before it writes its file.
    ASSERT_TRUE(tab->MMControl1->command("stop").ok());
    ASSERT_TRUE(tab->MMControl1->command("close").ok());
    writeFile("home/" + std::string(kModifyExportFileName), asBytes("not a song"));
    state.PendingImportName = "Broken";
    tab->Command5Tag = kModifyExportTag;

    tab->Command5_Click();

    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_EQ(ui.messages.shown[0].text.toStdString(), readMidiFile(home() / kModifyExportFileName).error());
    EXPECT_EQ(tab->lblMIDIName->text(), "File: song");
    EXPECT_TRUE(preview().isOpen());
    EXPECT_EQ(preview().fileName(), songPath);
    EXPECT_EQ(tab->Command5Tag, "");
}

TEST_F(ModifyMidiTabTest, ApplyWritesTheEditedSongToHeadAndPlaysIt)
{
    openThroughDialog(songPath);
    editor(0).spnOctave->setValue(1);
    editor(0).cboPatch->setCurrentIndex(editor(0).cboPatch->findData(40));
    editor(0).spnVolume->setValue(-20);
    QSignalSpy running(tab.get(), &ModifyMidiTab::rewriteRunning);
    bool progressShown = false;
    bool startButtonsOff = false;
    QTimer::singleShot(0, tab.get(), [&] {
        progressShown = tab->progressDialog->isVisible();
        startButtonsOff = !tab->Command11->isEnabled() && !tab->Command5->isEnabled();
    });

    apply();

    EXPECT_TRUE(ui.messages.shown.empty()) << ui.messages.texts().join("\n").toStdString();
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(startButtonsOff);
    EXPECT_FALSE(tab->progressDialog->isVisible());
    ASSERT_EQ(running.count(), 2);
    EXPECT_TRUE(running.at(0).at(0).toBool());
    EXPECT_FALSE(running.at(1).at(0).toBool());

    EXPECT_EQ(state.ResultFilePath, head().string());
    const Bytes written = readFile(head());
    Result<MidiFileSummary> reread = readMidiFile(ByteView(written));
    ASSERT_TRUE(reread.ok()) << reread.error();
    EXPECT_EQ(reread->trackCount, 3);
    EXPECT_EQ(reread->tracksRead, 3);
    EXPECT_EQ(reread->lengthTicks, kSongTicks);
    EXPECT_EQ(reread->programs[0], 40);
    EXPECT_EQ(reread->programs[9], 0);
    // Keys one octave up; volume 100 lowered by 20; after the program change the inserted
    // volume controller carries the offset limited to 0.
    EXPECT_TRUE(contains(written, {0x90, 72, 100}));
    EXPECT_FALSE(contains(written, {0x90, 60, 100}));
    EXPECT_TRUE(contains(written, {0xC0, 40, 0x00, 0xB0, 0x07, 0x00}));
    EXPECT_TRUE(contains(written, {0xB0, 0x07, 80}));

    EXPECT_THAT(result().calls(), ElementsAre("Close", "Enabled=0", "Enabled=1", "DeviceType=Sequencer",
                                              "FileName=" + head().string(), "Open", "Play"));
    EXPECT_TRUE(tab->Command8->isEnabled());
    EXPECT_TRUE(tab->Command17->isEnabled());
    EXPECT_TRUE(tab->Command11->isEnabled());
    EXPECT_TRUE(state.RowCommitFlag);
}

TEST_F(ModifyMidiTabTest, ApplyKeepsOnlyTheStretchBetweenTheMarks)
{
    openThroughDialog(songPath);
    tab->txtMarkStartMSec->setText("500");
    tab->txtMarkEndMSec->setText("1500");

    apply();

    ASSERT_TRUE(ui.messages.shown.empty()) << ui.messages.texts().join("\n").toStdString();
    Result<MidiFileSummary> reread = readMidiFile(head());
    ASSERT_TRUE(reread.ok()) << reread.error();
    EXPECT_EQ(reread->tracksRead, 3);
    // Ticks 480 to 1440 of the melody are kept, moved to the start.
    EXPECT_EQ(reread->lengthTicks, 960);
    EXPECT_EQ(reread->programs[0], 5);
}

TEST_F(ModifyMidiTabTest, RowEditsMadeWhileApplyRunsAreKept)
{
    openThroughDialog(songPath);
    QTimer::singleShot(0, tab.get(), [&] { editor(3).spnVelocity->setValue(15); });

    apply();

    ASSERT_TRUE(ui.messages.shown.empty()) << ui.messages.texts().join("\n").toStdString();
    EXPECT_EQ(editor(3).MIDIVelocityP(), 15);
    Result<ChannelTable> stored = ChannelTable::open();
    ASSERT_TRUE(stored.ok()) << stored.error();
    Result<std::vector<ChannelAdjustment>> rows = stored->rows();
    ASSERT_TRUE(rows.ok()) << rows.error();
    EXPECT_EQ((*rows)[3].Velocity, 15);
}

TEST_F(ModifyMidiTabTest, ASecondApplyStartsFromAnEmptyResult)
{
    openThroughDialog(songPath);
    apply();
    const Bytes first = readFile(head());
    apply();
    EXPECT_EQ(readFile(head()), first);
}

TEST_F(ModifyMidiTabTest, EachBadMarkIsRefusedBeforeAnythingIsTouched)
{
    openThroughDialog(songPath);
    result().clearCalls();
    QSignalSpy running(tab.get(), &ModifyMidiTab::rewriteRunning);
    struct Case {
        const char* start;
        const char* end;
        QString message;
    };
    const std::vector<Case> cases = {
        {"-5", "2000", kStartMarkBelowZeroMessage},
        {"2000", "1000", kStartMarkPastEndMessage},
        {"0", "2001", kEndMarkPastSongMessage},
        {"", "2000", "The mark \"\" is not a number of milliseconds."},
        {"0", "", "The mark \"\" is not a number of milliseconds."},
    };
    for (const Case& c : cases) {
        ui.messages.clear();
        tab->txtMarkStartMSec->setText(c.start);
        tab->txtMarkEndMSec->setText(c.end);
        apply();
        ASSERT_EQ(ui.messages.shown.size(), 1u) << c.start << ".." << c.end;
        EXPECT_EQ(ui.messages.shown[0].text, c.message);
        EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::Exclamation);
    }
    EXPECT_FALSE(fs::exists(head()));
    EXPECT_TRUE(result().calls().empty());
    EXPECT_EQ(running.count(), 0);
    EXPECT_TRUE(tab->Command11->isEnabled());
    EXPECT_TRUE(state.RowCommitFlag);
}

TEST_F(ModifyMidiTabTest, TheMarkFieldsTakeWholeNumbersOnly)
{
    QLineEdit* mark = tab->txtMarkStartMSec;
    mark->setFocus();
    for (const char* text : {"12.5", "abc", "1e3"}) {
        mark->clear();
        QTest::keyClicks(mark, text);
        EXPECT_THAT(mark->text().toStdString(), ::testing::Not(HasSubstr(text))) << text;
    }
    mark->clear();
    QTest::keyClicks(mark, "-1500");
    EXPECT_EQ(mark->text(), "-1500");
}

TEST_F(ModifyMidiTabTest, CancelStopsTheRunAndLeavesNoResultToSaveOrLoad)
{
    openThroughDialog(songPath);
    apply();
    ASSERT_TRUE(tab->Command8->isEnabled());
    const auto fullSize = fs::file_size(head());
    result().clearCalls();
    QSignalSpy running(tab.get(), &ModifyMidiTab::rewriteRunning);
    QTimer::singleShot(0, tab.get(), [&] { tab->progressDialog->CancelButton->click(); });

    apply();

    EXPECT_TRUE(ui.messages.shown.empty()) << ui.messages.texts().join("\n").toStdString();
    EXPECT_FALSE(tab->progressDialog->isVisible());
    ASSERT_EQ(running.count(), 2);
    EXPECT_FALSE(running.at(1).at(0).toBool());
    // head holds the header and whatever tracks were finished, never the whole song.
    const Bytes partial = readFile(head());
    EXPECT_LT(partial.size(), fullSize);
    EXPECT_GE(partial.size(), 14u);
    EXPECT_EQ(Bytes(partial.begin(), partial.begin() + 4), (Bytes{'M', 'T', 'h', 'd'}));
    EXPECT_THAT(result().calls(), ElementsAre("Close", "Enabled=0"));
    EXPECT_FALSE(tab->Command8->isEnabled());
    EXPECT_FALSE(tab->Command17->isEnabled());
    EXPECT_TRUE(tab->Command11->isEnabled());
    EXPECT_TRUE(state.RowCommitFlag);
}

TEST_F(ModifyMidiTabTest, SaveCopiesTheResultToTheChosenFile)
{
    openThroughDialog(songPath);
    apply();
    writeFile("home/midi/song.mid", asBytes("taken"));
    const fs::path target = path("out/cropped.mid");
    fs::create_directories(target.parent_path());
    ui.dialogs.answer(target);

    tab->Command8->click();

    ASSERT_EQ(ui.dialogs.calls.size(), 2u);
    const FileDialogRequest& request = ui.dialogs.calls[1].request;
    EXPECT_EQ(ui.dialogs.calls[1].kind, test::DialogKind::Save);
    EXPECT_EQ(request.title, "Save MIDI File");
    EXPECT_EQ(request.filter, "MIDI File (*.mid)|*.mid");
    EXPECT_EQ(request.fileName, qtPath(home() / "midi" / "song (1).mid"));
    EXPECT_TRUE(ui.messages.shown.empty());
    EXPECT_EQ(readFile(target), readFile(head()));
}

TEST_F(ModifyMidiTabTest, ACancelledOrFailedSaveLeavesNoFile)
{
    openThroughDialog(songPath);
    apply();
    const fs::path outFolder = path("out");
    fs::create_directories(outFolder);

    ui.dialogs.cancel();
    tab->Command8->click();
    EXPECT_TRUE(ui.messages.shown.empty());

    setFileFaultHook([&](FileOp op, const fs::path& file) {
        return op == FileOp::Write && file.parent_path() == outFolder ? ENOSPC : 0;
    });
    ui.dialogs.answer(outFolder / "cropped.mid");
    tab->Command8->click();
    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_THAT(ui.messages.shown[0].text.toStdString(), HasSubstr(systemMessage(ENOSPC)));
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::None);
    EXPECT_TRUE(listFolder(outFolder).empty());
}

TEST_F(ModifyMidiTabTest, LoadMidiFileHandsTheResultToTheListAndStopsItsPlayer)
{
    openThroughDialog(songPath);
    apply();
    QSignalSpy requested(tab.get(), &ModifyMidiTab::loadMidiFileRequested);
    result().clearCalls();

    tab->Command17->click();

    EXPECT_EQ(requested.count(), 1);
    EXPECT_EQ(result().commands(), Calls{"stop"});
}

TEST_F(ModifyMidiTabTest, MarkButtonsCopyThePlayersPosition)
{
    openThroughDialog(songPath);
    preview().setPosition(700);
    tab->Command9->click();
    preview().setPosition(kSongMs);
    tab->Command10->click();
    EXPECT_EQ(tab->txtMarkStartMSec->text(), "700");
    EXPECT_EQ(tab->txtMarkEndMSec->text(), "2000");
}

TEST_F(ModifyMidiTabTest, GotoButtonsLeaveThePlayerStoppedAtTheMark)
{
    openThroughDialog(songPath);
    tab->txtMarkStartMSec->setText("0");
    tab->txtMarkEndMSec->setText("1200");
    preview().clearCalls();

    tab->Command16->click();
    tab->Command15->click();

    EXPECT_EQ(preview().calls(), (Calls{"Stop", "From=1200", "Play", "Stop", "Stop", "From=0", "Play", "Stop"}));
    EXPECT_EQ(preview().position(), 0);
    EXPECT_FALSE(preview().isPlaying());

    // A mark that is not a number says so and leaves the player where it is.
    tab->txtMarkEndMSec->setText("");
    preview().clearCalls();
    tab->Command16->click();
    EXPECT_EQ(preview().calls(), Calls{"Stop"});
    EXPECT_EQ(ui.messages.texts(), QStringList{"The mark \"\" is not a number of milliseconds."});
}

TEST_F(ModifyMidiTabTest, DraggingTheSliderMovesThePlayerButItsArrowsDoNot)
{
    openThroughDialog(songPath, 12345);
    preview().clearCalls();

    tab->HScroll1->setSliderDown(true);
    tab->HScroll1->setSliderPosition(50);
    tab->HScroll1->setSliderDown(false);
    EXPECT_EQ(preview().calls(), (Calls{"Stop", "From=6172", "Play", "Stop"}));

    preview().clearCalls();
    tab->HScroll1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(tab->HScroll1->value(), 51);
    EXPECT_TRUE(preview().calls().empty());
}

TEST_F(ModifyMidiTabTest, ThePositionReportShowsMillisecondsTicksAndSlider)
{
    openThroughDialog(songPath, 4000);
    ASSERT_EQ(tab->txtMaxTicks->text(), "1920");

    preview().setPosition(1000);
    preview().raiseStatusUpdate();
    EXPECT_EQ(tab->txtCurrentMSec->text(), "1000");
    EXPECT_EQ(tab->txtCurrentTicks->text(), "480");
    EXPECT_EQ(tab->HScroll1->value(), 25);

    preview().setPosition(0);
    preview().raiseStatusUpdate();
    EXPECT_EQ(tab->txtCurrentMSec->text(), "0");
    EXPECT_EQ(tab->txtCurrentTicks->text(), "");
    EXPECT_EQ(tab->HScroll1->value(), 0);
}

TEST(ModifyMidiTabConversions, RoundAsTheTransportShowsThem)
{
    EXPECT_EQ(ModifyMidiTab::sliderPercent(7500, 30000), 25);
    EXPECT_EQ(ModifyMidiTab::sliderPercent(125, 1000), 12);  // 12.5 to the even 12
    EXPECT_EQ(ModifyMidiTab::sliderPercent(135, 1000), 14);  // 13.5 to the even 14
    EXPECT_EQ(ModifyMidiTab::sliderTarget(12345, 50), 6172);
    EXPECT_EQ(ModifyMidiTab::sliderTarget(12347, 50), 6174);  // 6173.5 to the even 6174
    EXPECT_EQ(ModifyMidiTab::sliderTarget(0, 50), 0);
    // Lengths beyond what 32 bits hold after multiplying by 100 still come out right.
    EXPECT_EQ(ModifyMidiTab::sliderTarget(30'000'000, 100), 30'000'000);
    EXPECT_EQ(ModifyMidiTab::ticksText(1000, 1920, 4000), "480");
    EXPECT_EQ(ModifyMidiTab::ticksText(1, 1920, 4000), "");      // 0.48 rounds to nothing
    EXPECT_EQ(ModifyMidiTab::ticksText(625, 1, 1250), "1");      // a half rounds away from zero
}

TEST_F(ModifyMidiTabTest, TheResultPlayerRewindsAtTheEnd)
{
    openThroughDialog(songPath);
    apply();
    result().clearCalls();
    result().setPosition(result().length());
    result().raiseStatusUpdate();
    EXPECT_EQ(result().commands(), Calls{"Prev"});

    result().clearCalls();
    result().setPosition(10);
    result().raiseStatusUpdate();
    EXPECT_TRUE(result().commands().empty());
}

TEST_F(ModifyMidiTabTest, RowEditsReachTheRewriteOnlyWhereTheyChangeSomething)
{
    openThroughDialog(songPath);
    // Choosing "none" on a channel whose file has a program keeps the file's program.
    editor(9).cboPatch->setCurrentIndex(0);
    apply();
    Result<MidiFileSummary> reread = readMidiFile(head());
    ASSERT_TRUE(reread.ok()) << reread.error();
    EXPECT_EQ(reread->programs[9], 0);
    // With no change asked for, the song comes out as it went in.
    EXPECT_EQ(readFile(head()), threeTrackSong());
}

}  // namespace
}  // namespace chwr
