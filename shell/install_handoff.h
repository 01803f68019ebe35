#pragma once

#include "shell/result.h"

#include <filesystem>
#include <memory>
#include <string>

namespace chwr {

// Hands a written ring tone database to whatever installs it on the handheld at the
// next HotSync. The file must stay where it is until then.
class InstallHandoff {
public:
    virtual ~InstallHandoff() = default;
    // On success, a sentence for the user that says where the file went.
    virtual Result<std::string> install(const std::filesystem::path& database) = 0;
};

// The hand-off to the HotSync tool this system has (J-Pilot, KPilot, gnome-pilot,
// ColdSync), or a message naming the command that installs the file by hand.
std::unique_ptr<InstallHandoff> makeSystemInstallHandoff();

}  // namespace chwr
