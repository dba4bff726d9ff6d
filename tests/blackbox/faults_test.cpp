// Faults on every kind of call the commands make: an authenticated GET
// (task), a POST (speech), the streamed chat and a result download (a
// synchronous image). Each fault is tried on each kind with the exact
// message, exit status and gallery contents it must leave.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "fake_server.hpp"
#include "harness.hpp"

namespace bb {
namespace {

constexpr const char* KEY = "sk-faults-9f8e7d";
constexpr const char* TASK = "/api/v1/tasks/t-1";
// Speech and the synchronous image lane share this path.
constexpr const char* SYNC = "/api/v1/services/aigc/multimodal-generation/generation";
constexpr const char* CHAT = "/compatible-mode/v1/chat/completions";
constexpr const char* FILE_PATH = "/files/f.png";

// A loopback port with nothing listening on it.
int dead_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

// Elapsed times in the client's own texts vary from run to run.
std::string without_times(const std::string& text) {
  static const std::regex ms(R"(after [0-9]+ (ms|milliseconds))");
  return std::regex_replace(text, ms, "after N $1");
}

std::string delta(const std::string& text) {
  return R"(data: {"choices":[{"delta":{"content":")" + text + R"("}}]})";
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

enum class Kind { Get, Post, Stream, Download };

// One kind of call: the command that makes it, the route it asks, and the
// good answer the faults are made of.
struct CallKind {
  Kind kind;
  const char* name;
  std::vector<std::string> args;
  std::string method, target, content_type;
  std::string good_body;  // the whole good answer
  std::string prefix;     // a leading piece of it
  std::string ok_out;     // stdout on success; "{saved}" is the saved path
  std::string saved;      // content of the saved file on success, if any
};

// A fresh host, a second server on another loopback port, and a sandbox.
struct World {
  explicit World(const CallKind& k) : kind(k) {
    sb.env["DASHSCOPE_API_KEY"] = KEY;
    sb.use_server(server.base_url());
    file_url = server.base_url() + FILE_PATH;
  }
  [[nodiscard]] fs::path gallery() const { return sb.home() / "Pictures" / "generated"; }
  // Every entry of the gallery, hidden ones included.
  [[nodiscard]] std::vector<std::string> gallery_entries() const {
    return sb.entries_in(gallery());
  }
  // The good answer; "{base}" in it is this world's host.
  [[nodiscard]] std::string good_body() const {
    return replace_all(kind.good_body, "{base}", server.base_url());
  }
  [[nodiscard]] Reply good() const { return Reply::text(200, kind.content_type, good_body()); }

  const CallKind& kind;
  FakeServer server;
  FakeServer other;
  Sandbox sb;
  std::string file_url;  // where the synchronous image answer points
  int dead = 0;          // the refused port, when a fault uses one
};

std::vector<CallKind> call_kinds() {
  const std::string task =
      R"({"output":{"task_id":"t-1","task_status":"RUNNING"},"request_id":"r-1"})";
  const std::string speech =
      R"({"output":{"audio":{"url":"{base}/files/a.wav"}},"request_id":"r-2"})";
  const std::string stream = delta("Hel") + "\n" + delta("lo") + "\n";
  return {
      {Kind::Get,
       "GET",
       {"task", "t-1"},
       "GET",
       TASK,
       "application/json",
       task,
       task.substr(0, 20),
       "task t-1: RUNNING — resume with: orvik nimbra task t-1 --wait\n",
       ""},
      {Kind::Post,
       "POST",
       {"speech", "hi"},
       "POST",
       SYNC,
       "application/json",
       speech,
       speech.substr(0, 20),
       "{saved}\n",
       "RIFF-audio"},
      {Kind::Stream,
       "stream",
       {"chat", "hi"},
       "POST",
       CHAT,
       "text/event-stream",
       stream + "data: [DONE]\n",
       stream,
       "Hello\n",
       ""},
      {Kind::Download,
       "download",
       {"image", "p", "--model", "z-image-turbo"},
       "GET",
       FILE_PATH,
       "image/png",
       "PNG-picture-bytes",
       "PNG-pic",
       "{saved}\n",
       "PNG-picture-bytes"},
  };
}

// What a fault must lead to on one kind of call.
struct Outcome {
  bool applies = false;
  int status = 0;
  std::string out;  // "{ok}" stands for the kind's success output
  std::string err;
};
Outcome ok() { return {true, 0, "{ok}", ""}; }
Outcome fails(const std::string& message, const std::string& out = "") {
  return {true, 1, out, "orvik-nimbra: " + message + "\n"};
}
Outcome not_tried() { return {}; }

struct Fault {
  const char* name;
  // Scripts the fault and returns the reply for the kind's route.
  std::function<Reply(World&)> make;
  Outcome get, post, stream, download;
  bool via_other = false;  // the answer comes from the second server
};

std::string chunked_head(const std::string& content_type) {
  return "HTTP/1.1 200 OK\r\nContent-Type: " + content_type +
         "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
}

std::string hex(std::size_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%zx", n);
  return buf;
}

// A JSON error body of exactly `size` bytes.
std::string error_body_of(std::size_t size) {
  const std::string head = R"({"code":"Big","message":"big","pad":")";
  const std::string tail = R"("})";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

std::vector<Fault> faults() {
  const std::size_t cap = 10 * 1024 * 1024;
  const std::string refused =
      "Failed to connect to 127.0.0.1 port {dead} after N ms: "
      "Couldn't connect to server";
  const std::string not_json =
      "answer from intl was not JSON: Failed to read JSON: [json.exception.parse_error.101] "
      "parse error at line 1, column 1: syntax error while parsing value - invalid literal; last "
      "read: '<'";
  const std::string rate =
      "HTTP 429 from intl ({base}): [Throttling.RateQuota] Requests rate limit exceeded, please "
      "try again later. (request_id r-429)";
  return {
      {"connection refused",
       [](World& w) {
         w.dead = dead_port();
         const std::string url = "http://127.0.0.1:" + std::to_string(w.dead);
         if (w.kind.kind == Kind::Download)
           w.file_url = url + FILE_PATH;
         else
           w.sb.use_server(url);
         return w.good();
       },
       fails("transport to intl: " + refused), fails("transport to intl: " + refused),
       fails("transport to intl: " + refused), fails("transport fetching result URL: " + refused)},
      {"closed before the status line", [](World&) { return Reply::raw(""); },
       fails("transport to intl: Empty reply from server"),
       fails("transport to intl: Empty reply from server"),
       fails("transport to intl: Empty reply from server"),
       fails("transport fetching result URL: Empty reply from server")},
      {"closed inside the answer head",
       [](World&) { return Reply::raw("HTTP/1.1 200 OK\r\nContent-Type: text/pl"); },
       fails("transport to intl: no answer arrived"), fails("transport to intl: no answer arrived"),
       fails("transport to intl: no answer arrived"),
       fails("transport fetching result URL: no answer arrived")},
      {"closed mid-body",
       [](World& w) {
         return Reply::raw("HTTP/1.1 200 OK\r\nContent-Type: " + w.kind.content_type +
                           "\r\nContent-Length: 1000\r\n\r\n" + w.kind.prefix);
       },
       fails("answer from intl was not JSON: transfer closed with 980 bytes remaining to read"),
       fails("answer from intl was not JSON: transfer closed with 980 bytes remaining to read"),
       fails("reading stream from intl: transfer closed with 905 bytes remaining to read", "Hello"),
       fails("reading result body: transfer closed with 993 bytes remaining to read")},
      {"chunked body closed mid-way, after some deltas",
       [](World& w) {
         return Reply::raw(chunked_head(w.kind.content_type) + hex(w.kind.prefix.size()) + "\r\n" +
                           w.kind.prefix + "\r\n");
       },
       fails("answer from intl was not JSON: transfer closed with outstanding read data "
             "remaining"),
       fails("answer from intl was not JSON: transfer closed with outstanding read data "
             "remaining"),
       fails("reading stream from intl: transfer closed with outstanding read data remaining",
             "Hello"),
       fails("reading result body: transfer closed with outstanding read data remaining")},
      {"500 with an HTML body",
       [](World&) {
         return Reply::text(500, "text/html",
                            "<!DOCTYPE html>\r\n<html><body>Internal error</body></html>\r\n");
       },
       fails("HTTP 500 from intl ({base}): <!DOCTYPE html>"),
       fails("HTTP 500 from intl ({base}): <!DOCTYPE html>"),
       fails("HTTP 500 from intl ({base}): <!DOCTYPE html>"),
       fails("HTTP 500 fetching result URL")},
      {"429 with a JSON body",
       [](World&) {
         return Reply::json(429,
                            R"({"code":"Throttling.RateQuota","message":"Requests rate limit )"
                            R"(exceeded, please try again later.","request_id":"r-429"})",
                            {{"Retry-After", "1"}});
       },
       fails(rate), fails(rate), fails(rate), fails("HTTP 429 fetching result URL")},
      {"error body of exactly 10 MiB",
       [cap](World&) { return Reply::json(500, error_body_of(cap)); },
       fails("HTTP 500 from intl ({base}): [Big] big"),
       fails("HTTP 500 from intl ({base}): [Big] big"),
       fails("HTTP 500 from intl ({base}): [Big] big"), fails("HTTP 500 fetching result URL")},
      {"error body one byte over 10 MiB",
       [cap](World&) { return Reply::json(500, error_body_of(cap + 1)); },
       fails("HTTP 500 from intl ({base}): "), fails("HTTP 500 from intl ({base}): "),
       fails("HTTP 500 from intl ({base}): "), fails("HTTP 500 fetching result URL")},
      {"gzip body",
       [](World& w) {
         return Reply::text(200, w.kind.content_type, gzip(w.good_body()),
                            {{"Content-Encoding", "gzip"}});
       },
       ok(), ok(), ok(), ok()},
      {"gzip body that does not inflate",
       [](World& w) {
         return Reply::text(200, w.kind.content_type, "\x1f\x8b\x08 not really gzip",
                            {{"Content-Encoding", "gzip"}});
       },
       fails("answer from intl was not JSON: {gzip}"),
       fails("answer from intl was not JSON: {gzip}"), fails("reading stream from intl: {gzip}"),
       fails("reading result body: {gzip}")},
      {"redirect to another loopback port",
       [](World& w) {
         w.other.on(w.kind.method, w.kind.target, w.good());
         return Reply::json(307, "{}", {{"Location", w.other.base_url() + w.kind.target}});
       },
       ok(), ok(), ok(), ok(), true},
      {"redirect loop",
       [](World& w) {
         return Reply::json(307, "{}", {{"Location", w.kind.target}});
       },
       fails("transport to intl: Maximum (5) redirects followed"),
       fails("transport to intl: Maximum (5) redirects followed"),
       fails("transport to intl: Maximum (5) redirects followed"),
       fails("transport fetching result URL: Maximum (5) redirects followed")},
      {"200 that is not JSON", [](World&) { return Reply::text(200, "text/html", "<html>ok"); },
       fails(not_json), fails(not_json), fails("the model returned no text"), not_tried()},
      {"answer that is not valid UTF-8",
       [](World& w) {
         if (w.kind.kind == Kind::Stream)
           return Reply::sse({delta("Hel"), delta("lo"), delta("\xff\xfe"), delta("never")});
         return Reply::json(200, R"({"output":{"task_status":"RUN)"
                                 "\xff"
                                 R"("}})");
       },
       fails("answer from intl was not JSON: Failed to read JSON: "
             "[json.exception.parse_error.101] parse error at line 1, column 30: syntax error "
             "while parsing value - invalid string: ill-formed UTF-8 byte; last read: "
             "'\"RUN\xef\xbf\xbd'"),
       fails("answer from intl was not JSON: Failed to read JSON: "
             "[json.exception.parse_error.101] parse error at line 1, column 30: syntax error "
             "while parsing value - invalid string: ill-formed UTF-8 byte; last read: "
             "'\"RUN\xef\xbf\xbd'"),
       fails("reading stream from intl: stream did not contain valid UTF-8", "Hello"), not_tried()},
  };
}

