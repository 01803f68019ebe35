#include "tests/gui/gui_fixture.h"

namespace chwr::test {
namespace {
using LoadMidi = GuiTest;
using Tones = std::vector<std::pair<std::string, Bytes>>;
using ::testing::ElementsAre;

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
        EXPECT_EQ(load().Command1->text().remove('&'),
                  loaded ? "Reload Current Ring Tones" : "Load Current Ring Tones");
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
              "Open: Add MIDI File, MIDI File (*.mid)|*.mid, " + userHome().string() + ", ");
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
    writeFile("user/Morning.mid", bytesOf("taken"));
    ui.cancel();
    load().Command13->click();
    EXPECT_EQ(ui.dialogs.at(0), "Save: Export MIDI File, MIDI File (*.mid)|*.mid, , " +
                                    (userHome() / "Morning (1).mid").string());
    ui.answer(path("Morning.mid"));
    load().Command13->click();
    EXPECT_EQ(readFile(path("Morning.mid")), smallSong(0, 60));
    ui.answer(path("no such folder/Morning.mid"));
    load().Command13->click();
    EXPECT_THAT(said(), StartsWith("Critical: "));
}

// Keys on the list do what the mouse does: a keyboard move plays the row it reaches and
// enables what needs a row, Return plays it again, F2 renames it in place, Delete removes it.
TEST_F(LoadMidi, TheKeyboardAloneDoesWhatTheMouseDoes)
{
    openAndLoad();
    ScriptedPlayer& preview = player(load().MMControl2);
    list().setFocus();
    const std::vector<Bytes> data = {smallSong(0, 60), marked(smallSong(10, 72))};
    // Each key, then the row selected and played.
    // The list's first row is its current row once it has the focus.
    const std::pair<Qt::Key, std::size_t> keys[] = {
        {Qt::Key_Space, 0}, {Qt::Key_Down, 1}, {Qt::Key_Up, 0}, {Qt::Key_End, 1}, {Qt::Key_Return, 1}};
    for (const auto& [key, row] : keys) {
        SCOPED_TRACE(QTest::toString(QKeySequence(key)));
        preview.clearCalls();
        QTest::keyClick(&list(), key);
        EXPECT_EQ(load().selectedRow(), row);
        EXPECT_EQ(readFile(home() / kPreviewFileName), data[row]);
        const Calls commands = preview.commands();
        EXPECT_THAT(Calls(commands.end() - std::min<std::ptrdiff_t>(commands.size(), 2), commands.end()),
                    ElementsAre("Open", "Play"));
        EXPECT_EQ(enabled(load(), "Command"), "Command1 Command2 Command7 Command13 Command14");
    }
    EXPECT_FALSE(form->isWindowModified());
    QTest::keyClick(&list(), Qt::Key_F2);
    QWidget* editor = QApplication::focusWidget();
    ASSERT_TRUE(qobject_cast<QLineEdit*>(editor));
    QTest::keyClicks(editor, "Bell");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the edit is committed after the key
    EXPECT_EQ(column(0), (QStringList{"Morning", "Bell"}));
    EXPECT_TRUE(form->isWindowModified());
    QTest::keyClick(&list(), Qt::Key_Up);
    preview.clearCalls();
    QTest::keyClick(&list(), Qt::Key_Delete);
    EXPECT_EQ(column(0), QStringList{"Bell"});
    EXPECT_EQ(load().selectedRow(), 0u);
    EXPECT_EQ(preview.commands(), Calls{"Close"}) << "the row that moved up is not played";
    load().Command7->click();
    EXPECT_EQ(written(), (Tones{{"Bell", data[1]}}));
    EXPECT_FALSE(form->isWindowModified());
}

