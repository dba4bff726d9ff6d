// Key resolution with injected environment and secret lookups, the fleet
// home, the choice of a binding, pick's messages, and the secrets command.
#include "nimbra/resolve.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "credential.hpp"

namespace {

namespace fs = std::filesystem;
using resolve::Credential;
using resolve::HostKind;

// Sets environment variables for one test and puts them back afterwards.
class ScopedEnv {
 public:
  ScopedEnv& set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
    return *this;
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        ::unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A scratch directory, removed at the end.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "nimbra-resolve-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  [[nodiscard]] const fs::path& path() const { return path_; }
  fs::path write(const fs::path& relative, const std::string& content) const {
    const fs::path file = path_ / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file;
  }
  fs::path script(const std::string& name, const std::string& body) const {
    const fs::path file = write(name, "#!/bin/sh\n" + body + "\n");
    fs::permissions(file, fs::perms::owner_all);
    return file;
  }

 private:
  fs::path path_;
};

// An environment and a secrets command made of maps; every secret lookup is
// recorded.
struct World {
  std::map<std::string, std::string> env;
  std::map<std::string, std::string> secrets;
  std::vector<std::string> asked;

  resolve::EnvLookup env_fn() {
    return [this](std::string_view name) -> std::optional<std::string> {
      const auto it = env.find(std::string(name));
      if (it == env.end()) return std::nullopt;
      return it->second;
    };
  }
  resolve::SecretLookup secret_fn() {
    return [this](std::string_view name) -> std::optional<std::string> {
      asked.emplace_back(name);
      const auto it = secrets.find(std::string(name));
      if (it == secrets.end()) return std::nullopt;
      return it->second;
    };
  }
  std::vector<Credential> resolve(const char* accounts_json = "{}") {
    const auto config = resolve::parse_accounts(accounts_json);
    EXPECT_TRUE(config.has_value());
    return resolve::resolve_from(*config, env_fn(), secret_fn());
  }
};

std::string summary(const std::vector<Credential>& credentials) {
  std::string s;
  for (const auto& c : credentials)
    s += std::string(c.host->name) + "=" + c.key + "@" + c.source + ";";
  return s;
}

TEST(ResolveBinding, TrimsAndFallsThroughInOrder) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> env;
    std::map<std::string, std::string> secrets;
    const char* expected;  // key@source, or "" for nothing
    std::vector<std::string> asked;
  };
  const Case cases[] = {
      {"variable with blanks and a line feed", {{"V", "  sk-1 \n"}}, {}, "sk-1@env:V", {}},
      {"blank variable counts as unset",
       {{"V", " \t\n"}},
       {{"S1", "sk-2"}},
       "sk-2@secrets:S1",
       {"S1"}},
      {"empty variable counts as unset", {{"V", ""}}, {}, "", {"S1", "S2"}},
      {"blank secret goes on to the next",
       {},
       {{"S1", "\n"}, {"S2", " sk-3\n"}},
       "sk-3@secrets:S2",
       {"S1", "S2"}},
      {"unicode white space is trimmed", {{"V", "\u00a0sk-4\u2003"}}, {}, "sk-4@env:V", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    World w{c.env, c.secrets, {}};
    const std::vector<std::string> names = {"S1", "S2"};
    const auto found = resolve::resolve_binding("V", names, w.env_fn(), w.secret_fn());
    EXPECT_EQ(found ? found->key + "@" + found->source : "", c.expected);
    EXPECT_EQ(w.asked, c.asked);
  }
  World w;
  EXPECT_FALSE(resolve::resolve_binding(std::nullopt, {}, w.env_fn(), w.secret_fn()));
}

