// Key resolution: per host, from the environment, the secrets command and
// the accounts file, in that order. Nothing here prints or logs anything.
#include "nimbra/resolve.hpp"

#include <cstdlib>
#include <unordered_set>

#include "orvik/config/home.hpp"
#include "orvik/config/secrets.hpp"
#include "orvik/text.hpp"

namespace resolve {
namespace {

constexpr std::string_view ACCOUNTS_FILE = "config/alicloud-accounts.json";
constexpr std::string_view INTL_VARIABLE = "DASHSCOPE_API_KEY";
constexpr std::string_view CREDITS_VARIABLE = "DASHSCOPE_API_KEY_CREDITS";

// The key of the host's binding in the accounts file, labelled
// "accounts:ACCOUNT/inner".
std::optional<KeyAndSource> resolve_from_accounts(const AccountsConfig& config, HostKind kind,
                                                  const EnvLookup& env_fn,
                                                  const SecretLookup& secret_fn) {
  const auto chosen = account_binding(config, kind);
  if (!chosen) return std::nullopt;
  const auto& [account, binding] = *chosen;
  auto found = resolve_binding(binding->env, binding->secrets, env_fn, secret_fn);
  if (!found) return std::nullopt;
  found->source = "accounts:" + account->name + "/" + found->source;
  return found;
}

// The accounts-file path as it appears in messages.
std::string accounts_path_text() {
  const auto path = accounts_config_path();
  if (!path) return "<fleet home>/" + std::string(ACCOUNTS_FILE);
  return text::utf8_lossy(path->string());
}

std::string missing_key_message(const Host& host) {
  const std::string head = "no resolvable key for host " + std::string(host.name) + " (" +
                           std::string(host.base_url) + ")";
  if (host.kind == HostKind::Intl)
    return head + " — set " + std::string(INTL_VARIABLE) + " or bind one in " +
           accounts_path_text();
  return head + " — the token-plan key (" + std::string(host.key_prefix) + "…) binds via " +
         accounts_path_text() + " (keys[] host \"" + std::string(host.binding_label) +
         "\") or the env name declared in that binding";
}

std::string unknown_host_message(std::string_view name) {
  std::string message = "unknown host " + text::quoted_literal(name) + " — expected one of: ";
  for (std::size_t i = 0; i < HOSTS.size(); ++i) {
    if (i > 0) message += ", ";
    message += std::string(HOSTS[i].name) + " (" + std::string(HOSTS[i].domain) + ")";
  }
  return message;
}

}  // namespace

// --- The accounts file ------------------------------------------------------

std::optional<std::filesystem::path> fleet_home() {
  if (auto live = config::home::home_base_live()) return live;
  if (auto home = config::home::env_raw("HOME")) return std::filesystem::path(*home) / ".claude";
  return std::nullopt;
}

std::optional<std::filesystem::path> accounts_config_path() {
  auto home = fleet_home();
  if (!home) return std::nullopt;
  return *home / ACCOUNTS_FILE;
}

std::expected<AccountsConfig, std::string> load_accounts() {
  const auto path = accounts_config_path();
  if (!path) return AccountsConfig{};
  const auto content = config::secrets::read_small_file(*path);
  if (!content || !text::is_valid_utf8(*content)) return AccountsConfig{};
  auto parsed = parse_accounts(*content);
  if (!parsed)
    return std::unexpected(text::utf8_lossy(path->string()) + " does not parse (" + parsed.error() +
                           ")");
  return parsed;
}

std::optional<std::pair<const Account*, const KeyBinding*>> account_binding(
    const AccountsConfig& config, HostKind kind) {
  const std::string_view label = host_of(kind).binding_label;
  // Of several accounts sharing a name only the first (or the default) is
  // considered.
  const Account* preferred = nullptr;
  if (config.default_)
    for (const Account& account : config.accounts)
      if (account.name == *config.default_) {
        preferred = &account;
        break;
      }
  std::unordered_set<std::string_view> names;
  auto match = [&](const Account& account) -> const KeyBinding* {
    if (!names.insert(account.name).second) return nullptr;
    for (const KeyBinding& binding : account.keys)
      if (binding.host == label) return &binding;
    return nullptr;
  };
  if (preferred != nullptr)
    if (const KeyBinding* binding = match(*preferred)) return std::pair{preferred, binding};
  for (const Account& account : config.accounts)
    if (const KeyBinding* binding = match(account)) return std::pair{&account, binding};
  return std::nullopt;
}

// --- Key resolution ---------------------------------------------------------

std::optional<std::string> env_lookup(std::string_view variable) {
  const std::string name(variable);
  const char* value = std::getenv(name.c_str());
  if (value == nullptr || !text::is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

std::optional<KeyAndSource> resolve_binding(const std::optional<std::string>& env,
                                            std::span<const std::string> secrets,
                                            const EnvLookup& env_fn,
                                            const SecretLookup& secret_fn) {
  if (env) {
    if (const auto value = env_fn(*env)) {
      const std::string_view key = text::trim(*value);
      if (!key.empty()) return KeyAndSource{std::string(key), "env:" + *env};
    }
  }
  for (const std::string& name : secrets) {
    const auto value = secret_fn(name);
    if (!value) continue;
    const std::string_view key = text::trim(*value);
    if (!key.empty()) return KeyAndSource{std::string(key), "secrets:" + name};
  }
  return std::nullopt;
}

std::vector<Credential> resolve_from(const AccountsConfig& config, const EnvLookup& env_fn,
                                     const SecretLookup& secret_fn) {
  std::vector<Credential> credentials;
  const std::string intl_variable(INTL_VARIABLE);
  const std::string intl_secrets[] = {intl_variable};
  auto intl = resolve_binding(intl_variable, intl_secrets, env_fn, secret_fn);
  if (!intl) intl = resolve_from_accounts(config, HostKind::Intl, env_fn, secret_fn);
  if (intl)
    credentials.push_back(
        {std::move(intl->key), std::move(intl->source), &host_of(HostKind::Intl)});
  // A token-plan key has no fixed variable: only a binding finds it.
  if (auto asia = resolve_from_accounts(config, HostKind::Asia, env_fn, secret_fn))
    credentials.push_back(
        {std::move(asia->key), std::move(asia->source), &host_of(HostKind::Asia)});
  return credentials;
}

std::expected<std::vector<Credential>, std::string> resolve_all(const EnvLookup& env_fn,
                                                                const SecretLookup& secret_fn) {
  const auto config = load_accounts();
  if (!config) return std::unexpected(config.error());
  return resolve_from(*config, env_fn, secret_fn);
}

std::optional<KeyAndSource> resolve_credits(const EnvLookup& env_fn,
                                            const SecretLookup& secret_fn) {
  const std::string variable(CREDITS_VARIABLE);
  const std::string secrets[] = {variable};
  return resolve_binding(variable, secrets, env_fn, secret_fn);
}

std::expected<Credential, std::string> pick(std::vector<Credential> credentials,
                                            const std::optional<std::string>& host_name) {
  if (!host_name) {
    if (credentials.empty())
      return std::unexpected(std::string(
          "no DashScope key found — set DASHSCOPE_API_KEY (nothing else is required), or see "
          "`orvik nimbra accounts --example`"));
    return std::move(credentials.front());
  }
  const Host* host = host_by_name(*host_name);
  if (host == nullptr) return std::unexpected(unknown_host_message(*host_name));
  for (Credential& credential : credentials)
    if (credential.host->kind == host->kind) return std::move(credential);
  return std::unexpected(missing_key_message(*host));
}

}  // namespace resolve
