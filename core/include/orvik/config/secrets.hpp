// The family's secrets file and the env file it names.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace config::secrets {

using EnvPairs = std::vector<std::pair<std::string, std::string>>;

// ORVIK_SECRETS_CONFIG when set and not empty, else the init home base
// joined with "config/secrets.json", else none.
[[nodiscard]] std::optional<std::filesystem::path> config_path();

// The env-file location named by a secrets-file text ("env_file"), with a
// leading "~/" expanded against HOME; none when the text names none.
[[nodiscard]] std::optional<std::filesystem::path> parse(std::string_view text);

// parse() of the secrets file; none when there is no path or it can't be read.
[[nodiscard]] std::optional<std::filesystem::path> load();

// The assignments of an env-file text, in file order, duplicates included.
[[nodiscard]] EnvPairs parse_env_file(std::string_view text);

// Adds the env file's variables that the environment lacks. Silent: any
// failure leaves the environment as it was.
void apply_to_process_env();

// Files larger than this are not configuration; they are left unread.
inline constexpr std::size_t MAX_CONFIG_BYTES = 16 * 1024 * 1024;

// Reads a whole small file; none when it can't be read or is over the cap.
[[nodiscard]] std::optional<std::string> read_small_file(const std::filesystem::path& path);

}  // namespace config::secrets
