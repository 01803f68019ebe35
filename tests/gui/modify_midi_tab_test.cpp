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

bool contains(const Bytes& haystack, const Bytes& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

const QString kOpened = "Command5 Command9 Command10 Command15 Command16 Command11";
const QString kWithResult = kOpened + " Command8 Command17";

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
    // "Open File" on a file that the preview player times as lengthMs.
    void open(const fs::path& file, std::int64_t lengthMs = 2000)
    {
        ui.answer(file);
        preview().setLength(lengthMs);
        modify().Command5->click();
    }
    void apply(const QString& start, const QString& end)
    {
        modify().txtMarkStartMSec->setText(start);
        modify().txtMarkEndMSec->setText(end);
        modify().Command11->click();
    }
    ScriptedPlayer& preview() { return player(modify().MMControl1); }
    ScriptedPlayer& result() { return player(modify().MMControl3); }
    fs::path head() const { return home() / "head"; }
    MIDIAdjustControl& editor(int row) { return *modify().DataRepeater1->editors().at(std::size_t(row)); }
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
              "Open: Open MIDI File, MIDI File (*.mid)|*.mid, " + home().string() + "/midi/, ");
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
    const fs::path handOff = writeFile("home/" + std::string(kModifyExportFileName), bytesOf("not a song"));
    const auto refusedHandOff = [&] {
        // The list's "Modify MIDI" closes the preview before it writes its file.
        (void)modify().MMControl1->command("close");
        modify().Command5Tag = kModifyExportTag;
        modify().Command5_Click();
    };
    const std::vector<std::tuple<const char*, std::function<void()>, std::string>> cases = {
        {"a cancelled dialog", [&] { ui.cancel(), modify().Command5->click(); }, ""},
        {"the reader refuses", [&] { open(broken); }, readMidiFile(broken).error()},
        {"the player refuses", [&] { preview().failNextOpen("No."), open(other); }, "No."},
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
    EXPECT_EQ(said(), "Exclamation: The mark \"\" is not a number of milliseconds.");
    preview().setPosition(1000);
    preview().raiseStatusUpdate();
    EXPECT_EQ(shown().section(", ", 3, 8) + QString(" %1").arg(modify().HScroll1->value()),
              "700, , 1000, 960, 2000, 1920 50");
    preview().setPosition(0);
    preview().raiseStatusUpdate();
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

// Apply checks the marks before it touches anything and crops the song between them. It
// rewrites the song with the rows' edits under the progress window, holds the list's
// reload and hand-off back for the run, and plays the result. Cancel, or closing the main
// window, stops a run and leaves no result to save or load.
TEST_F(ModifyMidi, ApplyChecksTheMarksAndRewritesUnderAProgressWindowThatCancels)
{
    start();
    result().clearCalls();
    const std::string notANumber = "Exclamation: The mark \"\" is not a number of milliseconds.";
    for (const auto& [from, to, message] : std::vector<std::tuple<QString, QString, std::string>>{
             {"-5", "2000", "Exclamation: Starting mark cannot be a value less than 0."},
             {"2000", "1000", "Exclamation: Starting mark cannot exceed the Ending mark."},
             {"0", "2001", "Exclamation: End Mark cannot exceed the length of the MIDI Song."},
             {"", "2000", notANumber},
             {"0", "", notANumber}}) {
        apply(from, to);
        EXPECT_EQ(said(), message);
    }
    EXPECT_FALSE(fs::exists(head()));
    EXPECT_TRUE(result().calls().empty());
    EXPECT_EQ(buttons(), kOpened);
    // 500 to 1500 ms keeps ticks 480 to 1440; with no edit, the song comes out as it went in.
    apply("500", "1500");
    EXPECT_EQ(readMidiFile(head())->lengthTicks, 960);
    apply("0", "2000");
    EXPECT_EQ(readFile(head()), threeTrackSong());
    EXPECT_EQ(said(), "");

    editor(0).spnOctave->setValue(1);
    result().clearCalls();
    QString during;
    QTimer::singleShot(0, &modify(), [&] {
        const Dialog& progress = *modify().progressDialog;
        during = QString("%1, %2, %3, %4")
                     .arg(progress.isVisible())
                     .arg(progress.Label1->text())
                     .arg(load().Command1->isEnabled())
                     .arg(buttons());
        load().Command14_Click();
        // An edit made during the run waits for its end.
        editor(3).spnVelocity->setValue(15);
    });
    apply("0", "2000");
    EXPECT_EQ(during, "1, Processing Track 1 ..., 0, Command9 Command10 Command15 Command16");
    EXPECT_EQ(said(), "");
    EXPECT_FALSE(modify().progressDialog->isVisible() || !load().Command1->isEnabled());
    const Bytes full = readFile(head());
    EXPECT_TRUE(contains(full, {0x90, 72, 100}) && !contains(full, {0x90, 60, 100}));
    EXPECT_EQ(ChannelTable::open()->rows()->at(3).Velocity, 15);
    EXPECT_EQ(result().calls(), (Calls{"Close", "Enabled=0", "Enabled=1", "DeviceType=Sequencer",
                                       "FileName=" + head().string(), "Open", "Play"}));
    EXPECT_EQ(buttons(), kWithResult);
    // The result rewinds at its end.
    result().clearCalls();
    result().setPosition(10);
    result().raiseStatusUpdate();
    EXPECT_TRUE(result().commands().empty());
    result().setPosition(result().length());
    result().raiseStatusUpdate();
    EXPECT_EQ(result().commands(), Calls{"Prev"});

    const std::vector<std::pair<const char*, std::function<void()>>> cancels = {
        {"Cancel", [&] { modify().progressDialog->CancelButton->click(); }},
        {"close", [&] { form->close(); }}};
    for (const auto& [name, cancel] : cancels) {
        SCOPED_TRACE(name);
        result().clearCalls();
        QTimer::singleShot(0, &modify(), cancel);
        modify().Command11->click();
        EXPECT_EQ(said(), "");
        EXPECT_FALSE(modify().progressDialog->isVisible());
        const Bytes partial = readFile(head());
        EXPECT_LT(partial.size(), full.size());
        EXPECT_EQ(asString(ByteView(partial).first(4)), "MThd");
        EXPECT_EQ(result().commands(), Calls{"Close"});
        EXPECT_EQ(buttons(), kOpened);
    }
}

// The second road: a ring tone through "Modify MIDI", Apply, Save and back into the list.
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
    EXPECT_EQ(form->SSTab1->currentIndex(), 1);
    EXPECT_EQ(modify().lblMIDIName->text() + modify().Command5Tag, "File: Ring");
    // The players let go of their files before the hand-off file is replaced.
    EXPECT_EQ(preview().commands(), (Calls{"stop", "close", "Close", "Open"}));
    EXPECT_EQ(player(load().MMControl2).commands().back(), "stop");

    editor(0).spnOctave->setValue(1);
    modify().Command11->click();
    const Bytes modified = readFile(head());
    EXPECT_TRUE(contains(modified, {0x90, 84, 100}) && !contains(modified, {0x90, 72, 100}));
    // Save proposes the ring tone's name, with a counter where it is taken.
    writeFile("home/midi/Ring.mid", bytesOf("taken"));
    ui.answer(home() / "midi" / "Ring (1).mid");
    modify().Command8->click();
    EXPECT_EQ(ui.dialogs.at(0),
              "Save: Save MIDI File, MIDI File (*.mid)|*.mid, , " + (home() / "midi/Ring (1).mid").string());
    EXPECT_EQ(readFile(home() / "midi" / "Ring (1).mid"), modified);
    ui.cancel();
    modify().Command8->click();
    setFileFaultHook([](FileOp op, const fs::path&) { return op == FileOp::Write ? ENOSPC : 0; });
    ui.answer(path("out.mid"));
    modify().Command8->click();
    setFileFaultHook({});
    EXPECT_FALSE(fs::exists(path("out.mid")));
    EXPECT_THAT(said(), HasSubstr(systemMessage(ENOSPC)));

    // "Load MIDI File": the result joins the list under the ring tone's stem.
    modify().Command17->click();
    EXPECT_EQ(form->SSTab1->currentIndex(), 0);
    EXPECT_EQ(result().commands().back(), "stop");
    modify().Command17->click();
    EXPECT_EQ(column(0), (QStringList{"Morning", "Ring (2)", "Ring", "Ring (1)"}));
    load().Command7->click();
    EXPECT_EQ(written().at(2), std::make_pair(std::string("Ring"), marked(modified)));
}

} // namespace
} // namespace chwr::test
