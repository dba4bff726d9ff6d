// The status command: per host, where the key comes from and whether the
// host accepts it, as text lines or one JSON document.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

constexpr const char* PROBE = "/api/v1/tasks/";
constexpr const char* INTL_KEY = "sk-intl-0123456789";  // 18 characters
constexpr const char* ASIA_KEY = "sk-sp-tokenplan";     // 15 characters

const std::string NO_CREDENTIAL =
    "orvik-nimbra: no usable credential — set DASHSCOPE_API_KEY (nothing else is required)\n";

class Status : public ::testing::Test {
 protected:
  void SetUp() override { sb.use_server(server.base_url()); }

  // An accounts file binding the asia host to the variable TP_KEY.
  void bind_asia() {
    sb.write(".orvik/config/alicloud-accounts.json",
             R"({"accounts":[{"name":"fleet","keys":[{"host":"token-plan-ap-southeast-1",)"
             R"("env":"TP_KEY"}]}]})");
    sb.env["TP_KEY"] = ASIA_KEY;
  }

  std::string base() const { return server.base_url(); }
  std::string line_no_key(const std::string& name) const {
    return "host    " + name + std::string(28 - name.size(), ' ') +
           " no key — set DASHSCOPE_API_KEY\n";
  }
  std::string asia_note() const {
    return "\nnote: DashScope keys are host-scoped. This host (asia) expects a token-plan key "
           "(sk-sp-…); the other host (intl, " +
           base() +
           ") expects a pay-as-you-go key (sk-…). Your key resolved from "
           "accounts:fleet/env:TP_KEY — if it was minted for the other host, it will 401 here no "
           "matter how valid it is. Try --host intl, or bind the right key.";
  }

  FakeServer server;
  Sandbox sb;
};

TEST_F(Status, BothHostsProbedInTableOrder) {
  sb.env["DASHSCOPE_API_KEY"] = std::string("  ") + INTL_KEY + "\n";
  bind_asia();
  const auto script = [&] {
    server.on("GET", PROBE, Reply::json(200, R"({"output":{}})"));
    server.on("GET", PROBE,
              Reply::json(401, R"({"code":"InvalidApiKey","message":"Invalid API-key provided.",)"
                               R"("request_id":"req-7"})"));
  };
  script();
  const std::string asia_reason = "HTTP 401 from asia (" + base() +
                                  "): [InvalidApiKey] Invalid API-key provided. (request_id "
                                  "req-7)" +
                                  asia_note();

  const Result r = sb.run({"status"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "host    intl                         key present (from env:DASHSCOPE_API_KEY, 18 "
            "chars) — reachable (authorized)\n"
            "host    asia                         key present (from accounts:fleet/env:TP_KEY, 15 "
            "chars) — UNREACHABLE: " +
                asia_reason + "\n");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, PROBE);
  EXPECT_EQ(requests[0].header("Authorization"), std::string("Bearer ") + INTL_KEY);
  EXPECT_EQ(requests[1].header("Authorization"), std::string("Bearer ") + ASIA_KEY);
  EXPECT_EQ(requests[0].header_names(),
            (std::vector<std::string>{"host", "accept-encoding", "authorization"}));

  script();
  const Result j = sb.run({"status", "--json"});
  EXPECT_EQ(j.status, 0);
  EXPECT_EQ(j.err, "");
  EXPECT_EQ(j.out, R"({"hosts":[{"host":"intl","base_url":")" + base() +
                       R"(","key_present":true,"key_source":"env:DASHSCOPE_API_KEY",)"
                       R"("key_length":18,"probe":{"reachable":true,"note":"authorized"}},)"
                       R"({"host":"asia","base_url":")" +
                       base() +
                       R"(","key_present":true,"key_source":"accounts:fleet/env:TP_KEY",)"
                       R"("key_length":15,"probe":{"reachable":false,"reason":")" +
                       // The reason's line feed is escaped in JSON.
                       std::string("HTTP 401 from asia (") + base() +
                       R"(): [InvalidApiKey] Invalid API-key provided. (request_id req-7)\n)" +
                       asia_note().substr(1) + R"("}}]})" + "\n");
}

