#include "tests/gui/gui_fixture.h"

namespace chwr::test {
namespace {

// Three tracks of 1920 ticks (2000 ms): tempo; a melody on channel 0 (program 5, volume 100,
// the quarters 60 62 64 65); drums on channel 9 (program 0, one note of two quarters).
Bytes threeTrackSong()
{
    SmfBuilder song(1, 480);
    song.track().tempo(0, 500000).endOfTrack(1920);
    TrackBuilder& melody = song.track().programChange(0, 0, 5).controlChange(0, 0, 7, 100);
    for (int key : {60, 62, 64, 65})
        melody.noteOn(0, 0, key, 100).noteOff(480, 0, key);
    melody.endOfTrack(0);
    song.track().programChange(0, 9, 0).noteOn(0, 9, 36, 90).noteOff(960, 9, 36).endOfTrack(0);
    return song.build();
}

const QString kOpened = "Command5 Command9 Command10 Command15 Command16 Command11";

// The "Modify MIDI" tab of the real window.
class ModifyMidi : public GuiTest {
protected:
    // The window with songs/song.mid opened through the dialog.
    void start()
    {
        songPath = writeFile("songs/song.mid", threeTrackSong());
        openWindow();
        said();
        preview().clearCalls();
        open(songPath);
    }
    ScriptedPlayer& result() { return player(modify().MMControl3); }
    fs::path head() const { return home() / "head"; }
    QString buttons() { return enabled(modify(), "Command"); }
    // Properties, crop numbers, rows with a program ("row:program"), row 0's octave, buttons.
    QString shown()
    {
        const ModifyMidiTab& t = modify();
        QStringList shown{t.lblMIDIName->text(),      t.lblMIDISize->text(),    t.lblMIDITracks->text(),
                          t.txtMarkStartMSec->text(), t.txtMarkEndMSec->text(), t.txtCurrentMSec->text(),
                          t.txtCurrentTicks->text(),  t.txtMaxMSec->text(),     t.txtMaxTicks->text()};
        for (int row = 0; row < 16; ++row)
            if (editor(row).MIDIPatchP() >= 0)
                shown.push_back(QString("%1:%2").arg(row).arg(editor(row).MIDIPatchP()));
        return shown.join(", ") + QString(", octave %1, ").arg(editor(0).MIDIOctaveP()) + buttons();
    }

