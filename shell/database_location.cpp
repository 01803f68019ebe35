#include "shell/database_location.h"

#include "shell/palm_desktop.h"
#include "shell/program_folder.h"
#include "shell/registry.h"

#include <algorithm>

namespace chwr {

namespace {

// A HotSync user's directory name must name one folder: typed text or a strange
// users.dat must not lead the database path elsewhere.
bool isSingleFolderName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

} // namespace

void DatabaseLocation::setPalmDesktop(std::string palmDesktopDirectory,
                                      std::vector<std::string> userDirectories)
{
    m_palmDesktopDirectory = std::move(palmDesktopDirectory);
    m_users = std::move(userDirectories);
    if (!m_users.empty())
        m_userText = m_users.front();
}

void DatabaseLocation::applyStoredSettings()
{
    if (std::string path = m_store.readSetting(kDbPathSetting); !path.empty())
        m_pathText = std::move(path);
    if (std::string user = m_store.readSetting(kDbHotSyncIdSetting); !user.empty())
        setUserText(std::move(user));
    selectOption(m_store.readSetting(kDbOptionSetting) == kDbOptionPathText ? 1 : 0);
    m_settingsRestored = true;
}

void DatabaseLocation::selectOption(int index)
{
    m_option = index == 1 ? LocationOption::Path : LocationOption::HotSyncUser;
    m_store.writeSetting(
        kDbOptionSetting,
        std::string(m_option == LocationOption::Path ? kDbOptionPathText : kDbOptionHotSyncText));
}

void DatabaseLocation::setUserText(std::string text)
{
    m_userText = std::move(text);
    if (m_settingsRestored)
        m_store.writeSetting(kDbHotSyncIdSetting, m_userText);
}

void DatabaseLocation::pickUser(std::size_t index)
{
    if (index < m_users.size())
        setUserText(m_users[index]);
}

void DatabaseLocation::setBrowsedPath(std::string path)
{
    if (path.empty())
        return;
    m_pathText = std::move(path);
    m_store.writeSetting(kDbPathSetting, m_pathText);
}

int DatabaseLocation::selectedUserIndex() const
{
    auto found = std::find(m_users.begin(), m_users.end(), m_userText);
    return found == m_users.end() ? -1 : static_cast<int>(found - m_users.begin());
}

Result<std::filesystem::path> DatabaseLocation::userBackupFolder() const
{
    if (m_palmDesktopDirectory.empty()) {
        auto core = registryKeyPath(RegistryRoot::CurrentUser, kPalmDesktopCoreKey);
        return Error{
            "The Palm Desktop folder is not known, so there is no HotSync user's database. Choose the "
            "database file under \"Path:\", or name the Palm Desktop folder as the value \"" +
            std::string(kPalmDesktopPathValue) + "\" of [" + (core ? *core : std::string()) +
            "] in the settings file \"" + registryFilePath().string() + "\"."};
    }
    if (m_userText.empty())
        return Error{
            "No HotSync user is selected: choose one under \"Hotsync ID (shortname):\", or choose the "
            "database file under \"Path:\"."};
    if (!isSingleFolderName(m_userText))
        return Error{"The HotSync user \"" + m_userText + "\" is not the name of a folder."};
    return hotSyncUserFolder(m_palmDesktopDirectory, m_userText) / kUserBackupFolderName;
}

Result<std::filesystem::path> DatabaseLocation::ResolveDatabasePath() const
{
    if (m_option == LocationOption::Path) {
        if (m_pathText.empty())
            return Error{"No database file is chosen: choose one with \"Browse\" under \"Path:\"."};
        return std::filesystem::path(m_pathText);
    }
    auto folder = userBackupFolder();
    if (!folder)
        return Error{folder.error()};
    return *folder / kDatabaseFileName;
}

Result<std::filesystem::path> DatabaseLocation::BackupPath() const
{
    if (m_option == LocationOption::Path)
        return programFolder() / kBackupFileName;
    auto folder = userBackupFolder();
    if (!folder)
        return Error{folder.error()};
    return *folder / kBackupFileName;
}

} // namespace chwr
