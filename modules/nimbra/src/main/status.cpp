#include "commands.hpp"

CommandResult status(Args) { return std::unexpected(runtime_error("the status command is not built yet")); }
