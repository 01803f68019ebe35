#include "shell/ui/about_box.h"
#include "shell/database_location.h"
#include "shell/registry.h"
#include "shell/settings_store.h"
#include "shell/ui/setup_tab.h"
#include "tests/gui/scripted_ui.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/temp_folder.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

namespace chwr {
namespace {
namespace fs = std::filesystem;

// The Setup tab over a registry kept in memory, with the HotSync tools' folders inside
// the test folder.
class SetupTabTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        services = ui.services({});
        tab = std::make_unique<SetupTab>(services, location);
        tab->hotSyncEnvironment = [this] {
            HotSyncEnvironment environment;
            environment.home = folder() / "user-home";
            environment.dataHome = folder() / "user-home" / ".local" / "share";
            return environment;
        };
    }

    void showTab()
    {
        tab->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(tab.get()));
    }

    std::string stored(std::string_view name) const { return settings.readSetting(name); }

    test::ScriptedUi ui;
    WindowServices services;
    MemoryRegistry registry;
    SettingsStore settings{registry};
    DatabaseLocation location{settings};
    std::unique_ptr<SetupTab> tab;
};

TEST_F(SetupTabTest, ShowsTheDatabaseLocationFrame)
{
    EXPECT_EQ(tab->Option1[0]->text(), "Hotsync ID (shortname):");
    EXPECT_EQ(tab->Option1[1]->text(), "Path:");
    EXPECT_EQ(tab->Option1[0]->objectName(), "Option1(0)");
    EXPECT_EQ(tab->Command12->text(), "Browse");
    EXPECT_EQ(tab->Command18->text(), "Share and get FREE MIDI Ring Tones Online");
    EXPECT_TRUE(tab->Option1[0]->isChecked());
    EXPECT_TRUE(tab->Command18->isEnabled());
    EXPECT_NE(tab->findChild<QComboBox*>("Combo1"), nullptr);
    EXPECT_NE(tab->findChild<QLineEdit*>("txtPalmDBPath"), nullptr);
}

TEST_F(SetupTabTest, ChoosingAnOptionEnablesItsControlsAndStoresIt)
{
    showTab();
    tab->Option1[1]->click();
    EXPECT_TRUE(tab->Option1[1]->isChecked());
    EXPECT_TRUE(tab->txtPalmDBPath->isEnabled());
    EXPECT_TRUE(tab->Command12->isEnabled());
    EXPECT_FALSE(tab->Combo1->isEnabled());
    EXPECT_EQ(stored(kDbOptionSetting), "1");

    tab->Option1[0]->click();
    EXPECT_TRUE(tab->Option1[0]->isChecked());
    EXPECT_FALSE(tab->txtPalmDBPath->isEnabled());
    EXPECT_FALSE(tab->Command12->isEnabled());
    EXPECT_TRUE(tab->Combo1->isEnabled());
    EXPECT_EQ(stored(kDbOptionSetting), "0");
}

TEST_F(SetupTabTest, ListsTheUsersAndStoresTheUserOnlyOnceSettingsAreRestored)
{
    location.setPalmDesktop("/palm", {"alice", "bob"});
    tab->refresh();
    ASSERT_EQ(tab->Combo1->count(), 2);
    EXPECT_EQ(tab->Combo1->currentText(), "alice");

    // Before the first activation nothing typed is stored.
    tab->Combo1->setEditText("carol");
    EXPECT_EQ(stored(kDbHotSyncIdSetting), "");

    location.applyStoredSettings();
    tab->refresh();
    tab->Combo1->setEditText("bob");
    EXPECT_EQ(stored(kDbHotSyncIdSetting), "bob");
    EXPECT_EQ(location.ResolveDatabasePath()->string(), "/palm/bob/Backup/MIDI_Ring_Tones.PDB");

    // Picking an entry from the list is kept too.
    tab->Combo1->setCurrentIndex(0);
    emit tab->Combo1->activated(0);
    EXPECT_EQ(stored(kDbHotSyncIdSetting), "alice");
}

TEST_F(SetupTabTest, BrowseStoresTheChosenFileWithoutChangingTheOption)
{
    showTab();
    ui.dialogs.answer(path("Treo.PDB"));
    tab->Option1[1]->click();
    QTest::mouseClick(tab->Command12, Qt::LeftButton);

    ASSERT_EQ(ui.dialogs.calls.size(), 1u);
    const FileDialogRequest& request = ui.dialogs.calls[0].request;
    EXPECT_EQ(ui.dialogs.calls[0].kind, test::DialogKind::Open);
    EXPECT_EQ(request.title, "Locate MIDI Ring Tone Database File");
    EXPECT_EQ(request.filter, "Palm DB File (*.pdb)|*.pdb");
    // Without a J-Pilot backup, the dialog starts at the program folder's database name.
    EXPECT_EQ(request.fileName, QString::fromStdString((home() / "MIDI_Ring_Tones.PDB").string()));

    EXPECT_EQ(tab->txtPalmDBPath->text(), QString::fromStdString(path("Treo.PDB").string()));
    EXPECT_EQ(stored(kDbPathSetting), path("Treo.PDB").string());
    EXPECT_TRUE(tab->Option1[1]->isChecked());
    EXPECT_EQ(location.ResolveDatabasePath()->string(), path("Treo.PDB").string());
}

TEST_F(SetupTabTest, BrowseStartsInJPilotsBackupWhenThereIsOne)
{
    const fs::path backup = folder() / "user-home" / ".jpilot" / "backup";
    fs::create_directories(backup);
    writeFile("user-home/.jpilot/backup/MIDI Ring Tones.pdb", test::bytesOf("x"));
    ui.dialogs.cancel();
    location.selectOption(1);
    tab->refresh();
    tab->Command12->click();
    ASSERT_EQ(ui.dialogs.calls.size(), 1u);
    EXPECT_EQ(ui.dialogs.calls[0].request.fileName,
              QString::fromStdString((backup / "MIDI Ring Tones.pdb").string()));
}

TEST_F(SetupTabTest, CancelledBrowseChangesNothing)
{
    settings.writeSetting(kDbPathSetting, "/kept.PDB");
    location.applyStoredSettings();
    location.selectOption(1);
    tab->refresh();
    ui.dialogs.cancel();
    tab->Command12->click();
    EXPECT_EQ(tab->txtPalmDBPath->text(), "/kept.PDB");
    EXPECT_EQ(stored(kDbPathSetting), "/kept.PDB");
    EXPECT_EQ(ui.dialogs.unexpected, 0);
    EXPECT_TRUE(ui.messages.shown.empty());
}

TEST_F(SetupTabTest, TypedPathIsUsedButNotStored)
{
    location.selectOption(1);
    tab->refresh();
    showTab();
    QTest::keyClicks(tab->txtPalmDBPath, "/typed.PDB");
    EXPECT_EQ(location.ResolveDatabasePath()->string(), "/typed.PDB");
    EXPECT_EQ(stored(kDbPathSetting), "");
}

TEST_F(SetupTabTest, ShareButtonOpensTheProgramsWebPage)
{
    ui.desktop.openSucceeds = false;
    tab->Command18->click();
    ASSERT_EQ(ui.desktop.openedUrls.size(), 1u);
    EXPECT_EQ(ui.desktop.openedUrls[0], kProgramWebPage);
    // A browser that did not start is not reported.
    EXPECT_TRUE(ui.messages.shown.empty());
}

} // namespace
} // namespace chwr