// The player and the buttons follow the selected row: an added row is selected and the
// preview before it closed; a load that fails leaves nothing to play, export or modify.
TEST_F(LoadMidi, ThePlayerAndTheButtonsFollowTheSelectedRow)
{
    openAndLoad();
    ScriptedPlayer& preview = player(load().MMControl2);
    clickRow(0);
    preview.clearCalls();
    const Bytes song = smallSong(40);
    addFile(writeFile("songs/Flute.mid", song));
    EXPECT_EQ(load().selectedRow(), 2u);
    EXPECT_EQ(preview.commands(), Calls{"Close"});
    EXPECT_FALSE(load().MMControl2->isEnabled());
    EXPECT_TRUE(load().Command13->isEnabled() && load().Command14->isEnabled());
    ui.answer(path("Flute copy.mid"));
    load().Command13->click();
    EXPECT_EQ(readFile(path("Flute copy.mid")), marked(song));

    clickRow(1);
    preview.clearCalls();
    writeFile("Treo/MIDI_Ring_Tones.PDB", bytesOf("too short for a header"));
    load().Command1->click();
    EXPECT_THAT(said(), HasSubstr("damaged"));
    EXPECT_EQ(preview.commands(), Calls{"Close"});
    EXPECT_EQ(enabled(load(), "Command"), "Command1 Command2 Command7");
    EXPECT_FALSE(load().MMControl2->isEnabled());
    EXPECT_FALSE(form->isWindowModified()) << "nothing is left to write";
}

// Messages name what the user chose or what a ring tone holds, never the program's own
// working files; a hand-off that found no HotSync tool says how to install by hand.
TEST_F(LoadMidi, MessagesNameWhatTheUserKnows)
{
    openAndLoad();
    const fs::path missing = path("no such folder/Morning.mid");
    const std::string preview = (home() / kPreviewFileName).string();
    const std::vector<std::tuple<const char*, std::function<void()>, std::string>> cases = {
        {"export into a missing folder", [&] { ui.answer(missing), load().Command13->click(); },
         "Critical: Cannot write \"" + missing.string() + "\": " + systemMessage(ENOENT)},
        {"a ring tone without music",
         [&] {
             player(load().MMControl2).failNextOpen("Cannot open \"" + preview + "\": it holds no music."),
                 clickRow(0);
         },
         "Exclamation: Cannot open the ring tone \"Morning\": it holds no music."},
        {"a large file that is no MIDI file", [&] { addFile(writeFile("big.mid", Bytes(70000, 'x'))); },
         "Exclamation: This file is not a Standard MIDI File."},
        {"no HotSync tool",
         [&] { ui.installRefusal = "No HotSync tool was found.", load().Command7->click(); },
         "Exclamation: The ring tones were written to \"" + database.string() +
             "\", but no HotSync tool took the database.\n\nNo HotSync tool was found."},
    };
    clickRow(0);
    for (const auto& [name, act, message] : cases) {
        SCOPED_TRACE(name);
        said();
        act();
        EXPECT_EQ(said(), message);
    }
}

// The context menu removes and renames under the rules of chwr remove and chwr rename.
TEST_F(LoadMidi, TheContextMenuRemovesAndRenamesARow)
{
    openAndLoad();
    const auto menuOn = [&](int row, QAction* action) {
        const QPoint at = list().visualItemRect(list().topLevelItem(row)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list().viewport()->mapToGlobal(at));
        QApplication::sendEvent(list().viewport(), &event);
        ASSERT_TRUE(load().ListView1Menu->isVisible());
        EXPECT_EQ(load().selectedRow(), static_cast<std::size_t>(row));
        action->trigger();
        load().ListView1Menu->hide();
    };
    menuOn(1, load().mnuRename);
    QWidget* editor = QApplication::focusWidget();
    ASSERT_TRUE(qobject_cast<QLineEdit*>(editor));
    QTest::keyClicks(editor, QString(kMaxToneNameBytes + 1, 'n'));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(said(), "Exclamation: " + checkRingToneName(Bytes(kMaxToneNameBytes + 1, 'n')).error());
    EXPECT_EQ(column(0), (QStringList{"Morning", "Ring (2)"}));
    EXPECT_FALSE(form->isWindowModified());
    menuOn(0, load().mnuRemove);
    EXPECT_EQ(column(0), QStringList{"Ring (2)"});
    QTest::keyClick(&list(), Qt::Key_Menu); // the menu key: the menu of the row
    EXPECT_TRUE(load().ListView1Menu->isVisible());
    load().ListView1Menu->hide();
    EXPECT_TRUE(form->isWindowModified());
    EXPECT_EQ(form->windowTitle(), " Chimewright Vuruva[*]");
}

