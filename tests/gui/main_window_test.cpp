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
                                    home().string() + ", " + (home() / "MIDI_Ring_Tones.PDB").string());
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
    EXPECT_EQ(said(), "Exclamation: Can't find prcFile directory in registry");
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

} // namespace
} // namespace chwr::test
