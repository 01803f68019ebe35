#include "cli/command.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace chwr::cli;
    std::vector<Command> commands;
    for (auto group : {ringToneCommands, midiCommands, playerCommands})
        for (Command& command : group())
            commands.push_back(std::move(command));
    return runCommandLine(commands, std::vector<std::string>(argv + 1, argv + argc));
}
