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

struct Authority {
  std::string_view host;  // an IPv6 literal keeps its brackets
  bool valid = false;
};

bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool is_ipv6_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
         c == '.';
}

// A port is 1 to 5 digits with a value from 1 to 65535.
bool valid_port(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  unsigned value = 0;
  for (const char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

// host[:port] with nothing else: no user, path, query or fragment.
Authority parse_authority(std::string_view text) {
  Authority authority;
  std::string_view rest;
  if (text.starts_with("[")) {
    const auto close = text.find(']');
    if (close == std::string_view::npos || close == 1) return authority;
    for (const char c : text.substr(1, close - 1))
      if (!is_ipv6_char(c)) return authority;
    authority.host = text.substr(0, close + 1);
    rest = text.substr(close + 1);
  } else {
    const auto colon = text.find(':');
    authority.host = text.substr(0, colon);
    if (authority.host.empty()) return authority;
    for (const char c : authority.host)
      if (!is_name_char(c)) return authority;
    rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
  }
  authority.valid = rest.empty() || (rest.starts_with(":") && valid_port(rest.substr(1)));
  return authority;
}

// https:// with any host, or http:// with a loopback host, then host[:port].
bool acceptable(std::string_view url) {
  const bool secure = url.starts_with("https://");
  if (!secure && !url.starts_with("http://")) return false;
  const Authority authority = parse_authority(url.substr(secure ? 8 : 7));
  if (!authority.valid) return false;
  return secure || authority.host == "127.0.0.1" || authority.host == "localhost" ||
         authority.host == "[::1]";
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

std::string compatible_v1(const Host& host) {
  return std::string(host.base_url) + "/compatible-mode/v1";
}

const Host* host_by_name(std::string_view name) {
  for (const auto& host : g_hosts)
    for (const auto alias : host.aliases)
      if (alias == name) return &host;
  return nullptr;
}

}  // namespace resolve