TEST(ResolveAll, IntlFromTheEnvironmentThenSecretsThenAccounts) {
  const char* accounts = R"({"accounts": [{"name": "acc", "keys": [
      {"host": "intl", "env": "MY_INTL", "secrets": ["INTL_SECRET"]}]}]})";
  {
    World w{{{"DASHSCOPE_API_KEY", " sk-env\n"}, {"MY_INTL", "sk-other"}}, {}, {}};
    EXPECT_EQ(summary(w.resolve(accounts)), "intl=sk-env@env:DASHSCOPE_API_KEY;");
    EXPECT_TRUE(w.asked.empty());
  }
  {
    World w{{{"DASHSCOPE_API_KEY", "  "}}, {{"DASHSCOPE_API_KEY", "sk-secret"}}, {}};
    EXPECT_EQ(summary(w.resolve(accounts)), "intl=sk-secret@secrets:DASHSCOPE_API_KEY;");
  }
  {
    World w{{}, {{"INTL_SECRET", "sk-acc"}}, {}};
    EXPECT_EQ(summary(w.resolve(accounts)), "intl=sk-acc@accounts:acc/secrets:INTL_SECRET;");
    EXPECT_EQ(w.asked, (std::vector<std::string>{"DASHSCOPE_API_KEY", "INTL_SECRET"}));
  }
  {
    World w;
    EXPECT_EQ(summary(w.resolve()), "");
    EXPECT_EQ(w.asked, std::vector<std::string>{"DASHSCOPE_API_KEY"});
  }
}

TEST(ResolveAll, AsiaOnlyThroughABindingAndIntlFirst) {
  const char* accounts = R"({"accounts": [{"name": "my-account", "keys": [
      {"host": "token-plan-ap-southeast-1", "env": "MY_TOKEN_PLAN_KEY"}]}]})";
  World asia_only{{{"MY_TOKEN_PLAN_KEY", "sk-sp-1"}}, {}, {}};
  const auto only = asia_only.resolve(accounts);
  EXPECT_EQ(summary(only), "asia=sk-sp-1@accounts:my-account/env:MY_TOKEN_PLAN_KEY;");
  ASSERT_EQ(only.size(), 1u);
  EXPECT_EQ(only[0].host, &resolve::host_of(HostKind::Asia));

  World both{{{"MY_TOKEN_PLAN_KEY", "sk-sp-1"}, {"DASHSCOPE_API_KEY", "sk-1"}}, {}, {}};
  EXPECT_EQ(
      summary(both.resolve(accounts)),
      "intl=sk-1@env:DASHSCOPE_API_KEY;asia=sk-sp-1@accounts:my-account/env:MY_TOKEN_PLAN_KEY;");

  // Without a binding a token-plan key has nowhere to come from.
  World none{{{"MY_TOKEN_PLAN_KEY", "sk-sp-1"}}, {}, {}};
  EXPECT_EQ(summary(none.resolve()), "");
}

TEST(ResolveAll, OnlyTheFirstMatchingBindingIsTried) {
  // The default account's empty binding wins and yields nothing; the later
  // bindings are never consulted.
  const char* accounts = R"({"default": "b", "accounts": [
      {"name": "a", "keys": [{"host": "intl", "env": "A_KEY"}]},
      {"name": "b", "keys": [{"host": "dashscope-intl", "env": "A_KEY"}, {"host": "intl"}]}]})";
  World w{{{"A_KEY", "sk-a"}}, {}, {}};
  EXPECT_EQ(summary(w.resolve(accounts)), "");
  EXPECT_EQ(w.asked, std::vector<std::string>{"DASHSCOPE_API_KEY"});
}

