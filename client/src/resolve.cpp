// Placeholder until key resolution lands.
#include "nimbra/resolve.hpp"

namespace resolve {
std::optional<std::filesystem::path> fleet_home() { return std::nullopt; }
std::optional<std::filesystem::path> accounts_config_path() { return std::nullopt; }
std::expected<AccountsConfig, std::string> load_accounts() { return AccountsConfig{}; }
std::expected<AccountsConfig, std::string> parse_accounts(std::string_view) { return AccountsConfig{}; }
std::optional<std::pair<const Account*, const KeyBinding*>> account_binding(const AccountsConfig&, HostKind) { return std::nullopt; }
std::optional<std::string> env_lookup(std::string_view) { return std::nullopt; }
std::optional<std::string> secrets_cli(std::string_view) { return std::nullopt; }
std::optional<KeyAndSource> resolve_binding(const std::optional<std::string>&, std::span<const std::string>, const EnvLookup&, const SecretLookup&) { return std::nullopt; }
std::expected<std::vector<Credential>, std::string> resolve_all(const EnvLookup&, const SecretLookup&) { return std::vector<Credential>{}; }
std::optional<KeyAndSource> resolve_credits(const EnvLookup&, const SecretLookup&) { return std::nullopt; }
std::expected<Credential, std::string> pick(std::vector<Credential>, const std::optional<std::string>&) { return std::unexpected(std::string("not built yet")); }
}  // namespace resolve
