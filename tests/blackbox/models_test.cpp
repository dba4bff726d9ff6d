// The models command: the catalog as text and JSON, the kind restriction,
// and the live comparison against the fake server's /models.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

using Json = nlohmann::ordered_json;

const std::string CHAT_LISTING =
    "catalog (probed 2026-08-30)\n"
    "qwen3.8-max            chat   sync   1M ctx; thinking dial reasoning_effort low|medium|xhigh; "
    "--no-think switches it off — LIVE 2026-08-28 intl payg: streaming chat ~75 tok/s; the "
    "default\n"
    "qwen3.8-flash          chat   sync   1M ctx; the cheap fast row — listed on intl + workspace "
    "/models 2026-08-28\n"
    "glm-5.1                chat   sync   202K ctx; thinking high|max — registry "
    "modelstudio-standard: intl payg serves it\n"
    "glm-5.2                chat   sync   202K ctx; thinking high|max — LIVE 2026-08-30 intl payg: "
    "answers 200. It was listed here as token-plan/asia-only, which was never true of the intl "
    "host\n"
    "ZHIPU/GLM-5.3          chat   sync   202K ctx, 128K out; ALWAYS thinks (reasoning_effort "
    "low|high|max); needs the credits key — LIVE 2026-08-20 intl credits key; vendor-prefixed "
    "spelling IS the model name\n"
    "kimi-k3                chat   sync   Moonshot's flagship, served here rather than at Moonshot "
    "— LIVE 2026-08-30 intl payg: answers 200\n"
    "deepseek-v4-pro        chat   sync   DeepSeek's flagship; thinks by default — LIVE 2026-08-30 "
    "intl payg: answers 200\n"
    "qwen3-coder-next       chat   sync   the coding row — for agent work over a repo — LIVE "
    "2026-08-30 intl payg: answers 200\n"
    "\n"
    "8 rows. `--live` asks the platform what it serves TODAY (this table is curated and can fall "
    "behind).\n";

const std::string SPEECH_LISTING =
    "catalog (probed 2026-08-30)\n"
    "qwen3-tts-flash        speech sync   voices: Cherry Serena Ethan Chelsie Momo Vivian Moon "
    "Maia Kai + more — LIVE 2026-08-27 intl: sync 200, output.audio.url wav downloaded, "
    "usage.characters\n"
    "qwen3-tts-instruct-flash speech sync   as qwen3-tts-flash + instruction control (zh/en "
    "instructions) — vendor spec 2026-08-27\n"
    "\n"
    "2 rows. `--live` asks the platform what it serves TODAY (this table is curated and can fall "
    "behind).\n";

const std::string LIVE_NOTE =
    "Note: this listing is the compatible-mode surface. The DashScope-native video models do not "
    "appear here at all, so an absence is not proof a model is unserved — check those with "
    "`models --kind video`.\n";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

TEST(Models, TextListingFollowsTheKindRestriction) {
  Sandbox sb;
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {"chat rows", {"--kind", "chat"}, CHAT_LISTING},
      {"tts names speech; long id not cut", {"--kind", "tts"}, SPEECH_LISTING},
      {"speech, flag after a stray positional", {"extra", "--kind", "speech"}, SPEECH_LISTING},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = sb.run([&] {
      std::vector<std::string> args{"models"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      return args;
    }());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.out);
  }
}

TEST(Models, FullListingHasEveryRowInOrder) {
  Sandbox sb;
  const Result r = sb.run({"models"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 47u);
  EXPECT_EQ(lines[0], "catalog (probed 2026-08-30)");
  EXPECT_EQ(lines[1].substr(0, 37), "qwen3.8-max            chat   sync   ");
  EXPECT_EQ(lines[20],
            "wan2.6-t2i             image  async  text-to-image; multiple choices per call; the "
            "vendor's own t2i default — LIVE 2026-08-30 intl: submitted, SUCCEEDED in ~10s, image "
            "in choices[].message.content[]");
  EXPECT_EQ(lines[24],
            "qwen-image-plus        image  async  n fixed 1; sizes "
            "1664*928|1472*1104|1328*1328|1104*1472|928*1664 — LIVE 2026-08-27 intl: submit "
            "PENDING → SUCCEEDED in ~45s, results[].url downloaded");
  EXPECT_EQ(lines[42].substr(0, 37), "wan2.2-kf2v-flash      video  async  ");
  EXPECT_EQ(lines[45], "");
  EXPECT_EQ(lines[46],
            "44 rows. `--live` asks the platform what it serves TODAY (this table is curated and "
            "can fall behind).");
}

TEST(Models, JsonListing) {
  Sandbox sb;
  const Result all = sb.run({"models", "--json"});
  ASSERT_EQ(all.status, 0);
  EXPECT_EQ(all.err, "");
  ASSERT_TRUE(all.out.starts_with(
      R"({"catalog_probed":"2026-08-30","models":[{"model":"qwen3.8-max","kind":"chat",)"
      R"("lane":"sync","endpoint":"/chat/completions","shape":"1M ctx; thinking dial )"
      R"(reasoning_effort low|medium|xhigh; --no-think switches it off","probe":"LIVE )"
      R"(2026-08-28 intl payg: streaming chat ~75 tok/s; the default"},)"));
  ASSERT_TRUE(all.out.ends_with(
      R"({"model":"qwen3-tts-instruct-flash","kind":"speech","lane":"sync",)"
      R"("endpoint":"/services/aigc/multimodal-generation/generation","shape":"as )"
      R"x(qwen3-tts-flash + instruction control (zh/en instructions)","probe":"vendor spec )x"
      "2026-08-27\"}]}\n"));
  EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 1);
  const Json doc = Json::parse(all.out);
  ASSERT_EQ(doc.size(), 2u);
  EXPECT_EQ(doc["models"].size(), 44u);
  EXPECT_EQ(doc["models"][23].dump(),
            R"({"model":"qwen-image-plus","kind":"image","lane":"async",)"
            R"("endpoint":"/services/aigc/text2image/image-synthesis","shape":"n fixed 1; sizes )"
            R"(1664*928|1472*1104|1328*1328|1104*1472|928*1664","probe":"LIVE 2026-08-27 intl: )"
            R"(submit PENDING → SUCCEEDED in ~45s, results[].url downloaded"})");

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::size_t rows;
  } cases[] = {
      {"chat", {"models", "--kind", "chat", "--json"}, 8},
      {"video", {"models", "--json", "--kind", "video"}, 17},
      {"kind followed by a switch: no restriction", {"models", "--kind", "--json"}, 44},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = sb.run(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Json::parse(r.out)["models"].size(), c.rows);
  }
  // A --kind without any value is no restriction either.
  EXPECT_EQ(sb.run({"models", "--kind"}).out, sb.run({"models"}).out);
}

