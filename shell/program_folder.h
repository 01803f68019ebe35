#pragma once

#include "shell/result.h"

#include <filesystem>

namespace chwr {

// The program's own folder: a per-user, writable working folder for the header
// snapshot, the preview and export files, head, crop, the channel table and midi/.
// CHIMEWRIGHT_HOME overrides it; otherwise $XDG_DATA_HOME/chimewright, falling back
// to ~/.local/share/chimewright.
std::filesystem::path programFolder();

// programFolder(), created when missing.
Result<std::filesystem::path> ensureProgramFolder();

}  // namespace chwr
