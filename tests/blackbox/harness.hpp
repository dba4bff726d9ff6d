// Runs the built orvik-nimbra as a user would: chosen arguments and
// environment, a temporary HOME, captured standard output and error.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bb {

namespace fs = std::filesystem;

struct Result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// A scratch directory with a HOME inside it and a clean environment: the
// program never sees the real HOME, PATH extras or keys of whoever runs the
// tests.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  [[nodiscard]] const fs::path& root() const { return root_; }
  [[nodiscard]] const fs::path& home() const { return home_; }

  // The environment of every run; starts with HOME, PATH and LANG only.
  std::map<std::string, std::string> env;

  // Writes a file below HOME (parents created) and returns its path.
  fs::path write(const fs::path& relative, std::string_view content, unsigned mode = 0644) const;
  // Installs $HOME/.local/bin/secrets as a shell script with this body.
  fs::path install_secrets(std::string_view script_body) const;
  // Points the two hosts at a fake server's base URL.
  void use_server(const std::string& base_url);

  // Runs orvik-nimbra with the arguments; kills it after `timeout_s`.
  [[nodiscard]] Result run(const std::vector<std::string>& args, int timeout_s = 60) const;
  // Runs any program with this sandbox's environment.
  [[nodiscard]] Result run_program(const std::string& program, const std::vector<std::string>& args,
                                   int timeout_s = 60) const;

  // Regular files below a directory (relative names, sorted).
  [[nodiscard]] std::vector<std::string> files_in(const fs::path& dir) const;
  // Every entry of a directory, hidden ones and non-files included (names,
  // sorted); empty when the directory does not exist.
  [[nodiscard]] std::vector<std::string> entries_in(const fs::path& dir) const;

 private:
  fs::path root_;
  fs::path home_;
};

[[nodiscard]] std::string read_file(const fs::path& path);

// Path of the binary under test.
[[nodiscard]] std::string nimbra_binary();

}  // namespace bb
