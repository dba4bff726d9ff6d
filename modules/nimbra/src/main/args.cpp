#include "args.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "orvik/text.hpp"

namespace {

// The flags that take the next argument as their value.
constexpr std::array<std::string_view, 19> VALUE_FLAGS = {
    "--n",
    "--size",
    "--edit",
    "--seed",
    "--host",
    "--kind",
    "--model",
    "--image",
    "--last-frame",
    "--ratio",
    "--voice",
    "--system",
    "--negative",
    "--duration",
    "--language",
    "--resolution",
    "--max-tokens",
    "--instructions",
    "--reasoning-effort",
};

bool is_value_flag(std::string_view a) {
  return std::ranges::find(VALUE_FLAGS, a) != VALUE_FLAGS.end();
}

// A value is acceptable unless it is a flag: at least two characters
// beginning with "--".
bool acceptable_value(std::string_view v) { return !(v.size() >= 2 && v.starts_with("--")); }

}  // namespace

std::vector<std::string> positionals(Args args) {
  std::vector<std::string> out;
  bool after_marker = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!after_marker && a == "--") {
      after_marker = true;
    } else if (after_marker || a.size() < 2 || !a.starts_with("--")) {
      out.push_back(a);
    } else if (is_value_flag(a)) {
      ++i;  // the value goes with its flag, whatever it looks like
    }
  }
  return out;
}

bool has_switch(Args args, std::string_view name) {
  return std::ranges::find(args, name) != args.end();
}

std::optional<std::string> flag_value(Args args, std::string_view name) {
  const auto it = std::ranges::find(args, name);
  if (it == args.end() || it + 1 == args.end() || !acceptable_value(*(it + 1))) return std::nullopt;
  return *(it + 1);
}

std::vector<std::string> flag_values(Args args, std::string_view name) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name && i + 1 < args.size() && acceptable_value(args[i + 1])) {
      out.push_back(args[i + 1]);
      ++i;
    }
  }
  return out;
}

std::optional<std::int64_t> parse_int64(std::string_view v) {
  bool negative = false;
  if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  if (v.empty() || !std::ranges::all_of(v, [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  // Parse the magnitude unsigned so that the most negative value fits.
  std::uint64_t mag = 0;
  const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), mag);
  if (ec != std::errc{} || ptr != v.data() + v.size()) return std::nullopt;
  constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (negative) {
    if (mag > max + 1) return std::nullopt;
    return mag == max + 1 ? std::numeric_limits<std::int64_t>::min()
                          : -static_cast<std::int64_t>(mag);
  }
  if (mag > max) return std::nullopt;
  return static_cast<std::int64_t>(mag);
}

std::optional<std::int32_t> parse_int32(std::string_view v) {
  const auto n = parse_int64(v);
  if (!n || *n < std::numeric_limits<std::int32_t>::min() ||
      *n > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(*n);
}

std::expected<std::optional<std::int32_t>, CommandError> int32_flag(Args args,
                                                                    std::string_view flag) {
  const auto value = flag_value(args, flag);
  if (!value) return std::optional<std::int32_t>{};
  const auto n = parse_int32(*value);
  if (!n)
    return std::unexpected(
        usage(std::string(flag) + " needs an integer, got " + text::quoted_literal(*value)));
  return n;
}

std::expected<std::optional<std::int64_t>, CommandError> seed_value(Args args) {
  const auto value = flag_value(args, "--seed");
  if (!value) return std::optional<std::int64_t>{};
  const auto n = parse_int64(*value);
  if (!n)
    return std::unexpected(usage("--seed needs an integer, got " + text::quoted_literal(*value)));
  if (*n < 0 || *n > 2147483647) return std::unexpected(usage("--seed must be in [0, 2147483647]"));
  return n;
}
