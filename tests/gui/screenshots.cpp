// Takes the README's pictures of the real window: each tab after the sample files are
// loaded and opened, and the about box. File dialogs are answered from the sample folder
// and any message box fails the run, so nothing waits for a person.
//
//   chimewright_screenshots OUTPUT_FOLDER EXAMPLES_FOLDER
//
// Run it on a display (scripts/screenshots starts it under Xvfb); the program folder and
// settings live in a temporary folder that is removed at the end.

#include "midi_edit/ui/channel_table_model.h"
#include "midi_edit/player/fluidsynth_player.h"
#include "midi_edit/ui/modify_midi_tab.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "shell/ui/about_box.h"
#include "shell/ui/main_window.h"
#include "shell/ui/program_icon.h"
#include "shell/registry.h"
#include "shell/settings_store.h"
#include "tests/gui/scripted_ui.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {
namespace fs = std::filesystem;

bool save(QWidget* widget, const QString& file)
{
    QTest::qWait(200);
    if (!widget->grab().save(file)) {
        std::fprintf(stderr, "chimewright_screenshots: cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: chimewright_screenshots OUTPUT_FOLDER EXAMPLES_FOLDER\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    const fs::path examples = fs::absolute(argv[2]);
    // A fixed working folder, so the path the Setup tab shows is the same at every run.
    const fs::path home = fs::temp_directory_path() / "chimewright-screenshots";
    std::error_code ignored;
    fs::remove_all(home, ignored);
    if (!fs::create_directories(home, ignored) || !output.mkpath(".")) {
        std::fprintf(stderr, "chimewright_screenshots: no folder to work in\n");
        return 1;
    }
    struct RemoveAtEnd {
        fs::path folder;
        ~RemoveAtEnd()
        {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    } removeAtEnd{home};
    ::setenv("CHIMEWRIGHT_HOME", (home / "home").c_str(), 1);
    ::setenv("CHIMEWRIGHT_REGISTRY", (home / "registry.reg").c_str(), 1);
    // The database is copied, so the samples stay as they are.
    const fs::path database = home / "Treo" / "Backup" / "MIDI_Ring_Tones.PDB";
    fs::create_directories(database.parent_path());
    fs::copy_file(examples / "MIDI_Ring_Tones.PDB", database);

    QApplication::setWindowIcon(chwr::programIcon());
    auto registry = chwr::makeUserRegistry();
    chwr::SettingsStore settings(*registry);
    settings.writeSetting(chwr::kDbOptionSetting, "1");
    settings.writeSetting(chwr::kDbPathSetting, database.string());

    chwr::test::ScriptedUi ui;
    ui.messages.onShow = [](const chwr::test::ShownMessage& message) {
        std::fprintf(stderr, "chimewright_screenshots: the window said: %s\n", qPrintable(message.text));
        std::exit(1);
    };
    chwr::WindowServices services = ui.services([] {
        chwr::FluidSynthPlayerOptions options;
        options.audio = chwr::AudioOutput::Silent;
        return std::make_unique<chwr::FluidSynthPlayer>(options);
    });

    chwr::Form1 window(services, settings);
    window.resize(860, 620);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QTest::qWait(100);

    window.loadTab->Command1->click();
    ui.dialogs.answer(examples / "Flute Song.mid");
    window.loadTab->Command2->click();
    window.loadTab->ListView1->setCurrentItem(window.loadTab->ListView1->topLevelItem(1));
    window.loadTab->PreviewRingTone();
    if (!save(&window, output.filePath("load-midi.png")))
        return 1;

    window.SSTab1->setCurrentIndex(1);
    ui.dialogs.answer(examples / "Chime Waltz.mid");
    window.modifyTab->Command5->click();
    chwr::ChannelTableModel& rows = *window.modifyTab->channelModel();
    rows.setData(rows.index(0, chwr::ChannelTableModel::OctaveColumn), 1);
    rows.setData(rows.index(1, chwr::ChannelTableModel::VolumeColumn), -20);
    if (!save(&window, output.filePath("modify-midi.png")))
        return 1;

    window.SSTab1->setCurrentIndex(2);
    if (!save(&window, output.filePath("setup.png")))
        return 1;

    window.mnuAbout->trigger();
    return save(window.aboutBox, output.filePath("about.png")) ? 0 : 1;
}