TEST(AccountBinding, DefaultFirstThenFileOrderFirstOfEachName) {
  struct Case {
    const char* name;
    const char* json;
    HostKind kind;
    const char* expected;  // account/env of the chosen binding, "" for none
  };
  const Case cases[] = {
      {"file order", R"({"accounts": [{"name": "a", "keys": [{"host": "intl", "env": "A"}]},
         {"name": "b", "keys": [{"host": "intl", "env": "B"}]}]})",
       HostKind::Intl, "a/A"},
      {"default names the second", R"({"default": "b", "accounts": [
         {"name": "a", "keys": [{"host": "intl", "env": "A"}]},
         {"name": "b", "keys": [{"host": "intl", "env": "B"}]}]})",
       HostKind::Intl, "b/B"},
      {"default is case-sensitive", R"({"default": "B", "accounts": [
         {"name": "a", "keys": [{"host": "intl", "env": "A"}]},
         {"name": "B2", "keys": [{"host": "intl", "env": "B"}]}]})",
       HostKind::Intl, "a/A"},
      {"default without the host falls back to file order", R"({"default": "b", "accounts": [
         {"name": "a", "keys": [{"host": "intl", "env": "A"}]}, {"name": "b"}]})",
       HostKind::Intl, "a/A"},
      {"second account of the same name is never considered", R"({"accounts": [
         {"name": "a", "keys": []}, {"name": "a", "keys": [{"host": "intl", "env": "A2"}]}]})",
       HostKind::Intl, ""},
      {"default picks the first of its name", R"({"default": "a", "accounts": [
         {"name": "x", "keys": [{"host": "intl", "env": "X"}]},
         {"name": "a", "keys": [{"host": "intl", "env": "A1"}]},
         {"name": "a", "keys": [{"host": "intl", "env": "A2"}]}]})",
       HostKind::Intl, "a/A1"},
      {"aliases do not bind", R"({"accounts": [{"name": "a", "keys": [
         {"host": "dashscope-intl", "env": "X"}, {"host": "asia", "env": "Y"},
         {"host": "token-plan", "env": "Z"}, {"host": "INTL", "env": "W"}]}]})",
       HostKind::Intl, ""},
      {"asia label", R"({"accounts": [{"name": "a", "keys": [{"host": "asia", "env": "Y"},
         {"host": "token-plan-ap-southeast-1", "env": "T"}]}]})",
       HostKind::Asia, "a/T"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto config = resolve::parse_accounts(c.json);
    ASSERT_TRUE(config.has_value()) << config.error();
    const auto chosen = resolve::account_binding(*config, c.kind);
    EXPECT_EQ(chosen ? chosen->first->name + "/" + chosen->second->env.value_or("-") : "",
              c.expected);
  }
}

Credential credential(HostKind kind, const char* key) {
  return {key, "env:X", &resolve::host_of(kind)};
}

TEST(Pick, PrefersTheFirstAndHonoursHostNames) {
  const auto both = [] {
    return std::vector<Credential>{credential(HostKind::Intl, "i"),
                                   credential(HostKind::Asia, "a")};
  };
  struct Case {
    std::optional<std::string> host;
    const char* key;
  };
  const Case cases[] = {{std::nullopt, "i"},     {"intl", "i"},
                        {"dashscope-intl", "i"}, {"asia", "a"},
                        {"token-plan", "a"},     {"token-plan-ap-southeast-1", "a"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host.value_or("(none)"));
    const auto picked = resolve::pick(both(), c.host);
    ASSERT_TRUE(picked.has_value()) << picked.error();
    EXPECT_EQ(picked->key, c.key);
  }
  const auto asia_only = resolve::pick({credential(HostKind::Asia, "a")}, std::nullopt);
  ASSERT_TRUE(asia_only.has_value());
  EXPECT_EQ(asia_only->key, "a");
}

