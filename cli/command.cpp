#include "cli/command.h"

#include "shell/file_io.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

namespace chwr::cli {

struct CommandArgs::Parser {
    CLI::App app;
};

CommandArgs::CommandArgs(const Command& command, std::vector<std::string> args)
    : m_command(command), m_given(std::move(args)), m_parser(std::make_unique<Parser>())
{
    CLI::App& app = m_parser->app;
    app.name("chwr " + command.name);
    app.set_help_flag("-h,--help");
    // Positional arguments in any number and anywhere; the command counts them.
    app.add_option("arguments", m_positional);
    app.positionals_at_end(false);
}

CommandArgs::~CommandArgs() = default;

void CommandArgs::flag(const std::string& name, bool& set)
{
    m_parser->app.add_flag(name, set);
}

void CommandArgs::option(const std::string& name, const std::string& valueName,
                         std::vector<std::string>& values)
{
    // One value each time the option is given; given again, it adds one more.
    m_parser->app.add_option(name, values)
        ->type_name(valueName)
        ->allow_extra_args(false)
        ->expected(1)
        ->take_all();
}

std::optional<int> CommandArgs::parse(Streams io)
{
    CLI::App& app = m_parser->app;
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(m_given.rbegin(), m_given.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        io.out << "Usage: chwr " << m_command.synopsis << "\n" << m_command.summary << "\n";
        if (!m_command.help.empty())
            io.out << "\n" << m_command.help << "\n";
        return kExitOk;
    } catch (const CLI::ExtrasError&) {
        const std::vector<std::string> extra = app.remaining();
        return usageError(io, "unknown option " + (extra.empty() ? std::string() : extra.front()));
    } catch (const CLI::ArgumentMismatch& error) {
        // A value option at the end of the arguments, or a flag given a value.
        std::string problem = error.what();
        for (const std::string& arg : m_given) {
            if (arg == "--")
                break;
            if (const CLI::Option* option = app.get_option_no_throw(arg);
                option && option->get_expected_min() > 0)
                problem = "option " + arg + " needs a value";
        }
        return usageError(io, problem);
    } catch (const CLI::ParseError& error) {
        return usageError(io, error.what());
    }
    return std::nullopt;
}

int CommandArgs::usageError(Streams io, const std::string& problem) const
{
    io.err << "chwr " << m_command.name << ": " << problem << "\nUsage: chwr " << m_command.synopsis << "\n";
    return kExitUsage;
}

int failure(Streams io, const std::string& message, const std::string& command)
{
    io.err << "chwr" << (command.empty() ? "" : " " + command) << ": " << message << "\n";
    if (io.json)
        printJson(io.out, Json{{"error", message}});
    return kExitFailed;
}

Result<Bytes> readInput(const std::string& file)
{
    if (!isStandardStream(file))
        return readFileBytes(file);
    Bytes bytes;
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Error{"Cannot read standard input: " + systemMessage(errno)};
        if (got == 0)
            return bytes;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
}

Result<void> writeStandardOutput(Streams io, ByteView bytes)
{
    if (!io.out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size())) ||
        !io.out.flush())
        return Error{"Cannot write to standard output."};
    return {};
}

namespace {

void printUsage(std::ostream& out, const std::vector<Command>& commands)
{
    out << "Usage: chwr COMMAND [ARGS...]\n"
           "       chwr --help | --version\n"
           "Manages the MIDI ring tones of a Palm smartphone's ring tone database and edits\n"
           "Standard MIDI Files. Ring tones are counted from 1.\n\n"
           "Commands:\n";
    for (const Command& command : commands)
        out << "  " << command.synopsis << "\n      " << command.summary << "\n";
    out << "\nchwr COMMAND --help shows more about a command. --json makes a command print one\n"
           "JSON object; \"-\" as a MIDI file of info or modify, or as the output of export, is\n"
           "standard input or output. man chwr tells the whole.\n"
           "Exit status: 0 done, 1 refused or failed, 2 bad usage.\n";
}

} // namespace

void printJson(std::ostream& out, const Json& value)
{
    // Names from a database may hold bytes that are not UTF-8: they are replaced.
    out << value.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

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
    if (args[0] == "--version" || args[0] == "-V") {
        std::cout << "chwr " << CHWR_VERSION << "\n";
        return kExitOk;
    }
    for (const Command& command : commands) {
        if (command.name != args[0])
            continue;
        CommandArgs commandArgs(command, std::vector<std::string>(args.begin() + 1, args.end()));
        return command.run(commandArgs, Streams{std::cout, std::cerr});
    }
    std::cerr << "chwr: unknown command \"" << args[0] << "\" (chwr --help lists the commands)\n";
    return kExitUsage;
}

} // namespace chwr::cli
