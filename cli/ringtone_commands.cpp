#include "cli/command.h"

namespace chwr::cli {

std::vector<Command> ringToneCommands()
{
    return {};
}

}  // namespace chwr::cli