    fs::path songPath;
};

// "Open File" shows the song's properties, its length and each channel's program; an open
// that is cancelled or fails changes nothing. The crop frame follows and moves the preview.
TEST_F(ModifyMidi, OpenShowsTheSongAndTheCropFrameFollowsItsPreview)
{
    start();
    EXPECT_EQ(ui.dialogs.at(0),
              "Open: Open MIDI File, MIDI File (*.mid)|*.mid, " + userHome().string() + ", ");
    EXPECT_EQ(shown(),
              QString("File: song, Size: %1, Tracks: 3, 0, 2000, 0, 0, 2000, 1920, 0:5, 9:0, octave 0, ")
                      .arg(threeTrackSong().size()) +
                  kOpened);
    EXPECT_EQ(preview().calls(), (Calls{"DeviceType=Sequencer", "Close", "FileName=" + songPath.string(),
                                        "Open", "UpdateInterval=100", "TimeFormat=0"}));
    // A cancelled or failed open keeps the tab, its rows and its player on the song.
    editor(0).spnOctave->setValue(1);
    const QString before = shown();
    const fs::path broken = writeFile("broken.mid", bytesOf("MThd"));
    const fs::path other = writeFile("other.mid", threeTrackSong());
    const fs::path handOff = writeFile("home/" + std::string(kModifyExportFileName), bytesOf("MThd"));
    const auto refusedHandOff = [&] {
        // The list's "Modify MIDI" closes the preview before it writes its file.
        (void)modify().MMControl1->command("close");
        modify().Command5Tag = kModifyExportTag;
        modify().Command5_Click();
    };
    const std::vector<std::tuple<const char*, std::function<void()>, std::string>> cases = {
        {"a cancelled dialog", [&] { open({}); }, ""},
        {"the reader refuses", [&] { open(broken); }, readMidiFile(broken).error()},
        {"the player refuses",
         [&] {
             preview().failNextOpen("No.");
             open(other);
         },
         "No."},
        {"nothing to play", [&] { open(other, 0); }, "The MIDI file \"other.mid\" has nothing to play."},
        {"a refused hand-off", refusedHandOff, readMidiFile(handOff).error()},
    };
    for (const auto& [name, act, message] : cases) {
        SCOPED_TRACE(name);
        act();
        EXPECT_EQ(said(), message);
        EXPECT_EQ(shown(), before);
        EXPECT_EQ(form->midiState().MidiSourcePath + form->midiState().MidiDisplayName,
                  songPath.string() + "song");
        EXPECT_TRUE(preview().fileName() == songPath && preview().isOpen() &&
                    modify().DataRepeater1->isVisibleTo(&modify()));
        EXPECT_EQ(modify().Command5Tag, "");
    }
    // The crop frame: marks from the player's position, going to a mark, the report, the slider.
    preview().setLength(2000);
    preview().setPosition(700);
    modify().Command9->click();
    preview().setPosition(1200);
    modify().Command10->click();
    preview().clearCalls();
    modify().Command15->click();
    modify().Command16->click();
    // A mark past the song goes to its end; one that is no number says so.
    for (const char* end : {"9999", ""}) {
        modify().txtMarkEndMSec->setText(end);
        modify().Command16->click();
    }
    EXPECT_EQ(preview().calls(), (Calls{"Stop", "From=700", "Play", "Stop", "Stop", "From=1200", "Play",
                                        "Stop", "Stop", "From=2000", "Play", "Stop", "Stop"}));
    EXPECT_EQ(said(), "Exclamation: The end mark \"\" is not a number of milliseconds.");
    reach(preview(), 1000);
    EXPECT_EQ(shown().section(", ", 3, 8) + QString(" %1").arg(modify().HScroll1->value()),
              "700, , 1000, 960, 2000, 1920 50");
    reach(preview(), 0);
    EXPECT_EQ(shown().section(", ", 3, 8), "700, , 0, , 2000, 1920");
    // Dragging the slider moves the player (halves to the even neighbour); its arrows do not.
    preview().setLength(12345);
    preview().clearCalls();
    modify().HScroll1->setSliderDown(true);
    modify().HScroll1->setSliderPosition(50);
    modify().HScroll1->setSliderDown(false);
    modify().HScroll1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(modify().HScroll1->value(), 51);
    EXPECT_EQ(preview().calls(), (Calls{"Stop", "From=6172", "Play", "Stop"}));
}

// Apply checks the marks first, then rewrites the song between them with the rows' edits under
// the progress window (the list waits) and plays the result; Cancel or closing stops a run.
TEST_F(ModifyMidi, ApplyChecksTheMarksAndRewritesUnderAProgressWindowThatCancels)
{
    start();
    result().clearCalls();
    for (const auto& [from, to, message] : std::vector<std::tuple<QString, QString, std::string>>{
             {"0", "2001", "Exclamation: End Mark cannot exceed the length of the MIDI Song."},
             {"", "2000", "Exclamation: The start mark \"\" is not a number of milliseconds."},
             {"0", "", "Exclamation: The end mark \"\" is not a number of milliseconds."}}) {
        apply(from, to);
        EXPECT_EQ(said(), message);
    }
    EXPECT_EQ(std::tuple(fs::exists(head()), result().calls().size(), buttons()),
              std::tuple(false, 0u, kOpened));
    // With no edit, the song comes out as it went in.
    apply("0", "2000");
    EXPECT_EQ(readFile(head()), threeTrackSong());
    editor(0).spnOctave->setValue(1);
    result().clearCalls();
    QString during;
    QTimer::singleShot(0, &modify(), [&] {
        const Dialog& progress = *modify().progressDialog;
        during = QString("%1, %2, ").arg(progress.isVisible()).arg(progress.Label1->text()) +
                 QString::number(load().Command1->isEnabled()) + ", " + buttons();
        load().Command14_Click();
        // An edit made during the run waits for its end.
        editor(3).spnVelocity->setValue(15);
    });
    apply("0", "2000");
    EXPECT_EQ(during, "1, Processing Track 1 ..., 0, Command9 Command10 Command15 Command16");
    EXPECT_FALSE(!said().empty() || modify().progressDialog->isVisible() || !load().Command1->isEnabled());
    const Bytes full = readFile(head());
    EXPECT_THAT(asString(full),
                AllOf(HasSubstr(std::string{'\x90', 72, 100}), Not(HasSubstr(std::string{'\x90', 60, 100}))));
    EXPECT_EQ(ChannelTable::open()->rows()->at(3).Velocity, 15);
    EXPECT_EQ(result().calls(), (Calls{"Close", "Enabled=0", "Enabled=1", "DeviceType=Sequencer",
                                       "FileName=" + head().string(), "Open", "Play"}));
    EXPECT_EQ(buttons(), kOpened + " Command8 Command17");
    // The result rewinds at its end, not before.
    result().clearCalls();
    reach(result(), 10);
    reach(result(), result().length());
    EXPECT_EQ(result().commands(), Calls{"Prev"});
    // What a cancelled run leaves in head is the rewriter's own test.
    const std::vector<std::pair<const char*, std::function<void()>>> cancels = {
        {"Cancel", [&] { modify().progressDialog->CancelButton->click(); }},
        {"close", [&] { form->close(); }}};
    for (const auto& [name, cancel] : cancels) {
        SCOPED_TRACE(name);
        result().clearCalls();
        QTimer::singleShot(0, &modify(), cancel);
        modify().Command11->click();
        EXPECT_FALSE(!said().empty() || modify().progressDialog->isVisible() || readFile(head()) == full);
        EXPECT_EQ(std::pair(result().commands(), buttons()), std::pair(Calls{"Close"}, kOpened));
    }
}

// The second road: a ring tone through "Modify MIDI", Apply, Save and back into the list.
// Messages call the working files by what they hold.
TEST_F(ModifyMidi, ARingToneIsModifiedSavedAndLoadedBackIntoTheList)
{
    openAndLoad();
    clickRow(1);
    setFileFaultHook([](FileOp op, const fs::path&) { return op == FileOp::Write ? ENOSPC : 0; });
    load().Command14->click();
    setFileFaultHook({});
    EXPECT_THAT(said(), AllOf(StartsWith("Exclamation: "), HasSubstr(systemMessage(ENOSPC))));
    preview().clearCalls();
    load().Command14->click();
    EXPECT_EQ(said(), "");
    EXPECT_EQ(readFile(home() / kModifyExportFileName), marked(smallSong(10, 72)));
    EXPECT_EQ(modify().lblMIDIName->text() + modify().Command5Tag +
                  QString::number(form->SSTab1->currentIndex()),
              "File: Ring1");
    // The players let go of their files before the hand-off file is replaced.
    EXPECT_EQ(preview().commands(), (Calls{"stop", "close", "Close", "Open"}));
    EXPECT_EQ(player(load().MMControl2).commands().back(), "stop");
    editor(0).spnOctave->setValue(1);
    result().failNextOpen("Cannot play \"" + head().string() + "\": no.");
    modify().Command11->click();
    EXPECT_EQ(said(), "Cannot play the result: no.");
    const Bytes modified = readFile(head());
    // Save proposes the ring tone's name in the MIDI files' folder, with a counter where taken.
    writeFile("user/Ring.mid", bytesOf("taken"));
    ui.answer(userHome() / "Ring (1).mid");
    modify().Command8->click();
    EXPECT_EQ(ui.dialogs.at(0),
              "Save: Save MIDI File, MIDI File (*.mid)|*.mid, , " + (userHome() / "Ring (1).mid").string());
    EXPECT_EQ(readFile(userHome() / "Ring (1).mid"), modified);
    // A failed save names the file chosen, or the result, never a working file.
    for (const auto& [failing, error, message] : {std::tuple{FileOp::Write, ENOSPC, systemMessage(ENOSPC)},
                                                  {FileOp::OpenRead, EIO, std::string("the result")}}) {
        setFileFaultHook([&, failing = failing, error = error](FileOp op, const fs::path& p) {
            return op == failing && (op == FileOp::Write || p == head()) ? error : 0;
        });
        ui.answer(path("out.mid"));
        modify().Command8->click();
        setFileFaultHook({});
        EXPECT_FALSE(fs::exists(path("out.mid")));
        EXPECT_THAT(said(), AllOf(HasSubstr(message), ::testing::Not(HasSubstr(home().string())),
                                  ::testing::Not(HasSubstr(".chwr-"))));
    }
    // "Load MIDI File": the result joins the list under the ring tone's stem.
    modify().Command17->click();
    EXPECT_EQ(std::pair(form->SSTab1->currentIndex(), result().commands().back()),
              std::pair(0, std::string("stop")));
    modify().Command17->click();
    EXPECT_EQ(column(0), (QStringList{"Morning", "Ring (2)", "Ring", "Ring (1)"}));
    load().Command7->click();
    EXPECT_EQ(written().at(2), std::make_pair(std::string("Ring"), marked(modified)));
}

// Before an open, and after a refused one, the rows are empty though edits are stored; a
// dropped .mid, .midi or .rmi file opens, another kind is not taken.
TEST_F(ModifyMidi, NoRowsBeforeAnOpenAndADroppedMidiFileOpens)
{
    ASSERT_TRUE(ChannelTable::open()->save({1, 1, 3, std::nullopt, std::nullopt, std::nullopt}));
    openWindow();
    said();
    const auto blank = [&] {
        const auto& rows = modify().DataRepeater1->editors();
        return rows.size() == 16 && std::all_of(rows.begin(), rows.end(), [](MIDIAdjustControl* row) {
                   return !row->isEnabled() && row->spnOctave->text().isEmpty() &&
                          row->cboPatch->currentIndex() < 0;
               });
    };
    EXPECT_TRUE(blank());
    open(writeFile("notes.mid", bytesOf("This is a text file, not a song at all.")));
    EXPECT_EQ(said(), "The file \"notes.mid\" is not a Standard MIDI File.");
    EXPECT_TRUE(blank());
    const Bytes song = smallSong(7);
    Bytes riff = bytesOf("RIFF");
    for (const Bytes& part : {Bytes{std::uint8_t(song.size() + 12), 0, 0, 0}, bytesOf("RMIDdata"),
                              Bytes{std::uint8_t(song.size()), 0, 0, 0}, song})
        riff.insert(riff.end(), part.begin(), part.end());
    for (const auto& [name, bytes, opens] : std::vector<std::tuple<std::string, Bytes, bool>>{
             {"a.mid", song, true}, {"b.MIDI", song, true}, {"c.rmi", riff, true}, {"d.txt", song, false}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(drop(&modify(), {writeFile(name, bytes)}), std::pair(opens, opens));
        EXPECT_EQ(said(), "");
        EXPECT_EQ(modify().lblMIDIName->text().toStdString(),
                  opens ? "File: " + fs::path(name).stem().string() : "File:");
        modify().lblMIDIName->setText("File:");
    }
}

// A typed value is clamped on leaving its field. Every row's fields show in full, without a
// sideways scroll bar; a larger window widens only the table; Tab goes right, then down.
TEST_F(ModifyMidi, SpinBoxesClampTheRowsFitAndTabFollowsTheLayout)
{
    start();
    for (const auto& [box, typed] : {std::pair{editor(2).spnOctave, "99"},
                                     {editor(2).spnVelocity, "-200"},
                                     {editor(2).spnVolume, "99"}}) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, typed);
        QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(box, &leave);
    }
    const ChannelAdjustment row = ChannelTable::open()->rows()->at(2);
    EXPECT_EQ(std::make_tuple(*row.Octave, *row.Velocity, *row.Volume), std::make_tuple(10, -127, 99));
    const auto in = [](const QWidget* w, const QWidget* to) {
        return QRect(w->mapTo(to, QPoint()), w->size());
    };
    form->SSTab1->setCurrentIndex(1);
    QCoreApplication::processEvents();
    const QWidget* rows = modify().DataRepeater1->viewport();
    for (int row = 0; row < 16; ++row)
        EXPECT_TRUE(in(editor(row).cboPatch, rows).right() < rows->width()) << row;
    EXPECT_FALSE(modify().DataRepeater1->horizontalScrollBar()->isVisible());
    const QRect openButton = modify().Command5->geometry();
    modify().lblMIDIName->setText("File: " + QString(200, 'x'));
    QCoreApplication::processEvents();
    EXPECT_EQ(modify().Command5->geometry(), openButton);
    form->resize(form->width() * 2, form->height() * 2);
    QCoreApplication::processEvents();
    for (int row = 0; row < 16; ++row)
        EXPECT_TRUE(rows->rect().contains(in(editor(row).cboPatch, rows))) << row;
    for (QWidget* w :
         std::initializer_list<QWidget*>{modify().Command11, modify().cmdFitEnd, editor(0).cboPatch})
        EXPECT_EQ(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
    QWidget* from = modify().Command5;
    int stops = 0;
    for (QWidget* next = from->nextInFocusChain(); modify().isAncestorOf(next);
         next = next->nextInFocusChain()) {
        if (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisibleTo(&modify()))
            continue;
        const QRect a = in(from, &modify()), b = in(next, &modify());
        EXPECT_TRUE(b.center().y() <= a.bottom() ? b.left() >= a.left() : true)
            << from->objectName().toStdString() << " -> " << next->objectName().toStdString();
        EXPECT_GE(b.center().y(), a.top());
        from = next;
        ++stops;
    }
    EXPECT_GT(stops, 16 * 4);
}

// `notes` notes on one track, each after a volume controller that repeats the one before
// (which compaction leaves out); first `atStart` controllers of changing value at tick 0.
Bytes longSong(int notes, int atStart = 0)
{
    SmfBuilder song(0, 480);
    TrackBuilder& track = song.track().tempo(0, 500000).programChange(0, 0, 0);
    for (int i = 0; i < atStart; ++i)
        track.controlChange(0, 0, 10, i % 2);
    for (int i = 0; i < notes; ++i)
        track.controlChange(0, 0, 7, 100).noteOn(0, 0, 60 + i % 12, 100).noteOff(60, 0, 60 + i % 12);
    track.endOfTrack();
    return song.build();
}

// A file too large to add is offered to "Modify MIDI" with its end fitted (Yes only);
// "Compact" makes the result smaller; where no end fits, Fit End says why.
TEST_F(ModifyMidi, ARefusedAddOffersToFitTheFileAndCompactMakesTheResultSmaller)
{
    EXPECT_EQ(ModifyMidiTab::fitText(92881), "92,881 bytes: 28,881 over");
    openAndLoad();
    const fs::path big = writeFile("big.mid", longSong(10000));
    preview().setLength(readMidiFile(big)->lengthMilliseconds);
    for (int reply : {1, 0}) {
        ui.replies.push_back(reply);
        addFile(big);
        EXPECT_THAT(said(), AllOf(StartsWith("Exclamation: " + std::string(kMidiFileTooLargeMessage)),
                                  HasSubstr("Modify MIDI")));
        EXPECT_EQ(form->SSTab1->currentIndex(), reply == 0 ? 1 : 0);
    }
    EXPECT_EQ(modify().lblMIDIName->text(), "File: big");
    EXPECT_THAT(modify().lblSourceFit->text().toStdString(), ::testing::EndsWith(" over"));
    EXPECT_LT(modify().txtMarkEndMSec->text().toLongLong(), modify().txtMaxMSec->text().toLongLong());
    modify().Command11->click();
    EXPECT_LE(fs::file_size(head()), 64000u);
    EXPECT_EQ(said(), "");
    std::vector<std::uintmax_t> sizes;
    for (bool compact : {false, true}) {
        modify().chkCompact->setChecked(compact);
        apply("0", modify().txtMaxMSec->text());
        sizes.push_back(fs::file_size(head()));
        EXPECT_EQ(modify().lblResultFit->text(), "Result: " + ModifyMidiTab::fitText(sizes.back()));
    }
    EXPECT_TRUE(sizes[0] > 64000 && sizes[1] <= 64000);
    const fs::path crowded = writeFile("crowded.mid", longSong(10, 30000));
    open(crowded, readMidiFile(crowded)->lengthMilliseconds);
    EXPECT_EQ(std::pair(buttons(), result().isOpen()), std::pair(kOpened, false));
    modify().cmdFitEnd->click();
    EXPECT_THAT(said(), StartsWith("Exclamation: "));
    EXPECT_EQ(modify().txtMarkEndMSec->text(), modify().txtMaxMSec->text());
}

} // namespace
} // namespace chwr::test
