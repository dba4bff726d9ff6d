// The image command against the fake server: the three lanes with their
// bodies byte for byte, the async header, files written to the gallery, the
// reports, and every check that must stop the command before any request.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

constexpr const char* KEY = "sk-image-test-key";
constexpr const char* SYNC_PATH = "/api/v1/services/aigc/multimodal-generation/generation";
constexpr const char* T2I_PATH = "/api/v1/services/aigc/text2image/image-synthesis";
constexpr const char* GEN_PATH = "/api/v1/services/aigc/image-generation/generation";

class Image : public ::testing::Test {
 protected:
  void SetUp() override {
    sb.use_server(server.base_url());
    sb.env["DASHSCOPE_API_KEY"] = KEY;
  }

  [[nodiscard]] fs::path gallery() const { return sb.home() / "Pictures" / "generated"; }
  [[nodiscard]] std::string url(const std::string& path) const { return server.base_url() + path; }

  // Every entry of the gallery, hidden ones included, sorted.
  [[nodiscard]] std::vector<std::string> gallery_entries() const {
    return sb.entries_in(gallery());
  }

  // Checks that `out` lists the files "nmb-{kind}-{millis}-{i}.{ext}" for
  // the given extensions, one per line with one shared millis, and returns
  // their paths.
  [[nodiscard]] std::vector<fs::path> saved_paths(const std::string& out, const std::string& kind,
                                                  const std::vector<std::string>& exts) const {
    std::vector<fs::path> paths;
    std::string millis;
    std::size_t at = 0;
    for (std::size_t i = 0; i < exts.size(); ++i) {
      const auto end = out.find('\n', at);
      if (end == std::string::npos) {
        ADD_FAILURE() << "missing line " << i << " in " << out;
        return paths;
      }
      const fs::path path = out.substr(at, end - at);
      at = end + 1;
      EXPECT_EQ(path.parent_path(), gallery());
      const std::string name = path.filename();
      const std::string head = "nmb-" + kind + "-";
      const std::string tail = "-" + std::to_string(i) + "." + exts[i];
      EXPECT_TRUE(name.starts_with(head) && name.ends_with(tail)) << name;
      const std::string stamp = name.substr(head.size(), name.size() - head.size() - tail.size());
      EXPECT_FALSE(stamp.empty());
      EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos) << stamp;
      if (i == 0) millis = stamp;
      EXPECT_EQ(stamp, millis);
      paths.push_back(path);
    }
    EXPECT_EQ(at, out.size()) << out;
    return paths;
  }

  FakeServer server;
  Sandbox sb;
};

TEST_F(Image, BarePromptWaitsOnTheImageGenerationLaneAndSavesTheChoices) {
  server.on("POST", GEN_PATH,
            Reply::json(
                200, R"({"output":{"task_id":"t-7","task_status":"PENDING"},"request_id":"r0"})"));
  server.on("GET", "/api/v1/tasks/t-7",
            Reply::json(200, R"({"output":{"task_id":"t-7","task_status":"SUCCEEDED","choices":[)"
                             R"({"message":{"content":[{"image":")" +
                                 url("/files/cat.webp") + R"("}]}}]},"usage":{"image_count":1}})"));
  server.on("GET", "/files/cat.webp", Reply::text(200, "image/webp", "WEBPBYTES"));

  const Result r = sb.run({"image", "a cat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const auto paths = saved_paths(r.out, "image", {"webp"});
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(read_file(paths[0]), "WEBPBYTES");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, GEN_PATH);
  EXPECT_EQ(requests[0].header("X-DashScope-Async"), "enable");
  EXPECT_EQ(requests[0].header("Authorization"), std::string("Bearer ") + KEY);
  EXPECT_EQ(requests[0].body,
            R"({"model":"wan2.6-t2i","input":{"messages":[{"role":"user","content":[)"
            R"({"text":"a cat"}]}]},"parameters":{"prompt_extend":true,"watermark":false}})");
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].target, "/api/v1/tasks/t-7");
  EXPECT_EQ(requests[2].target, "/files/cat.webp");
  EXPECT_EQ(requests[2].header("Authorization"), std::nullopt);
}

