#include "tests/gui/main_window_fixture.h"

#include "midi_edit/ui/mm_control.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "shell/palm_desktop.h"
#include "shell/users_dat.h"
#include "tests/support/smf_builder.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace chwr::test {
namespace fs = std::filesystem;

void MainWindowTest::SetUp()
{
    TempFolderTest::SetUp();
    services = ui.services([] { return std::make_unique<ScriptedPlayer>(); });
}

void MainWindowTest::TearDown()
{
    form.reset();
    TempFolderTest::TearDown();
}

void MainWindowTest::openWindow()
{
    form = std::make_unique<Form1>(services, settings);
    form->endProgram = [] {};
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QCoreApplication::processEvents();
    ASSERT_TRUE(form->SettingsRestored());
}

void MainWindowTest::storeSetting(std::string_view name, const std::string& value)
{
    ASSERT_TRUE(settings.writeSetting(name, value));
}

std::string MainWindowTest::storedSetting(std::string_view name) const
{
    return settings.readSetting(name);
}

void MainWindowTest::installPalmDesktop(const fs::path& folder, const std::vector<std::string>& users)
{
    auto key = registry.createKey(RegistryRoot::CurrentUser, kPalmDesktopCoreKey);
    ASSERT_TRUE(key.ok()) << key.error();
    const std::string text = folder.string();
    ASSERT_TRUE((*key)->setValue(kPalmDesktopPathValue,
                                 {RegistryValueType::String, Bytes(text.begin(), text.end())}));

    // users.dat: a word, a marker without text, then each user's skipped bytes,
    // 1-byte length and name, 1-byte length and directory name; users after the first
    // follow the signature 0x01 0x80.
    Bytes usersDat = {0x00, 0x00, 0x00, 0x00};
    for (std::size_t i = 0; i < users.size(); ++i) {
        if (i > 0)
            usersDat.insert(usersDat.end(), {kUserSignatureFirst, kUserSignatureSecond});
        usersDat.insert(usersDat.end(), kUserRecordSkippedBytes, 0x00);
        const std::string name = "User " + users[i];
        usersDat.push_back(static_cast<std::uint8_t>(name.size()));
        usersDat.insert(usersDat.end(), name.begin(), name.end());
        usersDat.push_back(static_cast<std::uint8_t>(users[i].size()));
        usersDat.insert(usersDat.end(), users[i].begin(), users[i].end());
    }
    fs::create_directories(folder);
    writeFile(fs::relative(folder / kUsersDatName, this->folder()).string(), usersDat);
}

fs::path MainWindowTest::writeDatabase(const std::string& name, const PdbBuilder& builder)
{
    return writeFile(name, builder.build());
}

void MainWindowTest::chooseDatabaseFile(const fs::path& database)
{
    storeSetting(kDbOptionSetting, "1");
    storeSetting(kDbPathSetting, database.string());
}

ScriptedPlayer& MainWindowTest::player(MMControl* control)
{
    return static_cast<ScriptedPlayer&>(control->player());
}

QTreeWidget& MainWindowTest::list()
{
    return *form->loadTab->ListView1;
}

QStringList MainWindowTest::column(int column)
{
    QStringList texts;
    for (int i = 0; i < list().topLevelItemCount(); ++i)
        texts.push_back(list().topLevelItem(i)->text(column));
    return texts;
}

void MainWindowTest::clickRow(int row)
{
    QWidget* viewport = list().viewport();
    QPoint where;
    if (row >= 0) {
        where = list().visualItemRect(list().topLevelItem(row)).center();
    } else {
        const int rows = list().topLevelItemCount();
        const int below = rows > 0 ? list().visualItemRect(list().topLevelItem(rows - 1)).bottom() + 10 : 10;
        where = QPoint(10, below);
    }
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, where);
}

void MainWindowTest::clickLoad()
{
    form->loadTab->Command1->click();
}

Bytes smallSong(int program, int key)
{
    SmfBuilder song(0, 480);
    song.track()
        .tempo(0, 500000)
        .programChange(0, 0, program)
        .noteOn(0, 0, key, 100)
        .noteOff(480, 0, key)
        .endOfTrack();
    return song.build();
}

} // namespace chwr::test
