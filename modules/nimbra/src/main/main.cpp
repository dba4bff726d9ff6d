// Process entry: log level and logger, the env file, dispatch, and the one
// place where an outcome becomes output and an exit status.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dispatch.hpp"
#include "orvik/config/home.hpp"
#include "orvik/config/secrets.hpp"
#include "orvik/logging.hpp"
#include "orvik/text.hpp"
#include "output.hpp"

namespace {

// Writes each record as "[LEVEL target] message" on standard error.
class Stderr final : public logging::Logger {
 public:
  [[nodiscard]] bool enabled(const logging::Metadata&) const override { return true; }
  void log(const logging::Record& record) override {
    std::string line = "[";
    line += logging::level_name(record.metadata.level);
    line += ' ';
    line += record.metadata.target;
    line += "] ";
    line += record.message;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
  void flush() override {}
};

Stderr LOGGER;

// ORVIK_NIMBRA_LOG, else the family-wide ORVIK_LOG, else warn. A set but
// unparsable ORVIK_NIMBRA_LOG gives warn without looking further.
logging::Level choose_level() {
  auto value = config::home::env_raw("ORVIK_NIMBRA_LOG");
  if (!value || !text::is_valid_utf8(*value)) value = config::home::env_raw("ORVIK_LOG");
  if (!value) return logging::Level::Warn;
  return logging::parse_level(*value).value_or(logging::Level::Warn);
}

void print_error(const CommandError& error) {
  std::string text;
  if (error.kind == CommandError::Kind::Runtime) text = "orvik-nimbra: ";
  text += error.message;
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

int exit_status(const CommandError& error) {
  return error.kind == CommandError::Kind::Usage ? 2 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe on standard output becomes a failed write, reported below,
  // instead of a silent death by signal.
  std::signal(SIGPIPE, SIG_IGN);

  const auto level = choose_level();
  if (logging::set_logger(LOGGER)) logging::set_max_level(level);

  config::secrets::apply_to_process_env();

  std::vector<std::string> args;
  args.reserve(argc > 0 ? static_cast<std::size_t>(argc - 1) : 0);
  for (int i = 1; i < argc; ++i) {
    std::string arg(argv[i]);
    if (!text::is_valid_utf8(arg)) {
      print_error(runtime_error("argument " + std::to_string(i) +
                                " is not valid UTF-8: " + text::quoted_literal(arg)));
      return 1;
    }
    args.push_back(std::move(arg));
  }

  const auto outcome = run(args);
  flush_out();
  if (!outcome) {
    print_error(outcome.error());
    return exit_status(outcome.error());
  }
  if (const int err = out_error(); err != 0) {
    print_error(runtime_error(std::string("cannot write standard output: ") + std::strerror(err)));
    return 1;
  }
  return 0;
}