TEST_F(Image, EditsInlineThePicturesInOrderOnTheSyncLane) {
  sb.write("a.png", "PNG!");
  sb.write("b.JPG", "jpg");
  server.on("POST", SYNC_PATH,
            Reply::json(200, R"({"output":{"choices":[{"message":{"content":[{"image":")" +
                                 url("/files/one.PNG?sig=a.b") +
                                 R"("},{"text":"t"}]}},)"
                                 R"({"message":{"content":[{"image":")" +
                                 url("/files/two") +
                                 R"("}]}}]},"usage":{"width":1},"request_id":"req-9"})"));
  server.on("GET", "/files/one.PNG?sig=a.b", Reply::text(200, "image/png", "first image"));
  server.on("GET", "/files/two", Reply::text(200, "image/png", std::string("\0\x01\x02", 3)));

  const Result r =
      sb.run({"image", "--edit", (sb.home() / "a.png").string(), "make it blue", "--edit",
              (sb.home() / "b.JPG").string(), "--size", "1024x1024", "--n", "+3", "--seed", "9",
              "--negative", "fog", "--no-prompt-extend", "--wait", "--json"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, SYNC_PATH);
  EXPECT_EQ(requests[0].header("X-DashScope-Async"), std::nullopt);
  EXPECT_EQ(requests[0].body,
            R"({"model":"qwen-image-edit-max","input":{"messages":[{"role":"user","content":[)"
            R"({"image":"data:image/png;base64,UE5HIQ=="},{"image":"data:image/jpeg;base64,anBn"},)"
            R"({"text":"make it blue"}]}]},"parameters":{"prompt_extend":false,"watermark":false,)"
            R"("size":"1024x1024","n":3,"seed":9,"negative_prompt":"fog"}})");

  const std::vector<std::string> names = gallery_entries();
  ASSERT_EQ(names.size(), 2u);
  const std::string p0 = (gallery() / names[0]).string();
  const std::string p1 = (gallery() / names[1]).string();
  EXPECT_EQ(r.out, R"({"paths":[")" + p0 + R"(",")" + p1 +
                       R"("],"host":"intl","request_id":"req-9","usage":{"width":1}})" + "\n");
  (void)saved_paths(p0 + "\n" + p1 + "\n", "image", {"png", "png"});
  EXPECT_EQ(read_file(p0), "first image");
  EXPECT_EQ(read_file(p1), std::string("\0\x01\x02", 3));
}

TEST_F(Image, SubmitOnTheText2ImageLaneReportsTheTask) {
  server.on("POST", T2I_PATH, Reply::json(200, R"({"output":{"task_id":"t-2"}})"));
  const Result text =
      sb.run({"image", "hills", "--model", "qwen-image-plus", "--submit", "--wait", "--n", "4",
              "--edit", "not-read.png", "--seed", "0", "--negative", "x"});
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.out,
            "task t-2 submitted (PENDING) — model qwen-image-plus on host intl\n"
            "resume: orvik nimbra task t-2 --wait\n");
  const Result json = sb.run(
      {"image", "hills", "--model", "qwen-image", "--submit", "--size", "1328*1328", "--json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.out,
            R"({"task_id":"t-2","task_status":"PENDING","model":"qwen-image","host":"intl",)"
            R"("resume":"orvik nimbra task t-2 --wait","request_id":null})"
            "\n");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].header("X-DashScope-Async"), "enable");
  EXPECT_EQ(
      requests[0].body,
      R"({"model":"qwen-image-plus","input":{"prompt":"hills"},"parameters":{"size":"1664*928",)"
      R"("n":1,"prompt_extend":true,"watermark":false,"seed":0,"negative_prompt":"x"}})");
  EXPECT_EQ(requests[1].body,
            R"({"model":"qwen-image","input":{"prompt":"hills"},"parameters":{"size":"1328*1328",)"
            R"("n":1,"prompt_extend":true,"watermark":false}})");
  EXPECT_TRUE(gallery_entries().empty());
}

