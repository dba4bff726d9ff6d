#include "commands.hpp"

CommandResult speech(Args) { return std::unexpected(runtime_error("the speech command is not built yet")); }
