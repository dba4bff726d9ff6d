// The chat command against the fake server: request bodies byte for byte,
// the three output modes, stream errors, and the marketplace credits key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

constexpr const char* CHAT_PATH = "/compatible-mode/v1/chat/completions";
constexpr const char* KEY = "sk-chat-test-key";

const std::string USAGE_LINE =
    "usage: orvik nimbra chat \"<prompt>\" [--model M] [--host intl|asia] [--system S] "
    "[--max-tokens N] [--reasoning-effort L] [--no-think] [--raw|--json]\n";

std::string delta(const std::string& text) {
  return R"(data: {"choices":[{"delta":{"content":")" + text + R"("},"finish_reason":null}]})";
}

class Chat : public ::testing::Test {
 protected:
  void SetUp() override {
    sb.use_server(server.base_url());
    sb.env["DASHSCOPE_API_KEY"] = KEY;
  }

  // The one request the server saw, checked for the chat path.
  Request only_request() const {
    const std::vector<Request> requests = server.requests();
    EXPECT_EQ(requests.size(), 1u);
    if (requests.empty()) return {};
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, CHAT_PATH);
    EXPECT_EQ(requests[0].header("Authorization"), std::string("Bearer ") + KEY);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    return requests[0];
  }

  FakeServer server;
  Sandbox sb;
};

TEST_F(Chat, BarePromptStreamsThenOneLineFeed) {
  server.on("POST", CHAT_PATH,
            Reply::sse({": keep-alive", delta("Hel"), "event: message",
                        R"(data:{"choices":[{"delta":{"content":"lo \"there\""}}]})",
                        R"(data: {"choices":[{"delta":{"reasoning_content":"hmm"}}]})",
                        R"(data: {"choices":[],"usage":{"total_tokens":5}})", "data: [DONE]",
                        delta("late")}));
  const Result r = sb.run({"chat", "say \"hi\"\n"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "Hello \"there\"\n");
  const Request request = only_request();
  EXPECT_EQ(request.header("Accept"), "text/event-stream");
  EXPECT_EQ(request.body,
            R"({"model":"qwen3.8-max","messages":[{"role":"user","content":"say \"hi\"\n"}],)"
            R"("stream":true,"stream_options":{"include_usage":true}})");
}

