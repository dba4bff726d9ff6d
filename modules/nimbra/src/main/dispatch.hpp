// The dispatcher: picks the handler by the command word.
#pragma once

#include <string_view>

#include "args.hpp"
#include "command_error.hpp"

extern const std::string_view HELP_TEXT;
extern const std::string_view DESCRIPTION;

[[nodiscard]] CommandResult run(Args args);
