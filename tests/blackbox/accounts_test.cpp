// `accounts`: key provenance per host from every source, the accounts-file
// report, the example, and the loud failure of a malformed accounts file.
#include <gtest/gtest.h>

#include <string>

#include "harness.hpp"

namespace bb {
namespace {

const std::string EXAMPLE =
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

const std::string ABSENT = "        accounts file absent — env or secrets alone are enough\n";
const std::string PRESENT = "        accounts file present (enrichment)\n";
const std::string NO_INTL =
    "host    intl                         no key — set DASHSCOPE_API_KEY or bind one "
    "(pay-as-you-go key (sk-…))\n";
const std::string NO_ASIA =
    "host    asia                         no key — set DASHSCOPE_API_KEY or bind one (token-plan "
    "key (sk-sp-…))\n";

std::string intl_line(const std::string& source, int length) {
  return "host    intl                         key present (from " + source + ", " +
         std::to_string(length) + " chars) — pay-as-you-go key (sk-…)\n";
}
std::string asia_line(const std::string& source, int length) {
  return "host    asia                         key present (from " + source + ", " +
         std::to_string(length) + " chars) — token-plan key (sk-sp-…)\n";
}

std::string host_json(const char* host, const char* base_url, const char* scope,
                      const std::string& source, int length) {
  const std::string present = source.empty() ? "false" : "true";
  const std::string src = source.empty() ? "null" : "\"" + source + "\"";
  return std::string("{\"host\":\"") + host + "\",\"base_url\":\"" + base_url +
         "\",\"key_scope\":\"" + scope + "\",\"key_present\":" + present +
         ",\"key_source\":" + src + ",\"key_length\":" + std::to_string(length) + "}";
}

std::string json(const std::string& config, bool present, const std::string& intl_source,
                 int intl_length, const std::string& asia_source, int asia_length) {
  return "{\"config\":" + config + ",\"accounts_present\":" + (present ? "true" : "false") +
         ",\"hosts\":[" +
         host_json("intl", "https://dashscope-intl.aliyuncs.com", "pay-as-you-go key (sk-…)",
                   intl_source, intl_length) +
         "," +
         host_json("asia", "https://token-plan.ap-southeast-1.maas.aliyuncs.com",
                   "token-plan key (sk-sp-…)", asia_source, asia_length) +
         "]}\n";
}

// Runs text and JSON reports; both must succeed, never show `key` and
// leave standard error empty.
struct Reports {
  std::string text;
  std::string json;
};
Reports reports(const Sandbox& sb, const std::vector<std::string>& keys) {
  const Result text = sb.run({"accounts"});
  const Result js = sb.run({"accounts", "--json"});
  for (const Result* r : {&text, &js}) {
    EXPECT_EQ(r->status, 0);
    EXPECT_EQ(r->err, "");
    for (const auto& key : keys) {
      EXPECT_EQ(r->out.find(key), std::string::npos) << "the key was shown";
      EXPECT_EQ(r->err.find(key), std::string::npos) << "the key was shown";
    }
  }
  return {text.out, js.out};
}

std::string claude_path(const Sandbox& sb) {
  return (sb.home() / ".claude/config/alicloud-accounts.json").string();
}

TEST(Accounts, ExamplePrintsTheExampleAndReadsNothing) {
  Sandbox sb;
  sb.write(".claude/config/alicloud-accounts.json", "{ not json");
  ASSERT_EQ(EXAMPLE.size(), 336u);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"accounts", "--example"},
                                               {"accounts", "--json", "--example"},
                                               {"accounts", "x", "--example", "y"}}) {
    SCOPED_TRACE(args.size());
    const Result r = sb.run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, EXAMPLE);
    EXPECT_EQ(r.err, "");
  }
}

TEST(Accounts, NoKeyAtAllIsNotAFailure) {
  Sandbox sb;
  const Reports r = reports(sb, {});
  EXPECT_EQ(r.text, "config  " + claude_path(sb) + "\n" + ABSENT + NO_INTL + NO_ASIA);
  EXPECT_EQ(r.json, json("\"" + claude_path(sb) + "\"", false, "", 0, "", 0));
}

TEST(Accounts, OnlyTheEnvironmentVariable) {
  Sandbox sb;
  const std::string key = "sk-0123456789abcdef0123456789abcdef";  // 35 characters
  sb.env["DASHSCOPE_API_KEY"] = "  " + key + "\n";
  const Reports r = reports(sb, {key});
  EXPECT_EQ(r.text, "config  " + claude_path(sb) + "\n" + ABSENT +
                        intl_line("env:DASHSCOPE_API_KEY", 35) + NO_ASIA);
  EXPECT_EQ(r.json, json("\"" + claude_path(sb) + "\"", false, "env:DASHSCOPE_API_KEY", 35, "", 0));
}

TEST(Accounts, KeyFromTheEnvFile) {
  Sandbox sb;
  // The secrets file lives in ~/.orvik, which then is the fleet home too.
  sb.write(".orvik/config/secrets.json", R"({"env_file": "~/keys.env"})");
  sb.write("keys.env", "# keys\nexport DASHSCOPE_API_KEY=sk-from-env-file\n");
  const std::string path = (sb.home() / ".orvik/config/alicloud-accounts.json").string();
  const Reports r = reports(sb, {"sk-from-env-file"});
  EXPECT_EQ(r.text,
            "config  " + path + "\n" + ABSENT + intl_line("env:DASHSCOPE_API_KEY", 16) + NO_ASIA);
}

