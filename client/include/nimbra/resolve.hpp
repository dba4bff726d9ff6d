// The two DashScope hosts, and the API key that belongs to each of them.
// A key is always resolved for a host and travels with it and with a label
// saying where it came from; the label, never the key, is what gets shown.
#pragma once

#include <array>
#include <chrono>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace resolve {

enum class HostKind { Intl = 0, Asia = 1 };

struct Host {
  std::string_view name;
  std::span<const std::string_view> aliases;  // first entry is `name`
  std::string_view base_url;                  // scheme and host, no trailing slash
  std::string_view key_scope;
  HostKind kind;
  std::string_view domain;             // shown in the unknown-host message
  std::string_view key_prefix;         // the vendor's prefix for this kind of key
  std::string_view binding_label;      // the accounts file's "host" for this host
  std::string_view base_url_variable;  // environment override of base_url
};

inline constexpr std::array<std::string_view, 2> INTL_ALIASES = {"intl", "dashscope-intl"};
inline constexpr std::array<std::string_view, 3> ASIA_ALIASES = {"asia", "token-plan",
                                                                 "token-plan-ap-southeast-1"};

// The hosts as built in, intl first. Code that talks to a host uses hosts(),
// which carries the base-URL overrides.
inline constexpr std::array<Host, 2> HOSTS = {{
    {"intl", INTL_ALIASES, "https://dashscope-intl.aliyuncs.com", "pay-as-you-go key (sk-…)",
     HostKind::Intl, "dashscope-intl.aliyuncs.com", "sk-", "intl", "ORVIK_NIMBRA_INTL_BASE_URL"},
    {"asia", ASIA_ALIASES, "https://token-plan.ap-southeast-1.maas.aliyuncs.com",
     "token-plan key (sk-sp-…)", HostKind::Asia, "token-plan.ap-southeast-1.maas.aliyuncs.com",
     "sk-sp-", "token-plan-ap-southeast-1", "ORVIK_NIMBRA_ASIA_BASE_URL"},
}};

// Reads ORVIK_NIMBRA_INTL_BASE_URL and ORVIK_NIMBRA_ASIA_BASE_URL into the
// live table. https:// is always accepted, http:// only for a loopback host;
// anything else is an error naming the variable. Idempotent.
[[nodiscard]] std::expected<void, std::string> load_base_url_overrides();

// The live host table (HOSTS with the overrides applied), intl first.
[[nodiscard]] const std::array<Host, 2>& hosts();
[[nodiscard]] const Host& host_of(HostKind kind);
// The other host of a key-scoped pair.
[[nodiscard]] const Host& other_host(const Host& host);

// base_url + "/compatible-mode/v1".
[[nodiscard]] std::string compatible_v1(const Host& host);

// The host whose aliases contain `name` exactly (case-sensitive).
[[nodiscard]] const Host* host_by_name(std::string_view name);

struct Credential {
  std::string key;     // trimmed, never empty; goes only into Authorization
  std::string source;  // "env:NAME", "secrets:NAME" or "accounts:ACCOUNT/inner"
  const Host* host;    // a row of hosts()
};

// --- The fleet accounts file -------------------------------------------

struct KeyBinding {
  std::string host;
  std::optional<std::string> env;
  std::vector<std::string> secrets;
};

struct Account {
  std::string name;
  std::vector<KeyBinding> keys;
};

struct AccountsConfig {
  std::vector<Account> accounts;
  std::optional<std::string> default_;  // the file's "default"
};

// The live home base, else HOME joined with ".claude", else none.
[[nodiscard]] std::optional<std::filesystem::path> fleet_home();
// fleet_home() joined with "config/alicloud-accounts.json".
[[nodiscard]] std::optional<std::filesystem::path> accounts_config_path();
// The configuration, empty when the file is absent or unreadable; the
// message "{path} does not parse ({description})" when it is malformed.
[[nodiscard]] std::expected<AccountsConfig, std::string> load_accounts();
// Parses an accounts-file text; the error is the description alone.
[[nodiscard]] std::expected<AccountsConfig, std::string> parse_accounts(std::string_view text);
// The first binding for the host, default account first.
[[nodiscard]] std::optional<std::pair<const Account*, const KeyBinding*>> account_binding(
    const AccountsConfig& config, HostKind kind);

// --- Key resolution -----------------------------------------------------

using EnvLookup = std::function<std::optional<std::string>(std::string_view variable)>;
using SecretLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The variable's value when set and valid UTF-8 (an empty value included).
[[nodiscard]] std::optional<std::string> env_lookup(std::string_view variable);
// What `$HOME/.local/bin/secrets get NAME` prints, when it exits 0 and
// prints something; nothing otherwise.
[[nodiscard]] std::optional<std::string> secrets_cli(std::string_view name);

// How long the secrets command may take (it may be waiting for a password
// prompt elsewhere on the desktop); after that it is ended and knows nothing.
inline constexpr std::chrono::milliseconds SECRETS_TIME_LIMIT{60'000};

// Runs `program get NAME` without a shell: standard input from /dev/null,
// standard error discarded, this process's environment. The trimmed output
// (invalid UTF-8 replaced) when it exits 0 within `limit` and prints
// something; nothing otherwise.
[[nodiscard]] std::optional<std::string> run_secrets_command(const std::string& program,
                                                             std::string_view name,
                                                             std::chrono::milliseconds limit);

struct KeyAndSource {
  std::string key;
  std::string source;
};

[[nodiscard]] std::optional<KeyAndSource> resolve_binding(const std::optional<std::string>& env,
                                                          std::span<const std::string> secrets,
                                                          const EnvLookup& env_fn,
                                                          const SecretLookup& secret_fn);

// The credentials an already loaded accounts configuration gives: at most
// one per host, intl first.
[[nodiscard]] std::vector<Credential> resolve_from(const AccountsConfig& config,
                                                   const EnvLookup& env_fn,
                                                   const SecretLookup& secret_fn);

// At most one credential per host, intl first; or the accounts-file error.
[[nodiscard]] std::expected<std::vector<Credential>, std::string> resolve_all(
    const EnvLookup& env_fn = env_lookup, const SecretLookup& secret_fn = secrets_cli);

// The credits-wallet key (DASHSCOPE_API_KEY_CREDITS), for the intl host.
[[nodiscard]] std::optional<KeyAndSource> resolve_credits(
    const EnvLookup& env_fn = env_lookup, const SecretLookup& secret_fn = secrets_cli);

// The credential for the named host, or the first one when none is named.
[[nodiscard]] std::expected<Credential, std::string> pick(
    std::vector<Credential> credentials, const std::optional<std::string>& host_name);

}  // namespace resolve
