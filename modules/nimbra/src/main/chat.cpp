#include "commands.hpp"

CommandResult chat(Args) { return std::unexpected(runtime_error("the chat command is not built yet")); }
