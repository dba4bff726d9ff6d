// Error answers, their rendering, the first-line rule and the event-stream
// line parser.
#include "nimbra/wire.hpp"

#include <gtest/gtest.h>

#include <string>

#include "nimbra/resolve.hpp"

namespace {

const resolve::Host& intl() { return resolve::host_of(resolve::HostKind::Intl); }
const resolve::Host& asia() { return resolve::host_of(resolve::HostKind::Asia); }

const std::string INTL_HEAD = "HTTP 401 from intl (https://dashscope-intl.aliyuncs.com): ";
const std::string INTL_NOTE =
    "\nnote: DashScope keys are host-scoped. This host (intl) expects a pay-as-you-go key "
    "(sk-…); the other host (asia, https://token-plan.ap-southeast-1.maas.aliyuncs.com) expects "
    "a token-plan key (sk-sp-…). Your key resolved from env:DASHSCOPE_API_KEY — if it was "
    "minted for the other host, it will 401 here no matter how valid it is. Try --host asia, "
    "or bind the right key.";

TEST(WireFirstLine, CutsAtTheFirstLineFeedAndTo300Characters) {
  const std::string e_acute = "\xc3\xa9";  // é, two bytes
  std::string long_line;
  for (int i = 0; i < 500; ++i) long_line += e_acute;
  std::string first_300;
  for (int i = 0; i < 300; ++i) first_300 += e_acute;
  struct Case {
    const char* name;
    std::string in, want;
  } cases[] = {
      {"empty", "", ""},
      {"no line feed", "one line", "one line"},
      {"CR LF", "<html>\r\n<body>", "<html>"},
      {"only one CR dropped", "a\r\r\nb", "a\r"},
      {"CR without LF stays", "tail\r", "tail\r"},
      {"leading line feed", "\nsecond", ""},
      {"multi-byte cut by characters", long_line + "\nmore", first_300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(wire::first_line(c.in), c.want);
  }
}

TEST(WireDecodeError, ReadsStringMembersAndAddsTheHostScopeNote) {
  struct Case {
    const char* name;
    std::uint16_t status;
    std::string body, want;
  } cases[] = {
      {"401 with code, message and request id", 401,
       R"({"code":"InvalidApiKey","message":"Invalid API-key provided.","request_id":"r-1"})",
       INTL_HEAD + "[InvalidApiKey] Invalid API-key provided. (request_id r-1)" + INTL_NOTE},
      {"401 with an empty body", 401, "", INTL_HEAD + INTL_NOTE},
      {"403 AccessDenied gets the note", 403, R"({"code":"AccessDenied","message":"no"})",
       "HTTP 403 from intl (https://dashscope-intl.aliyuncs.com): [AccessDenied] no" + INTL_NOTE},
      {"403 accessdenied in lower case does not", 403, R"({"code":"accessdenied","message":"no"})",
       "HTTP 403 from intl (https://dashscope-intl.aliyuncs.com): [accessdenied] no"},
      {"InvalidApiKey on 400 gets the note", 400, R"({"code":"InvalidApiKey","message":"m"})",
       "HTTP 400 from intl (https://dashscope-intl.aliyuncs.com): [InvalidApiKey] m" + INTL_NOTE},
      {"HTML page", 502, "<html>\r\n<body>bad gateway</body>",
       "HTTP 502 from intl (https://dashscope-intl.aliyuncs.com): <html>"},
      {"numeric code counts as none", 400, R"({"code":429,"message":"slow down"})",
       "HTTP 400 from intl (https://dashscope-intl.aliyuncs.com): slow down"},
      {"non-string message falls back to the raw body", 400, R"({"code":"X","message":{"a":1}})",
       R"(HTTP 400 from intl (https://dashscope-intl.aliyuncs.com): [X] {"code":"X","message":{"a":1}})"},
      {"empty request id still shown", 500, R"({"message":"oops","request_id":""})",
       "HTTP 500 from intl (https://dashscope-intl.aliyuncs.com): oops (request_id )"},
      {"JSON that is not an object", 500, R"(["a","b"])",
       R"(HTTP 500 from intl (https://dashscope-intl.aliyuncs.com): ["a","b"])"},
      {"in-stream error with status 200", 200, "stream error: quota exceeded\nsecond line",
       "HTTP 200 from intl (https://dashscope-intl.aliyuncs.com): stream error: quota exceeded"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(wire::decode_error(intl(), "env:DASHSCOPE_API_KEY", c.status, c.body), c.want);
  }
}

TEST(WireRender, NoteOnTheAsiaHostPointsAtIntl) {
  const wire::WireError error{401, "", "denied", std::string("r-9")};
  EXPECT_EQ(wire::render(error, asia(), "accounts:main/env:TP_KEY"),
            "HTTP 401 from asia (https://token-plan.ap-southeast-1.maas.aliyuncs.com): denied "
            "(request_id r-9)\nnote: DashScope keys are host-scoped. This host (asia) expects a "
            "token-plan key (sk-sp-…); the other host (intl, https://dashscope-intl.aliyuncs.com) "
            "expects a pay-as-you-go key (sk-…). Your key resolved from accounts:main/env:TP_KEY — "
            "if it was minted for the other host, it will 401 here no matter how valid it is. Try "
            "--host intl, or bind the right key.");
}

TEST(WireParseSse, DataLinesBecomeChunks) {
  struct Case {
    const char* name;
    std::string line;
    std::string content;
    std::optional<std::string> finish_reason;
    std::optional<std::string> usage;  // compact JSON
    std::optional<std::string> error;
    bool done;
  } cases[] = {
      {"delta", R"(data: {"choices":[{"delta":{"content":"Hel"}}]})", "Hel", {}, {}, {}, false},
      {"no blank after the colon",
       R"(data:{"choices":[{"delta":{"content":"Hel"}}]})",
       "Hel",
       {},
       {},
       {},
       false},
      {"done marker", "data: [DONE]", "", {}, {}, {}, true},
      {"done marker without blank", "data:[DONE]", "", {}, {}, {}, true},
      {"usage with empty choices",
       R"(data: {"choices":[],"usage":{"total_tokens":7}})",
       "",
       {},
       R"({"total_tokens":7})",
       {},
       false},
      {"null usage is none",
       R"(data: {"choices":[{"delta":{}}],"usage":null})",
       "",
       {},
       {},
       {},
       false},
      {"finish reason",
       R"(data: {"choices":[{"delta":{"content":""},"finish_reason":"stop"}]})",
       "",
       "stop",
       {},
       {},
       false},
      {"null finish reason",
       R"(data: {"choices":[{"delta":{},"finish_reason":null}]})",
       "",
       {},
       {},
       {},
       false},
      {"only the first choice",
       R"(data: {"choices":[{"delta":{"reasoning_content":"hm"}},{"delta":{"content":"x"}}]})",
       "",
       {},
       {},
       {},
       false},
      {"content of the wrong type",
       R"(data: {"choices":[{"delta":{"content":5}}]})",
       "",
       {},
       {},
       {},
       false},
      {"error with message",
       R"(data: {"error":{"message":"quota exceeded"}})",
       "",
       {},
       {},
       "quota exceeded",
       false},
      {"error without message",
       R"(data: {"error":{"code":429}})",
       "",
       {},
       {},
       "stream error",
       false},
      {"usage copied whole",
       R"(data: {"usage":{"a":[1,-2,3.5,{"b":null}],"c":"d","e":true},"choices":[{"delta":{"content":"x"}}]})",
       "x",
       {},
       R"({"a":[1,-2,3.5,{"b":null}],"c":"d","e":true})",
       {},
       false},
      {"a later member of the same name wins",
       R"(data: {"choices":[{"delta":{"content":"a"},"finish_reason":"stop"}],"choices":[{"delta":{"content":"b","content":7}}],"usage":{"n":1},"usage":null})",
       "",
       {},
       {},
       {},
       false},
      {"nested names do not count",
       R"(data: {"x":{"choices":[{"delta":{"content":"no"}}],"usage":1,"error":2},"choices":[[{"delta":{"content":"no"}}],{"delta":{"content":"no"}}]})",
       "",
       {},
       {},
       {},
       false},
      {"not an object", R"(data: ["choices",{"error":1}])", "", {}, {}, {}, false},
      {"later error message wins",
       R"(data: {"error":{"message":"a","message":{"m":"b"}}})",
       "",
       {},
       {},
       "stream error",
       false},
      {"error that is a string",
       R"(data: {"error":"boom","choices":[{"delta":{"content":"x"}}]})",
       "",
       {},
       {},
       "stream error",
       false},
      {"a repeated member keeps its last value",
       R"(data: {"choices":[{"delta":{"content":"a","content":"b"},"finish_reason":"x","finish_reason":null}],"usage":{"t":1},"usage":{"t":2.5,"d":[1,{"e":null}]}})",
       "b",
       {},
       R"({"t":2.5,"d":[1,{"e":null}]})",
       {},
       false},
      {"a document that is not an object", R"(data: [1,2])", "", {}, {}, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto chunk = wire::parse_sse_data(c.line);
    ASSERT_TRUE(chunk.has_value());
    EXPECT_EQ(chunk->content, c.content);
    EXPECT_EQ(chunk->finish_reason, c.finish_reason);
    EXPECT_EQ(chunk->usage ? std::optional<std::string>(chunk->usage->dump()) : std::nullopt,
              c.usage);
    EXPECT_EQ(chunk->error, c.error);
    EXPECT_EQ(chunk->done, c.done);
  }
}

TEST(WireParseSse, OtherLinesAreSkipped) {
  for (const std::string line :
       {"", ": keep-alive", "event: result", "id: 4", "retry: 100", "data", "Data: [DONE]",
        "data: {not json", "data: ", "dat", "data: {} trailing", "data: {\"a\":\"\xff\"}"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(wire::parse_sse_data(line).has_value());
  }
}

}  // namespace
