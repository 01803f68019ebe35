#pragma once

#include "midi_edit/ui/channel_table_model.h"
#include "midi_edit/ui/midi_adjust_control.h"
#include "midi_edit/ui/mm_control.h"
#include "midi_edit/ui/modify_midi_tab.h"
#include "midi_edit/ui/progress_dialog.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "shell/file_io.h"
#include "shell/palm_desktop.h"
#include "shell/ui/about_box.h"
#include "shell/ui/main_window.h"
#include "shell/ui/qt_ui_services.h"
#include "shell/ui/setup_tab.h"
#include "shell/users_dat.h"
#include "tests/gui/scripted_ui.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/scripted_player.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <QTest>
#include <QtWidgets>

#include <gmock/gmock.h>

namespace chwr::test {
namespace fs = std::filesystem;
using Calls = std::vector<std::string>;
using namespace ::testing;

// A Standard MIDI File of one quarter note after a program change, on channel 0.
inline Bytes smallSong(int program = 0, int key = 60)
{
    SmfBuilder song(0, 480);
    TrackBuilder& track = song.track().tempo(0, 500000).programChange(0, 0, program);
    track.noteOn(0, 0, key, 100).noteOff(480, 0, key).endOfTrack();
    return song.build();
}

// A ring tone's data as this program stores it: the file and the added mark.
inline Bytes marked(Bytes data)
{
    data.push_back(AddedMark);
    return data;
}

// The real main window over scripted dialogs, message boxes and players, its settings in
// a registry kept in memory and its program folder in the test folder.
class GuiTest : public TempFolderTest {
protected:
    // Builds and shows a new window; its loading and first activation have run on return.
    void openWindow()
    {
        form.reset();
        folders.emplace(settings, userHome());
        services.folders = &*folders;
        form = std::make_unique<Form1>(services, settings);
        form->endProgram = [] {};
        hotSync.home = userHome();
        form->hotSyncEnvironment = [this] { return hotSync; };
        // "Browse" starts outside the user's own J-Pilot folders.
        form->setupTab->hotSyncEnvironment = [this] { return hotSync; };
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        QCoreApplication::processEvents();
        ASSERT_TRUE(form->SettingsRestored());
    }
    // The window over Treo/MIDI_Ring_Tones.PDB, loaded: "Morning", and "Ring (2)" added here.
    void openAndLoad()
    {
        PdbBuilder tones = PdbBuilder().modnumber(5).ringTone("Morning", smallSong(0, 60));
        database = writeFile("Treo/MIDI_Ring_Tones.PDB",
                             tones.ringTone("Ring (2)", marked(smallSong(10, 72))).build());
        settings.writeSetting(kDbOptionSetting, "1");
        settings.writeSetting(kDbPathSetting, database.string());
        openWindow();
        load().Command1->click();
        ASSERT_EQ(column(0), (QStringList{"Morning", "Ring (2)"}));
        EXPECT_EQ(said(), "");
    }
    // Palm Desktop's "Path" value and a users.dat listing these users' folders.
    void installPalmDesktop(const std::vector<std::string>& users)
    {
        ASSERT_TRUE((*registry.createKey(RegistryRoot::CurrentUser, kPalmDesktopCoreKey))
                        ->setValue(kPalmDesktopPathValue,
                                   {RegistryValueType::String, bytesOf(path("Palm").string())}));
        Bytes usersDat(4, 0x00);
        for (const std::string& user : users) {
            if (&user != &users.front())
                usersDat.insert(usersDat.end(), {kUserSignatureFirst, kUserSignatureSecond});
            usersDat.insert(usersDat.end(), kUserRecordSkippedBytes, 0x00);
            for (const std::string& field : {"User " + user, user}) {
                usersDat.push_back(static_cast<std::uint8_t>(field.size()));
                usersDat.insert(usersDat.end(), field.begin(), field.end());
            }
        }
        writeFile("Palm/" + std::string(kUsersDatName), usersDat);
    }

