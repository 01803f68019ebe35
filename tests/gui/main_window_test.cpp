#include "tests/gui/gui_fixture.h"

namespace chwr::test {
namespace {
using MainWindow = GuiTest;

// The Setup tab lists Palm Desktop's users and stores what is picked; each activation puts
// the stored settings back over a typed path (used, not stored). The about box is one
// modeless box with the version and the web page; it closes with the window.
TEST_F(MainWindow, TheSetupTabStoresTheLocationAndEachActivationPutsItBack)
{
    installPalmDesktop({"Treo", "Jane", "Old"});
    settings.writeSetting(kDbHotSyncIdSetting, "Jane");
    openWindow();
    EXPECT_EQ(asString(readFile(home() / "midi" / "debug.txt")), "Chimewright Vuruva\r\n");
    SetupTab& setup = *form->setupTab;
    // The options checked; whether the user box, the path and Browse are enabled; the option stored.
    const auto state = [&] {
        QString bits;
        for (bool on :
             {setup.Option1[0]->isChecked(), setup.Option1[1]->isChecked(), setup.Combo1->isEnabled(),
              setup.txtPalmDBPath->isEnabled(), setup.Command12->isEnabled()})
            bits += on ? '1' : '0';
        return bits + settings.readSetting(kDbOptionSetting).c_str();
    };
    EXPECT_EQ(QString("%1 %2 ").arg(setup.Combo1->count()).arg(setup.Combo1->currentText()) + state(),
              "3 Jane 101000");
    setup.Combo1->setEditText("Old");
    EXPECT_EQ(settings.readSetting(kDbHotSyncIdSetting), "Old");
    emit setup.Combo1->activated(0);
    EXPECT_EQ(std::pair(*form->location().ResolveDatabasePath(), settings.readSetting(kDbHotSyncIdSetting)),
              std::pair(path("Palm/Treo/Backup/MIDI_Ring_Tones.PDB"), std::string("Treo")));
    setup.Option1[1]->click();
    EXPECT_EQ(state(), "010111");
    setup.Command12->click(); // no answer planned: cancelled
    ui.answer(path("Treo.PDB"));
    setup.Command12->click();
    EXPECT_EQ(ui.dialogs.at(1), "Open: Locate MIDI Ring Tone Database File, Palm DB File (*.pdb)|*.pdb, " +
                                    userHome().string() + ", ");
    EXPECT_EQ(setup.txtPalmDBPath->text().toStdString() + settings.readSetting(kDbPathSetting),
              path("Treo.PDB").string() + path("Treo.PDB").string());
    settings.writeSetting(kDbPathSetting, path("stored.PDB").string());
    setup.txtPalmDBPath->clear();
    QTest::keyClicks(setup.txtPalmDBPath, "/typed/only.PDB");
    EXPECT_EQ(std::pair(*form->location().ResolveDatabasePath(), settings.readSetting(kDbPathSetting)),
              std::pair(fs::path("/typed/only.PDB"), path("stored.PDB").string()));
    // The about box takes the focus and gives it back, as the window system does it.
    form->mnuAbout->trigger();
    form->mnuAbout->trigger();
    QPointer<frmAbout> box = form->aboutBox;
    ASSERT_TRUE(box && form->findChildren<frmAbout*>().size() == 1 && !box->isModal());
    QEvent deactivate(QEvent::WindowDeactivate), activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(form.get(), &deactivate);
    EXPECT_EQ(box->lblVersion->text(), CHWR_VERSION);
    QTest::mouseClick(box->Label2, Qt::LeftButton);
    EXPECT_EQ(setup.txtPalmDBPath->text(), "/typed/only.PDB");
    box->cmdOK->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(box.isNull());
    QCoreApplication::sendEvent(form.get(), &activate);
    EXPECT_EQ(setup.txtPalmDBPath->text().toStdString(), path("stored.PDB").string());
    setup.Option1[0]->click();
    setup.Command18->click();
    EXPECT_EQ(state(), "101000");
    EXPECT_EQ(ui.opened, QStringList(2, "https://chimewright-vuruva.example.org/")); // link and button
    form->mnuAbout->trigger();
    box = form->aboutBox;
    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(box.isNull());
}

// Every button and tab has an access key of its own among what is on the screen at once,
// each key presses its button or brings its tab, and Tab walks each tab as laid out.
TEST_F(MainWindow, EveryButtonAndTabHasAnAccessKeyOfItsOwn)
{
    openAndLoad();
    QApplication::setActiveWindow(form.get());
    for (int tab : {0, 1, 2}) {
        form->SSTab1->setCurrentIndex(tab);
        QStringList captions, keys;
        for (int each = 0; each < form->SSTab1->count(); ++each)
            captions.push_back(form->SSTab1->tabText(each));
        for (const QAction* action : form->menuBar()->actions())
            captions.push_back(action->text());
        // The transport controls are the player's own.
        for (const QAbstractButton* button : form->SSTab1->currentWidget()->findChildren<QAbstractButton*>())
            if (button->isVisibleTo(form.get()) && !qobject_cast<MMControl*>(button->parentWidget()))
                captions.push_back(button->text());
        for (const QString& caption : captions)
            keys.push_back(caption.section('&', 1).left(1).toUpper()); // "&Load MIDI" has L
        EXPECT_TRUE(!keys.contains("") && keys.removeDuplicates() == 0) << captions.join(", ").toStdString();
    }
    // Each key, then the tab in front and the dialog it leads to: a button's key presses it
    // after a moment, as a click that shows.
    const std::tuple<char, int, std::string> presses[] = {
        {'t', 2, ""},          {'b', 2, "Open: Locate"}, {'l', 0, ""},
        {'d', 0, "Open: Add"}, {'e', 0, "Save: Export"}, {'m', 1, ""}};
    form->SSTab1->setCurrentIndex(0);
    clickRow(0);                         // a row to export
    form->setupTab->Option1[1]->click(); // Browse enabled
    for (const auto& [key, tab, dialog] : presses) {
        SCOPED_TRACE(key);
        ui.dialogs.clear();
        QTest::keyClick(form.get(), key, Qt::AltModifier);
        (void)QTest::qWaitFor([&] { return !ui.dialogs.empty(); }, dialog.empty() ? 0 : 2000);
        const std::string shown = ui.dialogs.empty() ? "" : ui.dialogs.front().substr(0, dialog.size());
        EXPECT_EQ(std::pair(form->SSTab1->currentIndex(), shown), std::pair(tab, dialog));
    }
    // Each tab's controls in the focus chain, in the order of the chain: as they are laid out.
    const std::pair<QWidget*, QStringList> chains[] = {
        {&load(), {"ListView1", "Command1", "Command2", "Command7", "Command13", "Command14"}},
        {form->setupTab, {"Option1(0)", "Combo1", "Option1(1)", "txtPalmDBPath", "Command12", "Command18"}}};
    for (const auto& [tab, expected] : chains) {
        QStringList chain;
        const QList<const QWidget*> parents = {tab, tab == form->setupTab ? form->setupTab->Frame1 : tab};
        for (QWidget* next = tab->nextInFocusChain(); next != tab; next = next->nextInFocusChain())
            if (parents.contains(next->parentWidget()) && next->focusPolicy() != Qt::NoFocus)
                chain.push_back(next->objectName());
        EXPECT_EQ(chain, expected);
    }
}

// Closing or reloading with ring tones not written asks first: Write writes and goes on, Discard
// goes on, Cancel (or closing the question) stays; "&Exit" asks as closing does. Unchanged, nothing is asked.
TEST_F(MainWindow, ClosingOrReloadingWithUnwrittenRingTonesAsksWhetherToWriteThem)
{
    int ended = 0; // the calls of endProgram
    const auto act = [&](const std::string& action) {
        ended = 0;
        form->endProgram = [&ended] { ++ended; };
        if (action == "close")
            return form->close();
        if (action == "Exit")
            form->mnuExit->trigger();
        else
            load().Command1->click();
        return ended == 1;
    };
    // The action and the answer, then whether the window went, the rows listed and the ring
    // tones in the database.
    const std::tuple<std::string, int, bool, int, std::size_t> cases[] = {
        {"close", 0, true, 3, 3},   {"close", 1, true, 3, 2},   {"close", 2, false, 3, 2},
        {"close", -1, false, 3, 2}, {"Exit", 0, true, 3, 3},    {"Exit", 2, false, 3, 2},
        {"reload", 2, false, 3, 2}, {"reload", 1, false, 2, 2}, {"reload", 0, false, 3, 3}};
    for (const auto& [action, answer, closed, rows, inDatabase] : cases) {
        SCOPED_TRACE(action + " " + std::to_string(answer));
        openAndLoad();
        addFile(writeFile("Flute.mid", smallSong(40)));
        ui.replies = {answer};
        EXPECT_EQ(act(action), closed);
        const std::string question = action == "reload"
                                         ? kWriteBeforeReloadQuestion
                                         : "Write the ring tones to the database before closing?";
        EXPECT_THAT(said(), StartsWith("Exclamation: " + question + " [&Write|&Discard|Cancel]"));
        EXPECT_EQ(std::tuple(list().topLevelItemCount(), written().size(), form->isWindowModified()),
                  std::tuple(rows, inDatabase, rows != static_cast<int>(inDatabase)));
    }
    openAndLoad();
    EXPECT_TRUE(act("Exit") && act("close"));
    EXPECT_EQ(said(), "");
}

// Without Palm Desktop, the first start takes J-Pilot's backup of the database (where the J-Pilot
// folder is found is the desktop's own test), else says why not over the window, Setup tab in front.
TEST_F(MainWindow, TheFirstStartFindsJPilotsBackupOrPointsToTheSetupTab)
{
    openWindow();
    EXPECT_EQ(said(),
              "Exclamation: Can't find prcFile directory in registry\n" + std::string(kChooseDatabaseHint));
    EXPECT_EQ(form->SSTab1->currentWidget(), form->setupTab);
    const fs::path backup = writeFile("user/.jpilot/backup/MIDI Ring Tones.pdb",
                                      PdbBuilder().ringTone("Chime", smallSong()).build());
    openWindow();
    EXPECT_EQ(std::tuple(said(), form->setupTab->txtPalmDBPath->text().toStdString(),
                         form->setupTab->Option1[1]->isChecked()),
              std::tuple("", backup.string(), true));
    EXPECT_THAT(form->statusBar()->currentMessage().toStdString(), HasSubstr(backup.string()));
}

// File dialogs start where the user last was with that kind of file, else in the home;
// Browse does not take the program's own copy of a database header.
TEST_F(MainWindow, FileDialogsStartWhereTheUserLastWas)
{
    openAndLoad();
    const auto startedIn = [&](const char* folder) { return HasSubstr(", " + path(folder).string() + ", "); };
    addFile(writeFile("songs/Flute.mid", smallSong(40)));
    load().Command2->click();
    EXPECT_THAT(ui.dialogs.back(), startedIn("songs"));
    QPushButton& browse = *form->setupTab->Command12;
    ui.answer(home() / kHeaderSnapshotFileName);
    browse.click();
    EXPECT_EQ(said(), "Exclamation: " + std::string(kWorkingCopyRefusal));
    EXPECT_EQ(form->setupTab->txtPalmDBPath->text().toStdString(), database.string());
    EXPECT_THAT(ui.dialogs.back(), startedIn("Treo")) << "the folder of the database chosen under Path:";
    ui.answer(writeFile("backups/Other.PDB", PdbBuilder().build()));
    browse.click();
    writeFile("user/.jpilot/backup/MIDI Ring Tones.pdb", {});
    browse.click();
    EXPECT_THAT(ui.dialogs.back(), startedIn("user/.jpilot/backup"));
    fs::remove_all(path("user/.jpilot"));
    browse.click();
    EXPECT_THAT(ui.dialogs.back(), startedIn("backups"));
}

} // namespace
} // namespace chwr::test
