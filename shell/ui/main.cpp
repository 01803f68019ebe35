// The desktop program: sets up the channel table, builds the main window over the real
// dialogs, the FluidSynth players and this system's HotSync hand-off, and runs the
// window's event loop until the window closes or "&Exit" is chosen.

#include "midi_edit/channel_table.h"
#include "midi_edit/player/fluidsynth_player.h"
#include "shell/install_handoff.h"
#include "shell/ui/main_window.h"
#include "shell/ui/program_icon.h"
#include "shell/ui/qt_ui_services.h"
#include "shell/registry.h"
#include "shell/settings_store.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>

#include <cstdio>
#include <memory>

namespace {

// With CHIMEWRIGHT_STARTUP_TIMING=1 the program prints how long after the start of
// main() the main window was first painted, and the wall clock then (milliseconds since
// 1970), so a script can time the whole start from the command line.
class StartupTimer : public QObject {
public:
    explicit StartupTimer(const QElapsedTimer& sinceStart) : m_sinceStart(sinceStart) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_reported) {
            m_reported = true;
            std::fprintf(stderr, "chimewright: window painted %lld ms after the start of main(), at %lld\n",
                         static_cast<long long>(m_sinceStart.elapsed()),
                         static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& m_sinceStart;
    bool m_reported = false;
};

} // namespace

int main(int argc, char** argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();

    QApplication app(argc, argv);
    QApplication::setApplicationName("chimewright");
    QApplication::setApplicationVersion(CHWR_VERSION);
    QApplication::setDesktopFileName("chimewright");
    QApplication::setWindowIcon(chwr::programIcon());

    // The channel table's file and rows are created when missing: the table's
    // registration. A failure shows itself when a MIDI file is opened.
    (void)chwr::ChannelTable::open();

    std::unique_ptr<chwr::Registry> registry = chwr::makeUserRegistry();
    chwr::SettingsStore settings(*registry);
    chwr::QtMessageBoxes messages;
    chwr::QtFileDialogs dialogs;
    chwr::QtDesktopServices desktop;
    std::unique_ptr<chwr::InstallHandoff> install = chwr::makeSystemInstallHandoff();
    chwr::WindowServices services;
    services.messages = &messages;
    services.dialogs = &dialogs;
    services.desktop = &desktop;
    services.install = install.get();
    services.makePlayer = [] { return std::make_unique<chwr::FluidSynthPlayer>(); };
    chwr::SettingsDialogFolders folders(settings, chwr::toPath(QDir::homePath()));
    services.folders = &folders;

    chwr::Form1 window(services, settings);
    StartupTimer timer(sinceStart);
    if (qEnvironmentVariable("CHIMEWRIGHT_STARTUP_TIMING") == "1")
        window.installEventFilter(&timer);
    window.show();
    return QApplication::exec();
}
