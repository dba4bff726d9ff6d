// The task command against the fake server: inspecting a task in every
// state, saving its artifacts, the JSON forms, and one real --wait.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

constexpr const char* TASK_PATH = "/api/v1/tasks/t-1";

class Task : public ::testing::Test {
 protected:
  void SetUp() override {
    sb.use_server(server.base_url());
    sb.env["DASHSCOPE_API_KEY"] = "sk-task-test-key";
  }
  [[nodiscard]] fs::path gallery() const { return sb.home() / "Pictures" / "generated"; }
  [[nodiscard]] std::string url(const std::string& path) const { return server.base_url() + path; }

  FakeServer server;
  Sandbox sb;
};

TEST_F(Task, RunningTaskPrintsTheResumeLineOrTheRawAnswer) {
  const std::string running =
      R"({"request_id":"r","output":{"task_status":"RUNNING","task_id":"t-1","x":[1, 2]}})";
  server.on("GET", TASK_PATH, Reply::json(200, running));
  const Result text = sb.run({"task", "t-1"});
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.out, "task t-1: RUNNING — resume with: orvik nimbra task t-1 --wait\n");
  const Result json = sb.run({"task", "--json", "t-1"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.out,
            R"({"request_id":"r","output":{"task_status":"RUNNING","task_id":"t-1","x":[1,2]}})"
            "\n");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer sk-task-test-key");
  EXPECT_TRUE(sb.files_in(gallery()).empty());
}

TEST_F(Task, SucceededTasksSaveEveryArtifactInOrder) {
  server.on(
      "GET", TASK_PATH,
      Reply::json(200, R"({"output":{"task_id":"t-1","task_status":"SUCCEEDED","video_url":")" +
                           url("/r/clip") + R"("}})"));
  server.on("GET", "/api/v1/tasks/t-2",
            Reply::json(200, R"({"output":{"task_id":"t-2","task_status":"SUCCEEDED","results":[)"
                             R"({"url":")" +
                                 url("/r/a.jpg") + R"("},{"url":")" + url("/r/b") +
                                 R"("}]},"usage":{"image_count":2},"request_id":"rq"})"));
  server.on("GET", "/r/clip", Reply::text(200, "video/mp4", "MP4DATA"));
  server.on("GET", "/r/a.jpg", Reply::text(200, "image/jpeg", "JPG"));
  server.on("GET", "/r/b", Reply::text(200, "image/png", "PNG"));

  const Result video = sb.run({"task", "t-1"});
  EXPECT_EQ(video.status, 0);
  EXPECT_EQ(video.err, "");
  auto files = sb.files_in(gallery());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].starts_with("nmb-video-") && files[0].ends_with("-0.mp4")) << files[0];
  EXPECT_EQ(video.out, (gallery() / files[0]).string() + "\n");
  EXPECT_EQ(read_file(gallery() / files[0]), "MP4DATA");
  fs::remove(gallery() / files[0]);

  const Result images = sb.run({"task", "t-2", "--json"});
  EXPECT_EQ(images.status, 0);
  files = sb.files_in(gallery());
  ASSERT_EQ(files.size(), 2u);
  EXPECT_TRUE(files[0].starts_with("nmb-image-") && files[0].ends_with("-0.jpg")) << files[0];
  EXPECT_EQ(files[1], files[0].substr(0, files[0].size() - 6) + "-1.png");
  EXPECT_EQ(read_file(gallery() / files[0]), "JPG");
  EXPECT_EQ(read_file(gallery() / files[1]), "PNG");
  EXPECT_EQ(images.out, R"({"task_id":"t-2","task_status":"SUCCEEDED","paths":[")" +
                            (gallery() / files[0]).string() + R"(",")" +
                            (gallery() / files[1]).string() +
                            R"("],"usage":{"image_count":2},"request_id":"rq"})" + "\n");
}

TEST_F(Task, TasksThatEndedWithoutAResultFail) {
  struct Case {
    std::string answer;
    std::string err;
  } cases[] = {
      {R"({"output":{"task_id":"t-1","task_status":"FAILED"}})",
       "orvik-nimbra: task t-1 FAILED: [] (no message)\n"},
      {R"({"output":{"task_id":"t-1","task_status":"UNKNOWN","video_url":")" + url("/r/v.mp4") +
           R"("}})",
       "orvik-nimbra: task t-1 UNKNOWN: [] (no message)\n"},
      {R"({"output":{"task_id":"t-1","code":"InvalidParameter","message":"bad id"}})",
       "orvik-nimbra: task t-1 UNKNOWN: [InvalidParameter] bad id\n"},
      {R"({"output":{"task_id":"t-1","task_status":"SUCCEEDED","video_url":5}})",
       "orvik-nimbra: the platform returned no media\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    server.on("GET", TASK_PATH, Reply::json(200, c.answer));
    const Result r = sb.run({"task", "t-1", "--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(server.requests().size(), 4u);  // nothing was downloaded
  EXPECT_TRUE(sb.files_in(gallery()).empty());
}

TEST_F(Task, UsageAndWireErrors) {
  const Result none = sb.run({"task", "--wait", "--host", "intl"});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, "usage: orvik nimbra task <id> [--wait] [--host intl|asia]\n");
  server.on("GET", TASK_PATH,
            Reply::json(404, R"({"code":"NotFound","message":"no such task","request_id":"q"})"));
  const Result missing = sb.run({"task", "t-1"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "orvik-nimbra: HTTP 404 from intl (" + server.base_url() +
                             "): [NotFound] no such task (request_id q)\n");
  const Result waiting = sb.run({"task", "t-1", "--wait"});
  EXPECT_EQ(waiting.err, missing.err);
}

// The one case that really sleeps: a task that ends on the second ask.
TEST_F(Task, WaitPollsEveryFifteenSecondsWithProgressOnStandardError) {
  server.on("GET", TASK_PATH,
            Reply::json(200, R"({"output":{"task_id":"t-1","task_status":"PENDING"}})"));
  server.on(
      "GET", TASK_PATH,
      Reply::json(200, R"({"output":{"task_id":"t-1","task_status":"SUCCEEDED","video_url":")" +
                           url("/r/final.MP4") + R"("}})"));
  server.on("GET", "/r/final.MP4", Reply::text(200, "video/mp4", "MOVIE"));
  const Result r = sb.run({"task", "t-1", "--wait"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "task t-1: PENDING — polling again in 15s (0s waited)\n");
  const auto files = sb.files_in(gallery());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].ends_with("-0.mp4")) << files[0];
  EXPECT_EQ(r.out, (gallery() / files[0]).string() + "\n");
  EXPECT_EQ(server.requests().size(), 3u);
}

}  // namespace
}  // namespace bb