TEST_F(Status, OnlyTheEnvironmentKey) {
  sb.env["DASHSCOPE_API_KEY"] = INTL_KEY;
  server.on("GET", PROBE, Reply::json(200, "{}"));
  const Result r = sb.run({"status"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "host    intl                         key present (from env:DASHSCOPE_API_KEY, 18 "
            "chars) — reachable (authorized)\n" +
                line_no_key("asia"));
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(Status, NoReportedKeyIsARuntimeErrorAfterTheLines) {
  sb.env["DASHSCOPE_API_KEY"] = INTL_KEY;
  const Result one = sb.run({"status", "--host", "asia"});
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(one.out, line_no_key("asia"));
  EXPECT_EQ(one.err, NO_CREDENTIAL);

  sb.env.erase("DASHSCOPE_API_KEY");
  const Result none = sb.run({"status"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, line_no_key("intl") + line_no_key("asia"));
  EXPECT_EQ(none.err, NO_CREDENTIAL);

  const Result json = sb.run({"status", "--json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.err, "");
  EXPECT_EQ(json.out,
            R"({"hosts":[{"host":"intl","base_url":")" + base() +
                R"(","key_present":false,"key_source":null,"key_length":0,"probe":)"
                R"({"reachable":false,"reason":"no key bound"}},{"host":"asia","base_url":")" +
                base() +
                R"(","key_present":false,"key_source":null,"key_length":0,"probe":)"
                R"({"reachable":false,"reason":"no key bound"}}]})"
                "\n");
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(Status, HostFlag) {
  bind_asia();
  server.on("GET", PROBE, Reply::json(200, "{}"));
  const std::string asia_ok =
      "host    asia                         key present (from accounts:fleet/env:TP_KEY, 15 "
      "chars) — reachable (authorized)\n";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {"alias selects asia", {"status", "--host", "token-plan-ap-southeast-1"}, asia_ok},
      {"no value reports both", {"status", "--host"}, line_no_key("intl") + asia_ok},
      {"first occurrence counts", {"status", "--host", "token-plan", "--host", "intl"}, asia_ok},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = sb.run(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.out);
  }
  const Result json = sb.run({"status", "--host", "--json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_TRUE(json.out.starts_with(R"({"hosts":[{"host":"intl",)")) << json.out;
  EXPECT_NE(json.out.find(R"({"host":"asia",)"), std::string::npos);

  const Result bad = sb.run({"status", "--host", "Intl"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err, "unknown host \"Intl\" — expected intl or asia\n");
}

TEST_F(Status, MalformedAccountsFileComesBeforeABadHost) {
  sb.env["DASHSCOPE_API_KEY"] = INTL_KEY;
  const auto path = sb.write(".orvik/config/alicloud-accounts.json", R"({"accounts":[{}]})");
  const Result r = sb.run({"status", "--host", "nowhere"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(
      r.err.starts_with("orvik-nimbra: " + path.string() + " does not parse (missing field `name`"))
      << r.err;
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(Status, ProbeFailuresAreReportedNotFatal) {
  sb.env["DASHSCOPE_API_KEY"] = INTL_KEY;
  const std::string head =
      "host    intl                         key present (from env:DASHSCOPE_API_KEY, 18 chars) — "
      "UNREACHABLE: ";
  server.on("GET", PROBE, Reply::text(200, "text/html", "<html>maintenance</html>"));
  Result r = sb.run({"status", "--host", "intl"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, head +
                       "answer from intl was not JSON: Failed to read JSON: "
                       "[json.exception.parse_error.101] parse error at line 1, column 1: syntax "
                       "error while parsing value - invalid literal; last read: '<'\n");

  // Nobody listens on the port of a server that has gone.
  std::string gone;
  {
    FakeServer closed;
    gone = closed.base_url();
  }
  sb.use_server(gone);
  r = sb.run({"status", "--host", "intl"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.starts_with(head + "transport to intl: Failed to connect to 127.0.0.1 port "))
      << r.out;
}

}  // namespace
}  // namespace bb