const Outcome& outcome_for(const Fault& fault, Kind kind) {
  switch (kind) {
    case Kind::Get:
      return fault.get;
    case Kind::Post:
      return fault.post;
    case Kind::Stream:
      return fault.stream;
    case Kind::Download:
      break;
  }
  return fault.download;
}

// Runs one fault on one kind of call and checks everything it left.
void try_fault(const CallKind& kind, const Fault& fault, const std::string& gzip_error) {
  const Outcome& want = outcome_for(fault, kind.kind);
  if (!want.applies) return;
  SCOPED_TRACE(std::string(kind.name) + ": " + fault.name);
  World w(kind);
  Reply reply = fault.make(w);
  // The good answers that the faulty one leads to, or that lead to it.
  if (kind.kind == Kind::Post) {
    w.server.on("GET", "/files/a.wav", Reply::text(200, "audio/wav", "RIFF-audio"));
  }
  if (kind.kind == Kind::Download) {
    w.server.on("POST", SYNC,
                Reply::json(200, R"({"output":{"choices":[{"message":{"content":[{"image":")" +
                                     w.file_url + R"("}]}}]}})"));
  }
  w.server.on(kind.method, kind.target, std::move(reply));

  const Result r = w.sb.run(kind.args, 30);
  const auto entries = w.gallery_entries();
  const std::string saved = entries.size() == 1 ? (w.gallery() / entries[0]).string() : "?";
  std::string out = replace_all(want.out, "{ok}", kind.ok_out);
  out = replace_all(out, "{saved}", saved);
  std::string err = replace_all(want.err, "{base}", w.server.base_url());
  err = replace_all(err, "{dead}", std::to_string(w.dead));
  err = replace_all(err, "{gzip}", gzip_error);
  EXPECT_EQ(r.status, want.status);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(without_times(r.err), err);

  // The gallery holds complete files only: the one saved file on success,
  // nothing at all (no temporary file either) after a failure.
  if (want.status == 0 && !kind.saved.empty()) {
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].starts_with("nmb-")) << entries[0];
    EXPECT_EQ(read_file(w.gallery() / entries[0]), kind.saved);
  } else {
    EXPECT_EQ(entries, std::vector<std::string>{});
  }
  if (fault.via_other) {
    const auto moved = w.other.requests();
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].method, kind.method);
    EXPECT_EQ(moved[0].header("Authorization"), std::nullopt);  // the key stays with its host
    const auto first = w.server.requests();
    const auto asked = std::ranges::find(first, kind.target, &Request::target);
    ASSERT_NE(asked, first.end());
    EXPECT_EQ(moved[0].body, asked->body);  // a 307 sends the same body again
  }
}