TEST(Pick, Messages) {
  ScopedEnv env;
  env.set("ORVIK_HOME", "/fleet").set("HOME", "/home/u");
  EXPECT_EQ(resolve::pick({}, std::nullopt).error(),
            "no DashScope key found — set DASHSCOPE_API_KEY (nothing else is required), or see "
            "`orvik nimbra accounts --example`");
  for (const char* name : {"Asia", " intl", "INTL", ""}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(resolve::pick({credential(HostKind::Intl, "i")}, name).error(),
              "unknown host \"" + std::string(name) +
                  "\" — expected one of: intl (dashscope-intl.aliyuncs.com), asia "
                  "(token-plan.ap-southeast-1.maas.aliyuncs.com)");
  }
  EXPECT_TRUE(resolve::pick({}, "a\"b\n").error().starts_with("unknown host \"a\\\"b\\n\" — "));
  EXPECT_EQ(resolve::pick({credential(HostKind::Asia, "a")}, "intl").error(),
            "no resolvable key for host intl (https://dashscope-intl.aliyuncs.com) — set "
            "DASHSCOPE_API_KEY or bind one in /fleet/config/alicloud-accounts.json");
  EXPECT_EQ(resolve::pick({credential(HostKind::Intl, "i")}, "token-plan").error(),
            "no resolvable key for host asia (https://token-plan.ap-southeast-1.maas.aliyuncs.com) "
            "— the token-plan key (sk-sp-…) binds via /fleet/config/alicloud-accounts.json (keys[] "
            "host \"token-plan-ap-southeast-1\") or the env name declared in that binding");
  env.set("ORVIK_HOME", nullptr).set("HOME", nullptr);
  EXPECT_EQ(resolve::pick({}, "asia").error(),
            "no resolvable key for host asia (https://token-plan.ap-southeast-1.maas.aliyuncs.com) "
            "— the token-plan key (sk-sp-…) binds via <fleet home>/config/alicloud-accounts.json "
            "(keys[] host \"token-plan-ap-southeast-1\") or the env name declared in that binding");
}

TEST(FleetHome, LiveHomeBaseElseClaudeElseNone) {
  TempDir dir;
  const std::string home = dir.path().string();
  ScopedEnv env;
  env.set("HOME", home.c_str()).set("ORVIK_HOME", "/explicit/missing");
  EXPECT_EQ(resolve::accounts_config_path(), "/explicit/missing/config/alicloud-accounts.json");
  env.set("ORVIK_HOME", "");
  EXPECT_EQ(resolve::fleet_home(), dir.path() / ".claude");
  fs::create_directory(dir.path() / ".orvik");
  EXPECT_EQ(resolve::fleet_home(), dir.path() / ".orvik");
  env.set("HOME", nullptr);
  EXPECT_EQ(resolve::fleet_home(), std::nullopt);
  EXPECT_EQ(resolve::accounts_config_path(), std::nullopt);
  env.set("ORVIK_HOME", "/only-orvik");
  EXPECT_EQ(resolve::fleet_home(), "/only-orvik");
}

TEST(LoadAccounts, MissingUnreadableOrNotUtf8IsEmptyMalformedIsLoud) {
  TempDir dir;
  ScopedEnv env;
  env.set("ORVIK_HOME", dir.path().c_str());
  const fs::path file = dir.path() / "config/alicloud-accounts.json";
  auto load = [] { return resolve::load_accounts(); };
  ASSERT_TRUE(load().has_value());
  EXPECT_TRUE(load()->accounts.empty());
  dir.write("config/alicloud-accounts.json", "{\"accounts\": [{\"name\": \"caf\xe9\"}]}");
  ASSERT_TRUE(load().has_value());
  EXPECT_TRUE(load()->accounts.empty());
  dir.write("config/alicloud-accounts.json", "{\"accounts\": [{\"name\": \"a\"}]}");
  ASSERT_TRUE(load().has_value());
  EXPECT_EQ(load()->accounts.size(), 1u);
  dir.write("config/alicloud-accounts.json", "{\"accounts\": [{}]}");
  EXPECT_EQ(load().error(),
            file.string() + " does not parse (missing field `name` at line 1 column 16)");
  if (::geteuid() != 0) {  // root reads anything
    fs::permissions(file, fs::perms::none);
    ASSERT_TRUE(load().has_value());
    EXPECT_TRUE(load()->accounts.empty());
  }
}

