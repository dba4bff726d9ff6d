// The command handlers; each takes the arguments after its command word.
#pragma once

#include "args.hpp"
#include "command_error.hpp"

CommandResult accounts(Args args);
CommandResult status(Args args);
CommandResult models(Args args);
CommandResult chat(Args args);
CommandResult image(Args args);
CommandResult video(Args args);
CommandResult speech(Args args);
CommandResult task(Args args);
CommandResult gallery(Args args);