// libcurl's own words for a body that does not inflate.
const std::string& gzip_error() {
  static const std::string text = [] {
    const CallKind get = call_kinds()[0];
    World probe(get);
    probe.server.on("GET", TASK,
                    Reply::text(200, "application/json", "\x1f\x8b\x08 not really gzip",
                                {{"Content-Encoding", "gzip"}}));
    const Result r = probe.sb.run(get.args, 30);
    const std::string head = "orvik-nimbra: answer from intl was not JSON: ";
    EXPECT_TRUE(r.err.starts_with(head) && r.err.find("unencoding") != std::string::npos) << r.err;
    return r.err.size() > head.size() ? r.err.substr(head.size(), r.err.size() - head.size() - 1)
                                      : std::string();
  }();
  return text;
}

void try_every_fault(Kind kind) {
  const auto kinds = call_kinds();
  const auto it = std::ranges::find(kinds, kind, &CallKind::kind);
  for (const Fault& fault : faults()) try_fault(*it, fault, gzip_error());
}

TEST(Faults, AuthenticatedGet) { try_every_fault(Kind::Get); }
TEST(Faults, Post) { try_every_fault(Kind::Post); }
TEST(Faults, StreamedChat) { try_every_fault(Kind::Stream); }
TEST(Faults, Download) { try_every_fault(Kind::Download); }

