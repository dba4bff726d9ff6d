#include "commands.hpp"

CommandResult image(Args) { return std::unexpected(runtime_error("the image command is not built yet")); }