TEST(Models, UnknownKindIsAUsageError) {
  Sandbox sb;
  for (const auto& [value, shown] : std::vector<std::pair<std::string, std::string>>{
           {"Speech", "\"Speech\""}, {"", "\"\""}, {"a\"b\tc", "\"a\\\"b\\tc\""}}) {
    SCOPED_TRACE(value);
    const Result r = sb.run({"models", "--kind", value, "--json"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "unknown kind " + shown + " — expected chat|image|video|speech\n");
  }
}

class ModelsLive : public ::testing::Test {
 protected:
  void SetUp() override {
    sb.use_server(server.base_url());
    sb.env["DASHSCOPE_API_KEY"] = "sk-live-test-key";
  }
  FakeServer server;
  Sandbox sb;
};

constexpr const char* UNSORTED_MODELS =
    R"({"object":"list","data":[{"id":"deepseek-v4-pro"},{"id":"qwen9-new"},)"
    R"({"id":"ZHIPU/GLM-5.3"},{"id":7},{"name":"no id"},{"id":"wan2.6-t2v"},)"
    R"({"id":"qwen9-new"},{"id":"Qwen3.8-max"},{"id":"qwen3.8-max"}]})";

TEST_F(ModelsLive, TextMarksIdsTheCatalogLacks) {
  server.on("GET", "/compatible-mode/v1/models", Reply::json(200, UNSORTED_MODELS));
  // In live mode --kind is not read, so an unaccepted value is harmless.
  const Result r = sb.run({"models", "--live", "--kind", "bogus"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "served by intl right now (7 models)\n"
            "+ Qwen3.8-max\n"
            "  ZHIPU/GLM-5.3\n"
            "  deepseek-v4-pro\n"
            "  qwen3.8-max\n"
            "+ qwen9-new\n"
            "+ qwen9-new\n"
            "  wan2.6-t2v\n"
            "\n"
            "+ = served but not in this module's catalog (3 of 7).\n" +
                LIVE_NOTE);
  const std::vector<Request> requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/compatible-mode/v1/models");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer sk-live-test-key");
  EXPECT_EQ(r.out.find("sk-live-test-key"), std::string::npos);
}

TEST_F(ModelsLive, Json) {
  server.on("GET", "/compatible-mode/v1/models", Reply::json(200, UNSORTED_MODELS));
  const Result r = sb.run({"models", "--json", "--live"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            R"({"host":"intl","catalog_probed":"2026-08-30","served":["Qwen3.8-max",)"
            R"("ZHIPU/GLM-5.3","deepseek-v4-pro","qwen3.8-max","qwen9-new","qwen9-new",)"
            R"("wan2.6-t2v"],"not_in_catalog":["Qwen3.8-max","qwen9-new","qwen9-new"],)"
            R"("note":"the compatible-mode listing omits the DashScope-native video models; )"
            "absence here is not proof a model is unserved\"}\n");
}

TEST_F(ModelsLive, AnswersWithoutUsableDataListNothing) {
  for (const char* body : {R"({"data":[]})", R"({"data":{"id":"x"}})", R"([1,2])", "{}"}) {
    SCOPED_TRACE(body);
    FakeServer fresh;  // one scripted answer per case
    fresh.on("GET", "/compatible-mode/v1/models", Reply::json(200, body));
    sb.use_server(fresh.base_url());
    const Result r = sb.run({"models", "--live"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "served by intl right now (0 models)\n\n"
              "+ = served but not in this module's catalog (0 of 0).\n" +
                  LIVE_NOTE);
  }
}

TEST_F(ModelsLive, FailuresAreRuntimeErrors) {
  server.on("GET", "/compatible-mode/v1/models",
            Reply::json(500, R"({"code":"InternalError","message":"boom","request_id":"r-1"})"));
  const Result failed = sb.run({"models", "--live"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err, "orvik-nimbra: HTTP 500 from intl (" + server.base_url() +
                            "): [InternalError] boom (request_id r-1)\n");

  sb.env.erase("DASHSCOPE_API_KEY");
  const Result no_key = sb.run({"models", "--live", "--json"});
  EXPECT_EQ(no_key.status, 1);
  EXPECT_EQ(no_key.out, "");
  EXPECT_EQ(no_key.err,
            "orvik-nimbra: no DashScope key found — set DASHSCOPE_API_KEY (nothing else is "
            "required), or see `orvik nimbra accounts --example`\n");
  EXPECT_EQ(server.requests().size(), 1u);
}

}  // namespace
}  // namespace bb
