// The man page and the shell completions agree with the program.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "harness.hpp"

namespace bb {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Packaging, ManPageNamesEveryFlagOfTheHelpText) {
  Sandbox sb;
  const std::string help = sb.run({"--help"}).out;
  std::string man = read_file(std::string(NIMBRA_MAN_DIR) + "/orvik-nimbra.1");
  ASSERT_FALSE(man.empty());
  // roff writes a hyphen as \-.
  man = std::regex_replace(man, std::regex(R"(\\-)"), "-");
  std::set<std::string> flags;
  const std::regex flag(R"(--[a-z][a-z-]*)");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), flag); it != std::sregex_iterator();
       ++it)
    flags.insert(it->str());
  EXPECT_GE(flags.size(), 25u);
  for (const auto& f : flags) {
    SCOPED_TRACE(f);
    EXPECT_TRUE(std::regex_search(man, std::regex(f + R"((?![a-z-]))")));
  }
  for (const char* word : {"accounts",
                           "status",
                           "models",
                           "chat",
                           "image",
                           "video",
                           "speech",
                           "task",
                           "gallery",
                           "ORVIK_NIMBRA_INTL_BASE_URL",
                           "ORVIK_NIMBRA_ASIA_BASE_URL",
                           "SSL_CERT_FILE",
                           "https_proxy",
                           "ORVIK_NIMBRA_LOG",
                           "ORVIK_LOG",
                           "DASHSCOPE_API_KEY",
                           "alicloud-accounts.json",
                           "secrets.json",
                           "Pictures/generated",
                           "EXIT STATUS",
                           "EXAMPLES"}) {
    SCOPED_TRACE(word);
    EXPECT_NE(man.find(word), std::string::npos);
  }
}

TEST(Packaging, ManPagesRenderWithoutWarnings) {
  Sandbox sb;
  for (const char* page : {"orvik-nimbra.1", "orvik.1"}) {
    SCOPED_TRACE(page);
    const Result r = sb.run_program("/usr/bin/groff", {"-man", "-Tutf8", "-ww", "-z",
                                                       std::string(NIMBRA_MAN_DIR) + "/" + page});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
  }
}

// Runs the bash completion function on a command line whose last word is
// being completed, and returns the candidates.
std::vector<std::string> complete(const Sandbox& sb, const std::string& line) {
  const std::string script = std::string(NIMBRA_COMPLETIONS_DIR) + "/orvik-nimbra.bash";
  const std::string code =
      "source '" + script + "'; read -ra COMP_WORDS <<< \"$0\"; " +
      "[[ $0 == *' ' ]] && COMP_WORDS+=(''); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); " +
      "_orvik_nimbra; printf '%s\\n' \"${COMPREPLY[@]}\"";
  const Result r = sb.run_program("/bin/bash", {"-c", code, line});
  EXPECT_EQ(r.status, 0) << r.err;
  auto out = lines_of(r.out);
  std::erase(out, "");
  return out;
}

TEST(Packaging, BashCompletesWordsFlagsAndModels) {
  Sandbox sb;
  using V = std::vector<std::string>;
  struct Case {
    std::string line;
    V want;
  } cases[] = {
      {"orvik nimbra ch", {"chat"}},
      {"orvik-nimbra s", {"status", "speech"}},
      {"orvik nim", {"nimbra"}},
      {"orvik nimbra image --model qwen-image-",
       {"qwen-image-3.0-pro", "qwen-image-3.0", "qwen-image-2.0-pro", "qwen-image-2.0",
        "qwen-image-max", "qwen-image-plus", "qwen-image-edit-max", "qwen-image-edit-plus",
        "qwen-image-edit"}},
      {"orvik nimbra chat --model ZH", {"ZHIPU/GLM-5.3"}},
      {"orvik nimbra video --model wan2.7", {"wan2.7-t2v", "wan2.7-i2v"}},
      {"orvik nimbra speech --voice K", {"Kai", "Katerina"}},
      {"orvik nimbra status --host token", {"token-plan", "token-plan-ap-southeast-1"}},
      {"orvik nimbra models --kind t", {"tts"}},
      {"orvik nimbra chat --r", {"--reasoning-effort", "--raw"}},
      {"orvik nimbra task --", {"--wait", "--host", "--json"}},
      {"orvik nimbra image --size 1664", {"1664*928"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(complete(sb, c.line), c.want);
  }
  sb.write("pics/cat.png", "x");
  EXPECT_EQ(complete(sb, "orvik nimbra image --edit home/pics/c"), (V{"home/pics/cat.png"}));
}

}  // namespace
}  // namespace bb
