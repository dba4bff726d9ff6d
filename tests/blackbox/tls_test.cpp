// Certificates are always verified: a self-signed server is refused unless
// the user names its certificate as the CA bundle.
#include <gtest/gtest.h>

#include <string>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

constexpr const char* LINE =
    "host    intl                         key present (from env:DASHSCOPE_API_KEY, 10 chars) — ";

TEST(Tls, SelfSignedServerIsRefusedUnlessItsCertificateIsNamed) {
  Sandbox sb;
  const TlsIdentity identity = make_self_signed(sb.root());
  FakeServer server(identity);
  server.on("GET", "/api/v1/tasks/", Reply::json(200, "{}"));
  sb.use_server(server.base_url());
  sb.env["DASHSCOPE_API_KEY"] = "sk-tls-key";

  const Result refused = sb.run({"status", "--host", "intl"});
  EXPECT_EQ(refused.status, 0);
  EXPECT_TRUE(refused.out.starts_with(std::string(LINE) +
                                      "UNREACHABLE: transport to intl: SSL certificate problem: "))
      << refused.out;
  EXPECT_TRUE(server.requests().empty());

  for (const char* variable : {"SSL_CERT_FILE", "CURL_CA_BUNDLE"}) {
    SCOPED_TRACE(variable);
    Sandbox named;
    named.env = sb.env;
    named.env[variable] = identity.cert_pem.string();
    named.env["ORVIK_NIMBRA_LOG"] = "debug";
    const Result accepted = named.run({"status", "--host", "intl"});
    EXPECT_EQ(accepted.status, 0);
    EXPECT_EQ(accepted.out, std::string(LINE) + "reachable (authorized)\n");
    // The handshake shows in the TLS layer's records.
    EXPECT_NE(accepted.err.find("[DEBUG nimbra::wire::tls] SSL connection using TLS"),
              std::string::npos)
        << accepted.err;
  }
  EXPECT_EQ(server.requests().size(), 2u);
}

}  // namespace
}  // namespace bb
