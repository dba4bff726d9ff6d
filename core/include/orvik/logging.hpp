// The family's logging facade: one process-wide logger and a global level
// threshold. Components emit records with a target naming their source; the
// facade drops records below the threshold before they reach the logger.
#pragma once

#include <optional>
#include <string_view>

namespace logging {

// Ordered from "nothing" to "everything"; a record passes when its level is
// at or below the threshold.
enum class Level { Off = 0, Error, Warn, Info, Debug, Trace };

struct Metadata {
  Level level;
  std::string_view target;
};

struct Record {
  Metadata metadata;
  std::string_view message;
};

class Logger {
 public:
  virtual ~Logger() = default;
  [[nodiscard]] virtual bool enabled(const Metadata& metadata) const = 0;
  virtual void log(const Record& record) = 0;
  virtual void flush() = 0;
};

// Installs the process-wide logger once; false when one is already installed.
bool set_logger(Logger& logger);
void set_max_level(Level level);
[[nodiscard]] Level max_level();

// True when a record of this level would reach an installed logger; lets a
// caller skip building the message.
[[nodiscard]] bool enabled(Level level, std::string_view target);
void log(Level level, std::string_view target, std::string_view message);

// "off", "error", "warn", "info", "debug", "trace", any letter case.
[[nodiscard]] std::optional<Level> parse_level(std::string_view name);
// "ERROR", "WARN", ...
[[nodiscard]] std::string_view level_name(Level level);

}  // namespace logging
