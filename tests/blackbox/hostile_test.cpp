// Hostile and malformed input from the user's side: arguments that are not
// UTF-8 or very long, values full of quotes and invisible characters, input
// pictures that are not plain files, galleries that cannot take a file, and
// a HOME whose path a shell would split.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

constexpr const char* KEY = "sk-hostile-5150";
constexpr const char* SYNC = "/api/v1/services/aigc/multimodal-generation/generation";
constexpr const char* CHAT = "/compatible-mode/v1/chat/completions";
constexpr std::size_t CAP = 10 * 1024 * 1024;

std::string delta(const std::string& text) {
  return R"(data: {"choices":[{"delta":{"content":")" + text + R"("}}]})";
}

std::string base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    sb.use_server(server.base_url());
    sb.env["DASHSCOPE_API_KEY"] = KEY;
  }
  [[nodiscard]] fs::path gallery() const { return sb.home() / "Pictures" / "generated"; }
  // Every entry of the gallery, hidden ones included.
  [[nodiscard]] std::vector<std::string> gallery_entries() const {
    return sb.entries_in(gallery());
  }
  // A synchronous image answer whose pictures live at these paths.
  void answer_with_pictures(const std::vector<std::string>& paths) {
    std::string content;
    for (const auto& p : paths)
      content += (content.empty() ? "" : ",") + std::string(R"({"image":")") + server.base_url() +
                 p + "\"}";
    server.on(
        "POST", SYNC,
        Reply::json(200, R"({"output":{"choices":[{"message":{"content":[)" + content + "]}}]}}"));
  }

  // Runs the program without the capabilities that let root ignore file
  // permissions; false when this machine does not allow it.
  bool run_bound_by_permissions(const std::vector<std::string>& args, Result& result) const {
    if (::geteuid() != 0) {
      result = sb.run(args);
      return true;
    }
    const std::vector<std::string> drop = {"--bounding-set=-dac_override,-dac_read_search"};
    std::vector<std::string> probe = drop;
    probe.push_back("/bin/true");
    if (sb.run_program("/usr/bin/setpriv", probe).status != 0) return false;
    std::vector<std::string> wrapped = drop;
    wrapped.push_back(nimbra_binary());
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    result = sb.run_program("/usr/bin/setpriv", wrapped);
    return true;
  }

  FakeServer server;
  Sandbox sb;
};

TEST_F(Hostile, ArgumentsThatAreNotUtf8StopBeforeAnything) {
  // A secrets command that leaves a mark shows whether resolution began.
  sb.install_secrets("touch \"$HOME/asked\"");
  sb.env.erase("DASHSCOPE_API_KEY");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"a lone byte as the model",
       {"chat", "hi", "--model", "\xff"},
       "argument 4 is not valid "
       "UTF-8: \"\\u{fffd}\""},
      {"a sequence cut short",
       {"image", "p", "--edit", "caf\xc3"},
       "argument 4 is not valid UTF-8: \"caf\\u{fffd}\""},
      {"an overlong slash",
       {"chat", "a\xc0\xafz"},
       "argument 2 is not valid UTF-8: \"a\\u{fffd}\\u{fffd}z\""},
      {"a surrogate",
       {"task", "\xed\xa0\x80"},
       "argument 2 is not valid UTF-8: \"\\u{fffd}\\u{fffd}\\u{fffd}\""},
      {"the command word", {"\xfe", "x"}, "argument 1 is not valid UTF-8: \"\\u{fffd}\""},
      {"a host name",
       {"status", "--host", "asia\x80"},
       "argument 3 is not valid UTF-8: \"asia\\u{fffd}\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = sb.run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "orvik-nimbra: " + c.err + "\n");
  }
  EXPECT_TRUE(server.requests().empty());
  EXPECT_FALSE(fs::exists(sb.home() / "asked"));
}

