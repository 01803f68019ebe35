#include "shell/program_folder.h"

#include "shell/file_io.h"

#include <cstdlib>
#include <system_error>

namespace chwr {
namespace fs = std::filesystem;

namespace {

fs::path fromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? fs::path(value) : fs::path();
}

} // namespace

fs::path programFolder()
{
    if (fs::path home = fromEnvironment("CHIMEWRIGHT_HOME"); !home.empty())
        return home;
    if (fs::path data = fromEnvironment("XDG_DATA_HOME"); data.is_absolute())
        return data / "chimewright";
    if (fs::path home = fromEnvironment("HOME"); !home.empty())
        return home / ".local" / "share" / "chimewright";
    return fs::temp_directory_path() / "chimewright";
}

Result<fs::path> ensureProgramFolder()
{
    fs::path folder = programFolder();
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        return Error{"Cannot create the program folder \"" + folder.string() + "\": " + error.message()};
    return folder;
}

fs::path debugLogPath()
{
    return programFolder() / kMidiFolderName / kDebugLogName;
}

Result<bool> setUpProgramFolder()
{
    fs::path log = debugLogPath();
    std::error_code error;
    if (fs::exists(fs::symlink_status(log, error)))
        return false;
    fs::create_directories(log.parent_path(), error);
    if (error)
        return Error{"Cannot create the folder \"" + log.parent_path().string() + "\": " + error.message()};
    if (auto written = writeFileAtomic(log, asBytes(kDebugLogFirstLine)); !written)
        return Error{written.error()};
    return true;
}

} // namespace chwr
