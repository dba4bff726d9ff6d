// The credential a command uses: the one for --host, or the preferred one.
#pragma once

#include <expected>

#include "args.hpp"
#include "command_error.hpp"
#include "nimbra/resolve.hpp"

// Reads --host like any value flag, resolves every key, and picks; every
// failure is a runtime error with resolution's message.
[[nodiscard]] std::expected<resolve::Credential, CommandError> pick_credential(Args args);
