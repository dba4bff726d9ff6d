// `status [--host H] [--json]`: per host, does a key resolve, and does the
// host accept it right now. Never shows the key.
#include <string>
#include <vector>

#include "commands.hpp"
#include "nimbra/resolve.hpp"
#include "nimbra/wire.hpp"
#include "orvik/text.hpp"
#include "output.hpp"

namespace {

constexpr long PROBE_TIMEOUT_S = 15;
constexpr std::size_t NAME_WIDTH = 28;

struct Entry {
  const resolve::Host* host;
  const resolve::Credential* credential;  // null: not contacted
  bool reachable;
  std::string text;  // "no key bound", "authorized", or the probe's error
};

Entry probe(const resolve::Host& host, const std::vector<resolve::Credential>& credentials) {
  for (const auto& c : credentials) {
    if (c.host->kind != host.kind) continue;
    const auto answer = wire::get(host, c.key, c.source, "/tasks/", PROBE_TIMEOUT_S);
    if (answer) return Entry{&host, &c, true, "authorized"};
    return Entry{&host, &c, false, answer.error()};
  }
  return Entry{&host, nullptr, false, "no key bound"};
}

std::string padded(std::string_view name) {
  std::string s(name);
  const std::size_t n = text::char_count(name);
  if (n < NAME_WIDTH) s.append(NAME_WIDTH - n, ' ');
  return s;
}

std::string text_line(const Entry& e) {
  std::string line = "host    " + padded(e.host->name);
  if (e.credential == nullptr) return line + " no key — set DASHSCOPE_API_KEY";
  line += " key present (from " + e.credential->source + ", " +
          std::to_string(text::char_count(e.credential->key)) + " chars)";
  if (e.reachable) return line + " — reachable (" + e.text + ")";
  return line + " — UNREACHABLE: " + e.text;
}

nlohmann::ordered_json json_entry(const Entry& e) {
  nlohmann::ordered_json probe_json = {{"reachable", e.reachable}};
  probe_json[e.reachable ? "note" : "reason"] = e.text;
  nlohmann::ordered_json j;
  j["host"] = e.host->name;
  j["base_url"] = e.host->base_url;
  j["key_present"] = e.credential != nullptr;
  j["key_source"] = e.credential != nullptr ? nlohmann::ordered_json(e.credential->source)
                                            : nlohmann::ordered_json(nullptr);
  j["key_length"] = e.credential != nullptr ? text::char_count(e.credential->key) : 0;
  j["probe"] = std::move(probe_json);
  return j;
}

}  // namespace

CommandResult status(Args args) {
  const bool json = has_switch(args, "--json");
  auto credentials = resolve::resolve_all();
  if (!credentials) return std::unexpected(runtime_error(credentials.error()));
  const auto host_name = flag_value(args, "--host");
  std::vector<const resolve::Host*> reported;
  if (host_name) {
    const resolve::Host* host = resolve::host_by_name(*host_name);
    if (host == nullptr)
      return std::unexpected(
          usage("unknown host " + text::quoted_literal(*host_name) + " — expected intl or asia"));
    reported.push_back(host);
  } else {
    for (const auto& host : resolve::hosts()) reported.push_back(&host);
  }

  std::vector<Entry> entries;
  entries.reserve(reported.size());
  for (const auto* host : reported) entries.push_back(probe(*host, *credentials));

  if (json) {
    nlohmann::ordered_json hosts = nlohmann::ordered_json::array();
    for (const auto& e : entries) hosts.push_back(json_entry(e));
    out_json(nlohmann::ordered_json{{"hosts", std::move(hosts)}});
    return {};
  }
  bool any_key = false;
  for (const auto& e : entries) {
    out_line(text_line(e));
    any_key = any_key || e.credential != nullptr;
  }
  if (!any_key)
    return std::unexpected(
        runtime_error("no usable credential — set DASHSCOPE_API_KEY (nothing else is required)"));
  return {};
}
