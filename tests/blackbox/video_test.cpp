// The video command against the fake server: the body for every input
// shape, the happyhorse parameters, the checks and their order, and --wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

constexpr const char* VIDEO_PATH = "/api/v1/services/aigc/video-generation/video-synthesis";
const std::string SUBMITTED =
    R"({"output":{"task_id":"v-1","task_status":"PENDING"},"request_id":"r-1"})";

class Video : public ::testing::Test {
 protected:
  void SetUp() override {
    sb.use_server(server.base_url());
    sb.env["DASHSCOPE_API_KEY"] = "sk-video-test-key";
    server.on("POST", VIDEO_PATH, Reply::json(200, SUBMITTED));
  }

  // Runs `video` with the arguments, expects the plain submission report,
  // and returns the body that was posted.
  std::string submitted_body(const std::vector<std::string>& args, const std::string& model) {
    std::vector<std::string> all = {"video"};
    all.insert(all.end(), args.begin(), args.end());
    const std::size_t before = server.requests().size();
    const Result r = sb.run(all);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "task v-1 submitted (PENDING) — model " + model +
                         " on host intl\nresume: orvik nimbra task v-1 --wait\n");
    const auto requests = server.requests();
    if (requests.size() != before + 1) {
      ADD_FAILURE() << "expected one request";
      return "";
    }
    EXPECT_EQ(requests.back().target, VIDEO_PATH);
    EXPECT_EQ(requests.back().header("X-DashScope-Async"), "enable");
    return requests.back().body;
  }

  [[nodiscard]] fs::path gallery() const { return sb.home() / "Pictures" / "generated"; }

  FakeServer server;
  Sandbox sb;
};

TEST_F(Video, BodiesForEveryInputShape) {
  const std::string cat = sb.write("cat.jpg", "meow").string();
  const std::string end = sb.write("end.png", "fin").string();
  const std::string params = R"("parameters":{"prompt_extend":true,"watermark":false}})";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string model;
    std::string body;
  } cases[] = {
      {"text",
       {"a storm", "--submit"},
       "wan2.6-t2v",
       R"({"model":"wan2.6-t2v","input":{"prompt":"a storm"},)" + params},
      {"local first frame",
       {"--image", cat, "a storm", "--last-frame", "missing.png"},
       "wan2.6-i2v-flash",
       R"({"model":"wan2.6-i2v-flash","input":{"prompt":"a storm","img_url":"data:image/jpeg;base64,bWVvdw=="},)" +
           params},
      {"url passes unchanged",
       {"a storm", "--image", "https://x.test/Cat.JPG?a=1", "--model", "wan2.1-i2v-plus"},
       "wan2.1-i2v-plus",
       R"({"model":"wan2.1-i2v-plus","input":{"prompt":"a storm","img_url":"https://x.test/Cat.JPG?a=1"},)" +
           params},
      {"media pair",
       {"a storm", "--model", "wan2.7-i2v", "--image", "http://x.test/a", "--last-frame", end},
       "wan2.7-i2v",
       R"({"model":"wan2.7-i2v","input":{"prompt":"a storm","media":[{"type":"first_frame","url":"http://x.test/a"},)"
       R"({"type":"last_frame","url":"data:image/png;base64,Zmlu"}]},)" +
           params},
      {"media alone",
       {"a storm", "--model", "wan2.7-i2v", "--image", cat},
       "wan2.7-i2v",
       R"({"model":"wan2.7-i2v","input":{"prompt":"a storm","media":[{"type":"first_frame","url":"data:image/jpeg;base64,bWVvdw=="}]},)" +
           params},
      {"reference",
       {"a storm", "--model", "wan2.6-r2v-flash", "--image", "https://x.test/s.png"},
       "wan2.6-r2v-flash",
       R"({"model":"wan2.6-r2v-flash","input":{"prompt":"a storm","reference_urls":["https://x.test/s.png"]},)" +
           params},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(submitted_body(c.args, c.model), c.body);
  }
}

