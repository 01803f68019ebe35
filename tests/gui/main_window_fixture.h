#pragma once

#include "shell/ui/main_window.h"
#include "shell/registry.h"
#include "shell/settings_store.h"
#include "tests/gui/scripted_ui.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/scripted_player.h"
#include "tests/support/temp_folder.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QTreeWidget;

namespace chwr {
class MMControl;
}

namespace chwr::test {

// The real main window over scripted dialogs, message boxes and players, with its
// settings in a registry kept in memory and its program folder in the test folder.
class MainWindowTest : public TempFolderTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds and shows the window; its loading and first activation have run on return.
    void openWindow();
    // The settings the next activation applies.
    void storeSetting(std::string_view name, const std::string& value);
    std::string storedSetting(std::string_view name) const;
    // Palm Desktop's "Path" value and a users.dat listing these users' directories.
    void installPalmDesktop(const std::filesystem::path& folder, const std::vector<std::string>& users);

    // A database file in the test folder, chosen under "Path:" before the window opens.
    std::filesystem::path writeDatabase(const std::string& name, const PdbBuilder& builder);
    void chooseDatabaseFile(const std::filesystem::path& database);

    ScriptedPlayer& player(MMControl* control);
    QTreeWidget& list();
    // Each row's text in a column of the ring tone list.
    QStringList column(int column);
    // A mouse click on a row of the list, or on the empty space below the rows (-1).
    void clickRow(int row);
    // The Load tab's buttons, by name.
    void clickLoad();

    ScriptedUi ui;
    MemoryRegistry registry;
    SettingsStore settings{registry};
    WindowServices services;
    std::unique_ptr<Form1> form;
};

// A small Standard MIDI File: one track that selects program on channel 0 and plays a
// note of one quarter at 480 ticks per quarter.
Bytes smallSong(int program = 0, int key = 60);

} // namespace chwr::test
