#include "orvik/config/home.hpp"

#include <cstdlib>
#include <system_error>

namespace config::home {

std::optional<std::string> env_raw(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) return std::nullopt;
  return std::string(v);
}

std::optional<std::string> env_nonempty(const char* name) {
  auto v = env_raw(name);
  if (v && v->empty()) return std::nullopt;
  return v;
}

std::optional<std::filesystem::path> home_base(const std::optional<std::string>& orvik_home,
                                               const std::optional<std::string>& home,
                                               bool orvik_dir_exists) {
  if (orvik_home && !orvik_home->empty()) return std::filesystem::path(*orvik_home);
  if (orvik_dir_exists && home) return std::filesystem::path(*home) / ".orvik";
  return std::nullopt;
}

std::optional<std::filesystem::path> home_base_live() {
  const auto home = env_raw("HOME");
  bool exists = false;
  if (home) {
    std::error_code ec;  // an unreadable path counts as "not a directory"
    exists = std::filesystem::is_directory(std::filesystem::path(*home) / ".orvik", ec);
  }
  return home_base(env_raw("ORVIK_HOME"), home, exists);
}

std::optional<std::filesystem::path> home_base_for_init() {
  if (auto v = env_nonempty("ORVIK_HOME")) return std::filesystem::path(*v);
  if (auto home = env_raw("HOME")) return std::filesystem::path(*home) / ".orvik";
  return std::nullopt;
}

}  // namespace config::home
