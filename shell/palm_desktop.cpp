#include "shell/palm_desktop.h"

#include "shell/windows1252.h"

#include <system_error>

namespace chwr {

std::string directoryFromInstallCommand(std::string_view commandLine)
{
    std::string directory(commandLine);
    if (std::size_t found = commandLine.find(kInstallToolName); found != std::string_view::npos)
        directory = commandLine.substr(0, found == 0 ? 0 : found - 1);
    if (!directory.empty() && directory.front() == '"')
        directory.erase(0, 1);
    return directory;
}

std::string findPalmDesktopDirectory(const SettingsStore& store)
{
    std::string text;
    store.ReadRegValue(RegistryRoot::CurrentUser, kPalmDesktopCoreKey, kPalmDesktopPathValue, text);
    if (text.empty())
        store.ReadRegValue(RegistryRoot::CurrentUser, kInstallToolCommandKey, "", text);
    if (text.empty())
        store.ReadRegValue(RegistryRoot::LocalMachine, kInstallToolCommandKey, "", text);
    if (text.empty())
        return {};
    return directoryFromInstallCommand(text);
}

std::filesystem::path hotSyncUserFolder(const std::filesystem::path& palmDesktopDirectory,
                                        std::string_view directoryName)
{
    std::filesystem::path utf8 = palmDesktopDirectory / directoryName;
    std::error_code error;
    if (std::filesystem::is_directory(utf8, error))
        return utf8;
    std::filesystem::path codePage = palmDesktopDirectory / asString(utf8ToWindows1252(directoryName));
    if (std::filesystem::is_directory(codePage, error))
        return codePage;
    return utf8;
}

PalmDesktopDiscovery discoverPalmDesktop(const SettingsStore& store)
{
    PalmDesktopDiscovery discovery;
    discovery.PalmDesktopDirectory = findPalmDesktopDirectory(store);
    // An install command line that starts with "Instapp" leaves no folder: nothing to read.
    if (!discovery.PalmDesktopDirectory.empty())
        discovery.users = readHotSyncUsers(discovery.PalmDesktopDirectory);
    return discovery;
}

std::optional<std::string> startupMessage(const PalmDesktopDiscovery& discovery, const SettingsStore& store)
{
    if (!discovery.PalmDesktopDirectory.empty())
        return std::nullopt;
    if (store.readSetting(kDbOptionSetting) == kDbOptionPathText)
        return std::nullopt;
    return std::string(kNoPalmDesktopMessage);
}

} // namespace chwr