// MIDI files dropped on the list are added as "Add MIDI File" adds them, each refusal
// naming its file; a drop of no MIDI file is not taken.
TEST_F(LoadMidi, MidiFilesDroppedOnTheListAreAdded)
{
    const auto drop = [&](const std::vector<fs::path>& files, bool enter = false) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const fs::path& file : files)
            urls.push_back(QUrl::fromLocalFile(toQString(file)));
        mime.setUrls(urls);
        // A drag enters the list, then drops there (or only enters it).
        const QPoint at(10, 10);
        QDragEnterEvent entered(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list().viewport(), &entered);
        if (enter || !entered.isAccepted())
            return entered.isAccepted();
        QDropEvent dropped(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list().viewport(), &dropped);
        return dropped.isAccepted();
    };
    const fs::path flute = writeFile("drop/Flute.MIDI", smallSong(40));
    const fs::path big = writeFile("drop/Big.mid", midiFileOfSize(64001));
    const fs::path text = writeFile("drop/notes.txt", bytesOf("notes"));
    openWindow();
    said();
    form->SSTab1->setCurrentWidget(&load()); // the first start showed the Setup tab
    EXPECT_TRUE(drop({flute}));
    EXPECT_EQ(said(), "Exclamation: No MIDI Ring Tones loaded.");
    openAndLoad();
    EXPECT_FALSE(drop({text}, true));
    EXPECT_TRUE(drop({flute, text}, true));
    EXPECT_TRUE(drop({flute, big, text}));
    EXPECT_EQ(column(0), (QStringList{"Morning", "Ring (2)", "Flute"}));
    EXPECT_EQ(said(), "Exclamation: Big.mid: This MIDI file is larger than 64k and cannot be imported.");
    EXPECT_TRUE(form->isWindowModified());
}

// The list takes the room the window gives; the buttons keep theirs; the name column
// fills the row; the longer caption after a load moves nothing.
TEST_F(LoadMidi, TheListGrowsWithTheWindowAndNothingMovesOnALoad)
{
    openAndLoad();
    const auto geometry = [&] {
        QStringList rects;
        for (QWidget* widget : std::initializer_list<QWidget*>{&list(), load().Command1, load().Command13})
            rects.push_back(QString("%1x%2").arg(widget->width()).arg(widget->height()));
        return rects.join(' ') + QString(" at %1").arg(list().x());
    };
    load().Command1->setText(kLoadCaption);
    QCoreApplication::processEvents();
    const QString before = geometry();
    load().Command1->setText(kReloadCaption);
    QCoreApplication::processEvents();
    EXPECT_EQ(geometry(), before);
    const QSize buttons = load().Command13->size();
    const int listWidth = list().width();
    form->resize(form->size() + QSize(300, 200));
    QCoreApplication::processEvents();
    EXPECT_EQ(list().width(), listWidth + 300);
    EXPECT_EQ(load().Command13->size(), buttons);
    const QHeaderView& header = *list().header();
    EXPECT_EQ(header.sectionSize(0) + header.sectionSize(1) + header.sectionSize(2),
              list().viewport()->width());
    EXPECT_EQ(header.sectionSize(1), load().columnWidthFor(kSizeColumnSample));
}

} // namespace
} // namespace chwr::test
