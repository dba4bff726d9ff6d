#include "tasks.hpp"

#include <chrono>
#include <cstdio>
#include <thread>

#include "gallery_store.hpp"
#include "input_media.hpp"
#include "nimbra/wire.hpp"
#include "output.hpp"

using Json = nlohmann::ordered_json;

namespace {

std::string string_or(const Json& answer, std::string_view pointer, std::string_view fallback) {
  const std::string* value = json_string_at(answer, pointer);
  return value != nullptr ? *value : std::string(fallback);
}

bool still_running(std::string_view status) { return status == "PENDING" || status == "RUNNING"; }

void stderr_line(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

std::string resume_command(std::string_view id) {
  return "orvik nimbra task " + std::string(id) + " --wait";
}

std::expected<void, CommandError> report_submit(const Json& answer, std::string_view model,
                                                std::string_view host_name, bool json) {
  const std::string* id = json_string_at(answer, "/output/task_id");
  if (id == nullptr)
    return std::unexpected(runtime_error("no task_id in submit answer: " + compact_json(answer)));
  const std::string status = string_or(answer, "/output/task_status", "PENDING");
  const std::string resume = resume_command(*id);
  if (json) {
    Json report = Json::object();
    report["task_id"] = *id;
    report["task_status"] = status;
    report["model"] = model;
    report["host"] = host_name;
    report["resume"] = resume;
    report["request_id"] = json_or_null(answer, "/request_id");
    out_json(report);
  } else {
    out_line("task " + *id + " submitted (" + status + ") — model " + std::string(model) +
             " on host " + std::string(host_name));
    out_line("resume: " + resume);
  }
  return {};
}

PollSeams live_poll_seams(const resolve::Credential& credential) {
  PollSeams seams;
  seams.get = [&credential](std::string_view id) {
    return wire::get(*credential.host, credential.key, credential.source,
                     "/tasks/" + std::string(id), TASK_GET_TIMEOUT_S);
  };
  seams.sleep = [](int seconds) { std::this_thread::sleep_for(std::chrono::seconds(seconds)); };
  seams.progress = stderr_line;
  return seams;
}

std::expected<Json, CommandError> poll_task(const resolve::Credential& credential,
                                            std::string_view id) {
  return poll_task_with(live_poll_seams(credential), id);
}

std::expected<Json, CommandError> poll_task_with(const PollSeams& seams, std::string_view id) {
  const std::string task_id(id);
  for (int waited = 0;; waited += POLL_INTERVAL_S) {
    auto answer = seams.get(id);
    if (!answer) return std::unexpected(runtime_error(answer.error()));
    const std::string status = string_or(*answer, "/output/task_status", "UNKNOWN");
    if (!still_running(status)) return std::move(*answer);
    if (waited >= POLL_LIMIT_S)
      return std::unexpected(runtime_error("task " + task_id + " still " + status + " after " +
                                           std::to_string(POLL_LIMIT_S) +
                                           "s — resume later with: " + resume_command(task_id)));
    seams.progress("task " + task_id + ": " + status + " — polling again in " +
                   std::to_string(POLL_INTERVAL_S) + "s (" + std::to_string(waited) + "s waited)");
    seams.sleep(POLL_INTERVAL_S);
  }
}

TaskArtifacts task_artifacts(const Json& answer) {
  TaskArtifacts artifacts;
  if (const std::string* video = json_string_at(answer, "/output/video_url"))
    artifacts.urls.push_back(*video);
  if (const Json* results = json_at(answer, "/output/results"); results && results->is_array()) {
    for (const Json& item : *results) {
      if (!item.is_object()) continue;
      const auto url = item.find("url");
      if (url != item.end() && url->is_string()) artifacts.urls.push_back(url->get<std::string>());
    }
  }
  for (std::string& url : choice_image_urls(answer)) artifacts.urls.push_back(std::move(url));
  artifacts.kind = json_at(answer, "/output/video_url") != nullptr ? "video" : "image";
  return artifacts;
}

std::expected<void, CommandError> report_task_result(const Json& answer, bool json) {
  return report_task_result_with(answer, json, save_urls);
}

std::expected<void, CommandError> report_task_result_with(const Json& answer, bool json,
                                                          const Saver& save) {
  const std::string id = string_or(answer, "/output/task_id", "?");
  const std::string status = string_or(answer, "/output/task_status", "UNKNOWN");
  if (status == "FAILED" || status == "CANCELED" || status == "UNKNOWN")
    return std::unexpected(runtime_error("task " + id + " " + status + ": [" +
                                         string_or(answer, "/output/code", "") + "] " +
                                         string_or(answer, "/output/message", "(no message)")));
  if (still_running(status)) {
    if (json)
      out_json(answer);
    else
      out_line("task " + id + ": " + status + " — resume with: " + resume_command(id));
    return {};
  }
  const TaskArtifacts artifacts = task_artifacts(answer);
  const auto paths = save(artifacts.urls, artifacts.kind);
  if (!paths) return std::unexpected(paths.error());
  if (!json) {
    for (const std::string& path : *paths) out_line(path);
    return {};
  }
  Json report = Json::object();
  report["task_id"] = id;
  report["task_status"] = status;
  report["paths"] = *paths;
  report["usage"] = json_or_null(answer, "/usage");
  report["request_id"] = json_or_null(answer, "/request_id");
  out_json(report);
  return {};
}
