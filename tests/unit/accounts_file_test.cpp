// The accounts-file reader: both record forms, ignored members, and every
// failure described with the place where it is.
#include <gtest/gtest.h>

#include <string>

#include "nimbra/resolve.hpp"

namespace {

using resolve::AccountsConfig;
using resolve::parse_accounts;

// A compact picture of a configuration: default|name:(host,env,secrets...)...
std::string describe(const AccountsConfig& config) {
  std::string s = config.default_.value_or("-");
  for (const auto& account : config.accounts) {
    s += "|" + account.name + ":";
    for (const auto& key : account.keys) {
      s += "(" + key.host + "," + key.env.value_or("-");
      for (const auto& secret : key.secrets) s += "," + secret;
      s += ")";
    }
  }
  return s;
}

struct Case {
  const char* name;
  const char* text;
  const char* expected;  // describe() on success, the description on failure
};

TEST(AccountsFile, ReadsBothFormsAndIgnoresUnknownMembers) {
  const Case cases[] = {
      {"empty object", "{}", "-"},
      {"empty list", R"({"accounts": []})", "-"},
      {"empty root array", "[]", "-"},
      {"full object form",
       R"({"default": "b", "accounts": [{"name": "a", "keys": [{"host": "intl", "env": "E",
          "secrets": ["S1", "S2"]}]}, {"name": "b"}]})",
       "b|a:(intl,E,S1,S2)|b:"},
      {"nulls for optional members", R"({"default": null, "accounts": [{"name": "a",
          "keys": [{"host": "intl", "env": null}]}]})",
       "-|a:(intl,-)"},
      {"array forms at every level",
       R"([[["a", [["intl"], ["x", "E"], ["y", null, ["S"]]]]], "a"])", "a|a:(intl,-)(x,E)(y,-,S)"},
      {"forms mixed", R"({"accounts": [["a", [{"host": "intl", "secrets": []}]], {"name": "b",
          "keys": [["token-plan-ap-southeast-1", "T"]]}]})",
       "-|a:(intl,-)|b:(token-plan-ap-southeast-1,T)"},
      {"unknown members anywhere, even twice or malformed for us",
       R"({"x": 1, "x": {"name": 5}, "accounts": [{"name": "a", "extra": [[{}]], "keys": [
          {"host": "intl", "note": null, "note": true}]}], "other": {"accounts": 7}})",
       "-|a:(intl,-)"},
      {"member order does not matter", R"({"accounts": [{"keys": [{"secrets": ["S"],
          "host": "h"}], "name": "n"}], "default": "n"})",
       "n|n:(h,-,S)"},
      {"escapes in names", R"({"accounts": [{"name": "caf\u00e9 \"q\""}]})", "-|café \"q\":"},
      {"byte order mark", "\xEF\xBB\xBF{}", "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto parsed = parse_accounts(c.text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    EXPECT_EQ(describe(*parsed), c.expected);
  }
}

