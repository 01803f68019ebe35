// chimewright_screenshots OUTPUT_FOLDER EXAMPLES_FOLDER: the README's pictures of the real
// window, each tab after the sample files are loaded and opened, and the about box. Run it
// on a display (scripts/screenshots starts it under Xvfb). File dialogs are answered from
// the samples and any message box fails the run, so nothing waits for a person.

#include "midi_edit/player/fluidsynth_player.h"
#include "midi_edit/ui/channel_table_model.h"
#include "midi_edit/ui/modify_midi_tab.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "shell/ui/about_box.h"
#include "shell/ui/main_window.h"
#include "tests/gui/scripted_ui.h"

#include <QTest>
#include <QtWidgets>

#include <cstdio>
#include <cstdlib>

namespace fs = std::filesystem;
using namespace chwr;

// The four pictures, with the program folder, settings and a copy of the database in `work`.
static bool takeScreenshots(const QDir& output, const fs::path& examples, const fs::path& work)
{
    ::setenv("CHIMEWRIGHT_HOME", (work / "home").c_str(), 1);
    ::setenv("CHIMEWRIGHT_REGISTRY", (work / "registry.reg").c_str(), 1);
    const fs::path database = work / "Treo" / "Backup" / "MIDI_Ring_Tones.PDB";
    fs::create_directories(database.parent_path());
    fs::copy_file(examples / "MIDI_Ring_Tones.PDB", database);
    auto registry = makeUserRegistry();
    SettingsStore settings(*registry);
    settings.writeSetting(kDbOptionSetting, "1");
    settings.writeSetting(kDbPathSetting, database.string());

    test::ScriptedUi ui;
    ui.onShow = [](const std::string& message) {
        std::fprintf(stderr, "chimewright_screenshots: the window said: %s\n", message.c_str());
        std::exit(1);
    };
    WindowServices services = ui.services([] {
        FluidSynthPlayerOptions options;
        options.audio = AudioOutput::Silent;
        return std::make_unique<FluidSynthPlayer>(options);
    });
    Form1 window(services, settings);
    window.show();
    const auto save = [&output](QWidget* widget, const char* name) {
        QTest::qWait(200);
        const bool saved = widget->grab().save(output.filePath(name));
        std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "wrote" : "cannot write",
                     qPrintable(output.filePath(name)));
        return saved;
    };
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QTest::qWait(100);

    window.loadTab->Command1->click();
    ui.answer(examples / "Flute Song.mid");
    window.loadTab->Command2->click();
    window.loadTab->ListView1->setCurrentItem(window.loadTab->ListView1->topLevelItem(1));
    window.loadTab->PreviewRingTone();
    bool saved = save(&window, "load-midi.png");
    window.SSTab1->setCurrentIndex(1);
    ui.answer(examples / "Chime Waltz.mid");
    window.modifyTab->Command5->click();
    ChannelTableModel& rows = *window.modifyTab->channelModel();
    rows.setData(rows.index(0, ChannelTableModel::OctaveColumn), 1);
    rows.setData(rows.index(1, ChannelTableModel::VolumeColumn), -20);
    // The crop marks of a ring tone from the second phrase, with the result's size.
    window.modifyTab->txtMarkStartMSec->setText("6000");
    window.modifyTab->txtMarkEndMSec->setText("30000");
    window.modifyTab->Command11->click();
    saved = save(&window, "modify-midi.png") && saved;
    window.SSTab1->setCurrentIndex(2);
    saved = save(&window, "setup.png") && saved;
    window.mnuAbout->trigger();
    return save(window.aboutBox, "about.png") && saved;
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: chimewright_screenshots OUTPUT_FOLDER EXAMPLES_FOLDER\n");
        return 2;
    }
    // A fixed working folder, so the path the Setup tab shows is the same at every run.
    const fs::path work = fs::temp_directory_path() / "chimewright-screenshots";
    fs::remove_all(work);
    const QDir output(QString::fromLocal8Bit(argv[1]));
    const bool taken = output.mkpath(".") && takeScreenshots(output, fs::absolute(argv[2]), work);
    fs::remove_all(work);
    return taken ? 0 : 1;
}
