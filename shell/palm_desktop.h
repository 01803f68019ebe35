#pragma once

#include "shell/settings_store.h"
#include "shell/users_dat.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chwr {

// Palm Desktop's own folder, under HKEY_CURRENT_USER.
inline constexpr std::string_view kPalmDesktopCoreKey = "Software\\U.S. Robotics\\Pilot Desktop\\Core";
inline constexpr std::string_view kPalmDesktopPathValue = "Path";
// The command line of Palm Desktop's install tool (the key's default value), under
// HKEY_CURRENT_USER and then HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kInstallToolCommandKey = "Software\\CLASSES\\prcFile\\Shell\\open\\command";
// The install tool's file name starts with this text (matched with case).
inline constexpr std::string_view kInstallToolName = "Instapp";
// Shown at start-up when the registry names no Palm Desktop folder.
inline constexpr std::string_view kNoPalmDesktopMessage = "Can't find prcFile directory in registry";

// The Palm Desktop folder from the install tool's command line: everything before the
// separator in front of the first "Instapp" (the whole text when there is none), with
// one leading double quote dropped.
std::string directoryFromInstallCommand(std::string_view commandLine);

// Palm Desktop's "Path" value; failing that, the folder of its install tool's command
// line, from the current user's classes and then the machine's. Empty when none names one.
std::string findPalmDesktopDirectory(const SettingsStore& store);

// The folder of a HotSync user (a directory name as users.dat lists it, in UTF-8) under
// the Palm Desktop folder. A folder copied from Windows carries the name either in UTF-8
// or as the Windows-1252 bytes that users.dat holds: the UTF-8 name when such a folder
// exists, else the Windows-1252 name when that one exists, else the UTF-8 name.
std::filesystem::path hotSyncUserFolder(const std::filesystem::path& palmDesktopDirectory,
                                        std::string_view directoryName);

// A Wine prefix keeps the registry of its Windows programs in these two files: the
// user's keys (HKEY_CURRENT_USER) and the machine's (HKEY_LOCAL_MACHINE).
inline constexpr std::string_view kWineUserRegistryName = "user.reg";
inline constexpr std::string_view kWineMachineRegistryName = "system.reg";
// The prefix's C: drive; the other letters are links in dosdevices ("d:").
inline constexpr std::string_view kWineDriveCName = "drive_c";
inline constexpr std::string_view kWineDosDevicesName = "dosdevices";
// The prefix when $WINEPREFIX names none.
inline constexpr std::string_view kWineDefaultPrefixName = ".wine";

// This user's Wine prefix: $WINEPREFIX, else ~/.wine (whether it exists or not).
std::filesystem::path systemWinePrefix();

// A Windows path of a Wine prefix as a path of this system: "C:\Palm" is drive_c/Palm,
// another letter's folder is where dosdevices/"x:" leads. Empty for a path without a
// drive letter.
std::filesystem::path wineUnixPath(const std::filesystem::path& prefix, std::string_view windowsPath);

// Palm Desktop's folder as the prefix's registry names it (found as on Windows), as a
// path of this system; empty when the prefix names none.
std::string findPalmDesktopInWine(const std::filesystem::path& prefix);

struct PalmDesktopDiscovery {
    std::string PalmDesktopDirectory; // empty when none was found
    std::vector<HotSyncUser> users;   // from its users.dat, in file order
};

// What the window finds while it loads: the folder, then the users it lists. When the
// settings name no folder, Palm Desktop installed under Wine in `winePrefix` (none when
// empty) is looked for.
PalmDesktopDiscovery discoverPalmDesktop(const SettingsStore& store,
                                         const std::filesystem::path& winePrefix = {});

// The message to show at start-up: kNoPalmDesktopMessage when no Palm Desktop folder
// was found, unless the stored database location is an explicit file ("CHWR-DBOption"
// is "1"), for which the folder is of no use.
std::optional<std::string> startupMessage(const PalmDesktopDiscovery& discovery, const SettingsStore& store);

} // namespace chwr
