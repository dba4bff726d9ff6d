// A scripted fake DashScope server on 127.0.0.1 (random port). Each test
// says, per method and path, what bytes to answer with (in pieces, with
// delays, closing early or never answering), and reads back every request.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace bb {

struct Request {
  std::string method;
  std::string target;                                        // path and query exactly as sent
  std::vector<std::pair<std::string, std::string>> headers;  // in order
  std::string body;

  // The first header of that name (case-insensitive).
  [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
  // Header names in order, lower-cased.
  [[nodiscard]] std::vector<std::string> header_names() const;
};

struct Step {
  std::string bytes;
  int delay_ms = 0;  // waited before the bytes are written
};

struct Reply {
  std::vector<Step> steps;
  bool hang = false;  // after the steps, keep the connection open, silent

  // A complete answer with Content-Length and Connection: close.
  static Reply json(int status, std::string_view body,
                    const std::vector<std::pair<std::string, std::string>>& headers = {});
  static Reply text(int status, std::string_view content_type, std::string_view body,
                    const std::vector<std::pair<std::string, std::string>>& headers = {});
  // A 200 event stream: the head, then each line plus "\n" as its own piece,
  // `delay_ms` before each line. The connection closes at the end.
  static Reply sse(const std::vector<std::string>& lines, int delay_ms = 0);
  // Exactly these bytes, then close.
  static Reply raw(std::string bytes);
  // Read the request and never answer.
  static Reply silent();

  Reply& then(std::string bytes, int delay_ms = 0);
};

[[nodiscard]] std::string status_text(int status);
[[nodiscard]] std::string gzip(std::string_view data);

// A freshly made self-signed certificate for 127.0.0.1 and localhost, and
// its private key, written as PEM files into `dir`.
struct TlsIdentity {
  std::filesystem::path cert_pem;
  std::filesystem::path key_pem;
};
[[nodiscard]] TlsIdentity make_self_signed(const std::filesystem::path& dir);

struct TlsContext;

class FakeServer {
 public:
  FakeServer();
  // The same server speaking HTTPS with this certificate.
  explicit FakeServer(const TlsIdentity& tls);
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  [[nodiscard]] int port() const { return port_; }
  // "http://127.0.0.1:PORT", or "https://..." for a TLS server.
  [[nodiscard]] std::string base_url() const;

  // Scripts the answers to `method target` (target matched exactly, query
  // included). Several calls queue replies; the last one repeats until
  // another is scripted. An unscripted request gets a 404 JSON answer.
  void on(const std::string& method, const std::string& target, Reply reply);

  [[nodiscard]] std::vector<Request> requests() const;

 private:
  void start();
  void serve();
  void handle(int fd);
  Reply next_reply(const Request& request);

  TlsContext* tls_ = nullptr;  // owned; null for plain HTTP
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  struct Route {
    std::vector<Reply> queue;
    bool front_served = false;  // the front reply is the repeating last one
  };
  std::map<std::string, Route> routes_;
  std::vector<Request> requests_;
  std::thread thread_;
};

}  // namespace bb