TEST_F(Chat, EveryOptionInBodyOrder) {
  server.on("POST", CHAT_PATH, Reply::sse({delta("ok")}));
  const Result r = sb.run({"chat", "--no-think", "--system", "S", "q", "--max-tokens", "+100",
                           "--reasoning-effort", "HIGH", "--model", "glm-5.2", "--host", "intl"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "ok\n");
  EXPECT_EQ(only_request().body,
            R"({"model":"glm-5.2","messages":[{"role":"system","content":"S"},)"
            R"({"role":"user","content":"q"}],"stream":true,"stream_options":)"
            R"({"include_usage":true},"max_tokens":100,"reasoning_effort":"high",)"
            R"("enable_thinking":false})");
}

TEST_F(Chat, RawWinsOverJsonAndPrintsThePrettyAnswer) {
  server.on("POST", CHAT_PATH,
            Reply::json(200, R"({"id":"c-1","choices":[{"message":{"role":"assistant",)"
                             R"("content":"Hi"}}],"usage":{"total_tokens":3},"empty":{}})"));
  const Result r = sb.run({"chat", "--json", "hello", "--raw", "--reasoning-effort", "Minimal"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "{\n"
            "  \"id\": \"c-1\",\n"
            "  \"choices\": [\n"
            "    {\n"
            "      \"message\": {\n"
            "        \"role\": \"assistant\",\n"
            "        \"content\": \"Hi\"\n"
            "      }\n"
            "    }\n"
            "  ],\n"
            "  \"usage\": {\n"
            "    \"total_tokens\": 3\n"
            "  },\n"
            "  \"empty\": {}\n"
            "}\n");
  const Request request = only_request();
  EXPECT_EQ(request.header("Accept"), std::nullopt);
  EXPECT_EQ(request.body,
            R"({"model":"qwen3.8-max","messages":[{"role":"user","content":"hello"}],)"
            R"("stream":false,"reasoning_effort":"minimal"})");
}

TEST_F(Chat, JsonCarriesTextAndProvenance) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    std::string out;
  } cases[] = {
      {"finish reason and usage as reported",
       {delta(" H"), delta("i\\n"), R"(data: {"choices":[{"delta":{},"finish_reason":"stop"}]})",
        R"(data: {"choices":[],"usage":{"prompt_tokens":2,"completion_tokens":1}})",
        R"(data: {"choices":[{"delta":{},"finish_reason":null}]})", "data: [DONE]"},
       R"({"text":" Hi\n","model":"qwen3.8-max","host":"intl","key_source":)"
       R"("env:DASHSCOPE_API_KEY","finish_reason":"stop","usage":{"prompt_tokens":2,)"
       R"("completion_tokens":1}})"
       "\n"},
      {"neither reported: nulls",
       {delta("Hi")},
       R"({"text":"Hi","model":"qwen3.8-max","host":"intl","key_source":)"
       R"("env:DASHSCOPE_API_KEY","finish_reason":null,"usage":null})"
       "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServer fresh;  // one scripted stream per case
    fresh.on("POST", CHAT_PATH, Reply::sse(c.lines));
    sb.use_server(fresh.base_url());
    const Result r = sb.run({"chat", "hi", "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(Chat, WhiteSpaceOnlyAnswer) {
  server.on("POST", CHAT_PATH, Reply::sse({delta("  "), delta(" "), "data: [DONE]"}));
  const Result streamed = sb.run({"chat", "hi"});
  EXPECT_EQ(streamed.status, 0);
  EXPECT_EQ(streamed.err, "");
  EXPECT_EQ(streamed.out, "   \n");

  const Result json = sb.run({"chat", "hi", "--json"});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out, "");
  EXPECT_EQ(json.err, "orvik-nimbra: the model returned no text\n");
}

TEST_F(Chat, EmptyStreamIsNoText) {
  server.on("POST", CHAT_PATH, Reply::sse({R"(data: {"choices":[]})", "data: [DONE]"}));
  const Result r = sb.run({"chat", "hi"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "orvik-nimbra: the model returned no text\n");
}

TEST_F(Chat, InStreamErrorKeepsTheTextAlreadyWritten) {
  server.on("POST", CHAT_PATH,
            Reply::sse({delta("partial"), R"(data: {"error":{"message":"quota exceeded"}})",
                        delta("never")}));
  const Result r = sb.run({"chat", "hi"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "partial");
  EXPECT_EQ(r.err, "orvik-nimbra: HTTP 200 from intl (" + server.base_url() +
                       "): stream error: quota exceeded\n");
}

TEST_F(Chat, Unauthorized401CarriesTheHostScopeNote) {
  server.on("POST", CHAT_PATH,
            Reply::json(401, R"({"code":"InvalidApiKey","message":"Invalid API-key provided.",)"
                             R"("request_id":"req-9"})"));
  const Result r = sb.run({"chat", "hi", "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  const std::string url = server.base_url();
  EXPECT_EQ(r.err, "orvik-nimbra: HTTP 401 from intl (" + url +
                       "): [InvalidApiKey] Invalid API-key provided. (request_id req-9)\n"
                       "note: DashScope keys are host-scoped. This host (intl) expects a "
                       "pay-as-you-go key (sk-…); the other host (asia, " +
                       url +
                       ") expects a token-plan key (sk-sp-…). Your key resolved from "
                       "env:DASHSCOPE_API_KEY — if it was minted for the other host, it will 401 "
                       "here no matter how valid it is. Try --host asia, or bind the right key.\n");
  EXPECT_EQ(r.err.find(KEY), std::string::npos);
}

TEST_F(Chat, ArgumentErrorsComeFirstAndSendNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"no prompt", {"chat", "--model", "nope", "--json"}, USAGE_LINE},
      {"model differs in case",
       {"chat", "hi", "--model", "Qwen3.8-max", "--max-tokens", "0"},
       "unknown chat model \"Qwen3.8-max\" — the catalog knows: qwen3.8-max, qwen3.8-flash, "
       "glm-5.1, glm-5.2, ZHIPU/GLM-5.3, kimi-k3, deepseek-v4-pro, qwen3-coder-next (see `orvik "
       "nimbra models --kind chat`)\n"},
      {"image model",
       {"chat", "hi", "--model", "qwen-image"},
       "unknown chat model \"qwen-image\" — the catalog knows: qwen3.8-max, qwen3.8-flash, "
       "glm-5.1, glm-5.2, ZHIPU/GLM-5.3, kimi-k3, deepseek-v4-pro, qwen3-coder-next (see `orvik "
       "nimbra models --kind chat`)\n"},
      {"max tokens zero",
       {"chat", "hi", "--max-tokens", "0", "--reasoning-effort", "x"},
       "--max-tokens needs a positive integer, got \"0\"\n"},
      {"max tokens negative",
       {"chat", "hi", "--max-tokens", "-5"},
       "--max-tokens needs a positive integer, got \"-5\"\n"},
      {"max tokens beyond 32 bits",
       {"chat", "hi", "--max-tokens", "2147483648"},
       "--max-tokens needs a positive integer, got \"2147483648\"\n"},
      {"max tokens empty",
       {"chat", "hi", "--max-tokens", ""},
       "--max-tokens needs a positive integer, got \"\"\n"},
      {"reasoning effort lower-cased in the message",
       {"chat", "hi", "--reasoning-effort", "EXTREME"},
       "unknown reasoning effort \"extreme\" — expected low|medium|high|max|xhigh (qwen3.8 dial: "
       "low|medium|xhigh; GLM-5.3: low|high|max)\n"},
      {"dotted capital I lower-cases to two characters",
       {"chat", "hi", "--reasoning-effort", "M\u0130NIMAL"},
       "unknown reasoning effort \"mi\\u{307}nimal\" — expected low|medium|high|max|xhigh "
       "(qwen3.8 dial: low|medium|xhigh; GLM-5.3: low|high|max)\n"},
  };
  sb.env.erase("DASHSCOPE_API_KEY");  // the checks come before any key is needed
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = sb.run(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST(ChatMarketplace, CreditsKeyOnTheIntlHostWhateverHostSays) {
  FakeServer intl;
  FakeServer asia;
  Sandbox sb;
  sb.env["ORVIK_NIMBRA_INTL_BASE_URL"] = intl.base_url();
  sb.env["ORVIK_NIMBRA_ASIA_BASE_URL"] = asia.base_url();
  sb.env["DASHSCOPE_API_KEY"] = KEY;
  const std::vector<std::string> args = {"chat",   "hi",   "--model", "ZHIPU/GLM-5.3",
                                         "--host", "asia", "--json"};

  const Result refused = sb.run(args);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err,
            "orvik-nimbra: marketplace models (ZHIPU/…) ride a separate billing wallet: set "
            "DASHSCOPE_API_KEY_CREDITS (env, or `secrets set DASHSCOPE_API_KEY_CREDITS`) — the "
            "plain DASHSCOPE_API_KEY cannot reach them\n");
  EXPECT_TRUE(intl.requests().empty());

  sb.env["DASHSCOPE_API_KEY_CREDITS"] = "  sk-credits-key\n";
  intl.on("POST", CHAT_PATH, Reply::sse({delta("glm")}));
  const Result r = sb.run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, R"({"text":"glm","model":"ZHIPU/GLM-5.3","host":"intl","key_source":)"
                   R"("env:DASHSCOPE_API_KEY_CREDITS","finish_reason":null,"usage":null})"
                   "\n");
  const std::vector<Request> requests = intl.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer sk-credits-key");
  EXPECT_TRUE(requests[0].body.starts_with(R"({"model":"ZHIPU/GLM-5.3",)"));
  EXPECT_TRUE(asia.requests().empty());
}

}  // namespace
}  // namespace bb