TEST(Accounts, KeyFromTheSecretsCommandCountedInCharacters) {
  Sandbox sb;
  sb.env["DASHSCOPE_API_KEY"] = "   ";  // blank: the secrets command is asked next
  sb.install_secrets(
      "[ \"$1\" = get ] || exit 3\n"
      "[ \"$2\" = DASHSCOPE_API_KEY ] || exit 1\n"
      "echo 'failing loudly' >&2\n"
      "printf '  sk-ключ-密钥\\n'");
  const Reports r = reports(sb, {"sk-ключ-密钥"});
  EXPECT_EQ(r.text, "config  " + claude_path(sb) + "\n" + ABSENT +
                        intl_line("secrets:DASHSCOPE_API_KEY", 10) + NO_ASIA);
  EXPECT_EQ(r.json,
            json("\"" + claude_path(sb) + "\"", false, "secrets:DASHSCOPE_API_KEY", 10, "", 0));
}

TEST(Accounts, AsiaKeyBoundInTheAccountsFile) {
  Sandbox sb;
  sb.write(".claude/config/alicloud-accounts.json", EXAMPLE);
  sb.env["MY_TOKEN_PLAN_KEY"] = "sk-sp-token";
  const Reports r = reports(sb, {"sk-sp-token"});
  EXPECT_EQ(r.text, "config  " + claude_path(sb) + "\n" + PRESENT + NO_INTL +
                        asia_line("accounts:my-account/env:MY_TOKEN_PLAN_KEY", 11));
  EXPECT_EQ(r.json, json("\"" + claude_path(sb) + "\"", true, "", 0,
                         "accounts:my-account/env:MY_TOKEN_PLAN_KEY", 11));
}

TEST(Accounts, BothHostsThroughBindingsAndSecrets) {
  Sandbox sb;
  sb.write(".claude/config/alicloud-accounts.json", R"({"accounts": [
      ["work", [["intl", "WORK_KEY"], ["token-plan-ap-southeast-1", null, ["TP1", "TP2"]]]]]})");
  sb.install_secrets("[ \"$2\" = TP2 ] && echo sk-sp-2");
  sb.env["WORK_KEY"] = "sk-work";
  const Reports r = reports(sb, {"sk-work", "sk-sp-2"});
  EXPECT_EQ(r.text, "config  " + claude_path(sb) + "\n" + PRESENT +
                        intl_line("accounts:work/env:WORK_KEY", 7) +
                        asia_line("accounts:work/secrets:TP2", 7));
}

TEST(Accounts, EmptyAccountListCountsAsAbsent) {
  Sandbox sb;
  sb.write(".claude/config/alicloud-accounts.json", R"({"accounts": [], "other": 1})");
  const Reports r = reports(sb, {});
  EXPECT_EQ(r.text, "config  " + claude_path(sb) + "\n" + ABSENT + NO_INTL + NO_ASIA);
}

TEST(Accounts, MalformedAccountsFileFailsEvenWithTheVariable) {
  Sandbox sb;
  sb.env["DASHSCOPE_API_KEY"] = "sk-1";
  const auto path = sb.write(".claude/config/alicloud-accounts.json",
                             "{\n  \"accounts\": [\n    {\"name\": 5}\n  ]\n}\n");
  for (const char* flag : {"--json", "--other"}) {
    SCOPED_TRACE(flag);
    const Result r = sb.run({"accounts", flag});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "orvik-nimbra: " + path.string() +
                         " does not parse (invalid type: integer `5`, expected a string at line 3 "
                         "column 14)\n");
  }
  sb.write(".claude/config/alicloud-accounts.json", "{\"accounts\": [[]]}");
  EXPECT_EQ(sb.run({"accounts"}).err,
            "orvik-nimbra: " + path.string() +
                " does not parse (invalid length 0, expected struct Account with 2 elements at "
                "line 1 column 16)\n");
}

TEST(Accounts, NoHomeAtAll) {
  Sandbox sb;
  sb.env.erase("HOME");
  sb.env["DASHSCOPE_API_KEY"] = "sk-1";
  const Reports r = reports(sb, {"sk-1"});
  EXPECT_EQ(r.text, "config  \n" + ABSENT + intl_line("env:DASHSCOPE_API_KEY", 4) + NO_ASIA);
  EXPECT_EQ(r.json, json("null", false, "env:DASHSCOPE_API_KEY", 4, "", 0));
}

TEST(Accounts, OrvikHomeWinsAndAPathThatIsNotUtf8IsShownReplaced) {
  Sandbox sb;
  const std::string dir = (sb.root() / "fleet-caf").string();
  sb.env["ORVIK_HOME"] = dir + "\xe9";
  sb.write(dir + "\xe9" + "/config/alicloud-accounts.json",
           R"({"accounts": [{"name": "a", "keys": [{"host": "intl", "env": "K"}]}]})");
  sb.env["K"] = "sk-k";
  const std::string shown = dir + "\xEF\xBF\xBD/config/alicloud-accounts.json";
  const Reports r = reports(sb, {"sk-k"});
  EXPECT_EQ(r.text,
            "config  " + shown + "\n" + PRESENT + intl_line("accounts:a/env:K", 4) + NO_ASIA);
  EXPECT_EQ(r.json, json("\"" + shown + "\"", true, "accounts:a/env:K", 4, "", 0));
}

}  // namespace
}  // namespace bb
