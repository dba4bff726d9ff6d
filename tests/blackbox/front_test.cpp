// The front end: help, description, unknown words, exit statuses, the env
// file, and orderly answers to bad input.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "harness.hpp"

namespace bb {
namespace {

std::string help_text() {
  Sandbox sb;
  return sb.run({"--help"}).out;
}

TEST(Front, HelpWordsAllPrintTheHelpText) {
  Sandbox sb;
  const Result no_args = sb.run({});
  EXPECT_EQ(no_args.status, 0);
  EXPECT_EQ(no_args.err, "");
  ASSERT_TRUE(no_args.out.starts_with(
      "orvik nimbra — DashScope on YOUR key (no gateway, no fallback)\n\n  accounts"));
  ASSERT_TRUE(no_args.out.ends_with("(same intl host, a separate\nbilling wallet).\n"));
  EXPECT_NE(no_args.out.find(
                "pay-as-you-go key (sk-…) belongs to dashscope-intl.aliyuncs.com, a\n"
                "token-plan key (sk-sp-…) to token-plan.ap-southeast-1.maas.aliyuncs.com —\n"),
            std::string::npos);
  EXPECT_EQ(std::count(no_args.out.begin(), no_args.out.end(), '\n'), 41);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"help"}, {"-h"}, {"--help"}, {"help", "chat", "--json"}}) {
    SCOPED_TRACE(args[0]);
    const Result r = sb.run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, no_args.out);
    EXPECT_EQ(r.err, "");
  }
}

TEST(Front, DescribePrintsTheOneLineDescription) {
  Sandbox sb;
  const Result r = sb.run({"--describe", "ignored"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "nimbra — BYO-key DashScope: chat + image/video/speech + async tasks on your own key "
            "(your key, your bill)\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(help_text().find("--describe"), std::string::npos);
}

TEST(Front, UnknownWordsAreUsageErrors) {
  Sandbox sb;
  for (const std::string word : {"Chat", "", "--json", "chat2"}) {
    SCOPED_TRACE(word);
    const Result r = sb.run({word, "x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "unknown command '" + word +
                         "'. Try: orvik nimbra chat, image, video, speech, task, models, status, "
                         "accounts, gallery.\n");
  }
}

TEST(Front, ArgumentThatIsNotUtf8IsAnOrderlyRuntimeError) {
  Sandbox sb;
  const Result r = sb.run({"chat", "caf\xe9"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "orvik-nimbra: argument 2 is not valid UTF-8: \"caf\\u{fffd}\"\n");
}

TEST(Front, ClosedStandardOutputIsAnOrderlyRuntimeError) {
  Sandbox sb;
  // The shell closes the program's standard output before it writes.
  const Result r =
      sb.run_program("/bin/sh", {"-c", "\"$0\" --help >&-; echo \"status $?\"", nimbra_binary()});
  EXPECT_EQ(r.out, "status 1\n");
  EXPECT_EQ(r.err, "orvik-nimbra: cannot write standard output: Bad file descriptor\n");
  const Result piped =
      sb.run_program("/bin/sh", {"-c", "\"$0\" --help | head -c 0; exit 0", nimbra_binary()});
  EXPECT_EQ(piped.status, 0);
}

TEST(Front, EnvFileVariablesReachTheProgram) {
  Sandbox sb;
  sb.write(".orvik/config/secrets.json", R"({"env_file": "~/keys.env", "other": 1})");
  // A bad base-URL override named only in the env file must reach the
  // program and stop the command.
  sb.write("keys.env", "# keys\r\nexport ORVIK_NIMBRA_ASIA_BASE_URL=ftp://x\r\nBAD LINE\r\n");
  const Result r = sb.run({"gallery"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "orvik-nimbra: ORVIK_NIMBRA_ASIA_BASE_URL is \"ftp://x\" — expected https://HOST[:PORT] "
      "with no path or trailing slash, or http:// for a loopback host (127.0.0.1, localhost, "
      "[::1])\n");
}

TEST(Front, EnvFileNeverOverridesTheEnvironment) {
  Sandbox sb;
  sb.write(".orvik/config/secrets.json", R"({"env_file": "~/keys.env"})");
  sb.write("keys.env", "ORVIK_NIMBRA_ASIA_BASE_URL=ftp://x\n");
  sb.env["ORVIK_NIMBRA_ASIA_BASE_URL"] = "";  // exported empty: left alone, so no override
  const Result r = sb.run({"gallery"});
  EXPECT_EQ(r.err.find("ORVIK_NIMBRA_ASIA_BASE_URL"), std::string::npos) << r.err;
}

TEST(Front, BinaryOrHugeEnvFileIsIgnored) {
  Sandbox sb;
  sb.write(".orvik/config/secrets.json", R"({"env_file": "~/keys.env"})");
  sb.write("keys.env", std::string("ORVIK_NIMBRA_ASIA_BASE_URL=ftp://x\n\xff\xfe\0\x01", 40));
  EXPECT_EQ(sb.run({"gallery"}).err.find("ORVIK_NIMBRA"), std::string::npos);
  std::string huge = "ORVIK_NIMBRA_ASIA_BASE_URL=ftp://x\n";
  huge.append(17 * 1024 * 1024, '#');
  sb.write("keys.env", huge);
  EXPECT_EQ(sb.run({"gallery"}).err.find("ORVIK_NIMBRA"), std::string::npos);
}

TEST(Front, LauncherRunsModulesAndRefusesUnknownOnes) {
  Sandbox sb;
  const Result r = sb.run_program(ORVIK_LAUNCHER, {"nimbra", "--describe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.starts_with("nimbra — BYO-key DashScope"));
  const Result list = sb.run_program(ORVIK_LAUNCHER, {});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("  nimbra\n"), std::string::npos);
  const Result unknown = sb.run_program(ORVIK_LAUNCHER, {"vorlx"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(unknown.err.starts_with("orvik: unknown module 'vorlx'"));
}

}  // namespace
}  // namespace bb