TEST_F(Hostile, PromptOf120KilobytesArrivesWhole) {
  // Quotes, backslashes, control characters and multi-byte characters, all
  // of which the request body must escape or carry exactly.
  std::string prompt;
  const std::string piece = "say \"hi\" \\ é日本\t\n\x01 😀 ";
  while (prompt.size() + piece.size() <= 120000) prompt += piece;
  server.on("POST", CHAT, Reply::sse({delta("ok"), "data: [DONE]"}));
  answer_with_pictures({"/files/p.png"});
  server.on("GET", "/files/p.png", Reply::text(200, "image/png", "PNG"));

  const Result chat = sb.run({"chat", prompt});
  EXPECT_EQ(chat.status, 0) << chat.err;
  EXPECT_EQ(chat.out, "ok\n");
  const Result image = sb.run({"image", prompt, "--model", "z-image-turbo"});
  EXPECT_EQ(image.status, 0) << image.err;
  EXPECT_EQ(gallery_entries().size(), 1u);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  const auto chat_body = nlohmann::ordered_json::parse(requests[0].body, nullptr, false);
  ASSERT_FALSE(chat_body.is_discarded());
  EXPECT_EQ(chat_body["messages"][0]["content"], prompt);
  const auto image_body = nlohmann::ordered_json::parse(requests[1].body, nullptr, false);
  ASSERT_FALSE(image_body.is_discarded());
  EXPECT_EQ(image_body["input"]["messages"][0]["content"][0]["text"], prompt);
}

TEST_F(Hostile, ValuesAreQuotedExactlyInMessages) {
  // A quote, a backslash, control characters, combining marks, invisible
  // format characters and a line separator; the last three are printable.
  const std::string value =
      "a\"b\\c\x01\x7f\t\r\n\xcc\x81"
      "e\xcc\x81\xe2\x80\x8b\xe2\x80\xae\xe2\x80\xa8"
      "é日本😀";
  const std::string q =
      "\"a\\\"b\\\\c\\u{1}\\u{7f}\\t\\r\\n\\u{301}e\\u{301}\\u{200b}\\u{202e}\\u{2028}é日本😀\"";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"chat", "hi", "--model", value},
       2,
       "unknown chat model " + q +
           " — the catalog knows: qwen3.8-max, qwen3.8-flash, glm-5.1, glm-5.2, ZHIPU/GLM-5.3, "
           "kimi-k3, deepseek-v4-pro, qwen3-coder-next (see `orvik nimbra models --kind chat`)"},
      {{"speech", "hi", "--model", value},
       2,
       "unknown speech model " + q +
           " — the catalog knows: qwen3-tts-flash, qwen3-tts-instruct-flash (see `orvik nimbra "
           "models --kind speech`)"},
      {{"chat", "hi", "--max-tokens", value}, 2, "--max-tokens needs a positive integer, got " + q},
      {{"chat", "hi", "--reasoning-effort", value},
       2,
       "unknown reasoning effort " + q +
           " — expected low|medium|high|max|xhigh (qwen3.8 dial: low|medium|xhigh; GLM-5.3: "
           "low|high|max)"},
      {{"image", "p", "--model", "qwen-image", "--n", value}, 2, "--n needs an integer, got " + q},
      {{"image", "p", "--seed", value}, 2, "--seed needs an integer, got " + q},
      {{"video", "p", "--duration", value}, 2, "--duration needs an integer, got " + q},
      {{"models", "--kind", value}, 2, "unknown kind " + q + " — expected chat|image|video|speech"},
      {{"status", "--host", value}, 2, "unknown host " + q + " — expected intl or asia"},
      {{"task", "t", "--host", value},
       1,
       "orvik-nimbra: unknown host " + q +
           " — expected one of: intl (dashscope-intl.aliyuncs.com), asia "
           "(token-plan.ap-southeast-1.maas.aliyuncs.com)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[c.args.size() - 2]);
    const Result r = sb.run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err + "\n");
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(Hostile, EditFilesThatAreNotPlainFiles) {
  fs::create_directory(sb.root() / "d.png");
  ASSERT_EQ(::mkfifo((sb.root() / "f.png").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", sb.root() / "z.png");
  struct Case {
    const char* path;
    std::string err;
  } cases[] = {
      {"d.png", "cannot read d.png: Is a directory"},
      // A FIFO without a writer would block the open, and its reads, forever.
      {"f.png", "cannot read f.png: not a regular file"},
      {"z.png", "cannot read z.png: not a regular file"},
      {"missing.png", "cannot read missing.png: No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Result r = sb.run({"image", "p", "--edit", c.path}, 20);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "orvik-nimbra: " + c.err + "\n");
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(Hostile, EditFileWithoutReadPermission) {
  sb.write(sb.root() / "secret.png", "PNG", 0000);
  Result r;
  if (!run_bound_by_permissions({"image", "p", "--edit", "secret.png"}, r))
    GTEST_SKIP() << "running as root and setpriv cannot drop the file-permission capabilities";
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "orvik-nimbra: cannot read secret.png: Permission denied\n");
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(Hostile, EditFileAtTheCapAndOneByteOver) {
  const std::string at_cap(CAP, '\x89');
  sb.write(sb.root() / "at.png", at_cap);
  sb.write(sb.root() / "over.png", std::string(CAP + 1, '\x89'));
  answer_with_pictures({"/files/out.png"});
  server.on("GET", "/files/out.png", Reply::text(200, "image/png", "PNG"));

  const Result over = sb.run({"image", "p", "--edit", "over.png"});
  EXPECT_EQ(over.status, 1);
  EXPECT_EQ(over.err, "orvik-nimbra: over.png is over the 10 MB input cap\n");
  EXPECT_TRUE(server.requests().empty());

  const Result at = sb.run({"image", "p", "--edit", "at.png"});
  EXPECT_EQ(at.status, 0) << at.err;
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body,
            R"({"model":"qwen-image-edit-max","input":{"messages":[{"role":"user","content":[)"
            R"({"image":"data:image/png;base64,)" +
                base64(at_cap) +
                R"("},{"text":"p"}]}]},"parameters":{"prompt_extend":true,"watermark":false}})");
}