// Interrupted while a picture arrives: the hidden temporary file goes with
// the process, and the process still dies of the signal it got.
TEST(Faults, InterruptedDownloadLeavesNothing) {
  const CallKind download = call_kinds()[3];
  for (const char* signal : {"INT", "TERM", "HUP"}) {
    SCOPED_TRACE(signal);
    World w(download);
    w.server.on("POST", SYNC,
                Reply::json(200, R"({"output":{"choices":[{"message":{"content":[{"image":")" +
                                     w.file_url + R"("}]}}]}})"));
    // Half the picture, then a long pause before the rest.
    w.server.on(
        "GET", FILE_PATH,
        Reply::raw("HTTP/1.1 200 OK\r\nContent-Length: 2000000\r\n\r\n" + std::string(1000000, 'p'))
            .then(std::string(1000000, 'q'), 20000));
    // Waits until the temporary file exists, then interrupts the program
    // (a background job of a shell would otherwise ignore SIGINT).
    const std::string script =
        "env --default-signal \"$@\" & pid=$!\n"
        "until ls -A \"$0\" 2>/dev/null | grep -q part; do sleep 0.05; done\n"
        "kill -" +
        std::string(signal) +
        " $pid\n"
        "wait $pid\n"
        "echo \"status $?\"\n";
    std::vector<std::string> args = {"-c", script, w.gallery().string(), nimbra_binary()};
    args.insert(args.end(), download.args.begin(), download.args.end());
    const Result r = w.sb.run_program("/bin/sh", args, 30);
    EXPECT_EQ(r.out, "status " +
                         std::to_string(128 + (signal[0] == 'I'   ? 2
                                               : signal[0] == 'T' ? 15
                                                                  : 1)) +
                         "\n");
    EXPECT_EQ(w.gallery_entries(), std::vector<std::string>{});
  }
}

// The one timed check: the status probe has the shortest deadline (15 s),
// and a host that accepts the connection and never answers must not hold
// the command much longer than that.
TEST(Faults, SilentHostEndsAtTheOverallDeadline) {
  const CallKind get = call_kinds()[0];
  World w(get);
  w.server.on("GET", "/api/v1/tasks/", Reply::silent());
  const auto start = std::chrono::steady_clock::now();
  const Result r = w.sb.run({"status", "--host", "intl"}, 30);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_times(r.out),
            "host    intl                         key present (from env:DASHSCOPE_API_KEY, 16 "
            "chars) — UNREACHABLE: transport to intl: Operation timed out after N milliseconds "
            "with 0 bytes received\n");
  EXPECT_EQ(r.err, "");
  EXPECT_GE(took, std::chrono::seconds(14));
  EXPECT_LT(took, std::chrono::seconds(17));
}

}  // namespace
}  // namespace bb
