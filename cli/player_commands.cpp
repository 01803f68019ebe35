#include "cli/command.h"

namespace chwr::cli {

std::vector<Command> playerCommands()
{
    return {};
}

}  // namespace chwr::cli