TEST_F(Image, SubmitOnTheImageGenerationLaneDoesNotWait) {
  server.on(
      "POST", GEN_PATH,
      Reply::json(200, R"({"output":{"task_id":"t-3","task_status":"RUNNING"},"request_id":"q"})"));
  const Result r = sb.run({"image", "p", "--model", "wan2.7-image", "--submit", "--n", "--json"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            R"({"task_id":"t-3","task_status":"RUNNING","model":"wan2.7-image","host":"intl",)"
            R"("resume":"orvik nimbra task t-3 --wait","request_id":"q"})"
            "\n");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);  // no poll
  EXPECT_EQ(requests[0].body,
            R"({"model":"wan2.7-image","input":{"messages":[{"role":"user","content":[)"
            R"({"text":"p"}]}]},"parameters":{"prompt_extend":true,"watermark":false}})");
}

TEST_F(Image, ChecksStopTheCommandBeforeAnyRequest) {
  sb.write("big.png", std::string(10485761, 'x'));
  const std::string big = (sb.home() / "big.png").string();
  const std::string ids =
      "wan2.6-t2i, wan2.7-image-pro, wan2.7-image, wan2.6-image, qwen-image-plus, qwen-image";
  const std::string n_range =
      "--n is 1–6 for the 2.0/3.0 series and fixed at 1 for max/plus/image\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"--json", "--model", "z-image-turbo"},
       2,
       "usage: orvik nimbra image \"<prompt>\" [--model M] [--edit FILE]… [--size WxH] [--n N] "
       "[--wait|--submit]\n"},
      {{"p", "--model", "qwen-image-edit"},
       2,
       "model qwen-image-edit edits reference images — pass --edit FILE (for a bare prompt use "
       "wan2.6-t2i)\n"},
      {{"p", "--model", "wan2.6-image", "--submit"},
       2,
       "model wan2.6-image edits reference images — pass --edit FILE (for a bare prompt use "
       "wan2.6-t2i)\n"},
      {{"p", "--model", "z-image-turbo", "--submit"},
       2,
       "model z-image-turbo has no async lane — --submit is only for: " + ids +
           " (or drop --submit)\n"},
      {{"p", "--model", "Wan2.6-t2i"},
       2,
       "unknown image model \"Wan2.6-t2i\" — the catalog knows: z-image-turbo, qwen-image-3.0-pro, "
       "qwen-image-3.0, qwen-image-2.0-pro, qwen-image-2.0, qwen-image-max, qwen-image-plus, "
       "qwen-image, qwen-image-edit-max, qwen-image-edit-plus, qwen-image-edit, wan2.6-t2i, "
       "wan2.7-image-pro, wan2.7-image, wan2.6-image, qwen-image-plus, qwen-image (see `orvik "
       "nimbra models --kind image`)\n"},
      {{"p", "--model", "qwen-image-plus", "--submit", "--size", "1024*1024"},
       2,
       "the async lane for qwen-image-plus takes one of the fixed sizes: 1664*928, 1472*1104, "
       "1328*1328, 1104*1472, 928*1664\n"},
      {{"p", "--model", "qwen-image", "--submit", "--seed", "-1"},
       2,
       "--seed must be in [0, 2147483647]\n"},
      {{"p", "--n", "0"}, 2, n_range},
      {{"p", "--n", "7"}, 2, n_range},
      {{"p", "--n", "-1", "--model", "qwen-image-max"}, 2, n_range},
      {{"p", "--n", "three"}, 2, "--n needs an integer, got \"three\"\n"},
      {{"p", "--seed", "1e3"}, 2, "--seed needs an integer, got \"1e3\"\n"},
      // The edit files are read before --n and the seed are looked at.
      {{"p", "--edit", "missing.png", "--n", "zero"},
       1,
       "orvik-nimbra: cannot read missing.png: No such file or directory\n"},
      {{"p", "--edit", big}, 1, "orvik-nimbra: " + big + " is over the 10 MB input cap\n"},
      {{"p", "--edit", "a.txt"}, 1, "orvik-nimbra: cannot read a.txt: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.err);
    std::vector<std::string> args = {"image"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = sb.run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_TRUE(server.requests().empty());

  // A missing key is reported before a bad size, --n or edit file.
  sb.env.erase("DASHSCOPE_API_KEY");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"image", "p", "--model", "qwen-image", "--submit", "--size",
                                 "1x1"},
        {"image", "p", "--n", "9"},
        {"image", "p", "--edit", "missing.png"}}) {
    const Result r = sb.run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("orvik-nimbra: no DashScope key found")) << r.err;
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(Image, AnswersWithoutTheResultAreRuntimeErrors) {
  server.on(
      "POST", SYNC_PATH,
      Reply::json(200, R"({"output":{"choices":[{"message":{"content":[{"text":"no"}]}}]}})"));
  const Result sync = sb.run({"image", "p", "--model", "z-image-turbo"});
  EXPECT_EQ(sync.status, 1);
  EXPECT_EQ(sync.err,
            "orvik-nimbra: no image in answer: "
            R"({"output":{"choices":[{"message":{"content":[{"text":"no"}]}}]}})"
            "\n");

  server.on("POST", GEN_PATH, Reply::json(200, R"({"output":{"task_status":"PENDING"}})"));
  const Result async = sb.run({"image", "p"});
  EXPECT_EQ(async.status, 1);
  EXPECT_EQ(async.err, "orvik-nimbra: no task_id in submit answer\n");

  server.on("POST", GEN_PATH, Reply::json(200, R"({"output":{"task_id":"t-f"}})"));
  server.on(
      "GET", "/api/v1/tasks/t-f",
      Reply::json(
          200,
          R"({"output":{"task_id":"t-f","task_status":"FAILED","code":"DataInspectionFailed","message":"nope"}})"));
  const Result failed = sb.run({"image", "p"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err, "orvik-nimbra: task t-f FAILED: [DataInspectionFailed] nope\n");

  server.on("POST", SYNC_PATH,
            Reply::json(400, R"({"code":"InvalidParameter","message":"bad size"})"));
  const Result refused = sb.run({"image", "p", "--model", "qwen-image"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "orvik-nimbra: HTTP 400 from intl (" + server.base_url() +
                             "): [InvalidParameter] bad size\n");
  EXPECT_TRUE(gallery_entries().empty());
}

TEST_F(Image, AFailedDownloadLeavesNoPartialFile) {
  server.on("POST", SYNC_PATH,
            Reply::json(200, R"({"output":{"choices":[{"message":{"content":[{"image":")" +
                                 url("/files/ok.png") + R"("},{"image":")" + url("/files/cut.png") +
                                 R"("},{"image":")" + url("/files/never.png") + R"("}]}}]}})"));
  server.on("GET", "/files/ok.png", Reply::text(200, "image/png", "complete"));
  // Promises 100000 bytes, sends a part, and closes.
  server.on("GET", "/files/cut.png",
            Reply::raw("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n")
                .then(std::string(30000, 'p'), 50));
  const Result r = sb.run({"image", "p", "--model", "qwen-image-2.0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("orvik-nimbra: reading result body: ")) << r.err;
  const std::vector<std::string> names = gallery_entries();
  ASSERT_EQ(names.size(), 1u);  // the first file stays; nothing of the second
  EXPECT_TRUE(names[0].starts_with("nmb-image-") && names[0].ends_with("-0.png")) << names[0];
  EXPECT_EQ(read_file(gallery() / names[0]), "complete");
  EXPECT_EQ(server.requests().size(), 3u);  // the third URL is never fetched

  server.on("GET", "/files/ok.png", Reply::json(404, "{}"));
  const Result missing = sb.run({"image", "p", "--model", "qwen-image-2.0"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "orvik-nimbra: HTTP 404 fetching result URL\n");
  EXPECT_EQ(gallery_entries().size(), 1u);
}

}  // namespace
}  // namespace bb
