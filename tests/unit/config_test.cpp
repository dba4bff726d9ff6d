#include <gtest/gtest.h>

#include <cstdlib>

#include "orvik/config/home.hpp"
#include "orvik/config/secrets.hpp"

namespace {

using config::secrets::EnvPairs;
using config::secrets::parse_env_file;

TEST(Home, HomeBaseDecision) {
  using config::home::home_base;
  EXPECT_EQ(home_base("/o", "/h", false), "/o");
  EXPECT_EQ(home_base("", "/h", true), "/h/.orvik");
  EXPECT_EQ(home_base(std::nullopt, "/h", false), std::nullopt);
  EXPECT_EQ(home_base(std::nullopt, std::nullopt, true), std::nullopt);
  EXPECT_EQ(home_base(std::nullopt, "/h/", true), "/h/.orvik");
}

// Sets environment variables for one test and puts them back afterwards.
class EnvGuard {
 public:
  void set(const char* name, const char* value) {
    save(name);
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~EnvGuard() {
    for (auto& [name, value] : saved_)
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
  }

 private:
  void save(const char* name) {
    const char* v = std::getenv(name);
    saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(Home, InitAndLiveBases) {
  EnvGuard env;
  env.set("HOME", "/nonexistent-home");
  env.set("ORVIK_HOME", "");
  EXPECT_EQ(config::home::home_base_for_init(), "/nonexistent-home/.orvik");
  EXPECT_EQ(config::home::home_base_live(), std::nullopt);
  env.set("ORVIK_HOME", "/missing-dir");
  EXPECT_EQ(config::home::home_base_live(), "/missing-dir");
  env.set("HOME", nullptr);
  env.set("ORVIK_HOME", nullptr);
  EXPECT_EQ(config::home::home_base_for_init(), std::nullopt);
  env.set("ORVIK_SECRETS_CONFIG", "rel/secrets.json");
  EXPECT_EQ(config::secrets::config_path(), "rel/secrets.json");
  env.set("ORVIK_SECRETS_CONFIG", "");
  EXPECT_EQ(config::secrets::config_path(), std::nullopt);
}

TEST(Secrets, ParseSecretsFile) {
  EnvGuard env;
  env.set("HOME", "/h");
  using config::secrets::parse;
  EXPECT_EQ(parse(R"({"env_file":"~/x.env"})"), "/h/x.env");
  EXPECT_EQ(parse(R"({"env_file":" /abs/y.env "})"), "/abs/y.env");
  EXPECT_EQ(parse(R"({"env_file":"rel.env"})"), "rel.env");
  EXPECT_EQ(parse(R"({"env_file":"~x"})"), "~x");
  EXPECT_EQ(parse(R"({"env_file":"  "})"), std::nullopt);
  EXPECT_EQ(parse(R"({"env_file":5})"), std::nullopt);
  EXPECT_EQ(parse(R"(["env_file"])"), std::nullopt);
  EXPECT_EQ(parse("not json"), std::nullopt);
  env.set("HOME", nullptr);
  EXPECT_EQ(parse(R"({"env_file":"~/x.env"})"), "~/x.env");
}

TEST(Secrets, EnvFileSyntax) {
  const EnvPairs got = parse_env_file(
      "export A=b\n"
      "  \n"
      "# a comment\n"
      "B=b=c\n"
      "C = b\n"
      "D=\"q\"\n"
      "E=\n"
      "1X=a\n"
      "_=a\n"
      "MY-KEY=a\n"
      "MY KEY=a\n"
      "=a\n"
      "export\n"
      "no equals\n"
      "A=second\r\n"
      "exportF=1\n"
      "  export   G=g  \r\n"
      "H=last");
  const EnvPairs want = {{"A", "b"},       {"B", "b=c"}, {"C", " b"},  {"D", "\"q\""},
                         {"E", ""},        {"1X", "a"},  {"_", "a"},   {"A", "second"},
                         {"exportF", "1"}, {"G", "g"},   {"H", "last"}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(parse_env_file("K=v\r\nL=w\r\n"), parse_env_file("K=v\nL=w\n"));
}

}  // namespace
