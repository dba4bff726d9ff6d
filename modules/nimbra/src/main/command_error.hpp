// The one error value of the dispatcher and every command handler.
#pragma once

#include <expected>
#include <string>

struct CommandError {
  enum class Kind { Usage, Runtime };
  Kind kind;
  std::string message;  // finished text, no trailing line feed
};

using CommandResult = std::expected<void, CommandError>;

// A usage error: printed bare, exit status 2.
[[nodiscard]] inline CommandError usage(std::string text) {
  return CommandError{CommandError::Kind::Usage, std::move(text)};
}

// A runtime error: printed after "orvik-nimbra: ", exit status 1.
[[nodiscard]] inline CommandError runtime_error(std::string text) {
  return CommandError{CommandError::Kind::Runtime, std::move(text)};
}
