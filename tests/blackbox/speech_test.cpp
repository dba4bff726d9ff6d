// The speech command against the fake server: the body, the sync lane,
// the saved audio, the voice list and the refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

constexpr const char* SPEECH_PATH = "/api/v1/services/aigc/multimodal-generation/generation";
const std::string VOICES =
    "Cherry, Serena, Ethan, Chelsie, Momo, Vivian, Moon, Maia, Kai, Nofish, Bella, Jennifer, Ryan, "
    "Katerina, Aiden";

class Speech : public ::testing::Test {
 protected:
  void SetUp() override {
    sb.use_server(server.base_url());
    sb.env["DASHSCOPE_API_KEY"] = "sk-speech-test-key";
  }
  [[nodiscard]] fs::path gallery() const { return sb.home() / "Pictures" / "generated"; }
  [[nodiscard]] std::string answer(const std::string& audio_path) const {
    return R"({"output":{"audio":{"url":")" + server.base_url() + audio_path +
           R"("}},"usage":{"characters":5},"request_id":"sp-1"})";
  }

  FakeServer server;
  Sandbox sb;
};

TEST_F(Speech, SynthesisesOnTheSyncLaneAndSavesTheAudio) {
  server.on("POST", SPEECH_PATH, Reply::json(200, answer("/audio/out")));
  server.on("GET", "/audio/out", Reply::text(200, "audio/wav", "RIFF....WAVE"));
  const Result r = sb.run({"speech", "hello", "--wait", "--voice"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const auto files = sb.files_in(gallery());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].starts_with("nmb-speech-") && files[0].ends_with("-0.wav")) << files[0];
  EXPECT_EQ(r.out, (gallery() / files[0]).string() + "\n");
  EXPECT_EQ(read_file(gallery() / files[0]), "RIFF....WAVE");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, SPEECH_PATH);
  EXPECT_EQ(requests[0].header("X-DashScope-Async"), std::nullopt);
  EXPECT_EQ(requests[0].body,
            R"({"model":"qwen3-tts-flash","input":{"text":"hello","voice":"Cherry"}})");
}

TEST_F(Speech, OptionalInputsInOrderAndTheJsonReport) {
  server.on("POST", SPEECH_PATH, Reply::json(200, answer("/audio/v.MP3?t=1.0")));
  server.on("GET", "/audio/v.MP3?t=1.0", Reply::text(200, "audio/mpeg", "ID3"));
  const Result r = sb.run({"speech", "--instructions", "slowly", "hi", "--language", "English",
                           "--voice", "LIST", "--model", "qwen3-tts-instruct-flash", "--json"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const auto files = sb.files_in(gallery());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].ends_with("-0.mp3")) << files[0];
  EXPECT_EQ(r.out, R"({"paths":[")" + (gallery() / files[0]).string() +
                       R"("],"host":"intl","request_id":"sp-1","usage":{"characters":5}})" + "\n");
  EXPECT_EQ(server.requests().at(0).body,
            R"({"model":"qwen3-tts-instruct-flash","input":{"text":"hi","voice":"LIST",)"
            R"("language_type":"English","instructions":"slowly"}})");
}

TEST_F(Speech, VoiceListAndRefusals) {
  const std::string list = "voices (common multilingual set): " + VOICES +
                           "\nfull table: vendor-spec/api-reference/speech-synthesis/qwen-tts/"
                           "voice-list.md\n";
  sb.env.erase("DASHSCOPE_API_KEY");  // the list needs no key
  for (const char* value : {"list", "?"}) {
    const Result r = sb.run({"speech", "--voice", value});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, list);
    EXPECT_EQ(r.err, "");
  }
  sb.env["DASHSCOPE_API_KEY"] = "sk-speech-test-key";
  const std::string refuse =
      "speech is synchronous on DashScope — there is no async lane to submit to; drop --submit\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"hi", "--submit"}, refuse},
      {{"--voice", "list", "--submit"}, refuse},
      {{"hi", "--", "--submit"}, refuse},
      {{"--json", "--voice", "Ethan"},
       "usage: orvik nimbra speech \"<text>\" [--model M] [--voice V] [--language L] — voices: " +
           VOICES + " (or --voice list)\n"},
      {{"hi", "--model", "qwen3.8-max"},
       "unknown speech model \"qwen3.8-max\" — the catalog knows: qwen3-tts-flash, "
       "qwen3-tts-instruct-flash (see `orvik nimbra models --kind speech`)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args = {"speech"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = sb.run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(Speech, AnswerWithoutAudioOrAudioThatCannotBeFetched) {
  server.on("POST", SPEECH_PATH, Reply::json(200, R"({"output":{"finish_reason":"stop"}})"));
  server.on("POST", SPEECH_PATH, Reply::json(200, answer("/audio/empty.wav")));
  server.on("GET", "/audio/empty.wav", Reply::text(200, "audio/wav", ""));
  const Result none = sb.run({"speech", "hi"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err,
            "orvik-nimbra: no audio url in answer: {\"output\":{\"finish_reason\":\"stop\"}}\n");
  const Result empty = sb.run({"speech", "hi"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "orvik-nimbra: result body was empty\n");
  EXPECT_TRUE(sb.files_in(gallery()).empty());

  sb.env.erase("HOME");  // the save needs the gallery
  const Result homeless = sb.run({"speech", "hi"});
  EXPECT_EQ(homeless.status, 1);
  EXPECT_EQ(homeless.err, "orvik-nimbra: HOME unset\n");
  EXPECT_EQ(server.requests().size(), 4u);  // posted, but nothing fetched
}

}  // namespace
}  // namespace bb