TEST_F(Hostile, GalleryThatIsNotADirectory) {
  answer_with_pictures({"/files/a.png"});
  server.on("GET", "/files/a.png", Reply::text(200, "image/png", "PNG"));
  struct Case {
    const char* name;
    const char* file;  // a file where a directory should be
    std::string err;
  } cases[] = {
      {"the gallery is a file", "Pictures/generated",
       "cannot create " + gallery().string() + ": Not a directory"},
      {"its parent is a file", "Pictures",
       "cannot create " + gallery().string() + ": Not a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(sb.home() / "Pictures");
    sb.write(c.file, "not a directory");
    const Result r = sb.run({"image", "p", "--model", "z-image-turbo"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "orvik-nimbra: " + c.err + "\n");
    EXPECT_EQ(bb::read_file(sb.home() / c.file), "not a directory");
  }
  // The picture is never fetched when it has nowhere to go.
  for (const auto& request : server.requests()) EXPECT_EQ(request.method, "POST");
}

TEST_F(Hostile, ReadOnlyGallery) {
  answer_with_pictures({"/files/a.png"});
  server.on("GET", "/files/a.png", Reply::text(200, "image/png", "PNG"));
  fs::create_directories(gallery());
  fs::permissions(gallery(), fs::perms::owner_read | fs::perms::owner_exec);
  Result r;
  if (!run_bound_by_permissions({"image", "p", "--model", "z-image-turbo"}, r))
    GTEST_SKIP() << "running as root and setpriv cannot drop the file-permission capabilities";
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  const std::string head = "orvik-nimbra: cannot write " + gallery().string() + "/nmb-image-";
  EXPECT_TRUE(r.err.starts_with(head) && r.err.ends_with("-0.png: Permission denied\n")) << r.err;
  EXPECT_EQ(gallery_entries(), std::vector<std::string>{});
  EXPECT_EQ(server.requests().size(), 1u);  // nothing is fetched
}

TEST_F(Hostile, FullGalleryKeepsEarlierFilesAndNoPartOfTheLast) {
  // A 64 KiB file system mounted over the gallery in a private namespace.
  fs::create_directories(gallery());
  const std::string script =
      "mount -t tmpfs -o size=64k tmpfs \"$0\" || exit 97\n"
      "listing=$1; shift\n"
      "\"$@\"; status=$?\n"
      "ls -A \"$0\" > \"$listing\"\n"
      "exit $status\n";
  const fs::path listing = sb.root() / "listing.txt";
  const Result probe =
      sb.run_program("/usr/bin/unshare",
                     {"-rm", "/bin/sh", "-c", script, gallery().string(), listing, "/bin/true"});
  if (probe.status != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs in a private namespace here: " << probe.err;

  answer_with_pictures({"/files/small.png", "/files/big.png"});
  server.on("GET", "/files/small.png", Reply::text(200, "image/png", std::string(1000, 's')));
  server.on("GET", "/files/big.png", Reply::text(200, "image/png", std::string(200000, 'b')));
  const Result r = sb.run_program("/usr/bin/unshare",
                                  {"-rm", "/bin/sh", "-c", script, gallery().string(), listing,
                                   nimbra_binary(), "image", "p", "--model", "z-image-turbo"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  const std::string head = "orvik-nimbra: cannot write " + gallery().string() + "/nmb-image-";
  EXPECT_TRUE(r.err.starts_with(head) && r.err.ends_with("-1.png: No space left on device\n"))
      << r.err;
  // The first picture stays, complete; nothing of the second is left.
  const std::string names = read_file(listing);
  EXPECT_TRUE(names.starts_with("nmb-image-") && names.ends_with("-0.png\n") &&
              std::ranges::count(names, '\n') == 1)
      << names;
}

TEST(HostileHome, HomeWithSpacesQuotesAndNonAsciiCharacters) {
  FakeServer server;
  Sandbox sb;
  sb.use_server(server.base_url());
  const fs::path home = sb.root() / "my home" / "Jürgen's $(touch pwned) \"日本\"";
  sb.env["HOME"] = home.string();
  sb.write(home / ".local/bin/secrets",
           "#!/bin/sh\n[ \"$2\" = DASHSCOPE_API_KEY ] && echo sk-from-secrets\n", 0755);
  sb.write(home / ".orvik/config/secrets.json", R"({"env_file": "~/my keys.env"})");
  sb.write(home / "my keys.env", "MY_TOKEN_PLAN_KEY=sk-sp-home\n");
  sb.write(home / ".orvik/config/alicloud-accounts.json",
           R"({"accounts":[{"name":"me","keys":[{"host":"token-plan-ap-southeast-1",)"
           R"("env":"MY_TOKEN_PLAN_KEY"}]}]})");

  const Result accounts = sb.run({"accounts"});
  EXPECT_EQ(accounts.status, 0) << accounts.err;
  EXPECT_EQ(accounts.out,
            "config  " + (home / ".orvik/config/alicloud-accounts.json").string() +
                "\n"
                "        accounts file present (enrichment)\n"
                "host    intl                         key present (from "
                "secrets:DASHSCOPE_API_KEY, 15 chars) — pay-as-you-go key (sk-…)\n"
                "host    asia                         key present (from "
                "accounts:me/env:MY_TOKEN_PLAN_KEY, 10 chars) — token-plan key (sk-sp-…)\n");

  server.on("POST", SYNC,
            Reply::json(200, R"({"output":{"choices":[{"message":{"content":[{"image":")" +
                                 server.base_url() + R"(/files/a.png"}]}}]}})"));
  server.on("GET", "/files/a.png", Reply::text(200, "image/png", "PNG"));
  const Result image = sb.run({"image", "p", "--model", "z-image-turbo", "--json"});
  EXPECT_EQ(image.status, 0) << image.err;
  const auto names = sb.files_in(home / "Pictures/generated");
  ASSERT_EQ(names.size(), 1u);
  const std::string saved = (home / "Pictures/generated" / names[0]).string();
  // Only the quotes are escaped in JSON; the other characters stay as they are.
  std::string escaped = saved;
  for (std::size_t at = 0; (at = escaped.find('"', at)) != std::string::npos; at += 2)
    escaped.insert(at, "\\");
  EXPECT_EQ(image.out, "{\"paths\":[\"" + escaped +
                           "\"],\"host\":\"intl\",\"request_id\":null,"
                           "\"usage\":null}\n");
  EXPECT_EQ(read_file(saved), "PNG");
  EXPECT_EQ(server.requests()[0].header("Authorization"), "Bearer sk-from-secrets");

  const Result gallery = sb.run({"gallery"});
  EXPECT_EQ(gallery.out, saved + "\n");
  EXPECT_FALSE(fs::exists(sb.root() / "pwned"));
  EXPECT_FALSE(fs::exists("pwned"));
}

}  // namespace
}  // namespace bb
