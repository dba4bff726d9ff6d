#include "commands.hpp"

CommandResult gallery(Args) { return std::unexpected(runtime_error("the gallery command is not built yet")); }
