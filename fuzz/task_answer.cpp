// Task answers: the readers behind the task reports take any JSON without a
// crash, and the submission report either prints or fails with a message.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "input_media.hpp"
#include "tasks.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The reports print; keep the fuzzer's own output readable.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto answer = nlohmann::ordered_json::parse(text, nullptr, false);
  if (answer.is_discarded()) return 0;
  for (const char* pointer : {"/output/task_id", "/output/task_status", "/output/code",
                              "/output/message", "/output/video_url", "/output/results",
                              "/output/choices", "/usage", "/request_id", "", "/", "~", "/a~2"}) {
    (void)json_at(answer, pointer);
    (void)json_string_at(answer, pointer);
    (void)json_or_null(answer, pointer);
  }
  for (const bool json : {false, true}) {
    const auto reported = report_submit(answer, "wan2.6-t2v", "intl", json);
    if (!reported && reported.error().message.empty()) std::abort();
  }
  return 0;
}
