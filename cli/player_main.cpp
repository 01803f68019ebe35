#include "cli/command.h"

#include <string>
#include <vector>

// chwr-player: chwr's play and render, in a program of their own so that the
// synthesizer and its audio libraries load only for them.
int main(int argc, char** argv)
{
    return chwr::cli::runCommandLine(chwr::cli::playerCommands(), std::vector<std::string>(argv + 1, argv + argc));
}
