#include "tests/gui/gui_fixture.h"

namespace chwr::test {
namespace {
using Tones = std::vector<std::pair<std::string, Bytes>>;

class LoadMidi : public GuiTest {
protected:
    // The names listed, the selected row in brackets, the numbers of the enabled CommandN
    // buttons, "P" while the preview's control is enabled, "*" while changes are unwritten.
    std::string shown()
    {
        const std::optional<std::size_t> row = load().selectedRow();
        return (column(0).join(", ") + (row ? QString(" [%1]").arg(*row) : "") + " | " +
                enabled(load(), "Command").remove("Command") + (load().MMControl2->isEnabled() ? " P" : "") +
                (form->isWindowModified() ? " *" : ""))
            .toStdString();
    }
};

// An action that fails says why in the user's words, never naming the program's working
// files; one that lacks what it needs changes nothing: no row, button, file, tab, hand-off.
TEST_F(LoadMidi, ActionsSayWhyTheyFailAndThoseLackingWhatTheyNeedChangeNothing)
{
    const std::string notLoaded = "No MIDI Ring Tones loaded.", notSelected = "No Ring Tone selected.";
    const std::string none = path("none.PDB").string(), missing = path("no such folder/Morning.mid").string();
    const fs::path preview = home() / kPreviewFileName;
    const std::string big = writeFile("big.mid", midiFileOfSize(64001)).string();
    const fs::path rmi = writeFile("a.rmi", smallSong());
    installPalmDesktop({});
    // Whether the list is loaded first, whether the action changes nothing, the action, what it says.
    const std::vector<std::tuple<bool, bool, std::function<void()>, std::string>> cases = {
        {false, true, [&] { load().Command2_Click(); }, notLoaded},
        {false, true, [&] { EXPECT_EQ(drop(list().viewport(), {rmi}), std::pair(true, true)); }, notLoaded},
        {false, true, [&] { clickRow(-1); }, notLoaded},
        {false, true, [&] { load().Command1->click(); },
         "No HotSync user is selected: choose one under \"Hotsync ID (shortname):\", or choose the database "
         "file under \"Path:\"."},
        {false, true,
         [&] {
             form->location().selectOption(1);
             form->location().setPathText(none);
             load().Command1->click();
         },
         "The MIDI Ring Tone database does not exist for this user: " + none},
        {true, true, [&] { clickRow(-1); }, notSelected},
        {true, true, [&] { load().Command13_Click(); }, notSelected},
        {true, true, [&] { load().Command14_Click(); }, notSelected},
        {true, true,
         [&] {
             form->midiState().ResultFilePath = big, form->SSTab1->setCurrentIndex(1),
             modify().Command17_Click();
         },
         "This MIDI file is larger than 64k and cannot be imported."},
        {true, true, [&] { addFile(writeFile("x.mid", Bytes(70000, 'x'))); },
         "This file is not a Standard MIDI File."},
        {true, true, [&] { ui.installRefusal = "No HotSync tool was found.", load().Command7->click(); },
         "The ring tones were written to \"" + path("Treo/MIDI_Ring_Tones.PDB").string() +
             "\", but no HotSync tool took the database.\n\nNo HotSync tool was found."},
        {true, false,
         [&] {
             clickRow(0);
             ui.answer(missing);
             load().Command13->click();
         },
         "Critical: Cannot write \"" + missing + "\": " + systemMessage(ENOENT)},
        {true, false,
         [&] {
             player(load().MMControl2)
                 .failNextOpen("Cannot open \"" + preview.string() + "\": it holds no music.");
             clickRow(0);
         },
         "Cannot open the ring tone \"Morning\": it holds no music."},
    };
    for (const auto& [loaded, nothing, act, message] : cases) {
        SCOPED_TRACE(message);
        loaded ? openAndLoad() : openWindow();
        said(); // drops what the start said
        act();
        EXPECT_EQ(said(), message.starts_with("Critical: ") ? message : "Exclamation: " + message);
        if (!nothing)
            continue;
        EXPECT_EQ(shown(), loaded ? "Morning, Ring (2) | 1 2 7" : " | 1");
        EXPECT_EQ(load().Command1->text().remove('&') + QString::number(form->SSTab1->currentIndex()),
                  QString(loaded ? "Reload" : "Load") + " Current Ring Tones0");
        EXPECT_FALSE(fs::exists(preview) || fs::exists(home() / kModifyExportFileName) ||
                     !form->midiState().PendingImportPath.empty());
    }
}

// The first road: a MIDI file added under a free name is selected, the preview closed; it is
// written with a backup of the database and handed to the HotSync tool. "Update" writes only
// the file the list came from, as it was loaded or last written. Dropped files are added.
TEST_F(LoadMidi, AddedMidiFilesAreWrittenOnlyToTheFileTheListCameFrom)
{
    openAndLoad();
    EXPECT_EQ(column(1) + column(2), (QStringList{QString::number(smallSong(0, 60).size()),
                                                  QString::number(smallSong(10, 72).size() + 1), "", "x"}));
    load().Command2->click();
    EXPECT_EQ(ui.dialogs.at(0),
              "Open: Add MIDI File, MIDI File (*.mid)|*.mid, " + userHome().string() + ", ");
    clickRow(0);
    player(load().MMControl2).clearCalls();
    const Bytes song = smallSong(40), original = readFile(database);
    addFile(writeFile("songs/Morning.mid", song));
    EXPECT_EQ(shown(), "Morning, Ring (2), Morning (1) [2] | 1 2 7 13 14 *");
    EXPECT_EQ(player(load().MMControl2).commands(), Calls{"Close"});
    load().Command7->click();
    EXPECT_EQ(said(),
              "Information: HotSync your device to update your Ring Tones.\n\nQueued for the next HotSync.");
    EXPECT_EQ(written(), (Tones{{"Morning", smallSong(0, 60)},
                                {"Ring (2)", marked(smallSong(10, 72))},
                                {"Morning (1)", marked(song)}}));
    EXPECT_EQ(readFile(home() / "MIDI_Ring_Tones.bak"), original); // a database by path: backup kept here
    // A second update takes the file the first wrote.
    load().Command7->click();
    EXPECT_THAT(said(), StartsWith("Information: "));
    // An update over another program's write is refused; a reload shows it, in the handheld's code page.
    const Bytes other = PdbBuilder().ringTone("Caf\xE9", smallSong()).build();
    writeFile("Treo/MIDI_Ring_Tones.PDB", other);
    load().Command7_Click();
    EXPECT_THAT(said(), AllOf(StartsWith("Critical: "), HasSubstr("changed on disk since it was loaded")));
    load().Command1->click();
    EXPECT_EQ(column(0), QStringList{QString::fromUtf8("Caf\u00e9")});
    form->location().selectOption(1);
    form->location().setPathText(path("elsewhere.PDB").string());
    load().Command7_Click();
    EXPECT_THAT(said(), StartsWith("Information: "));
    EXPECT_TRUE(!fs::exists(path("elsewhere.PDB")) && readFile(database) != other);
    load().Command1->click(); // a file that is not there empties the list
    EXPECT_THAT(said(), HasSubstr("does not exist"));
    EXPECT_EQ(list().topLevelItemCount(), 0);
    // A drag of no MIDI file is not taken; among several, each refusal names its file.
    writeFile("elsewhere.PDB", other);
    load().Command1->click();
    const fs::path text = writeFile("drop/notes.txt", bytesOf("notes"));
    EXPECT_EQ(drop(list().viewport(), {text}), std::pair(false, false));
    EXPECT_EQ(drop(list().viewport(), {writeFile("drop/Flute.MIDI", smallSong(40)),
                                       writeFile("drop/Big.mid", midiFileOfSize(64001)), text}),
              std::pair(true, true));
    EXPECT_EQ(said(), "Exclamation: Big.mid: This MIDI file is larger than 64k and cannot be imported.");
    clickRow(0);
    player(load().MMControl2).clearCalls();
    EXPECT_EQ(shown(), "Caf\u00e9, Flute [0] | 1 2 7 13 14 P *");
    // A load that fails drops the list with its preview, and nothing is left to write.
    writeFile("elsewhere.PDB", bytesOf("too short for a header"));
    ui.replies = {1}; // the dropped ring tones are let go
    load().Command1->click();
    EXPECT_THAT(said(), AllOf(HasSubstr(kWriteBeforeReloadQuestion),
                              HasSubstr("Exclamation: The ring tone database"), HasSubstr("damaged")));
    EXPECT_EQ(shown(), " | 1 2 7");
    EXPECT_EQ(player(load().MMControl2).commands(), Calls{"Close"});
    load().Command7_Click();
    EXPECT_EQ(said(), "Exclamation: No MIDI Ring Tones loaded.");
    EXPECT_EQ(readFile(path("elsewhere.PDB")), bytesOf("too short for a header"));
}

// The list grows with the window, the buttons do not. A clicked ring tone plays under the
// transport control, rewinds at its end, and is exported under a free name. Keys do what the
// mouse does: a move or Space plays, F2 renames, Delete removes, the menu key opens the menu.
TEST_F(LoadMidi, RowsArePlayedExportedRenamedAndRemovedByMouseKeysOrMenu)
{
    openAndLoad();
    const auto geometry = [&](const char* caption) {
        load().Command1->setText(caption);
        QCoreApplication::processEvents();
        return std::tuple(list().geometry(), load().Command1->geometry(), load().Command13->geometry());
    };
    const auto before = geometry(kLoadCaption);
    EXPECT_EQ(geometry(kReloadCaption), before);
    form->resize(form->size() + QSize(300, 200));
    QCoreApplication::processEvents();
    EXPECT_EQ(std::pair(list().size(), load().Command13->size()),
              std::pair(std::get<0>(before).size() + QSize(300, 200), std::get<2>(before).size()));
    const QHeaderView& header = *list().header();
    EXPECT_EQ(std::pair(header.sectionSize(0) + header.sectionSize(1) + header.sectionSize(2),
                        header.sectionSize(1)),
              std::pair(list().viewport()->width(), load().columnWidthFor(kSizeColumnSample)));

    MMControl& control = *load().MMControl2;
    ScriptedPlayer& preview = player(&control);
    const auto transport = [&, timer = control.findChild<QTimer*>()] {
        return enabled(control) + ", " + control.positionLabel->text() + ", " +
               QString::number(timer->isActive() ? timer->interval() : 0);
    };
    preview.setLength(754321);
    preview.clearCalls();
    clickRow(1);
    const fs::path file = home() / kPreviewFileName;
    const std::vector<Bytes> data = {smallSong(0, 60), marked(smallSong(10, 72))};
    EXPECT_EQ(preview.calls(), (Calls{"Enabled=1", "Close", "DeviceType=Sequencer",
                                      "FileName=" + file.string(), "Open", "Play"}));
    EXPECT_EQ(transport(), "PrevButton StopButton, 0:00.0 / 12:34.3, 1000");
    control.StopButton->click();
    preview.setPosition(7500);
    control.tick();
    EXPECT_EQ(transport(), "PrevButton PlayButton, 0:07.5 / 12:34.3, 1000");
    control.PrevButton->click();
    control.PlayButton->click();
    EXPECT_EQ(preview.commands(), (Calls{"Close", "Open", "Play", "Stop", "Prev", "Play"}));
    control.setUpdateInterval(20);
    const int polls = preview.polls();
    EXPECT_TRUE(QTest::qWaitFor([&] { return preview.polls() > polls; }, 5000));
    preview.clearCalls();
    reach(preview, 4000); // not at the end: nothing
    reach(preview, preview.length());
    EXPECT_EQ(preview.commands(), Calls{"Prev"});
    ASSERT_TRUE(control.command("Close").ok());
    EXPECT_EQ(transport(), ", 0:00.0 / 0:00.0, 0");
    clickRow(1);
    writeFile("user/Ring (2).mid", bytesOf("taken"));
    ui.answer(path("Ring.mid"));
    load().Command13->click();
    EXPECT_EQ(ui.dialogs.at(0), "Save: Export MIDI File, MIDI File (*.mid)|*.mid, , " +
                                    (userHome() / "Ring (1) (2).mid").string());
    EXPECT_EQ(readFile(path("Ring.mid")), data[1]);

    list().clearSelection(); // the second row stays current, not selected
    list().setFocus();
    // Each key, then the row selected and played.
    const std::pair<Qt::Key, int> keys[] = {
        {Qt::Key_Space, 1}, {Qt::Key_Up, 0}, {Qt::Key_End, 1}, {Qt::Key_Home, 0}, {Qt::Key_Return, 0}};
    for (const auto& [key, row] : keys) {
        SCOPED_TRACE(QTest::toString(QKeySequence(key)));
        preview.clearCalls();
        QTest::keyClick(&list(), key);
        EXPECT_EQ(shown(), "Morning, Ring (2) [" + std::to_string(row) + "] | 1 2 7 13 14 P");
        EXPECT_EQ(readFile(file), data[row]);
        const Calls played = {"Close", "Open", "Play"}, moved = {"Close", "Close", "Open", "Play"};
        EXPECT_THAT(preview.commands(), ::testing::AnyOf(played, moved));
    }
    const auto rename = [&](const QString& name) {
        QWidget* editor = QApplication::focusWidget();
        ASSERT_TRUE(qobject_cast<QLineEdit*>(editor));
        QTest::keyClicks(editor, name);
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents(); // the edit is committed after the key
    };
    const auto pick = [&](QAction* item) {
        ASSERT_TRUE(load().ListView1Menu->isVisible());
        item->trigger();
        load().ListView1Menu->hide();
    };
    const QPoint at = list().visualItemRect(list().topLevelItem(0)).center(); // a right click there
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list().viewport()->mapToGlobal(at));
    QApplication::sendEvent(list().viewport(), &event);
    pick(load().mnuRename);
    rename(QString(kMaxToneNameBytes + 1, 'n'));
    EXPECT_EQ(said(), "Exclamation: " + checkRingToneName(Bytes(kMaxToneNameBytes + 1, 'n')).error());
    EXPECT_EQ(shown(), "Morning, Ring (2) [0] | 1 2 7 13 14 P");
    QApplication::setActiveWindow(form.get()); // back from the menu
    // The played row goes with its preview, though the row after it takes its place.
    preview.clearCalls();
    QTest::keyClick(&list(), Qt::Key_Delete);
    EXPECT_EQ(shown(), "Ring (2) [0] | 1 2 7 13 14 *");
    EXPECT_EQ(preview.commands(), Calls{"Close"}) << "the row selected after it is not played";
    QTest::keyClick(&list(), Qt::Key_F2);
    rename("Bell");
    EXPECT_EQ(shown(), "Bell [0] | 1 2 7 13 14 *");
    load().Command7->click();
    EXPECT_EQ(written(), (Tones{{"Bell", data[1]}}));
    EXPECT_FALSE(form->isWindowModified());
    QTest::keyClick(&list(), Qt::Key_Menu); // the menu of the current row
    pick(load().mnuRemove);
    EXPECT_EQ(shown(), " | 1 2 7 *");
    EXPECT_EQ(form->windowTitle(), " Chimewright Vuruva[*]");
}

} // namespace
} // namespace chwr::test
