#pragma once

#include "shell/result.h"

#include <filesystem>
#include <string_view>

namespace chwr {

// The program's own folder: a per-user, writable working folder for the header
// snapshot, the preview and export files, head, crop, the channel table and midi/.
// CHIMEWRIGHT_HOME overrides it; otherwise $XDG_DATA_HOME/chimewright, falling back
// to ~/.local/share/chimewright.
std::filesystem::path programFolder();

// programFolder(), created when missing.
Result<std::filesystem::path> ensureProgramFolder();

// The folder "midi" in the program's folder, and in it "debug.txt": a text file that
// every rewrite empties, whose presence marks that the folder has been set up.
inline constexpr std::string_view kMidiFolderName = "midi";
inline constexpr std::string_view kDebugLogName = "debug.txt";
// What the first start writes into debug.txt: one line.
inline constexpr std::string_view kDebugLogFirstLine = "Chimewright Vuruva\r\n";

// programFolder()/midi/debug.txt.
std::filesystem::path debugLogPath();

// The first-start set-up, run at every activation of the window: when debug.txt is
// missing, creates the program folder and "midi" as needed and writes debug.txt with its
// one line; an existing "midi" keeps what it holds. True when debug.txt was created.
Result<bool> setUpProgramFolder();

} // namespace chwr
