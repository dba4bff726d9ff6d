#include "commands.hpp"

CommandResult task(Args) { return std::unexpected(runtime_error("the task command is not built yet")); }
