#pragma once

#include <functional>
#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace chwr::cli {

// The exit contract of chwr: 0 done, 1 refused or failed, 2 bad usage.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct Streams {
    std::ostream& out;
    std::ostream& err;
};

struct Command {
    std::string name;
    std::string synopsis;  // "list DB [--json]"
    std::string summary;   // one line for chwr --help
    std::string help;      // the text of chwr NAME --help, after the synopsis
    std::function<int(const std::vector<std::string>& args, Streams io)> run;
};

// Arguments split into positional ones, options with a value and flags.
struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> options;
    std::set<std::string> flags;

    bool has(const std::string& flag) const { return flags.count(flag) != 0; }
    const std::vector<std::string>* values(const std::string& option) const;
};

// Parses args; valueOptions take the next argument (or "--opt=value"), flags take
// none. An unknown option or a missing value sets error and returns false.
bool parseArgs(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
               const std::set<std::string>& flags, ParsedArgs& parsed, std::string& error);

// Prints "chwr COMMAND: PROBLEM" and the synopsis on standard error; returns kExitUsage.
int usageError(Streams io, const std::string& command, const std::string& synopsis, const std::string& problem);
// Prints "chwr: MESSAGE" (or "chwr COMMAND: MESSAGE") on standard error; returns kExitFailed.
int failure(Streams io, const std::string& message, const std::string& command = {});

// Each area's commands; main() lists them all. chwr's play and render start the player
// program (chwr-player), which alone links the synthesizer; its playerCommands() run them.
std::vector<Command> ringToneCommands();
std::vector<Command> midiCommands();
std::vector<Command> playerCommands();

// The words of play and render, which chwr and chwr-player both show.
struct PlayerCommandText {
    const char* name;
    const char* synopsis;
    const char* summary;
    const char* help;
};
const std::vector<PlayerCommandText>& playerCommandTexts();

// Runs the command that args[0] names (or prints the usage) and returns the exit status.
int runCommandLine(const std::vector<Command>& commands, const std::vector<std::string>& args);

}  // namespace chwr::cli
