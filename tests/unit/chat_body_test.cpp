#include "chat_body.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ChatBody, MembersInOrder) {
  struct Case {
    const char* name;
    nlohmann::ordered_json body;
    const char* want;
  } cases[] = {
      {"bare streamed prompt",
       chat_body("qwen3.8-max", "hi", std::nullopt, std::nullopt, std::nullopt, false, true),
       R"({"model":"qwen3.8-max","messages":[{"role":"user","content":"hi"}],"stream":true,)"
       R"("stream_options":{"include_usage":true}})"},
      {"every option, streamed", chat_body("glm-5.2", "q", "S", 100, "high", true, true),
       R"({"model":"glm-5.2","messages":[{"role":"system","content":"S"},)"
       R"({"role":"user","content":"q"}],"stream":true,"stream_options":{"include_usage":true},)"
       R"("max_tokens":100,"reasoning_effort":"high","enable_thinking":false})"},
      {"not streamed: no stream_options",
       chat_body("kimi-k3", "", std::nullopt, 2147483647, std::nullopt, false, false),
       R"({"model":"kimi-k3","messages":[{"role":"user","content":""}],"stream":false,)"
       R"("max_tokens":2147483647})"},
      {"empty system text is still a system message",
       chat_body("m", "p", "", std::nullopt, "minimal", false, false),
       R"({"model":"m","messages":[{"role":"system","content":""},{"role":"user","content":"p"}],)"
       R"("stream":false,"reasoning_effort":"minimal"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.body.dump(), c.want);
  }
}

}  // namespace