TEST_F(Video, ParametersInTheirOrder) {
  struct Case {
    std::vector<std::string> args;
    std::string model;
    std::string parameters;
  } cases[] = {
      {{"p", "--model", "happyhorse-1.1-t2v", "--size", "1280*720", "--resolution", "720P",
        "--ratio", "16:9", "--duration", "+5", "--seed", "2147483647", "--no-prompt-extend"},
       "happyhorse-1.1-t2v",
       R"({"prompt_extend":false,"watermark":false,"resolution":"720P","ratio":"16:9","duration":5,"seed":2147483647})"},
      {{"p", "--model", "happyhorse-1.1-t2v", "--ratio", "1:1"},
       "happyhorse-1.1-t2v",
       R"({"prompt_extend":true,"watermark":false,"ratio":"1:1"})"},
      {{"p", "--size", "1280*720", "--resolution", "720P", "--ratio", "16:9", "--duration", "-5"},
       "wan2.6-t2v",
       R"({"prompt_extend":true,"watermark":false,"size":"1280*720","duration":-5})"},
      {{"p", "--duration", "0", "--duration", "9"},
       "wan2.6-t2v",
       R"({"prompt_extend":true,"watermark":false,"duration":0})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.parameters);
    const std::string body = submitted_body(c.args, c.model);
    const auto at = body.find(R"("parameters":)");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(body.substr(at + 13), c.parameters + "}");
  }
}

TEST_F(Video, ChecksAndTheirOrder) {
  const std::string t2v_image =
      "model wan2.6-t2v is text-to-video and ignores --image — pick an i2v model (e.g. "
      "wan2.6-i2v-flash)\n";
  const std::string keyframes =
      "model wan2.2-kf2v-flash takes a keyframe pair this module cannot yet spell — use "
      "wan2.7-i2v, which takes --image as the first frame and --last-frame as the other end\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"--image", "a.png"},
       2,
       "usage: orvik nimbra video \"<prompt>\" [--model M] [--image FILE|URL] [--last-frame "
       "FILE|URL] [--duration N] [--wait|--submit]\n"},
      {{"p", "--model", "wan2.6-t2i"},
       2,
       "unknown video model \"wan2.6-t2i\" — the catalog knows: wan2.7-t2v, wan2.7-i2v, "
       "wan2.6-t2v, "
       "wan2.5-t2v-preview, wan2.2-t2v-plus, wan2.1-t2v-turbo, wan2.1-t2v-plus, "
       "happyhorse-1.1-t2v, "
       "wan2.6-i2v-flash, wan2.6-i2v, wan2.5-i2v-preview, wan2.2-i2v-flash, wan2.2-i2v-plus, "
       "wan2.1-i2v-turbo, wan2.1-i2v-plus, wan2.6-r2v-flash, wan2.2-kf2v-flash (see `orvik nimbra "
       "models --kind video`)\n"},
      {{"p", "--model", "wan2.6-t2v", "--image", "https://x.test/a.png"}, 2, t2v_image},
      {{"p", "--model", "wan2.2-kf2v-flash"},
       2,
       "model wan2.2-kf2v-flash is image-to-video — pass --image FILE|URL\n"},
      {{"p", "--model", "wan2.2-kf2v-flash", "--image", "https://x.test/a.png"}, 2, keyframes},
      // The picture is read before the keyframe refusal.
      {{"p", "--model", "wan2.2-kf2v-flash", "--image", "gone.png"},
       1,
       "orvik-nimbra: cannot read gone.png: No such file or directory\n"},
      {{"p", "--model", "wan2.7-i2v", "--image", "https://x.test/a", "--last-frame", "x.mov"},
       1,
       "orvik-nimbra: cannot read x.mov: No such file or directory\n"},
      {{"p", "--duration", "five"}, 2, "--duration needs an integer, got \"five\"\n"},
      {{"p", "--duration", "2147483648"}, 2, "--duration needs an integer, got \"2147483648\"\n"},
      {{"p", "--seed", "2147483648"}, 2, "--seed must be in [0, 2147483647]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args = {"video"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = sb.run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
  // Without a key, the picture checks still come first; the duration does not.
  sb.env.erase("DASHSCOPE_API_KEY");
  EXPECT_EQ(sb.run({"video", "p", "--image", "https://x.test/a.png", "--model", "wan2.6-t2v"}).err,
            t2v_image);
  EXPECT_TRUE(sb.run({"video", "p", "--duration", "five"})
                  .err.starts_with("orvik-nimbra: no DashScope key found"));
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(Video, WaitPollsAndSavesUnderTheVideoPrefix) {
  // The fixture's submission answer names task v-1.
  server.on(
      "GET", "/api/v1/tasks/v-1",
      Reply::json(200, R"({"output":{"task_id":"v-1","task_status":"SUCCEEDED","video_url":null,)"
                       R"("results":[{"url":")" +
                           server.base_url() + R"(/out/frames.gif"}]},"request_id":"r-9"})"));
  server.on("GET", "/out/frames.gif", Reply::text(200, "image/gif", "GIF89a"));
  const Result r = sb.run({"video", "p", "--submit", "--wait", "--json"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const auto files = sb.files_in(gallery());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].starts_with("nmb-video-") && files[0].ends_with("-0.gif")) << files[0];
  EXPECT_EQ(read_file(gallery() / files[0]), "GIF89a");
  EXPECT_EQ(r.out, R"({"task_id":"v-1","task_status":"SUCCEEDED","paths":[")" +
                       (gallery() / files[0]).string() + R"("],"usage":null,"request_id":"r-9"})" +
                       "\n");

  server.on("POST", VIDEO_PATH, Reply::json(200, R"({"output":{"task_status":"PENDING"}})"));
  const Result no_id = sb.run({"video", "p", "--wait"});
  EXPECT_EQ(no_id.status, 1);
  EXPECT_EQ(no_id.err, "orvik-nimbra: no task_id in submit answer\n");
  const Result no_id_submit = sb.run({"video", "p"});
  EXPECT_EQ(no_id_submit.status, 1);
  EXPECT_EQ(
      no_id_submit.err,
      "orvik-nimbra: no task_id in submit answer: {\"output\":{\"task_status\":\"PENDING\"}}\n");
}

}  // namespace
}  // namespace bb
