#include "tests/gui/gui_fixture.h"

namespace chwr::test {
namespace {
const QString kWebPage = "https://chimewright-vuruva.example.org/";

using MainWindow = GuiTest;

// The options checked, then whether the user box, the path and Browse are enabled.
QString setupState(const SetupTab& setup)
{
    return QString("%1%2 %3%4%5")
        .arg(setup.Option1[0]->isChecked())
        .arg(setup.Option1[1]->isChecked())
        .arg(setup.Combo1->isEnabled())
        .arg(setup.txtPalmDBPath->isEnabled())
        .arg(setup.Command12->isEnabled());
}

// The Setup tab lists Palm Desktop's users, the stored one chosen, and stores what is picked.
TEST_F(MainWindow, TheSetupTabShowsAndStoresTheDatabaseLocation)
{
    installPalmDesktop({"Treo", "Jane", "Old"});
    settings.writeSetting(kDbHotSyncIdSetting, "Jane");
    openWindow();
    SetupTab& setup = *form->setupTab;
    EXPECT_EQ(QString("%1 %2").arg(setup.Combo1->count()).arg(setup.Combo1->currentText()), "3 Jane");
    EXPECT_EQ(setupState(setup), "10 100");
    setup.Combo1->setEditText("Old");
    EXPECT_EQ(settings.readSetting(kDbHotSyncIdSetting), "Old");
    emit setup.Combo1->activated(0);
    EXPECT_EQ(*form->location().ResolveDatabasePath(), path("Palm/Treo/Backup/MIDI_Ring_Tones.PDB"));
    EXPECT_EQ(settings.readSetting(kDbHotSyncIdSetting), "Treo");

    setup.Option1[1]->click();
    EXPECT_EQ(setupState(setup), "01 011");
    ui.cancel();
    setup.Command12->click();
    ui.answer(path("Treo.PDB"));
    setup.Command12->click();
    EXPECT_EQ(ui.dialogs.at(1), "Open: Locate MIDI Ring Tone Database File, Palm DB File (*.pdb)|*.pdb, " +
                                    userHome().string() + ", ");
    EXPECT_EQ(setup.txtPalmDBPath->text().toStdString(), path("Treo.PDB").string());
    EXPECT_EQ(settings.readSetting(kDbPathSetting), path("Treo.PDB").string());
    EXPECT_EQ(setupState(setup) + settings.readSetting(kDbOptionSetting).c_str(), "01 0111");
    setup.Option1[0]->click();
    EXPECT_EQ(setupState(setup) + settings.readSetting(kDbOptionSetting).c_str(), "10 1000");
    setup.Command18->click();
    EXPECT_EQ(ui.opened, QStringList{kWebPage});
}

// The first start says what is missing and sets up the MIDI folder. The about box is one
// modeless box with the version and the web page, which a click opens. Coming back from
// it, the window applies the stored settings over a path that was typed (used but not
// stored); the box closes with the window, and Exit ends the program.
TEST_F(MainWindow, StartsAndPutsTheStoredSettingsBackOnEachActivation)
{
    openWindow();
    EXPECT_EQ(said(),
              "Exclamation: Can't find prcFile directory in registry\n" + std::string(kChooseDatabaseHint));
    EXPECT_EQ(asString(readFile(home() / "midi" / "debug.txt")), "Chimewright Vuruva\r\n");
    settings.writeSetting(kDbPathSetting, path("stored.PDB").string());
    form->setupTab->Option1[1]->click();
    QLineEdit* typed = form->setupTab->txtPalmDBPath;
    QTest::keyClicks(typed, "/typed/only.PDB");
    EXPECT_EQ(*form->location().ResolveDatabasePath(), "/typed/only.PDB");
    EXPECT_EQ(settings.readSetting(kDbPathSetting), path("stored.PDB").string());

    // The about box takes the focus and gives it back, as the window system does it.
    form->mnuAbout->trigger();
    QPointer<frmAbout> box = form->aboutBox;
    form->mnuAbout->trigger();
    ASSERT_TRUE(box && form->aboutBox == box && !box->isModal());
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(form.get(), &deactivate);
    EXPECT_EQ(box->lblVersion->text(), CHWR_VERSION);
    QTest::mouseClick(box->Label2, Qt::LeftButton);
    EXPECT_EQ(ui.opened, QStringList{kWebPage});
    EXPECT_EQ(typed->text(), "/typed/only.PDB");
    box->cmdOK->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(box.isNull());
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(form.get(), &activate);
    EXPECT_EQ(typed->text().toStdString(), path("stored.PDB").string());

    form->mnuAbout->trigger();
    box = form->aboutBox;
    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(box.isNull());
    int ended = 0;
    form->endProgram = [&ended] { ++ended; };
    form->mnuExit->trigger();
    EXPECT_EQ(ended, 1);
}

// The access key of a caption ("&Load MIDI" has L), upper case; none is ' '.
QChar accessKey(const QString& caption)
{
    const qsizetype at = caption.indexOf('&');
    return at >= 0 && at + 1 < caption.size() ? caption[at + 1].toUpper() : QChar(' ');
}

// Every button and tab has an access key of its own among what is on the screen at once,
// each key presses its button or brings its tab, and Tab walks the Setup tab as laid out.
TEST_F(MainWindow, EveryButtonAndTabHasAnAccessKeyOfItsOwn)
{
    openAndLoad();
    QApplication::setActiveWindow(form.get());
    for (int tab : {0, 1, 2}) {
        form->SSTab1->setCurrentIndex(tab);
        SCOPED_TRACE(form->SSTab1->tabText(tab).toStdString());
        QStringList captions;
        for (int each = 0; each < form->SSTab1->count(); ++each)
            captions.push_back(form->SSTab1->tabText(each));
        for (const QAction* action : form->menuBar()->actions())
            captions.push_back(action->text());
        // The transport controls are the player's own.
        for (const QAbstractButton* button : form->SSTab1->currentWidget()->findChildren<QAbstractButton*>())
            if (button->isVisibleTo(form.get()) && !qobject_cast<MMControl*>(button->parentWidget()))
                captions.push_back(button->text());
        QString keys;
        for (const QString& caption : captions) {
            EXPECT_NE(accessKey(caption), ' ') << caption.toStdString();
            EXPECT_FALSE(keys.contains(accessKey(caption))) << caption.toStdString();
            keys += accessKey(caption);
        }
    }
    // Each key, then the tab in front and the dialog or message it leads to.
    const std::tuple<Qt::Key, int, std::string> presses[] = {
        {Qt::Key_T, 2, ""},
        {Qt::Key_B, 2, "Open: Locate MIDI Ring Tone Database File"},
        {Qt::Key_L, 0, ""},
        {Qt::Key_D, 0, "Open: Add MIDI File"},
        {Qt::Key_E, 0, "Save: Export MIDI File"},
        {Qt::Key_M, 1, ""},
    };
    form->SSTab1->setCurrentIndex(0);
    clickRow(0);
    form->setupTab->Option1[1]->click();
    for (const auto& [key, tab, dialog] : presses) {
        SCOPED_TRACE(QTest::toString(QKeySequence(key)));
        ui.dialogs.clear();
        QTest::keyClick(form.get(), key, Qt::AltModifier);
        // A button's key presses it after a moment, as a click that shows.
        (void)QTest::qWaitFor([&] { return !ui.dialogs.empty(); }, dialog.empty() ? 0 : 2000);
        EXPECT_EQ(form->SSTab1->currentIndex(), tab);
        EXPECT_EQ(ui.dialogs.empty() ? "" : ui.dialogs.front().substr(0, dialog.size()), dialog);
    }
    // Each tab's controls in the focus chain, in the order of the chain: as they are laid out.
    const std::pair<QWidget*, QStringList> chains[] = {
        {&load(), {"ListView1", "Command1", "Command2", "Command7", "Command13", "Command14"}},
        {form->setupTab, {"Option1(0)", "Combo1", "Option1(1)", "txtPalmDBPath", "Command12", "Command18"}}};
    for (const auto& [tab, expected] : chains) {
        QStringList chain;
        QWidget* next = tab;
        do {
            const QWidget* parent = next->parentWidget();
            const bool inFrame = tab == form->setupTab && parent == form->setupTab->Frame1;
            if ((parent == tab || inFrame) && next->focusPolicy() != Qt::NoFocus)
                chain.push_back(next->objectName());
            next = next->nextInFocusChain();
        } while (next != tab);
        EXPECT_EQ(chain, expected);
    }
}

// Closing with ring tones not written asks first: Write writes and closes, Discard closes,
// Cancel (or closing the question) stays; "&Exit" asks the same. Unchanged, nothing is asked.
TEST_F(MainWindow, ClosingWithUnwrittenRingTonesAsksWhetherToWriteThem)
{
    const std::string question = "Exclamation: Write the ring tones to the database before closing? "
                                 "[&Write|&Discard|Cancel]";
    // The answer, whether through "&Exit", then whether the window went and the list was written.
    const std::tuple<int, bool, bool, bool> answers[] = {{0, false, true, true},   {1, false, true, false},
                                                         {2, false, false, false}, {-1, false, false, false},
                                                         {0, true, true, true},    {2, true, false, false}};
    for (const auto& [answer, exit, closed, written] : answers) {
        SCOPED_TRACE(::testing::Message() << answer << (exit ? " through Exit" : " closing the window"));
        openAndLoad();
        int ended = 0;
        form->endProgram = [&ended] { ++ended; };
        addFile(writeFile("Flute.mid", smallSong(40)));
        ui.replies = {answer};
        const bool went = exit ? (form->mnuExit->trigger(), ended == 1) : form->close();
        EXPECT_THAT(said(), StartsWith(question));
        EXPECT_EQ(went, closed);
        EXPECT_EQ(this->written().size(), written ? 3u : 2u);
        EXPECT_EQ(form->isWindowModified(), !written);
    }
    openAndLoad();
    EXPECT_TRUE(form->close());
    EXPECT_EQ(said(), "");
}

// Without Palm Desktop, the first start takes J-Pilot's backup of the database when there
// is one (under $JPILOT_HOME in place of the home); else it says where to choose one,
// over the window, with the Setup tab in front.
TEST_F(MainWindow, TheFirstStartFindsJPilotsBackupOrPointsToTheSetupTab)
{
    const std::pair<std::string, fs::path> homes[] = {{"", ""}, {"user", ""}, {"jpilot", "jpilot"}};
    for (const auto& [holder, jpilot] : homes) {
        SCOPED_TRACE(holder);
        fs::remove_all(path("user")), fs::remove_all(path("jpilot"));
        jpilotHome = jpilot.empty() ? fs::path() : path(jpilot.string());
        const fs::path backup = holder.empty()
                                    ? fs::path()
                                    : writeFile(holder + "/.jpilot/backup/MIDI Ring Tones.pdb",
                                                PdbBuilder().ringTone("Chime", smallSong()).build());
        settings.writeSetting(kDbOptionSetting, "");
        settings.writeSetting(kDbPathSetting, "");
        openWindow();
        if (holder.empty()) {
            EXPECT_EQ(said(), "Exclamation: Can't find prcFile directory in registry\n" +
                                  std::string(kChooseDatabaseHint));
            EXPECT_EQ(form->SSTab1->currentWidget(), form->setupTab);
            continue;
        }
        EXPECT_EQ(said(), "");
        EXPECT_EQ(form->setupTab->txtPalmDBPath->text().toStdString(), backup.string());
        EXPECT_TRUE(form->setupTab->Option1[1]->isChecked());
        EXPECT_THAT(form->statusBar()->currentMessage().toStdString(), HasSubstr(backup.string()));
        load().Command1->click();
        EXPECT_EQ(column(0), QStringList{"Chime"});
    }
}

// File dialogs start where the user last was with that kind of file, else in the home;
// Browse does not take the program's own copy of a database header.
TEST_F(MainWindow, FileDialogsStartWhereTheUserLastWas)
{
    openAndLoad();
    addFile(writeFile("songs/Flute.mid", smallSong(40)));
    ui.cancel();
    load().Command2->click();
    EXPECT_THAT(ui.dialogs.back(), HasSubstr(", " + path("songs").string() + ", "));
    form->SSTab1->setCurrentWidget(form->setupTab);
    SetupTab& setup = *form->setupTab;
    const QString before = setup.txtPalmDBPath->text();
    ui.answer(home() / kHeaderSnapshotFileName);
    setup.Command12->click();
    EXPECT_EQ(said(), "Exclamation: " + std::string(kWorkingCopyRefusal));
    EXPECT_EQ(setup.txtPalmDBPath->text(), before);
    EXPECT_THAT(ui.dialogs.back(), HasSubstr(", " + path("Treo").string() + ", "))
        << "the folder of the database chosen under Path:";
    ui.answer(writeFile("backups/Other.PDB", PdbBuilder().build()));
    setup.Command12->click();
    writeFile("user/.jpilot/backup/MIDI Ring Tones.pdb", {});
    setup.Command12->click();
    EXPECT_THAT(ui.dialogs.back(), HasSubstr(", " + path("user/.jpilot/backup").string() + ", "));
    ui.cancel();
    setup.Command12->click();
    fs::remove_all(path("user/.jpilot"));
    setup.Command12->click();
    EXPECT_THAT(ui.dialogs.back(), HasSubstr(", " + path("backups").string() + ", "));
}

} // namespace
} // namespace chwr::test
