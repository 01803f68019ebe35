#pragma once

#include "shell/install_handoff.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace chwr {

// J-Pilot's folder in its home ($JPILOT_HOME, else the user's home).
inline constexpr std::string_view kJPilotFolderName = ".jpilot";
// The list of files J-Pilot installs at the next HotSync: one absolute path a line.
inline constexpr std::string_view kJPilotInstallListName = "jpilot.install";
// J-Pilot's newest full backup; each database in it is named after its internal name.
inline constexpr std::string_view kJPilotBackupFolderName = "backup";
inline constexpr std::string_view kJPilotDatabaseFileName = "MIDI Ring Tones.pdb";
// The process names of a running J-Pilot, whose HotSync rewrites the install list.
inline constexpr std::string_view kJPilotProcessName = "jpilot";
inline constexpr std::string_view kJPilotSyncProcessName = "jpilot-sync";
// KPilot's queue, in its data folder (KDE 4 kept that under ~/.kde/share/apps).
inline constexpr std::string_view kKPilotDataFolderName = "kpilot";
inline constexpr std::string_view kKPilotPendingFolderName = "pending_install";
// gnome-pilot's queueing tool; --later leaves the file for the next HotSync.
inline constexpr std::string_view kGnomePilotInstallTool = "gpilot-install-file";
inline constexpr std::string_view kGnomePilotLaterOption = "--later";
// ColdSync's folder in the home, and the queue in it.
inline constexpr std::string_view kColdSyncFolderName = ".palm";
inline constexpr std::string_view kColdSyncInstallFolderName = "install";
// The pilot-link command that installs a file by hand.
inline constexpr std::string_view kPilotXferCommand = "pilot-xfer -p usb: -i";

struct RunningProcess {
    int id = 0;
    std::string name; // the program's name as the system shows it (15 characters at most)
};

// Where the HotSync tools of this user keep their files, and what is running; read
// from the environment by systemHotSyncEnvironment(), set by hand in tests.
struct HotSyncEnvironment {
    std::filesystem::path home;       // $HOME
    std::filesystem::path jpilotHome; // $JPILOT_HOME, may be empty
    std::filesystem::path dataHome;   // $XDG_DATA_HOME, else ~/.local/share
    std::string searchPath;           // $PATH, for gpilot-install-file
    std::function<std::vector<RunningProcess>()> runningProcesses;
    std::filesystem::path winePrefix = {}; // $WINEPREFIX, else ~/.wine: Palm Desktop under Wine
};

HotSyncEnvironment systemHotSyncEnvironment();

// The processes of this system, from /proc.
std::vector<RunningProcess> listRunningProcesses();

// $JPILOT_HOME/.jpilot, else ~/.jpilot.
std::filesystem::path jpilotFolder(const HotSyncEnvironment& environment);

// J-Pilot's backup of the ring tone database ($JPILOT_HOME/.jpilot/backup/MIDI Ring
// Tones.pdb, else under the home), or an empty path when there is none.
std::filesystem::path jpilotBackupDatabase(const HotSyncEnvironment& environment);

// Where "Browse" starts for the database file: J-Pilot's newest backup when that folder
// exists (with the database preset when it is there), else nowhere in particular (an
// empty folder: the dialog starts where the user last chose a database).
struct BrowseStart {
    std::filesystem::path folder;
    std::filesystem::path fileName; // full path to preset; empty for none
};
BrowseStart browseStart(const HotSyncEnvironment& environment);

// The hand-off to the first HotSync tool this user has, in this order: J-Pilot (the
// path is added once to jpilot.install, never while J-Pilot runs), KPilot (a copy in
// its pending_install folder), gnome-pilot (gpilot-install-file --later), ColdSync (a
// copy in ~/.palm/install). With none, install() fails with a message naming the
// pilot-xfer command that installs the file by hand.
std::unique_ptr<InstallHandoff> makeInstallHandoff(HotSyncEnvironment environment);

} // namespace chwr
