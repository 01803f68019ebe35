#include "cli/command.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace chwr::cli {

namespace {

namespace fs = std::filesystem;

// The player program: beside chwr in the build folder, in the libexec folder once
// installed.
constexpr const char* kPlayerProgram = "chwr-player";

fs::path findPlayerProgram()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return kPlayerProgram;
    const fs::path folder = self.parent_path();
    for (const fs::path& candidate :
         {folder / kPlayerProgram, folder / CHWR_BIN_TO_LIBEXEC / kPlayerProgram}) {
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return folder / kPlayerProgram;
}

// Replaces this process with the player program, so its exit status, output and
// Ctrl-C are the command's own. Returns only when the program cannot be started.
int runInPlayer(const std::string& command, const std::vector<std::string>& args, Streams io)
{
    const fs::path program = findPlayerProgram();
    std::vector<std::string> words{kPlayerProgram, command};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    io.out.flush();
    io.err.flush();
    ::execv(program.c_str(), argv.data());
    return failure(io,
                   "The player program " + program.string() + " cannot be started: " + std::strerror(errno),
                   command);
}

} // namespace

std::vector<Command> playerCommands()
{
    std::vector<Command> commands;
    for (const PlayerCommandText& text : playerCommandTexts()) {
        std::string name = text.name;
        // The options are read here as the player reads them, so --help and bad usage
        // are answered without starting it.
        commands.push_back(
            {text.name, text.synopsis, text.summary, text.help, [name](CommandArgs& args, Streams io) {
                 PlayerArgs options;
                 declarePlayerOptions(args, options);
                 if (std::optional<int> done = args.parse(io))
                     return *done;
                 return runInPlayer(name, args.given(), io);
             }});
    }
    return commands;
}

} // namespace chwr::cli
