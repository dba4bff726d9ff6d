#include "orvik/logging.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace logging {
namespace {

Logger* g_logger = nullptr;
// Nothing passes until a logger is installed and the threshold raised.
Level g_max = Level::Off;

constexpr std::array<std::string_view, 6> NAMES = {"OFF",  "ERROR", "WARN",
                                                   "INFO", "DEBUG", "TRACE"};

}  // namespace

bool set_logger(Logger& logger) {
  if (g_logger != nullptr) return false;
  g_logger = &logger;
  return true;
}

void set_max_level(Level level) { g_max = level; }
Level max_level() { return g_max; }

bool enabled(Level level, std::string_view target) {
  if (g_logger == nullptr || level == Level::Off || level > g_max) return false;
  return g_logger->enabled(Metadata{level, target});
}

void log(Level level, std::string_view target, std::string_view message) {
  if (!enabled(level, target)) return;
  g_logger->log(Record{Metadata{level, target}, message});
}

std::optional<Level> parse_level(std::string_view name) {
  std::string upper(name);
  std::ranges::transform(upper, upper.begin(),
                         [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  for (std::size_t i = 0; i < NAMES.size(); ++i)
    if (upper == NAMES[i]) return static_cast<Level>(i);
  return std::nullopt;
}

std::string_view level_name(Level level) { return NAMES[static_cast<std::size_t>(level)]; }

}  // namespace logging