TEST(AccountsFile, DescribesEachProblemWithItsPosition) {
  const Case cases[] = {
      // Records: the position is the closing bracket of the incomplete record.
      {"missing name", "{\n  \"accounts\": [\n    {\"keys\": []}\n  ]\n}",
       "missing field `name` at line 3 column 16"},
      {"missing host", R"({"accounts":[{"name":"a","keys":[{"env":"X"}]}]})",
       "missing field `host` at line 1 column 44"},
      {"empty binding array", R"({"accounts":[{"name":"a","keys":[[]]}]})",
       "invalid length 0, expected struct KeyBinding with 3 elements at line 1 column 35"},
      {"empty account array", "{\"accounts\": [\n  []\n]}",
       "invalid length 0, expected struct Account with 2 elements at line 2 column 4"},
      {"binding array too long", R"({"accounts":[["a",[["intl",null,[],{"x":[1]}]]]]})",
       "invalid length 4, expected struct KeyBinding with 3 elements at line 1 column 45"},
      {"root array too long", R"([[], null, 3])",
       "invalid length 3, expected struct AccountsConfig with 2 elements at line 1 column 13"},
      // A member given twice: the position is the end of the second key.
      {"duplicate host", R"({"accounts":[{"name":"a","keys":[{"host":"intl","host":"x"}]}]})",
       "duplicate field `host` at line 1 column 54"},
      {"duplicate accounts", "{\"accounts\": [],\n \"accounts\": []}",
       "duplicate field `accounts` at line 2 column 11"},
      {"duplicate default, first null", R"({"default": null, "default": "a"})",
       "duplicate field `default` at line 1 column 27"},
      // Wrong types: the position is the end of the value, or the opening
      // bracket of a container.
      {"integer name", R"({"accounts":[{"name":5}]})",
       "invalid type: integer `5`, expected a string at line 1 column 22"},
      {"negative default", R"({"default": -12 })",
       "invalid type: integer `-12`, expected a string at line 1 column 15"},
      {"float default", R"({"default":5.50})",
       "invalid type: floating point `5.50`, expected a string at line 1 column 15"},
      {"boolean env", R"({"accounts":[{"name":"a","keys":[{"host":"intl","env":true}]}]})",
       "invalid type: boolean `true`, expected a string at line 1 column 58"},
      {"null name", R"({"accounts":[{"name":null}]})",
       "invalid type: null, expected a string at line 1 column 25"},
      {"null secrets", R"({"accounts":[{"name":"a","keys":[{"host":"intl","secrets":null}]}]})",
       "invalid type: null, expected a sequence at line 1 column 62"},
      {"number in secrets",
       R"({"accounts":[{"name":"a","keys":[{"host":"i","secrets":["S",2]}]}]})",
       "invalid type: integer `2`, expected a string at line 1 column 61"},
      {"string as account", R"({"accounts":["a\tb"]})",
       "invalid type: string, expected struct Account at line 1 column 19"},
      {"map as accounts", R"({"accounts":{}})",
       "invalid type: map, expected a sequence at line 1 column 13"},
      {"sequence as name", R"({"accounts":[{"name":["a"]}]})",
       "invalid type: sequence, expected a string at line 1 column 22"},
      {"number as root", "  5",
       "invalid type: integer `5`, expected struct AccountsConfig at line 1 column 3"},
      {"columns count characters", "{\"default\": \"\u00e9\u00e9\", \"default\": 1}",
       "duplicate field `default` at line 1 column 27"},
      // Syntax: the position is where the unexpected token begins, or the
      // character the reader stopped on.
      {"empty text", "",
       "syntax error while parsing value - unexpected end of input; expected '[', "
       "'{', or a literal at line 1 column 0"},
      {"unclosed object", "{",
       "syntax error while parsing object key - unexpected end of input; "
       "expected string literal at line 1 column 1"},
      {"missing colon", R"({"a" "bcd"})",
       "syntax error while parsing object separator - unexpected "
       "string literal; expected ':' at line 1 column 6"},
      {"missing comma", "{\"accounts\": [\n  {\"name\": \"a\" \"keys\": []}]}",
       "syntax error while parsing object - unexpected string literal; expected '}' at line 2 "
       "column 16"},
      {"trailing comma", R"({"a":1,})",
       "syntax error while parsing object key - unexpected '}'; "
       "expected string literal at line 1 column 8"},
      {"bad literal", R"({"a": tru})",
       "syntax error while parsing value - invalid literal at line 1 column 10"},
      {"line feed in a string", "{\n  \"a\": \"b\n}",
       "syntax error while parsing value - invalid string: control character U+000A (LF) must be "
       "escaped to \\u000A or \\n at line 2 column 10"},
      {"unterminated string", R"({"a":"b)",
       "syntax error while parsing value - invalid string: missing closing quote at line 1 column "
       "7"},
      {"trailing text", "{}\n{",
       "syntax error while parsing value - unexpected '{'; expected end of input at line 2 column "
       "1"},
      {"trailing literal", "{} null",
       "syntax error while parsing value - unexpected null literal; expected end of input at line "
       "1 column 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto parsed = parse_accounts(c.text);
    ASSERT_FALSE(parsed.has_value()) << describe(*parsed);
    EXPECT_EQ(parsed.error(), c.expected);
  }
}

TEST(AccountsFile, DeepNestingInIgnoredMembersIsHarmless) {
  std::string deep = "{\"x\": ";
  deep += std::string(100000, '[') + std::string(100000, ']');
  deep += ", \"accounts\": [{\"name\": \"a\"}]}";
  const auto parsed = parse_accounts(deep);
  ASSERT_TRUE(parsed.has_value()) << parsed.error();
  EXPECT_EQ(describe(*parsed), "-|a:");
}

}  // namespace
