// The asynchronous task lane: reporting a submission, waiting for a task to
// end, and reporting (and saving) what it produced.
#pragma once

#include <expected>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "command_error.hpp"
#include "nimbra/resolve.hpp"

inline constexpr int POLL_INTERVAL_S = 15;
inline constexpr int POLL_LIMIT_S = 600;
inline constexpr long TASK_GET_TIMEOUT_S = 30;

// "orvik nimbra task {id} --wait".
[[nodiscard]] std::string resume_command(std::string_view id);

// Prints "task {id} submitted ({status}) — model {model} on host {host}" and
// the resume line, or the JSON form. A missing status is "PENDING"; a
// missing id is the error "no task_id in submit answer: {answer}".
[[nodiscard]] std::expected<void, CommandError> report_submit(const nlohmann::ordered_json& answer,
                                                              std::string_view model,
                                                              std::string_view host_name,
                                                              bool json);

// What polling needs from the outside world.
struct PollSeams {
  // GET "/tasks/{id}" (the wire error's text on failure).
  std::function<std::expected<nlohmann::ordered_json, std::string>(std::string_view id)> get;
  std::function<void(int seconds)> sleep;
  // One progress line, without its line feed.
  std::function<void(std::string_view line)> progress;
};

// The seams for a real credential: wire::get with 30 s, a real sleep, and
// progress lines on standard error.
[[nodiscard]] PollSeams live_poll_seams(const resolve::Credential& credential);

// Asks at once and then every 15 s until the task is neither PENDING nor
// RUNNING; gives up once 600 s of sleeping have passed.
[[nodiscard]] std::expected<nlohmann::ordered_json, CommandError> poll_task(
    const resolve::Credential& credential, std::string_view id);
[[nodiscard]] std::expected<nlohmann::ordered_json, CommandError> poll_task_with(
    const PollSeams& seams, std::string_view id);

// The artifacts of a finished task: "/output/video_url", every
// "/output/results" item's "url", then the choices' images; and the
// gallery kind, "video" when "/output/video_url" is present at all.
struct TaskArtifacts {
  std::vector<std::string> urls;
  std::string kind;
};
[[nodiscard]] TaskArtifacts task_artifacts(const nlohmann::ordered_json& answer);

using Saver = std::function<std::expected<std::vector<std::string>, CommandError>(
    const std::vector<std::string>& urls, std::string_view kind)>;

// Fails for FAILED, CANCELED and UNKNOWN ("task {id} {status}: [{code}]
// {message}"); prints the resume line for a running task; otherwise saves
// the artifacts and prints their paths (or the JSON report).
[[nodiscard]] std::expected<void, CommandError> report_task_result(
    const nlohmann::ordered_json& answer, bool json);
[[nodiscard]] std::expected<void, CommandError> report_task_result_with(
    const nlohmann::ordered_json& answer, bool json, const Saver& save);
