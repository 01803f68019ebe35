#pragma once

#include "midi_edit/midi_edit_state.h"
#include "ringtone_db/ring_tone_database.h"
#include "shell/database_location.h"
#include "shell/hotsync_environment.h"
#include "shell/settings_store.h"
#include "shell/ui/window_services.h"

#include <QMainWindow>
#include <QPointer>

#include <cstddef>
#include <functional>
#include <string>

class QAction;
class QMenu;
class QTabWidget;

namespace chwr {

class LoadMidiTab;
class ModifyMidiTab;
class SetupTab;
class frmAbout;

// The window's caption, with its one leading blank.
inline constexpr const char* kMainWindowCaption = " Chimewright Vuruva";
// Asked on closing while the list holds changes not written (Write, Discard, Cancel).
inline constexpr const char* kWriteBeforeClosingQuestion =
    "Write the ring tones to the database before closing?";
// The second line of the start-up message without a Palm Desktop folder.
inline constexpr const char* kChooseDatabaseHint = "Choose the ring tone database on the Setup tab.";

// The main window. It owns the program's state (the loaded ring tone database, the
// "Modify MIDI" tab's state, the database location with the Palm Desktop folder and
// SettingsRestored) and hosts the three tabs; the tabs do the work of their buttons.
//
// The first show runs Form_Load; every activation of the window runs Form_Activate.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    Form1(WindowServices& services, SettingsStore& settings, QWidget* parent = nullptr);
    ~Form1() override;

    QMenu* mnuFile = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuAbout = nullptr;
    QTabWidget* SSTab1 = nullptr;
    LoadMidiTab* loadTab = nullptr;
    ModifyMidiTab* modifyTab = nullptr;
    SetupTab* setupTab = nullptr;
    // The about box while it is open.
    QPointer<frmAbout> aboutBox;

    RingToneDatabase& database() { return m_database; }
    MidiEditState& midiState() { return m_midiState; }
    DatabaseLocation& location() { return m_location; }
    const std::string& PalmDesktopDirectory() const { return m_location.palmDesktopDirectory(); }
    bool SettingsRestored() const { return m_location.settingsRestored(); }

    // How "&Exit" ends the program; tests replace it.
    std::function<void()> endProgram;
    // Where J-Pilot keeps its files, for the first start; tests replace it.
    std::function<HotSyncEnvironment()> hotSyncEnvironment = systemHotSyncEnvironment;

public slots:
    void Form_Load();
    void Form_Activate();
    void mnuExit_Click();
    void mnuAbout_Click();
    // "Modify MIDI" on a ring tone of the list, after the list's checks.
    void ModifyMidiHandOff(std::size_t row);
    // "Load MIDI File" of the "Modify MIDI" tab: the rewrite result becomes a ring tone.
    void LoadMidiFileIntoList();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // With unwritten changes, asks whether to write them first: true when the window may
    // close (written, or discarded), false when the user cancelled or the write failed.
    bool mayClose();
    // Without a Palm Desktop folder: a J-Pilot backup database when there is one, else
    // the message that says where to choose the database.
    void findDatabaseOnFirstStart(const std::string& message);

    WindowServices& m_services;
    SettingsStore& m_settings;
    RingToneDatabase m_database;
    MidiEditState m_midiState;
    DatabaseLocation m_location;
    bool m_loaded = false;
    bool m_activated = false;
};

} // namespace chwr
