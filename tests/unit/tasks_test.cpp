#include "tasks.hpp"

#include <gtest/gtest.h>

#include <deque>

namespace {

using Json = nlohmann::ordered_json;

// Answers the scripted task states in turn (the last one repeats) and
// records what polling did.
struct FakeLane {
  std::deque<Json> answers;
  int gets = 0;
  int slept_s = 0;
  std::vector<std::string> progress;

  PollSeams seams() {
    return PollSeams{
        [this](std::string_view id) -> std::expected<Json, std::string> {
          EXPECT_EQ(id, "t-1");
          ++gets;
          if (answers.empty()) return std::unexpected("transport to intl: refused");
          Json next = answers.front();
          if (answers.size() > 1) answers.pop_front();
          return next;
        },
        [this](int seconds) { slept_s += seconds; },
        [this](std::string_view line) { progress.emplace_back(line); },
    };
  }
};

Json task(std::string_view status) {
  return Json{{"output", {{"task_id", "t-1"}, {"task_status", status}}}};
}

TEST(PollTask, GivesUpAfterFortyOneAsksAndSixHundredSeconds) {
  FakeLane lane;
  lane.answers = {task("PENDING")};
  const auto result = poll_task_with(lane.seams(), "t-1");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind, CommandError::Kind::Runtime);
  EXPECT_EQ(result.error().message,
            "task t-1 still PENDING after 600s — resume later with: orvik nimbra task t-1 --wait");
  EXPECT_EQ(lane.gets, 41);
  EXPECT_EQ(lane.slept_s, 600);
  ASSERT_EQ(lane.progress.size(), 40u);
  EXPECT_EQ(lane.progress.front(), "task t-1: PENDING — polling again in 15s (0s waited)");
  EXPECT_EQ(lane.progress.back(), "task t-1: PENDING — polling again in 15s (585s waited)");
}

TEST(PollTask, ReturnsTheFirstAnswerThatIsNoLongerRunning) {
  struct Case {
    const char* name;
    std::deque<Json> answers;
    int gets;
    std::string last_progress;
  } cases[] = {
      {"succeeds",
       {task("PENDING"), task("RUNNING"), task("SUCCEEDED")},
       3,
       "task t-1: RUNNING — polling again in 15s (15s waited)"},
      {"at once", {task("FAILED")}, 1, ""},
      {"no status", {Json{{"output", Json::object()}}}, 1, ""},
      {"odd state",
       {task("RUNNING"), task("WHATEVER")},
       2,
       "task t-1: RUNNING — polling again in 15s (0s waited)"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLane lane;
    lane.answers = c.answers;
    const Json expected = c.answers.back();
    const auto result = poll_task_with(lane.seams(), "t-1");
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, expected);
    EXPECT_EQ(lane.gets, c.gets);
    EXPECT_EQ(lane.slept_s, 15 * (c.gets - 1));
    EXPECT_EQ(lane.progress.empty() ? "" : lane.progress.back(), c.last_progress);
  }
}

TEST(PollTask, AFailedRequestEndsPolling) {
  FakeLane lane;
  const auto result = poll_task_with(lane.seams(), "t-1");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message, "transport to intl: refused");
  EXPECT_EQ(lane.slept_s, 0);
}

TEST(TaskArtifacts, VideoThenResultsThenChoices) {
  const Json answer = Json::parse(R"({"output":{
      "choices":[{"message":{"content":[{"image":"C1"}]}}],
      "results":[{"url":"R1"},{"url":5},{"nourl":1},"R?",{"url":"R2"}],
      "video_url":"V"}})");
  const TaskArtifacts all = task_artifacts(answer);
  EXPECT_EQ(all.urls, (std::vector<std::string>{"V", "R1", "R2", "C1"}));
  EXPECT_EQ(all.kind, "video");

  const TaskArtifacts null_video =
      task_artifacts(Json::parse(R"({"output":{"video_url":null,"results":[{"url":"R"}]}})"));
  EXPECT_EQ(null_video.urls, (std::vector<std::string>{"R"}));
  EXPECT_EQ(null_video.kind, "video");

  const TaskArtifacts images =
      task_artifacts(Json::parse(R"({"output":{"results":[{"url":"R"}]}})"));
  EXPECT_EQ(images.kind, "image");
  EXPECT_TRUE(task_artifacts(Json::parse("{}")).urls.empty());
}

TEST(ReportTaskResult, EndedWithoutResultIsAFailureWithTheServiceWords) {
  struct Case {
    const char* answer;
    const char* message;
  } cases[] = {
      {R"({"output":{"task_id":"t-1","task_status":"FAILED"}})",
       "task t-1 FAILED: [] (no message)"},
      {R"({"output":{"task_id":"t-1","task_status":"CANCELED","code":"Cancel","message":"by you"}})",
       "task t-1 CANCELED: [Cancel] by you"},
      {R"({"output":{"task_id":"t-1","task_status":"UNKNOWN","video_url":"V"}})",
       "task t-1 UNKNOWN: [] (no message)"},
      {R"({"output":{"task_id":"t-1","code":7}})", "task t-1 UNKNOWN: [] (no message)"},
      {R"({"output":{"task_status":"FAILED","message":"quota"}})", "task ? FAILED: [] quota"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    bool saved = false;
    const auto result = report_task_result_with(
        Json::parse(c.answer), false,
        [&](const std::vector<std::string>&,
            std::string_view) -> std::expected<std::vector<std::string>, CommandError> {
          saved = true;
          return std::vector<std::string>{};
        });
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, CommandError::Kind::Runtime);
    EXPECT_EQ(result.error().message, c.message);
    EXPECT_FALSE(saved);
  }
}

TEST(ReportTaskResult, SaveFailureIsTheResult) {
  const auto result = report_task_result_with(
      Json::parse(R"({"output":{"task_id":"t-1","task_status":"SUCCEEDED"}})"), true,
      [](const std::vector<std::string>& urls,
         std::string_view kind) -> std::expected<std::vector<std::string>, CommandError> {
        EXPECT_TRUE(urls.empty());
        EXPECT_EQ(kind, "image");
        return std::unexpected(runtime_error("the platform returned no media"));
      });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message, "the platform returned no media");
}

TEST(ReportSubmit, NeedsATaskId) {
  const auto result = report_submit(Json::parse(R"({"output":{"task_id":3},"request_id":"r"})"),
                                    "wan2.6-t2v", "intl", false);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message,
            R"(no task_id in submit answer: {"output":{"task_id":3},"request_id":"r"})");
}

}  // namespace
