#include "shell/hotsync_environment.h"

#include "shell/palm_desktop.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace chwr {
namespace fs = std::filesystem;

namespace {

// Each process of the system has a folder named after its id here, with its name in "comm".
constexpr const char* kProcFolder = "/proc";
constexpr const char* kProcessNameFile = "comm";

fs::path fromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? fs::path(value) : fs::path();
}

bool isFolder(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

bool isDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

HotSyncEnvironment systemHotSyncEnvironment()
{
    HotSyncEnvironment environment;
    environment.home = fromEnvironment("HOME");
    environment.jpilotHome = fromEnvironment("JPILOT_HOME");
    environment.dataHome = fromEnvironment("XDG_DATA_HOME");
    if (!environment.dataHome.is_absolute())
        environment.dataHome = environment.home.empty() ? fs::path() : environment.home / ".local" / "share";
    if (const char* path = std::getenv("PATH"))
        environment.searchPath = path;
    environment.runningProcesses = listRunningProcesses;
    environment.winePrefix = systemWinePrefix();
    return environment;
}

std::vector<RunningProcess> listRunningProcesses()
{
    std::vector<RunningProcess> processes;
    std::error_code error;
    for (fs::directory_iterator it(kProcFolder, error), end; !error && it != end; it.increment(error)) {
        std::string id = it->path().filename().string();
        if (!isDigits(id))
            continue;
        std::ifstream comm(it->path() / kProcessNameFile);
        std::string name;
        if (comm && std::getline(comm, name))
            processes.push_back({std::atoi(id.c_str()), name});
    }
    return processes;
}

fs::path jpilotFolder(const HotSyncEnvironment& environment)
{
    const fs::path& base = environment.jpilotHome.empty() ? environment.home : environment.jpilotHome;
    return base / kJPilotFolderName;
}

fs::path jpilotBackupDatabase(const HotSyncEnvironment& environment)
{
    if (environment.home.empty() && environment.jpilotHome.empty())
        return {};
    fs::path database = jpilotFolder(environment) / kJPilotBackupFolderName / kJPilotDatabaseFileName;
    std::error_code error;
    return fs::is_regular_file(database, error) ? database : fs::path();
}

BrowseStart browseStart(const HotSyncEnvironment& environment)
{
    fs::path backup = jpilotFolder(environment) / kJPilotBackupFolderName;
    if ((!environment.home.empty() || !environment.jpilotHome.empty()) && isFolder(backup))
        return {backup, jpilotBackupDatabase(environment)};
    return {};
}

} // namespace chwr
