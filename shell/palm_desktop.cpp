#include "shell/palm_desktop.h"

#include "shell/file_io.h"
#include "shell/reg_file_format.h"
#include "shell/windows1252.h"

#include <cctype>
#include <cstdlib>
#include <system_error>

namespace chwr {

namespace {

// Wine's registry files are the .reg text under another first line ("WINE REGISTRY
// Version 2"), with "#" lines of its own, key names relative to the file's root with
// their backslashes doubled, and the time of the last change after the key's "]".
// They become the .reg text that parseRegFile reads.
std::string wineRegistryAsRegText(std::string_view wine, RegistryRoot root)
{
    std::string text;
    std::size_t start = wine.find('\n');
    while (start != std::string_view::npos && start < wine.size()) {
        const std::size_t end = wine.find('\n', start + 1);
        std::string_view line = wine.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
        start = end;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty() && line.front() == '#')
            continue;
        const std::size_t close = line.rfind(']');
        if (line.empty() || line.front() != '[' || close == std::string_view::npos) {
            text.append(line).push_back('\n');
            continue;
        }
        std::string key;
        const std::string_view escaped = line.substr(1, close - 1);
        for (std::size_t i = 0; i < escaped.size(); ++i) {
            key.push_back(escaped[i]);
            if (escaped[i] == '\\' && i + 1 < escaped.size() && escaped[i + 1] == '\\')
                ++i;
        }
        text += "[" + std::string(registryRootName(root)) + "\\" + key + "]\n";
    }
    return text;
}

} // namespace

std::filesystem::path systemWinePrefix()
{
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix)
        return prefix;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / kWineDefaultPrefixName;
    return {};
}

std::filesystem::path wineUnixPath(const std::filesystem::path& prefix, std::string_view windowsPath)
{
    if (windowsPath.size() < 2 || windowsPath[1] != ':' ||
        !std::isalpha(static_cast<unsigned char>(windowsPath[0])))
        return {};
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
    std::filesystem::path folder = prefix / kWineDosDevicesName / (std::string(1, letter) + ":");
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) {
        // The folder the drive's link leads to, as the user knows it.
        if (std::filesystem::path target = std::filesystem::canonical(folder, error); !error)
            folder = std::move(target);
    } else if (letter == 'c') {
        folder = prefix / kWineDriveCName;
    } else {
        return {};
    }
    std::size_t at = 2;
    while (at < windowsPath.size()) {
        const std::size_t next = windowsPath.find_first_of("\\/", at);
        const std::string_view part =
            windowsPath.substr(at, next == std::string_view::npos ? next : next - at);
        if (!part.empty())
            folder /= part;
        if (next == std::string_view::npos)
            break;
        at = next + 1;
    }
    return folder;
}

std::string findPalmDesktopInWine(const std::filesystem::path& prefix)
{
    if (prefix.empty())
        return {};
    std::string text(kRegFileHeader);
    text.push_back('\n');
    for (const auto& [name, root] : {std::pair{kWineUserRegistryName, RegistryRoot::CurrentUser},
                                     std::pair{kWineMachineRegistryName, RegistryRoot::LocalMachine}}) {
        // A prefix without the file, or one that cannot be read, names nothing.
        if (Result<Bytes> bytes = readFileBytes(prefix / name))
            text += wineRegistryAsRegText(asString(*bytes), root);
    }
    MemoryRegistry registry(parseRegFile(asBytes(text)).contents);
    const SettingsStore store(registry);
    const std::string windowsPath = findPalmDesktopDirectory(store);
    return windowsPath.empty() ? std::string() : wineUnixPath(prefix, windowsPath).string();
}

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

PalmDesktopDiscovery discoverPalmDesktop(const SettingsStore& store, const std::filesystem::path& winePrefix)
{
    PalmDesktopDiscovery discovery;
    discovery.PalmDesktopDirectory = findPalmDesktopDirectory(store);
    if (discovery.PalmDesktopDirectory.empty())
        discovery.PalmDesktopDirectory = findPalmDesktopInWine(winePrefix);
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
