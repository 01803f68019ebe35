#include "tests/gui/gui_fixture.h"

namespace chwr::test {
namespace {
using LoadMidi = GuiTest;
using Tones = std::vector<std::pair<std::string, Bytes>>;

// "Update" writes the file the list came from, and only while nobody changed it since:
// not a file the Setup tab names by then, not over another program's write.
TEST_F(LoadMidi, UpdateWritesOnlyTheFileItLoadedAsItWasLoaded)
{
    openAndLoad();
    const Bytes other = PdbBuilder().ringTone("Other", smallSong()).build();
    writeFile("Treo/MIDI_Ring_Tones.PDB", other);
    load().Command7_Click();
    EXPECT_THAT(said(), AllOf(StartsWith("Critical: "), HasSubstr("changed on disk since it was loaded")));
    EXPECT_EQ(readFile(database), other);

    load().Command1->click();
    form->location().selectOption(1);
    form->location().setPathText(path("elsewhere.PDB").string());
    load().Command7_Click();
    EXPECT_THAT(said(), StartsWith("Information: "));
    EXPECT_FALSE(fs::exists(path("elsewhere.PDB")));
    EXPECT_NE(readFile(database), other);
    load().Command7_Click();
    EXPECT_THAT(said(), StartsWith("Information: ")) << "a second update expects the file it wrote";
}

// Each action that lacks what it needs says why in the system's own words and changes
// nothing: no row, no button, no file, no tab switch, no hand-off.
TEST_F(LoadMidi, ActionsThatLackWhatTheyNeedSayWhyAndChangeNothing)
{
    const std::string notLoaded = "No MIDI Ring Tones loaded.";
    const std::string notSelected = "No Ring Tone selected.";
    installPalmDesktop({});
    const auto loadMissing = [&] {
        form->location().selectOption(1);
        form->location().setPathText(path("none.PDB").string());
        load().Command1->click();
    };
    const auto loadResult = [&] {
        form->midiState().ResultFilePath = writeFile("big.mid", midiFileOfSize(64001)).string();
        form->SSTab1->setCurrentIndex(1);
        modify().Command17_Click();
    };
    const std::vector<std::tuple<const char*, bool, std::function<void()>, std::string>> cases = {
        {"add before a load", false, [&] { load().Command2_Click(); }, notLoaded},
        {"click on the empty list", false, [&] { clickRow(-1); }, notLoaded},
        {"load without a HotSync user", false, [&] { load().Command1->click(); },
         "No HotSync user is selected: choose one under \"Hotsync ID (shortname):\", or choose the database "
         "file under \"Path:\"."},
        {"load a missing database", false, loadMissing,
         "The MIDI Ring Tone database does not exist for this user: " + path("none.PDB").string()},
        {"click below the rows", true, [&] { clickRow(-1); }, notSelected},
        {"export without a row", true, [&] { load().Command13_Click(); }, notSelected},
        {"modify without a row", true, [&] { load().Command14_Click(); }, notSelected},
        {"load a result over 64000 bytes", true, loadResult,
         "This MIDI file is larger than 64k and cannot be imported."},
    };
    for (const auto& [name, loaded, act, message] : cases) {
        SCOPED_TRACE(name);
        loaded ? openAndLoad() : openWindow();
        said();
        act();
        EXPECT_EQ(said(), "Exclamation: " + message);
        EXPECT_EQ(list().topLevelItemCount(), loaded ? 2 : 0);
        EXPECT_EQ(load().Command1->text(), loaded ? "Reload Current Ring Tones" : "Load Current Ring Tones");
        EXPECT_EQ(load().Command2->isEnabled() && load().Command7->isEnabled(), loaded);
        EXPECT_FALSE(load().Command13->isEnabled());
        EXPECT_EQ(form->SSTab1->currentIndex(), 0);
        EXPECT_FALSE(fs::exists(home() / kPreviewFileName) || fs::exists(home() / kModifyExportFileName));
        // The hand-off of "Load MIDI File" is one-shot: the next add asks for a file.
        EXPECT_EQ(form->midiState().PendingImportPath, "");
    }
}

// The first road: a MIDI file added to the list under a free name is written to the
// database, the earlier database kept as the backup, and handed to the HotSync tool. A
// load that fails afterwards drops the list.
TEST_F(LoadMidi, AnAddedMidiFileIsWrittenToTheDatabaseAndAFailedLoadDropsTheList)
{
    openAndLoad();
    EXPECT_EQ(column(1), (QStringList{QString::number(smallSong(0, 60).size()),
                                      QString::number(smallSong(10, 72).size() + 1)}));
    EXPECT_EQ(column(2), (QStringList{"", "x"}));
    ui.cancel();
    load().Command2->click();
    EXPECT_EQ(ui.dialogs.at(0),
              "Open: Add MIDI File, MIDI File (*.mid)|*.mid, " + (home() / "midi").string() + ", ");
    const Bytes song = smallSong(40);
    addFile(writeFile("songs/Morning.mid", song));
    EXPECT_EQ(column(0), (QStringList{"Morning", "Ring (2)", "Morning (1)"}));
    EXPECT_EQ(load().selectedRow(), 2u);

    const Bytes original = readFile(database);
    load().Command7->click();
    EXPECT_EQ(said(),
              "Information: HotSync your device to update your Ring Tones.\n\nQueued for the next HotSync.");
    EXPECT_EQ(written(), (Tones{{"Morning", smallSong(0, 60)},
                                {"Ring (2)", marked(smallSong(10, 72))},
                                {"Morning (1)", marked(song)}}));
    // With a database file chosen by path, the backup goes to the program's folder.
    EXPECT_EQ(readFile(home() / "MIDI_Ring_Tones.bak"), original);
    EXPECT_EQ(ui.installed, std::vector<fs::path>{database});

    // A write that fails leaves the database as it was and says why.
    const Bytes before = readFile(database);
    setFileFaultHook([](FileOp op, const fs::path&) { return op == FileOp::Rename ? ENOSPC : 0; });
    load().Command7->click();
    setFileFaultHook({});
    EXPECT_THAT(said(), AllOf(StartsWith("Critical: "), HasSubstr("No space left on device")));
    EXPECT_EQ(readFile(database), before);
    EXPECT_EQ(ui.installed.size(), 1u);
    // A database that cannot be read empties the list, and nothing is left to write over it.
    writeFile("Treo/MIDI_Ring_Tones.PDB", bytesOf("too short for a header"));
    load().Command1->click();
    EXPECT_THAT(said(), AllOf(StartsWith("Exclamation: "), HasSubstr("damaged")));
    EXPECT_EQ(list().topLevelItemCount(), 0);
    load().Command7_Click();
    EXPECT_EQ(said(), "Exclamation: No MIDI Ring Tones loaded.");
    EXPECT_EQ(readFile(database), bytesOf("too short for a header"));
    // A reload shows the file anew, names in the handheld's code page; one that is gone
    // empties the list.
    writeFile("Treo/MIDI_Ring_Tones.PDB", PdbBuilder().ringTone("Caf\xE9", smallSong()).build());
    load().Command1->click();
    EXPECT_EQ(column(0), QStringList{QString::fromUtf8("Caf\u00e9")});
    fs::remove(database);
    load().Command1->click();
    EXPECT_EQ(said(),
              "Exclamation: The MIDI Ring Tone database does not exist for this user: " + database.string());
    EXPECT_EQ(list().topLevelItemCount(), 0);
}

// A click on a ring tone plays its preview under the transport control, whose buttons
// and readout follow the player and which polls it while a file is open; a preview
// played to its end stands at its start again. The ring tone clicked is exported.
TEST_F(LoadMidi, AClickedRingTonePlaysUnderTheTransportControlAndIsExported)
{
    openAndLoad();
    MMControl& control = *load().MMControl2;
    ScriptedPlayer& preview = player(&control);
    auto* timer = control.findChild<QTimer*>();
    const auto transport = [&] {
        return QString("%1, %2, %3")
            .arg(enabled(control), control.positionLabel->text())
            .arg(timer->isActive() ? timer->interval() : 0);
    };
    preview.setLength(754321);
    preview.clearCalls();
    clickRow(1);
    const fs::path file = home() / kPreviewFileName;
    EXPECT_EQ(readFile(file), marked(smallSong(10, 72)));
    EXPECT_TRUE(control.isEnabled() && load().Command13->isEnabled() && load().Command14->isEnabled());
    EXPECT_EQ(preview.calls(), (Calls{"Enabled=1", "Close", "DeviceType=Sequencer",
                                      "FileName=" + file.string(), "Open", "Play"}));
    EXPECT_EQ(transport(), "PrevButton StopButton, 0:00.0 / 12:34.3, 1000");
    control.StopButton->click();
    preview.setPosition(7500);
    control.tick();
    EXPECT_EQ(transport(), "PrevButton PlayButton, 0:07.5 / 12:34.3, 1000");
    control.PrevButton->click();
    EXPECT_EQ(transport(), "PrevButton PlayButton, 0:00.0 / 12:34.3, 1000");
    control.PlayButton->click();
    EXPECT_EQ(preview.commands(), (Calls{"Close", "Open", "Play", "Stop", "Prev", "Play"}));
    control.setUpdateInterval(20);
    const int polls = preview.polls();
    EXPECT_TRUE(QTest::qWaitFor([&] { return preview.polls() > polls; }, 5000));

    preview.clearCalls();
    preview.setPosition(4000);
    preview.raiseStatusUpdate();
    EXPECT_TRUE(preview.commands().empty());
    preview.setPosition(preview.length());
    preview.raiseStatusUpdate();
    EXPECT_EQ(preview.commands(), Calls{"Prev"});
    ASSERT_TRUE(control.command("Close").ok());
    EXPECT_EQ(transport(), ", 0:00.0 / 0:00.0, 0");
    preview.failNextOpen("No General MIDI SoundFont is installed.");
    clickRow(0);
    EXPECT_EQ(said(), "Exclamation: No General MIDI SoundFont is installed.");
    EXPECT_EQ(readFile(file), smallSong(0, 60));

    // Export offers a free name in the MIDI folder and writes the data as stored.
    writeFile("home/midi/Morning.mid", bytesOf("taken"));
    ui.cancel();
    load().Command13->click();
    EXPECT_EQ(ui.dialogs.at(0), "Save: Export MIDI File, MIDI File (*.mid)|*.mid, , " +
                                    (home() / "midi/Morning (1).mid").string());
    ui.answer(path("Morning.mid"));
    load().Command13->click();
    EXPECT_EQ(readFile(path("Morning.mid")), smallSong(0, 60));
    ui.answer(path("no such folder/Morning.mid"));
    load().Command13->click();
    EXPECT_THAT(said(), StartsWith("Critical: "));
}

} // namespace
} // namespace chwr::test
