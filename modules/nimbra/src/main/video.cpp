#include "commands.hpp"

CommandResult video(Args) { return std::unexpected(runtime_error("the video command is not built yet")); }
