#include "args.hpp"

#include <gtest/gtest.h>

namespace {

using V = std::vector<std::string>;

TEST(Args, PositionalScan) {
  struct Case {
    const char* name;
    V args;
    V want;
  } cases[] = {
      {"value flag without value drops next flag", {"--model", "--json", "hello"}, {"hello"}},
      {"marker makes the rest positional", {"--", "--json"}, {"--json"}},
      {"extra positionals kept in order", {"hello", "world"}, {"hello", "world"}},
      {"single dash is positional", {"-x", "hello"}, {"-x", "hello"}},
      {"value flag before prompt", {"--last-frame", "end.png", "a prompt"}, {"a prompt"}},
      {"unknown flag dropped alone", {"--max-tokens=5", "hi"}, {"hi"}},
      {"value flag at the end", {"hi", "--model"}, {"hi"}},
      {"short argument is positional", {"-", ""}, {"-", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(positionals(c.args), c.want);
  }
}

TEST(Args, FlagValueTakesFirstAcceptableOccurrence) {
  EXPECT_EQ(flag_value(V{"--host", "asia", "--host", "intl"}, "--host"), "asia");
  EXPECT_EQ(flag_value(V{"--host"}, "--host"), std::nullopt);
  EXPECT_EQ(flag_value(V{"--host", "--json", "--host", "intl"}, "--host"), std::nullopt);
  EXPECT_EQ(flag_value(V{"--n", "-5"}, "--n"), "-5");
  EXPECT_EQ(flag_value(V{"--n", "-"}, "--n"), "-");
  EXPECT_EQ(flag_value(V{"--n", ""}, "--n"), "");
  EXPECT_EQ(flag_value(V{"--n", "--5"}, "--n"), std::nullopt);
  EXPECT_TRUE(has_switch(V{"--", "--json"}, "--json"));
  EXPECT_FALSE(has_switch(V{"--json=1"}, "--json"));
}

TEST(Args, RepeatableFlag) {
  EXPECT_EQ(flag_values(V{"--edit", "a", "--edit", "b"}, "--edit"), (V{"a", "b"}));
  EXPECT_EQ(flag_values(V{"--edit", "--edit", "b"}, "--edit"), (V{"b"}));
  EXPECT_EQ(flag_values(V{"x", "--edit"}, "--edit"), V{});
}

TEST(Args, IntegerParsing) {
  EXPECT_EQ(parse_int32("+7"), 7);
  EXPECT_EQ(parse_int32("-5"), -5);
  EXPECT_EQ(parse_int32("2147483647"), 2147483647);
  EXPECT_EQ(parse_int32("-2147483648"), -2147483648LL);
  EXPECT_EQ(parse_int64("-9223372036854775808"), INT64_MIN);
  for (const char* bad :
       {"2147483648", "", "+", "-", " 1", "1 ", "1_000", "1e3", "++1", "0x10", "١"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(parse_int32(bad), std::nullopt);
  }
  EXPECT_EQ(parse_int64("99999999999999999999"), std::nullopt);
}

TEST(Args, IntegerFlagMessages) {
  EXPECT_EQ(int32_flag(V{"--n", "three"}, "--n").error().message,
            "--n needs an integer, got \"three\"");
  EXPECT_EQ(int32_flag(V{"--duration", "-5"}, "--duration").value(), -5);
  EXPECT_EQ(int32_flag(V{"--n", "--json"}, "--n").value(), std::nullopt);
  EXPECT_EQ(int32_flag(V{"--n", "1\n\"2"}, "--n").error().kind, CommandError::Kind::Usage);
  EXPECT_EQ(int32_flag(V{"--n", "1\n\"2"}, "--n").error().message,
            "--n needs an integer, got \"1\\n\\\"2\"");
}

TEST(Args, SeedValue) {
  EXPECT_EQ(seed_value(V{"--seed", "2147483647"}).value(), 2147483647);
  EXPECT_EQ(seed_value(V{"--seed", "0"}).value(), 0);
  EXPECT_EQ(seed_value(V{}).value(), std::nullopt);
  for (const char* out_of_range : {"2147483648", "-1"}) {
    SCOPED_TRACE(out_of_range);
    EXPECT_EQ(seed_value(V{"--seed", out_of_range}).error().message,
              "--seed must be in [0, 2147483647]");
  }
  EXPECT_EQ(seed_value(V{"--seed", "12345678901234567890"}).error().message,
            "--seed needs an integer, got \"12345678901234567890\"");
  EXPECT_EQ(seed_value(V{"--seed", "1e3"}).error().message, "--seed needs an integer, got \"1e3\"");
}

}  // namespace
