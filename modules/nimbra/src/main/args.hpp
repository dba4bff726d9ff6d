// The argument conventions every command follows: switches, value flags,
// positional arguments, the repeatable --edit and the integer flags.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "command_error.hpp"

using Args = std::span<const std::string>;

// Positional arguments in order: "--" ends flag scanning, value flags drop
// the argument after them, any other flag drops itself.
[[nodiscard]] std::vector<std::string> positionals(Args args);

// True when any argument equals `name` exactly (values and after "--" too).
[[nodiscard]] bool has_switch(Args args, std::string_view name);

// The value after the first occurrence of `name`, unless it is missing or
// a flag ("--" and at least two characters).
[[nodiscard]] std::optional<std::string> flag_value(Args args, std::string_view name);

// Every acceptable value of a repeatable flag, in command-line order.
[[nodiscard]] std::vector<std::string> flag_values(Args args, std::string_view name);

// Decimal integer: optional single sign, then ASCII digits only; must fit
// the width. None when it does not parse.
[[nodiscard]] std::optional<std::int64_t> parse_int64(std::string_view value);
[[nodiscard]] std::optional<std::int32_t> parse_int32(std::string_view value);

// The value of a signed 32-bit integer flag such as --n or --duration; the
// usage error "{flag} needs an integer, got {value}" when it does not parse.
[[nodiscard]] std::expected<std::optional<std::int32_t>, CommandError> int32_flag(
    Args args, std::string_view flag);

// --seed: nothing, or an integer in [0, 2147483647], or a usage error.
[[nodiscard]] std::expected<std::optional<std::int64_t>, CommandError> seed_value(Args args);
