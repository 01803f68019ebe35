#include "cli/command.h"

namespace chwr::cli {

std::vector<Command> midiCommands()
{
    return {};
}

}  // namespace chwr::cli
