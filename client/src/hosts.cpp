#include <cstdlib>
#include <string>

#include "nimbra/resolve.hpp"
#include "orvik/text.hpp"

namespace resolve {
namespace {

std::array<Host, 2> g_hosts = HOSTS;
// Owns the override texts that g_hosts' base_url views point into.
std::array<std::string, 2> g_override_text;
bool g_loaded = false;

bool loopback(std::string_view authority) {
  // authority is host[:port]; an IPv6 literal comes in brackets.
  std::string_view host = authority;
  if (host.starts_with("[")) {
    const auto close = host.find(']');
    if (close == std::string_view::npos) return false;
    const auto rest = host.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(":")) return false;
    host = host.substr(0, close + 1);
  } else if (const auto colon = host.find(':'); colon != std::string_view::npos) {
    host = host.substr(0, colon);
  }
  return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

bool valid_authority(std::string_view authority) {
  if (authority.empty()) return false;
  for (const char c : authority)
    if (c == '/' || c == '?' || c == '#' || c == '@' || c == ' ' || static_cast<unsigned char>(c) < 0x21 ||
        static_cast<unsigned char>(c) > 0x7e)
      return false;
  return true;
}

// True when `url` is scheme://host[:port] with no path, and http only for
// loopback.
bool acceptable(std::string_view url) {
  if (url.starts_with("https://")) return valid_authority(url.substr(8));
  if (url.starts_with("http://")) {
    const auto authority = url.substr(7);
    return valid_authority(authority) && loopback(authority);
  }
  return false;
}

}  // namespace

std::expected<void, std::string> load_base_url_overrides() {
  if (g_loaded) return {};
  for (std::size_t i = 0; i < g_hosts.size(); ++i) {
    const std::string variable(HOSTS[i].base_url_variable);
    const char* value = std::getenv(variable.c_str());
    if (value == nullptr || *value == '\0') continue;
    if (!acceptable(value))
      return std::unexpected(variable + " is " + text::quoted_literal(value) +
                             " — expected https://HOST[:PORT] with no path or trailing slash, "
                             "or http:// for a loopback host (127.0.0.1, localhost, [::1])");
    g_override_text[i] = value;
    g_hosts[i].base_url = g_override_text[i];
  }
  g_loaded = true;
  return {};
}

const std::array<Host, 2>& hosts() { return g_hosts; }

const Host& host_of(HostKind kind) { return g_hosts[static_cast<std::size_t>(kind)]; }

const Host& other_host(const Host& host) {
  return host_of(host.kind == HostKind::Intl ? HostKind::Asia : HostKind::Intl);
}

std::string compatible_v1(const Host& host) { return std::string(host.base_url) + "/compatible-mode/v1"; }

const Host* host_by_name(std::string_view name) {
  for (const auto& host : g_hosts)
    for (const auto alias : host.aliases)
      if (alias == name) return &host;
  return nullptr;
}

}  // namespace resolve
