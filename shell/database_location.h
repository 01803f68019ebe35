#pragma once

#include "shell/result.h"
#include "shell/settings_store.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace chwr {

// The ring tone database as HotSync leaves it in a user's backup folder.
inline constexpr std::string_view kDatabaseFileName = "MIDI_Ring_Tones.PDB";
// Its one backup generation.
inline constexpr std::string_view kBackupFileName = "MIDI_Ring_Tones.bak";
// The folder of a HotSync user's directory that holds the database.
inline constexpr std::string_view kUserBackupFolderName = "Backup";
// The "Browse" dialog's title and filter.
inline constexpr std::string_view kBrowseTitle = "Locate MIDI Ring Tone Database File";
inline constexpr std::string_view kBrowseFilter = "Palm DB File (*.pdb)|*.pdb";

// Which database location is in force: Option1(0), "Hotsync ID (shortname):", or
// Option1(1), "Path:".
enum class LocationOption { HotSyncUser = 0, Path = 1 };

// The "Database Location" frame of the Setup tab without its widgets: the two options,
// the HotSync user box (Combo1), the path box (txtPalmDBPath), and what they store. The
// window forwards its events here and shows the state it reads back.
class DatabaseLocation {
public:
    explicit DatabaseLocation(SettingsStore& store) : m_store(store) {}

    // While the window loads: the Palm Desktop folder found and the users' directory
    // names for Combo1; the first user is selected.
    void setPalmDesktop(std::string palmDesktopDirectory, std::vector<std::string> userDirectories);

    // Each activation of the window: the stored path and user replace what the boxes
    // hold when they are not empty, the stored option is applied (and stored back), and
    // from then on SettingsRestored is set.
    void applyStoredSettings();

    // Option1 clicked (index 0 or 1), or applied from the settings: enables the matching
    // controls and stores the index under "CHWR-DBOption".
    void selectOption(int index);

    // The text of Combo1 changed (typed, or set from the settings). Stored under
    // "CHWR-DBHOTSYNCID" only once SettingsRestored is set.
    void setUserText(std::string text);
    // An entry of Combo1's list picked; stored like a typed text.
    void pickUser(std::size_t index);

    // Text typed into txtPalmDBPath: not stored, so the next activation replaces it.
    void setPathText(std::string text) { m_pathText = std::move(text); }
    // The file chosen with "Browse": becomes the path text and is stored under
    // "CHWR-DBPath". The option in force does not change.
    void setBrowsedPath(std::string path);

    LocationOption option() const { return m_option; }
    bool pathControlsEnabled() const { return m_option == LocationOption::Path; }
    bool userBoxEnabled() const { return m_option == LocationOption::HotSyncUser; }
    const std::string& pathText() const { return m_pathText; }
    const std::string& userText() const { return m_userText; }
    // The entry of Combo1 that matches its text; -1 when none does.
    int selectedUserIndex() const;
    const std::vector<std::string>& users() const { return m_users; }
    const std::string& palmDesktopDirectory() const { return m_palmDesktopDirectory; }
    bool settingsRestored() const { return m_settingsRestored; }

    // Where the ring tone database is: with the HotSync option, the Palm Desktop folder,
    // the user's directory, "Backup", "MIDI_Ring_Tones.PDB"; with the path option, the
    // path text. Refused with a message when either is missing, rather than guessed.
    Result<std::filesystem::path> ResolveDatabasePath() const;
    // Where the previous database is kept: beside it, as "MIDI_Ring_Tones.bak", with
    // the HotSync option; in the program's folder with the path option.
    Result<std::filesystem::path> BackupPath() const;

private:
    Result<std::filesystem::path> userBackupFolder() const;

    SettingsStore& m_store;
    LocationOption m_option = LocationOption::HotSyncUser;
    std::string m_palmDesktopDirectory;
    std::vector<std::string> m_users;
    std::string m_userText;
    std::string m_pathText;
    bool m_settingsRestored = false;
};

} // namespace chwr
