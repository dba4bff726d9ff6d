#include "commands.hpp"

CommandResult accounts(Args) { return std::unexpected(runtime_error("the accounts command is not built yet")); }
