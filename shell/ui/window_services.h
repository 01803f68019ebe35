#pragma once

#include "midi_edit/midi_player.h"
#include "shell/install_handoff.h"
#include "shell/ui/ui_services.h"

#include <functional>
#include <memory>

namespace chwr {

// What the window and its tabs reach the platform through. The program fills it with
// the real Qt dialogs, the FluidSynth player and the system's install hand-off; GUI
// tests fill it with scripted ones.
struct WindowServices {
    MessageBoxes* messages = nullptr;
    FileDialogs* dialogs = nullptr;
    DesktopServices* desktop = nullptr;
    InstallHandoff* install = nullptr;
    // Makes one player for each transport control (MMControl1, 2 and 3).
    std::function<std::unique_ptr<MidiPlayer>()> makePlayer;
    // Where file dialogs start; none: each starts as its request says.
    DialogFolders* folders = nullptr;
};

// A file dialog of the request's kind: it starts in the kind's folder unless the request
// names one, and the folder of the file chosen is remembered for the next one.
std::optional<QString> chooseFileToOpen(WindowServices& services, QWidget* owner, FileDialogRequest request);
std::optional<QString> chooseFileToSave(WindowServices& services, QWidget* owner, FileDialogRequest request);

} // namespace chwr