TEST(PickCredential, HostFlagFollowsTheValueFlagRule) {
  TempDir dir;  // no secrets command, no accounts file
  ScopedEnv env;
  env.set("HOME", dir.path().c_str()).set("ORVIK_HOME", nullptr).set("DASHSCOPE_API_KEY", "sk-1");
  const std::vector<std::vector<std::string>> no_host = {
      {"p", "--host"}, {"p", "--host", "--json"}, {"p", "--json"}};
  for (const auto& args : no_host) {
    SCOPED_TRACE(args.back());
    const auto picked = pick_credential(args);
    ASSERT_TRUE(picked.has_value()) << picked.error().message;
    EXPECT_EQ(picked->source, "env:DASHSCOPE_API_KEY");
  }
  const std::vector<std::string> asia = {"--host", "asia", "--host", "intl"};
  const auto failed = pick_credential(asia);
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error().kind, CommandError::Kind::Runtime);
  EXPECT_TRUE(failed.error().message.starts_with("no resolvable key for host asia ("));
  const std::vector<std::string> dash = {"--host", "-"};
  EXPECT_TRUE(pick_credential(dash).error().message.starts_with("unknown host \"-\""));
}

TEST(SecretsCommand, ExitStatusAndOutputDecide) {
  TempDir dir;
  ScopedEnv env;
  env.set("NIMBRA_TEST_MARK", "from-env");
  struct Case {
    const char* name;
    const char* body;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"key with blanks", "printf '  sk-1 \\n'", "sk-1"},
      {"only a line feed", "echo", std::nullopt},
      {"key but status 1", "echo sk-1; exit 1", std::nullopt},
      {"killed by a signal", "echo sk-1; kill -9 $$", std::nullopt},
      {"arguments are get and the name", "echo \"$#:$1:$2\"", "2:get:MY NAME"},
      {"standard input is empty", "echo \"read-$(wc -c)\"", "read-0"},
      {"standard error is discarded", "echo noise >&2; echo sk-2", "sk-2"},
      {"environment is inherited", "echo \"$NIMBRA_TEST_MARK\"", "from-env"},
      {"invalid UTF-8 is replaced", "printf 'k\\377y'", "k\xEF\xBF\xBDy"},
      {"large output does not block", "head -c 300000 /dev/zero | tr '\\0' x; echo",
       std::string(300000, 'x')},
      {"too large output is not a secret", "head -c 2000000 /dev/zero | tr '\\0' x", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path program = dir.script("secrets", c.body);
    EXPECT_EQ(resolve::run_secrets_command(program.string(), "MY NAME", std::chrono::seconds(20)),
              c.expected);
  }
  EXPECT_EQ(resolve::run_secrets_command((dir.path() / "missing").string(), "X",
                                         std::chrono::seconds(20)),
            std::nullopt);
}

TEST(SecretsCommand, AChildThatOutstaysTheLimitIsEndedAndKnowsNothing) {
  TempDir dir;
  const fs::path pid_file = dir.path() / "pid";
  const fs::path program =
      dir.script("secrets", "echo $$ > '" + pid_file.string() + "'; echo sk-1; exec sleep 30");
  EXPECT_EQ(resolve::run_secrets_command(program.string(), "X", std::chrono::milliseconds(300)),
            std::nullopt);
  std::ifstream in(pid_file);
  pid_t pid = 0;
  in >> pid;
  ASSERT_GT(pid, 0);
  EXPECT_NE(::kill(pid, 0), 0);  // reaped, not left running
}

TEST(SecretsCommand, RunsUnderHomeOnlyWhenHomeIsSet) {
  TempDir dir;
  dir.script(".local/bin/secrets", "echo \"sk-$2\"");
  ScopedEnv env;
  env.set("HOME", dir.path().c_str());
  EXPECT_EQ(resolve::secrets_cli("N"), "sk-N");
  env.set("HOME", nullptr);
  EXPECT_EQ(resolve::secrets_cli("N"), std::nullopt);
}

}  // namespace
