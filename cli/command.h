#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/bytes.h"
#include "shell/result.h"

#include <nlohmann/json.hpp>

namespace chwr::cli {

// The exit contract of chwr: 0 done, 1 refused or failed, 2 bad usage.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// What a command prints with --json: one object, its keys in the order they were set.
using Json = nlohmann::ordered_json;

struct Streams {
    std::ostream& out;
    std::ostream& err;
    // Set by a command given --json: a refusal then prints {"error": ...} on out too.
    bool json = false;
};

class CommandArgs;

struct Command {
    std::string name;
    std::string synopsis; // "list DB [--json]"
    std::string summary;  // one line for chwr --help
    std::string help;     // the text of chwr NAME --help, after the synopsis
    // Declares the command's options on `args`, parses them and does the work.
    std::function<int(CommandArgs& args, Streams io)> run;
};

// The arguments of one command, read with CLI11: the options the command declares
// ("--opt value" and "--opt=value"), the rest positional; "--" ends the options and
// -h or --help shows the command's help.
class CommandArgs {
public:
    CommandArgs(const Command& command, std::vector<std::string> args);
    ~CommandArgs();
    CommandArgs(const CommandArgs&) = delete;
    CommandArgs& operator=(const CommandArgs&) = delete;

    // A flag without a value.
    void flag(const std::string& name, bool& set);
    // An option with a value, each time it is given; the command says how often it may be.
    void option(const std::string& name, const std::string& valueName, std::vector<std::string>& values);

    // Reads the arguments: nothing when the command goes on, else its exit status after
    // the help (0) or the usage error (2) was printed.
    std::optional<int> parse(Streams io);
    const std::string& commandName() const { return m_command.name; }
    const std::vector<std::string>& positional() const { return m_positional; }
    // The arguments as given, for the player program.
    const std::vector<std::string>& given() const { return m_given; }
    // Prints "chwr COMMAND: PROBLEM" and the synopsis on standard error; returns kExitUsage.
    int usageError(Streams io, const std::string& problem) const;

private:
    struct Parser;
    const Command& m_command;
    std::vector<std::string> m_given;
    std::vector<std::string> m_positional;
    std::unique_ptr<Parser> m_parser;
};

// Prints "chwr: MESSAGE" (or "chwr COMMAND: MESSAGE") on standard error, and with --json
// {"error": "MESSAGE"} on standard output; returns kExitFailed.
int failure(Streams io, const std::string& message, const std::string& command = {});

// Prints one object on a line, as chwr always has: ", " and ": " between the parts,
// control characters as \u00XX, other text as it is.
void printJson(std::ostream& out, const Json& value);

// "-" as a file: standard input or output.
inline bool isStandardStream(const std::string& file)
{
    return file == "-";
}
// The bytes of an input file, of standard input for "-" (read to its end).
Result<Bytes> readInput(const std::string& file);
// Writes bytes whole to standard output.
Result<void> writeStandardOutput(Streams io, ByteView bytes);

// Each area's commands; main() lists them all. chwr's play and render start the player
// program (chwr-player), which alone links the synthesizer; its playerCommands() run them.
std::vector<Command> ringToneCommands();
std::vector<Command> midiCommands();
std::vector<Command> playerCommands();

// The words and options of play and render, which chwr and chwr-player both read.
struct PlayerCommandText {
    const char* name;
    const char* synopsis;
    const char* summary;
    const char* help;
};
const std::vector<PlayerCommandText>& playerCommandTexts();

struct PlayerArgs {
    std::vector<std::string> soundFonts; // --soundfont, the last one counts
    bool silent = false;                 // play --silent
    bool json = false;                   // render --json
};
// Declares the options of play or render on `args`, the same in both programs.
void declarePlayerOptions(CommandArgs& args, PlayerArgs& options);

// Runs the command that args[0] names (or prints the usage) and returns the exit status.
int runCommandLine(const std::vector<Command>& commands, const std::vector<std::string>& args);

} // namespace chwr::cli
