// The key never leaks: every command, at the most talkative log level,
// through success and failure, with keys from every source. Nothing the
// program prints or writes, and nothing it hands the secrets command as
// arguments, may hold any of them.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

// Every key below carries this marker; finding it anywhere is a leak.
constexpr const char* MARK = "LEAKCHECK";
constexpr const char* ENV_KEY = "sk-LEAKCHECK-env-0001";
constexpr const char* SECRET_KEY = "sk-LEAKCHECK-secret-0002";
constexpr const char* ASIA_ENV_KEY = "sk-sp-LEAKCHECK-asia-0003";
constexpr const char* ASIA_SECRET_KEY = "sk-sp-LEAKCHECK-asia-secret-0004";
constexpr const char* CREDITS_KEY = "sk-LEAKCHECK-credits-0005";
constexpr const char* CREDITS_SECRET_KEY = "sk-LEAKCHECK-credits-secret-0006";

constexpr const char* SYNC = "/api/v1/services/aigc/multimodal-generation/generation";
constexpr const char* IMAGE_GEN = "/api/v1/services/aigc/image-generation/generation";
constexpr const char* T2I = "/api/v1/services/aigc/text2image/image-synthesis";
constexpr const char* VIDEO = "/api/v1/services/aigc/video-generation/video-synthesis";
constexpr const char* CHAT = "/compatible-mode/v1/chat/completions";
constexpr const char* MODELS = "/compatible-mode/v1/models";

const std::string ACCOUNTS =
    R"({"accounts":[{"name":"me","keys":[{"host":"token-plan-ap-southeast-1",)"
    R"("env":"MY_TOKEN_PLAN_KEY","secrets":["ASIA_SECRET"]}]}]})";

// Records its arguments, an env-file setting it can only have from the
// environment, and whether anything arrived on its standard input; then
// prints the key kept under the secret's name, if any.
constexpr const char* SECRETS_SCRIPT =
    "printf '%s|' \"$#\" \"$@\" >> \"$HOME/secrets-argv.log\"; echo >> \"$HOME/secrets-argv.log\"\n"
    "printf '%s\\n' \"$MY_SETTING\" >> \"$HOME/secrets-env.log\"\n"
    "[ -z \"$(cat)\" ] || echo 'stdin was not empty' >> \"$HOME/secrets-argv.log\"\n"
    "[ -f \"$HOME/.keys/$2\" ] && cat \"$HOME/.keys/$2\"";

enum class Base { Good, Refusing, Dead, StreamError, ClearText };

struct Invocation {
  std::vector<std::string> args;
  int status;
  std::string shows;  // a text the output must hold, proof the path was taken
  Base base = Base::Good;
  bool from_secrets = false;  // the environment holds no key; the secrets command has them
  bool bad_accounts = false;
};

class LeakSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    sb.env["DASHSCOPE_API_KEY"] = ENV_KEY;
    sb.env["ORVIK_NIMBRA_LOG"] = "trace";
    put(sb.home() / ".orvik/config/secrets.json", R"({"env_file": "~/keys.env"})");
    put(sb.home() / "keys.env", std::string("MY_TOKEN_PLAN_KEY=") + ASIA_ENV_KEY +
                                    "\nDASHSCOPE_API_KEY_CREDITS=" + CREDITS_KEY +
                                    "\nMY_SETTING=from-env-file\n");
    put(sb.home() / ".orvik/config/alicloud-accounts.json", ACCOUNTS);
    put(sb.home() / ".keys/DASHSCOPE_API_KEY", SECRET_KEY);
    put(sb.home() / ".keys/ASIA_SECRET", ASIA_SECRET_KEY);
    put(sb.home() / ".keys/DASHSCOPE_API_KEY_CREDITS", CREDITS_SECRET_KEY);
    put(sb.home() / ".local/bin/secrets", std::string("#!/bin/sh\n") + SECRETS_SCRIPT + "\n", 0755);
    put(sb.root() / "pic.png", "PNG-input");
    script_good();
    script_refusing();
  }

  // Writes a file and remembers it as the test's own.
  void put(const fs::path& path, const std::string& content, unsigned mode = 0644) {
    sb.write(path, content, mode);
    ours[path.string()] = content;
  }

  void script_good() {
    const std::string base = good.base_url();
    const auto task = [&](const std::string& id, const std::string& status,
                          const std::string& extra) {
      return Reply::json(200, R"({"output":{"task_id":")" + id + R"(","task_status":")" + status +
                                  "\"" + extra + R"(},"request_id":"r"})");
    };
    const std::string image_choice =
        R"(,"choices":[{"message":{"content":[{"image":")" + base + R"(/files/p.png"}]}}])";
    good.on("GET", "/api/v1/tasks/", Reply::json(200, "{}"));
    good.on("GET", MODELS, Reply::json(200, R"({"data":[{"id":"qwen3.8-max"},{"id":"new-1"}]})"));
    good.on("POST", CHAT,
            Reply::sse({R"(data: {"choices":[{"delta":{"content":"ok"},"finish_reason":"stop"}]})",
                        R"(data: {"choices":[],"usage":{"total_tokens":3}})", "data: [DONE]"}));
    // Speech and the sync image lane share the path; one answer serves both.
    good.on("POST", SYNC,
            Reply::json(200, R"({"output":{"audio":{"url":")" + base + R"(/files/a.wav"})" +
                                 image_choice + "}}"));
    good.on("POST", IMAGE_GEN, task("t-img", "PENDING", ""));
    good.on("GET", "/api/v1/tasks/t-img", task("t-img", "SUCCEEDED", image_choice));
    good.on("POST", T2I, task("t-t2i", "PENDING", ""));
    good.on("POST", VIDEO, task("t-vid", "PENDING", ""));
    good.on("GET", "/api/v1/tasks/t-vid",
            task("t-vid", "SUCCEEDED", R"(,"video_url":")" + base + R"(/files/v.mp4")"));
    good.on("GET", "/api/v1/tasks/t-1", task("t-1", "RUNNING", ""));
    for (const char* file : {"/files/p.png", "/files/a.wav", "/files/v.mp4"})
      good.on("GET", file, Reply::text(200, "application/octet-stream", "media bytes"));
    streaming_error.on(
        "POST", CHAT,
        Reply::sse({R"(data: {"choices":[{"delta":{"content":"par"}}]})",
                    R"(data: {"error":{"message":"quota exceeded","code":"Arrearage"}})"}));
  }

  void script_refusing() {
    const std::string body =
        R"({"code":"InvalidApiKey","message":"Invalid API-key provided.","request_id":"r-401"})";
    for (const char* path : {"/api/v1/tasks/", "/api/v1/tasks/t-1"})
      refusing.on("GET", path, Reply::json(401, body));
    refusing.on("GET", MODELS, Reply::json(401, body));
    for (const char* path : {CHAT, SYNC, IMAGE_GEN, VIDEO})
      refusing.on("POST", path, Reply::json(401, body));
  }

  void point_at(Base base) {
    std::string url;
    switch (base) {
      case Base::Good:
        url = good.base_url();
        break;
      case Base::Refusing:
        url = refusing.base_url();
        break;
      case Base::Dead:
        url = "http://127.0.0.1:9";
        break;
      case Base::StreamError:
        url = streaming_error.base_url();
        break;
      case Base::ClearText:
        url = "http://cleartext.invalid";  // never resolves
        break;
    }
    sb.use_server(url);
  }

  // Every file below the sandbox that the program (or the secrets command
  // it ran) wrote or changed.
  [[nodiscard]] std::vector<fs::path> written_by_the_program() const {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(sb.root())) {
      if (!e.is_regular_file()) continue;
      const auto it = ours.find(e.path().string());
      if (it == ours.end() || read_file(e.path()) != it->second) files.push_back(e.path());
    }
    return files;
  }

  [[nodiscard]] std::set<std::string> keys_sent() const {
    std::set<std::string> keys;
    for (const FakeServer* s : {&good, &refusing, &streaming_error})
      for (const auto& r : s->requests())
        if (auto auth = r.header("Authorization")) keys.insert(auth->substr(7));
    return keys;
  }

  FakeServer good;
  FakeServer refusing;
  FakeServer streaming_error;
  Sandbox sb;
  std::map<std::string, std::string> ours;
};

