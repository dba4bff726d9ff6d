#include "orvik/config/secrets.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "orvik/config/home.hpp"
#include "orvik/text.hpp"

namespace config::secrets {

std::optional<std::filesystem::path> config_path() {
  if (auto v = home::env_nonempty("ORVIK_SECRETS_CONFIG")) return std::filesystem::path(*v);
  if (auto base = home::home_base_for_init()) return *base / "config/secrets.json";
  return std::nullopt;
}

std::optional<std::filesystem::path> parse(std::string_view text) {
  const auto doc = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded() || !doc.is_object()) return std::nullopt;
  const auto it = doc.find("env_file");
  if (it == doc.end() || !it->is_string()) return std::nullopt;
  const auto& raw = it->get_ref<const std::string&>();
  const std::string_view location = text::trim(raw);
  if (location.empty()) return std::nullopt;
  if (location.size() >= 2 && location.starts_with("~/")) {
    if (auto home = home::env_raw("HOME")) return std::filesystem::path(*home) / location.substr(2);
  }
  return std::filesystem::path(location);
}

std::optional<std::string> read_small_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string data;
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    if (data.size() > MAX_CONFIG_BYTES) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  return data;
}

std::optional<std::filesystem::path> load() {
  const auto path = config_path();
  if (!path) return std::nullopt;
  const auto data = read_small_file(*path);
  if (!data || !text::is_valid_utf8(*data)) return std::nullopt;
  return parse(*data);
}

namespace {

bool valid_name(std::string_view name) {
  if (name.empty()) return false;
  for (const unsigned char c : name)
    if (!(std::isalnum(c) != 0 && c < 0x80) && c != '_') return false;
  return true;
}

}  // namespace

EnvPairs parse_env_file(std::string_view input) {
  EnvPairs pairs;
  while (!input.empty()) {
    const auto nl = input.find('\n');
    std::string_view line = input.substr(0, nl);
    input = nl == std::string_view::npos ? std::string_view{} : input.substr(nl + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    line = text::trim(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.starts_with("export ")) line = text::trim(line.substr(7));
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view name = text::trim(line.substr(0, eq));
    if (!valid_name(name)) continue;
    pairs.emplace_back(std::string(name), std::string(line.substr(eq + 1)));
  }
  return pairs;
}

void apply_to_process_env() {
  const auto location = load();
  if (!location) return;
  const auto data = read_small_file(*location);
  if (!data || !text::is_valid_utf8(*data)) return;
  for (const auto& [name, value] : parse_env_file(*data)) {
    // The environment cannot hold a NUL; such a line is skipped.
    if (value.find('\0') != std::string::npos) continue;
    ::setenv(name.c_str(), value.c_str(), /*overwrite=*/0);
  }
}

}  // namespace config::secrets
