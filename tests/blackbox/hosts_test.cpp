// The base-URL overrides: what they accept, what they refuse, and that a
// refusal stops the command before anything else happens.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "harness.hpp"

namespace bb {
namespace {

const char* const INTL = "ORVIK_NIMBRA_INTL_BASE_URL";
const char* const ASIA = "ORVIK_NIMBRA_ASIA_BASE_URL";

// The two base URLs that `accounts --json` reports.
std::pair<std::string, std::string> base_urls(const Result& r) {
  const auto doc = nlohmann::json::parse(r.out, nullptr, false);
  if (doc.is_discarded()) return {};
  return {doc["hosts"][0]["base_url"], doc["hosts"][1]["base_url"]};
}

TEST(Hosts, AcceptedOverridesReplaceTheBaseUrl) {
  const char* accepted[] = {
      "https://dashscope.aliyuncs.com", "https://example.com:8443", "https://[2001:db8::1]:443",
      "http://127.0.0.1:8080",          "http://localhost",         "http://[::1]:9",
      "https://my_host.internal",
  };
  for (const char* url : accepted) {
    SCOPED_TRACE(url);
    Sandbox sb;
    sb.env[INTL] = url;
    sb.env[ASIA] = url;
    const Result r = sb.run({"accounts", "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(base_urls(r), std::make_pair(std::string(url), std::string(url)));
  }
}

TEST(Hosts, EmptyOverrideIsUnsetAndEachHostHasItsOwn) {
  Sandbox sb;
  sb.env[INTL] = "";
  sb.env[ASIA] = "http://127.0.0.1:1";
  const Result r = sb.run({"accounts", "--json"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(base_urls(r), std::make_pair(std::string("https://dashscope-intl.aliyuncs.com"),
                                         std::string("http://127.0.0.1:1")));
}

TEST(Hosts, OverrideFromTheEnvFileCounts) {
  Sandbox sb;
  sb.write(".orvik/config/secrets.json", R"({"env_file": "~/x.env"})");
  sb.write("x.env", "ORVIK_NIMBRA_INTL_BASE_URL=http://localhost:7\n");
  const Result r = sb.run({"accounts", "--json"});
  EXPECT_EQ(base_urls(r).first, "http://localhost:7");
}

TEST(Hosts, RefusedOverridesStopTheCommand) {
  const char* refused[] = {
      "http://example.com",  // clear text to another machine
      "http://127.0.0.1.evil.net",
      "http://localhost@evil.net",
      "http://evil.net#@localhost",
      "https://example.com/",  // trailing slash
      "https://example.com/api",
      "https://example.com?x",
      "ftp://example.com",
      "HTTPS://example.com",
      "example.com",
      "https://",
      "https://:443",
      "https://example.com:",
      "https://example.com:0",
      "https://example.com:65536",
      "https://example.com:80x",
      "https://[::1",
      "https://ex ample.com",
      "https://user:pw@example.com",
  };
  for (const char* url : refused) {
    SCOPED_TRACE(url);
    Sandbox sb;
    sb.env["DASHSCOPE_API_KEY"] = "sk-1";
    sb.env[ASIA] = url;
    const Result r = sb.run({"accounts"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("orvik-nimbra: ") + ASIA + " is \"" + url +
                         "\" — expected https://HOST[:PORT] with no path or trailing slash, or "
                         "http:// for a loopback host (127.0.0.1, localhost, [::1])\n");
  }
}

}  // namespace
}  // namespace bb
