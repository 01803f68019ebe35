#include "midi_edit/ui/mm_control.h"
#include "midi_edit/ui/modify_midi_tab.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "shell/ui/about_box.h"
#include "shell/program_folder.h"
#include "shell/ui/setup_tab.h"
#include "tests/gui/main_window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace chwr {
namespace {
namespace fs = std::filesystem;

class MainWindow : public test::MainWindowTest {
protected:
    std::string debugLog() const { return asString(readFile(debugLogPath())); }
};

TEST_F(MainWindow, OpensWithItsCaptionMenusAndTabs)
{
    openWindow();
    EXPECT_EQ(form->windowTitle(), " Chimewright Vuruva");
    const QList<QAction*> bar = form->menuBar()->actions();
    ASSERT_EQ(bar.size(), 2);
    EXPECT_EQ(bar[0]->text(), "&File");
    EXPECT_EQ(bar[0]->menu()->actions(), QList<QAction*>{form->mnuExit});
    EXPECT_EQ(form->mnuExit->text(), "&Exit");
    EXPECT_EQ(bar[1], form->mnuAbout);
    EXPECT_EQ(form->mnuAbout->text(), "&About");

    ASSERT_EQ(form->SSTab1->count(), 3);
    EXPECT_EQ(form->SSTab1->tabText(0), "Load MIDI");
    EXPECT_EQ(form->SSTab1->tabText(1), "Modify MIDI");
    EXPECT_EQ(form->SSTab1->tabText(2), "Setup");
    EXPECT_EQ(form->SSTab1->currentIndex(), 0);
    EXPECT_EQ(form->findChild<QTreeWidget*>("ListView1"), form->loadTab->ListView1);
}

TEST_F(MainWindow, ButtonsStartAsTheirFirstUseNeeds)
{
    openWindow();
    LoadMidiTab& load = *form->loadTab;
    EXPECT_EQ(load.Command1->text(), "Load Current Ring Tones");
    EXPECT_TRUE(load.Command1->isEnabled());
    for (QPushButton* button : {load.Command2, load.Command7, load.Command13, load.Command14})
        EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_EQ(load.Command2->text(), "Add MIDI File");
    EXPECT_EQ(load.Command7->text(), "Update Ring Tones");
    EXPECT_EQ(load.Command13->text(), "Export MIDI");
    EXPECT_EQ(load.Command14->text(), "Modify MIDI");

    ModifyMidiTab& modify = *form->modifyTab;
    for (QPushButton* button : {modify.Command17, modify.Command8, modify.Command9, modify.Command10,
                                modify.Command11, modify.Command15, modify.Command16})
        EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_TRUE(modify.Command5->isEnabled());
    EXPECT_TRUE(form->setupTab->Command18->isEnabled());
}

TEST_F(MainWindow, ListHasThreeColumnsAsWideAsTheirSamples)
{
    openWindow();
    QTreeWidget& view = list();
    ASSERT_EQ(view.columnCount(), 3);
    EXPECT_EQ(view.headerItem()->text(0), "Name");
    EXPECT_EQ(view.headerItem()->text(1), "Size");
    EXPECT_EQ(view.headerItem()->text(2), "");
    EXPECT_EQ(view.columnWidth(0), form->loadTab->columnWidthFor("12345678901234567890"));
    EXPECT_EQ(view.columnWidth(1), form->loadTab->columnWidthFor("1,000,000"));
    EXPECT_EQ(view.columnWidth(2), form->loadTab->columnWidthFor("x"));
    EXPECT_LT(view.columnWidth(2), view.columnWidth(1));
    EXPECT_LT(view.columnWidth(1), view.columnWidth(0));
}

TEST_F(MainWindow, FirstStartSetsUpTheMidiFolderAndLaterStartsLeaveItAlone)
{
    openWindow();
    EXPECT_EQ(debugLog(), "Chimewright Vuruva\r\n");

    writeFile("home/midi/debug.txt", test::bytesOf("kept"));
    writeFile("home/midi/mine.mid", test::bytesOf("mine"));
    form.reset();
    openWindow();
    EXPECT_EQ(debugLog(), "kept");
    EXPECT_EQ(listFolder(home() / "midi"), (std::vector<std::string>{"debug.txt", "mine.mid"}));
}

TEST_F(MainWindow, WithoutPalmDesktopTheStartSaysSo)
{
    openWindow();
    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_EQ(ui.messages.shown[0].text, "Can't find prcFile directory in registry");
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(form->setupTab->Combo1->count(), 0);
    EXPECT_TRUE(form->PalmDesktopDirectory().empty());
}

TEST_F(MainWindow, AChosenDatabaseFileNeedsNoPalmDesktop)
{
    chooseDatabaseFile(path("ring tones.PDB"));
    openWindow();
    EXPECT_TRUE(ui.messages.shown.empty());
    SetupTab& setup = *form->setupTab;
    EXPECT_TRUE(setup.Option1[1]->isChecked());
    EXPECT_TRUE(setup.txtPalmDBPath->isEnabled());
    EXPECT_TRUE(setup.Command12->isEnabled());
    EXPECT_FALSE(setup.Combo1->isEnabled());
    EXPECT_EQ(setup.txtPalmDBPath->text(), QString::fromStdString(path("ring tones.PDB").string()));
    // The activation stores the option it applied.
    EXPECT_EQ(storedSetting(kDbOptionSetting), "1");
}

TEST_F(MainWindow, ListsTheHotSyncUsersOfPalmDesktop)
{
    installPalmDesktop(path("Palm"), {"Treo", "Jane", "Old"});
    storeSetting(kDbHotSyncIdSetting, "Jane");
    openWindow();
    EXPECT_TRUE(ui.messages.shown.empty());
    EXPECT_EQ(form->PalmDesktopDirectory(), path("Palm").string());
    SetupTab& setup = *form->setupTab;
    ASSERT_EQ(setup.Combo1->count(), 3);
    EXPECT_EQ(setup.Combo1->itemText(0), "Treo");
    EXPECT_EQ(setup.Combo1->itemText(2), "Old");
    // The stored user is put back at activation.
    EXPECT_EQ(setup.Combo1->currentText(), "Jane");
    EXPECT_TRUE(setup.Option1[0]->isChecked());
    EXPECT_TRUE(setup.Combo1->isEnabled());
    EXPECT_FALSE(setup.txtPalmDBPath->isEnabled());
}

TEST_F(MainWindow, ReturningFromTheAboutBoxReappliesTheStoredSettings)
{
    chooseDatabaseFile(path("stored.PDB"));
    openWindow();
    QLineEdit* typed = form->setupTab->txtPalmDBPath;
    typed->clear();
    QTest::keyClicks(typed, "/typed/only.PDB");
    EXPECT_EQ(typed->text(), "/typed/only.PDB");

    // The about box takes the focus and gives it back, as the window system does it.
    form->mnuAbout->trigger();
    ASSERT_TRUE(form->aboutBox);
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(form.get(), &deactivate);
    EXPECT_EQ(typed->text(), "/typed/only.PDB");
    form->aboutBox->cmdOK->click();
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(form.get(), &activate);
    EXPECT_EQ(typed->text(), QString::fromStdString(path("stored.PDB").string()));
}

TEST_F(MainWindow, AboutOpensOneModelessBox)
{
    openWindow();
    form->mnuAbout->trigger();
    QPointer<frmAbout> first = form->aboutBox;
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->isModal());
    EXPECT_TRUE(first->isVisible());
    form->mnuAbout->trigger();
    EXPECT_EQ(form->aboutBox, first);
}

TEST_F(MainWindow, ClosingTheWindowClosesTheAboutBox)
{
    openWindow();
    form->mnuAbout->trigger();
    QPointer<frmAbout> box = form->aboutBox;
    ASSERT_TRUE(box && box->isVisible());
    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(box.isNull());
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindow, ExitEndsTheProgram)
{
    openWindow();
    int ended = 0;
    form->endProgram = [&ended] { ++ended; };
    form->mnuExit->trigger();
    EXPECT_EQ(ended, 1);
}

TEST_F(MainWindow, ShareButtonOpensTheProgramsPage)
{
    openWindow();
    form->SSTab1->setCurrentIndex(2);
    QTest::mouseClick(form->setupTab->Command18, Qt::LeftButton);
    EXPECT_EQ(ui.desktop.openedUrls, std::vector<QString>{kProgramWebPage});
}

} // namespace
} // namespace chwr
