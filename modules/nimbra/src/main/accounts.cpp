// `accounts`: where each host's key comes from (never the key itself), and
// where the accounts file is looked for; or an example accounts file.
#include <string_view>

#include "commands.hpp"
#include "nimbra/resolve.hpp"
#include "orvik/text.hpp"
#include "output.hpp"

namespace {

constexpr std::string_view EXAMPLE =
    "{\n"
    "  \"default\": \"my-account\",\n"
    "  \"accounts\": [\n"
    "    {\n"
    "      \"name\": \"my-account\",\n"
    "      \"keys\": [\n"
    "        { \"host\": \"intl\",\n"
    "          \"env\": \"DASHSCOPE_API_KEY\",\n"
    "          \"secrets\": [\"DASHSCOPE_API_KEY\"] },\n"
    "        { \"host\": \"token-plan-ap-southeast-1\",\n"
    "          \"env\": \"MY_TOKEN_PLAN_KEY\",\n"
    "          \"secrets\": [] }\n"
    "      ]\n"
    "    }\n"
    "  ]\n"
    "}\n";

constexpr std::size_t NAME_WIDTH = 28;

const resolve::Credential* credential_for(const std::vector<resolve::Credential>& credentials,
                                          const resolve::Host& host) {
  for (const auto& credential : credentials)
    if (credential.host->kind == host.kind) return &credential;
  return nullptr;
}

std::string host_line(const resolve::Host& host, const resolve::Credential* credential) {
  std::string line = "host    " + std::string(host.name);
  const std::size_t width = text::char_count(host.name);
  if (width < NAME_WIDTH) line.append(NAME_WIDTH - width, ' ');
  if (credential == nullptr)
    return line + " no key — set DASHSCOPE_API_KEY or bind one (" + std::string(host.key_scope) +
           ")";
  return line + " key present (from " + credential->source + ", " +
         std::to_string(text::char_count(credential->key)) + " chars) — " +
         std::string(host.key_scope);
}

void print_text(const std::optional<std::string>& config, bool accounts_present,
                const std::vector<resolve::Credential>& credentials) {
  out_line("config  " + config.value_or(""));
  out_line(
      std::string("        accounts file ") +
      (accounts_present ? "present (enrichment)" : "absent — env or secrets alone are enough"));
  for (const auto& host : resolve::hosts())
    out_line(host_line(host, credential_for(credentials, host)));
}

void print_json(const std::optional<std::string>& config, bool accounts_present,
                const std::vector<resolve::Credential>& credentials) {
  nlohmann::ordered_json document;
  document["config"] = config ? nlohmann::ordered_json(*config) : nlohmann::ordered_json(nullptr);
  document["accounts_present"] = accounts_present;
  auto& rows = document["hosts"] = nlohmann::ordered_json::array();
  for (const auto& host : resolve::hosts()) {
    const auto* credential = credential_for(credentials, host);
    nlohmann::ordered_json row;
    row["host"] = host.name;
    row["base_url"] = host.base_url;
    row["key_scope"] = host.key_scope;
    row["key_present"] = credential != nullptr;
    row["key_source"] =
        credential ? nlohmann::ordered_json(credential->source) : nlohmann::ordered_json(nullptr);
    row["key_length"] = credential ? text::char_count(credential->key) : 0;
    rows.push_back(std::move(row));
  }
  out_json(document);
}

}  // namespace

CommandResult accounts(Args args) {
  if (has_switch(args, "--example")) {
    out(EXAMPLE);
    return {};
  }
  const bool json = has_switch(args, "--json");
  const auto config = resolve::load_accounts();
  if (!config) return std::unexpected(runtime_error(config.error()));
  const bool accounts_present = !config->accounts.empty();
  const auto credentials = resolve::resolve_all();
  if (!credentials) return std::unexpected(runtime_error(credentials.error()));
  std::optional<std::string> path;
  if (const auto p = resolve::accounts_config_path()) path = text::utf8_lossy(p->string());
  if (json)
    print_json(path, accounts_present, *credentials);
  else
    print_text(path, accounts_present, *credentials);
  return {};
}
