#include "cli/command.h"

#include <iostream>
#include <string>
#include <vector>

namespace chwr::cli {

const std::vector<std::string>* ParsedArgs::values(const std::string& option) const
{
    auto it = options.find(option);
    return it == options.end() ? nullptr : &it->second;
}

bool parseArgs(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
               const std::set<std::string>& flags, ParsedArgs& parsed, std::string& error)
{
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.rfind("--", 0) != 0) {
            if (arg == "--") {
                optionsEnded = true;
                continue;
            }
            parsed.positional.push_back(arg);
            continue;
        }
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        if (valueOptions.count(name)) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) {
                    error = "option " + name + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            parsed.options[name].push_back(value);
        } else if (flags.count(name) && !inlineValue) {
            parsed.flags.insert(name);
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    return true;
}

int usageError(Streams io, const std::string& command, const std::string& synopsis, const std::string& problem)
{
    io.err << "chwr " << command << ": " << problem << "\nUsage: chwr " << synopsis << "\n";
    return kExitUsage;
}

int failure(Streams io, const std::string& message, const std::string& command)
{
    io.err << "chwr" << (command.empty() ? "" : " " + command) << ": " << message << "\n";
    return kExitFailed;
}

namespace {

void printUsage(std::ostream& out, const std::vector<Command>& commands)
{
    out << "Usage: chwr COMMAND [ARGS...]\n"
           "Manages the MIDI ring tones of a Palm smartphone's ring tone database and edits\n"
           "Standard MIDI Files. Ring tones are counted from 1.\n\n"
           "Commands:\n";
    for (const Command& command : commands)
        out << "  " << command.synopsis << "\n      " << command.summary << "\n";
    out << "\nchwr COMMAND --help shows more about a command.\n"
           "Exit status: 0 done, 1 refused or failed, 2 bad usage.\n";
}

}  // namespace

int runCommandLine(const std::vector<Command>& commands, const std::vector<std::string>& args)
{
    if (args.empty()) {
        printUsage(std::cerr, commands);
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printUsage(std::cout, commands);
        return kExitOk;
    }
    for (const Command& command : commands) {
        if (command.name != args[0])
            continue;
        std::vector<std::string> rest(args.begin() + 1, args.end());
        for (const std::string& arg : rest) {
            if (arg == "--help" || arg == "-h") {
                std::cout << "Usage: chwr " << command.synopsis << "\n" << command.summary << "\n";
                if (!command.help.empty())
                    std::cout << "\n" << command.help << "\n";
                return kExitOk;
            }
            if (arg == "--")
                break;
        }
        return command.run(rest, Streams{std::cout, std::cerr});
    }
    std::cerr << "chwr: unknown command \"" << args[0] << "\" (chwr --help lists the commands)\n";
    return kExitUsage;
}

}  // namespace chwr::cli
