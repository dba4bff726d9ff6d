// Where the family's home base is.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace config::home {

// The decision behind the live home base: `orvik_home` when present and not
// empty; else `home` joined with ".orvik" when that is a directory
// (`orvik_dir_exists`); else none.
[[nodiscard]] std::optional<std::filesystem::path> home_base(
    const std::optional<std::string>& orvik_home, const std::optional<std::string>& home,
    bool orvik_dir_exists);

// The home base used for reading fleet data; it must exist unless ORVIK_HOME
// names it explicitly.
[[nodiscard]] std::optional<std::filesystem::path> home_base_live();

// The home base used for the secrets file, whether it exists or not.
[[nodiscard]] std::optional<std::filesystem::path> home_base_for_init();

// The raw value of an environment variable, if set (any bytes).
[[nodiscard]] std::optional<std::string> env_raw(const char* name);
// The raw value when set and not empty.
[[nodiscard]] std::optional<std::string> env_nonempty(const char* name);

}  // namespace config::home
