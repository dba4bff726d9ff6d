#include "commands.hpp"

CommandResult models(Args) { return std::unexpected(runtime_error("the models command is not built yet")); }