    // The names of the enabled buttons under parent that start with prefix.
    static QString enabled(const QWidget& parent, const QString& prefix = {})
    {
        QStringList names;
        for (const QPushButton* button : parent.findChildren<QPushButton*>())
            if (button->isEnabled() && button->objectName().startsWith(prefix))
                names.push_back(button->objectName());
        return names.join(' ');
    }
    // The messages shown since the last call.
    std::string said() { return std::exchange(ui.said, {}); }
    // "Add MIDI File" with this file chosen.
    void addFile(const fs::path& file)
    {
        ui.answer(file);
        load().Command2->click();
    }
    // The ring tones of the database file, name and data.
    std::vector<std::pair<std::string, Bytes>> written()
    {
        std::vector<std::pair<std::string, Bytes>> tones;
        if (Result<RingToneDatabase> decoded = RingToneDatabase::decode(readFile(database)))
            for (const RingToneRecord& tone : decoded->ringTones())
                tones.emplace_back(asString(tone.name), tone.data);
        return tones;
    }
    // The user's home, where file dialogs start and J-Pilot keeps its folder.
    fs::path userHome() const { return folder() / "user"; }
    LoadMidiTab& load() { return *form->loadTab; }
    ModifyMidiTab& modify() { return *form->modifyTab; }
    static ScriptedPlayer& player(MMControl* c) { return static_cast<ScriptedPlayer&>(c->player()); }
    ScriptedPlayer& preview() { return player(modify().MMControl1); }
    MIDIAdjustControl& editor(int row) { return *modify().DataRepeater1->editors().at(std::size_t(row)); }
    // "Open File" on the "Modify MIDI" tab: a file the preview player times as lengthMs, or none (cancel).
    void open(const fs::path& file, std::int64_t lengthMs = 2000)
    {
        ui.answer(file);
        preview().setLength(lengthMs);
        modify().Command5->click();
    }
    // "Apply" on the "Modify MIDI" tab with these marks.
    void apply(const QString& start, const QString& end)
    {
        modify().txtMarkStartMSec->setText(start);
        modify().txtMarkEndMSec->setText(end);
        modify().Command11->click();
    }
    // Moves a player to ms and raises its status update, as playing there would.
    static void reach(ScriptedPlayer& player, std::int64_t ms)
    {
        player.setPosition(ms);
        player.raiseStatusUpdate();
    }
    // Drags files onto target and drops them there: whether the drag and the drop were taken.
    static std::pair<bool, bool> drop(QWidget* target, const std::vector<fs::path>& files)
    {
        QMimeData mime;
        for (const fs::path& file : files)
            mime.setUrls(mime.urls() << QUrl::fromLocalFile(toQString(file)));
        QDragEnterEvent entered({5, 5}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped({5, 5}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        entered.setAccepted(false);
        dropped.setAccepted(false);
        QApplication::sendEvent(target, &entered);
        QApplication::sendEvent(target, &dropped);
        return {entered.isAccepted(), dropped.isAccepted()};
    }
    QTreeWidget& list() { return *form->loadTab->ListView1; }
    // Each row's text in a column of the ring tone list.
    QStringList column(int column)
    {
        QStringList texts;
        for (int i = 0; i < list().topLevelItemCount(); ++i)
            texts.push_back(list().topLevelItem(i)->text(column));
        return texts;
    }
    // A mouse click on a row of the list, or on the empty space below the rows (-1).
    void clickRow(int row)
    {
        QWidget* view = list().viewport();
        const QPoint below(10, view->height() - 5);
        QTest::mouseClick(view, Qt::LeftButton, {},
                          row < 0 ? below : list().visualItemRect(list().topLevelItem(row)).center());
    }

    ScriptedUi ui;
    MemoryRegistry registry;
    SettingsStore settings{registry};
    WindowServices services = ui.services([] { return std::make_unique<ScriptedPlayer>(); });
    std::optional<SettingsDialogFolders> folders;
    HotSyncEnvironment hotSync; // the user's J-Pilot set-up: in the user's home; no Wine
    std::unique_ptr<Form1> form;
    fs::path database;
};

} // namespace chwr::test