TEST_F(LeakSweep, NoKeyInAnyOutputFileOrChildArgument) {
  const Invocation runs[] = {
      {{"help"}, 0, "Credentials resolve"},
      {{"--describe"}, 0, "BYO-key"},
      {{"accounts"}, 0, "from env:DASHSCOPE_API_KEY, 21 chars"},
      {{"accounts", "--json"}, 0, "\"key_source\":\"accounts:me/env:MY_TOKEN_PLAN_KEY\""},
      {{"accounts", "--example"}, 0, "MY_TOKEN_PLAN_KEY"},
      {{"accounts"}, 0, "from secrets:DASHSCOPE_API_KEY", Base::Good, true},
      {{"accounts"}, 1, "does not parse", Base::Good, false, true},
      {{"status"}, 0, "reachable (authorized)"},
      {{"status", "--json"}, 0, "\"note\":\"authorized\""},
      {{"status"}, 0, "Your key resolved from env:DASHSCOPE_API_KEY", Base::Refusing},
      {{"status", "--host", "asia"},
       0,
       "from accounts:me/secrets:ASIA_SECRET",
       Base::Refusing,
       true},
      {{"status"}, 0, "transport to intl", Base::Dead},
      {{"status"}, 1, "does not parse", Base::Good, false, true},
      {{"models"}, 0, "catalog (probed"},
      {{"models", "--live"}, 0, "+ new-1"},
      {{"models", "--live", "--json", "--host", "asia"}, 0, "\"host\":\"asia\""},
      {{"models", "--live"}, 1, "HTTP 401", Base::Refusing},
      {{"chat", "hi"}, 0, "ok"},
      {{"chat", "hi", "--json"}, 0, "\"key_source\":\"env:DASHSCOPE_API_KEY\""},
      {{"chat", "hi", "--raw"}, 1, "not JSON"},
      {{"chat", "hi", "--host", "asia"}, 0, "ok"},
      {{"chat", "hi", "--model", "ZHIPU/GLM-5.3"}, 0, "ok"},
      {{"chat", "hi", "--model", "ZHIPU/GLM-5.3", "--json"},
       0,
       "secrets:DASHSCOPE_API_KEY_CREDITS",
       Base::Good,
       true},
      {{"chat", "hi"}, 1, "host-scoped", Base::Refusing},
      {{"chat", "hi", "--host", "asia"}, 1, "accounts:me/env:MY_TOKEN_PLAN_KEY", Base::Refusing},
      {{"chat", "hi"}, 1, "transport to intl", Base::Dead},
      {{"chat", "hi"}, 1, "stream error: quota exceeded", Base::StreamError},
      {{"chat", "hi"}, 0, "ok", Base::Good, true},
      {{"chat", "hi"}, 1, "does not parse", Base::Good, false, true},
      {{"chat", "hi"}, 1, "expected https://HOST", Base::ClearText},
      {{"image", "p"}, 0, "nmb-image-"},
      {{"image", "p", "--model", "z-image-turbo", "--json"}, 0, "\"paths\""},
      {{"image", "p", "--model", "qwen-image-plus", "--submit"}, 0, "resume: "},
      {{"image", "p", "--edit", "pic.png"}, 0, "nmb-image-"},
      {{"image", "p"}, 1, "HTTP 401", Base::Refusing},
      {{"video", "p"}, 0, "resume: "},
      {{"video", "p", "--wait", "--json"}, 0, "nmb-video-"},
      {{"video", "p", "--image", "pic.png"}, 1, "HTTP 401", Base::Refusing, true},
      {{"speech", "hi"}, 0, "nmb-speech-"},
      {{"speech", "hi", "--json"}, 1, "HTTP 401", Base::Refusing},
      {{"speech", "--voice", "list"}, 0, "Cherry"},
      {{"task", "t-1"}, 0, "RUNNING"},
      {{"task", "t-img", "--wait", "--json"}, 0, "\"paths\""},
      {{"task", "t-1", "--host", "asia"}, 1, "HTTP 401", Base::Refusing},
      {{"task", "t-1"}, 1, "transport to intl", Base::Dead},
      {{"gallery"}, 0, "nmb-"},
      {{"gallery", "--json"}, 0, "nmb-"},
  };
  for (const Invocation& run : runs) {
    std::string name;
    for (const auto& a : run.args) name += a + " ";
    SCOPED_TRACE(name);
    point_at(run.base);
    if (run.from_secrets) {
      sb.env.erase("DASHSCOPE_API_KEY");
      // Exported empty, so the env file's keys stay out and the secrets
      // command is asked instead.
      sb.env["MY_TOKEN_PLAN_KEY"] = "";
      sb.env["DASHSCOPE_API_KEY_CREDITS"] = "";
    }
    if (run.bad_accounts)
      put(sb.home() / ".orvik/config/alicloud-accounts.json", R"({"accounts":[{"keys":[]}]})");

    const Result r = sb.run(run.args);
    EXPECT_EQ(r.status, run.status) << r.err;
    EXPECT_NE((r.out + r.err).find(run.shows), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.out.find(MARK), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find(MARK), std::string::npos) << r.err;
    // The trace level really was on: the header is logged, masked.
    if (r.err.find("[TRACE nimbra::wire::http] > ") != std::string::npos) {
      EXPECT_NE(r.err.find("Authorization: Bearer [redacted]"), std::string::npos);
    }

    sb.env["DASHSCOPE_API_KEY"] = ENV_KEY;
    sb.env.erase("MY_TOKEN_PLAN_KEY");
    sb.env.erase("DASHSCOPE_API_KEY_CREDITS");
    put(sb.home() / ".orvik/config/alicloud-accounts.json", ACCOUNTS);
  }

  // Every source of a key was used, so the sweep covered them all.
  EXPECT_EQ(keys_sent(), (std::set<std::string>{ENV_KEY, SECRET_KEY, ASIA_ENV_KEY, ASIA_SECRET_KEY,
                                                CREDITS_KEY, CREDITS_SECRET_KEY}));
  const auto written = written_by_the_program();
  EXPECT_FALSE(written.empty());
  for (const fs::path& file : written) {
    SCOPED_TRACE(file.string());
    EXPECT_EQ(read_file(file).find(MARK), std::string::npos);
  }
}

TEST_F(LeakSweep, SecretsCommandGetsOnlyGetAndTheName) {
  sb.env.erase("DASHSCOPE_API_KEY");
  sb.env["MY_TOKEN_PLAN_KEY"] = "";
  sb.env["DASHSCOPE_API_KEY_CREDITS"] = "";
  sb.use_server(good.base_url());
  EXPECT_EQ(sb.run({"accounts"}).status, 0);
  EXPECT_EQ(sb.run({"chat", "hi", "--model", "ZHIPU/GLM-5.3"}).status, 0);
  // Arguments: the count, then each one; the order of the lookups.
  EXPECT_EQ(read_file(sb.home() / "secrets-argv.log"),
            "2|get|DASHSCOPE_API_KEY|\n"
            "2|get|ASIA_SECRET|\n"
            "2|get|DASHSCOPE_API_KEY_CREDITS|\n");
  // The env file's values reach it through its environment, every time.
  EXPECT_EQ(read_file(sb.home() / "secrets-env.log"),
            "from-env-file\nfrom-env-file\nfrom-env-file\n");
}

}  // namespace
}  // namespace bb
