#include "fake_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace bb {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::ranges::transform(out, out.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// One accepted connection, plain or TLS.
struct Conn {
  int fd = -1;
  SSL* ssl = nullptr;

  ~Conn() {
    if (ssl != nullptr) SSL_free(ssl);
  }
  // Bytes already decrypted and waiting count as readable.
  bool readable(int timeout_ms) const {
    if (ssl != nullptr && SSL_pending(ssl) > 0) return true;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) > 0;
  }
  ssize_t recv(char* buf, std::size_t size) {
    if (ssl == nullptr) return ::recv(fd, buf, size, 0);
    const int n = SSL_read(ssl, buf, static_cast<int>(size));
    return n > 0 ? n : -1;
  }
  bool write_all(std::string_view data) {
    while (!data.empty()) {
      ssize_t n;
      if (ssl == nullptr)
        n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
      else
        n = SSL_write(ssl, data.data(), static_cast<int>(data.size()));
      if (n <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  void shutdown_write() {
    if (ssl != nullptr) SSL_shutdown(ssl);
    ::shutdown(fd, SHUT_WR);
  }
};

std::string head(int status, std::string_view content_type, std::size_t length,
                 const std::vector<std::pair<std::string, std::string>>& headers) {
  std::string h = "HTTP/1.1 " + std::to_string(status) + " " + status_text(status) + "\r\n";
  if (!content_type.empty()) h += "Content-Type: " + std::string(content_type) + "\r\n";
  h += "Content-Length: " + std::to_string(length) + "\r\n";
  for (const auto& [k, v] : headers) h += k + ": " + v + "\r\n";
  h += "Connection: close\r\n\r\n";
  return h;
}

}  // namespace

std::optional<std::string> Request::header(std::string_view name) const {
  const auto want = lower(name);
  for (const auto& [k, v] : headers)
    if (lower(k) == want) return v;
  return std::nullopt;
}

std::vector<std::string> Request::header_names() const {
  std::vector<std::string> names;
  for (const auto& [k, v] : headers) names.push_back(lower(k));
  return names;
}

std::string status_text(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

std::string gzip(std::string_view data) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&zs, data.size()) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

Reply Reply::json(int status, std::string_view body,
                  const std::vector<std::pair<std::string, std::string>>& headers) {
  return text(status, "application/json", body, headers);
}

Reply Reply::text(int status, std::string_view content_type, std::string_view body,
                  const std::vector<std::pair<std::string, std::string>>& headers) {
  Reply r;
  r.steps.push_back({head(status, content_type, body.size(), headers) + std::string(body), 0});
  return r;
}

Reply Reply::sse(const std::vector<std::string>& lines, int delay_ms) {
  Reply r;
  r.steps.push_back(
      {"HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n", 0});
  for (const auto& line : lines) r.steps.push_back({line + "\n", delay_ms});
  return r;
}

Reply Reply::raw(std::string bytes) {
  Reply r;
  r.steps.push_back({std::move(bytes), 0});
  return r;
}

Reply Reply::silent() {
  Reply r;
  r.hang = true;
  return r;
}

Reply& Reply::then(std::string bytes, int delay_ms) {
  steps.push_back({std::move(bytes), delay_ms});
  return *this;
}

struct TlsContext {
  SSL_CTX* ctx = nullptr;
  ~TlsContext() { SSL_CTX_free(ctx); }
};

TlsIdentity make_self_signed(const std::filesystem::path& dir) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  if (key == nullptr || cert == nullptr) throw std::runtime_error("openssl: key or certificate");
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(::time(nullptr)));
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509V3_CTX v3;
  X509V3_set_ctx_nodb(&v3);
  X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
  for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                                   std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    if (ext == nullptr) throw std::runtime_error("openssl: extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
  if (X509_sign(cert, key, EVP_sha256()) == 0) throw std::runtime_error("openssl: sign");
  TlsIdentity id{dir / "fake-cert.pem", dir / "fake-key.pem"};
  FILE* c = std::fopen(id.cert_pem.c_str(), "w");
  FILE* k = std::fopen(id.key_pem.c_str(), "w");
  if (c == nullptr || k == nullptr) throw std::runtime_error("cannot write the PEM files");
  PEM_write_X509(c, cert);
  PEM_write_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(c);
  std::fclose(k);
  X509_free(cert);
  EVP_PKEY_free(key);
  return id;
}

FakeServer::FakeServer() { start(); }

FakeServer::FakeServer(const TlsIdentity& tls) {
  auto context = std::make_unique<TlsContext>();
  context->ctx = SSL_CTX_new(TLS_server_method());
  if (context->ctx == nullptr ||
      SSL_CTX_use_certificate_file(context->ctx, tls.cert_pem.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(context->ctx, tls.key_pem.c_str(), SSL_FILETYPE_PEM) != 1)
    throw std::runtime_error("cannot set up the TLS context");
  // SSL_write has no MSG_NOSIGNAL: a client that hangs up must not kill us.
  std::signal(SIGPIPE, SIG_IGN);
  tls_ = context.release();
  start();
}

void FakeServer::start() {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("socket");
  int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 16) != 0)
    throw std::runtime_error("bind/listen");
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { serve(); });
}

FakeServer::~FakeServer() {
  stop_ = true;
  ::shutdown(listen_fd_, SHUT_RDWR);
  ::close(listen_fd_);
  if (thread_.joinable()) thread_.join();
  delete tls_;
}

std::string FakeServer::base_url() const {
  return (tls_ != nullptr ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_);
}

void FakeServer::on(const std::string& method, const std::string& target, Reply reply) {
  std::lock_guard lock(mu_);
  Route& route = routes_[method + " " + target];
  if (route.front_served) route.queue.clear();
  route.front_served = false;
  route.queue.push_back(std::move(reply));
}

std::vector<Request> FakeServer::requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

Reply FakeServer::next_reply(const Request& request) {
  std::lock_guard lock(mu_);
  requests_.push_back(request);
  auto it = routes_.find(request.method + " " + request.target);
  if (it == routes_.end() || it->second.queue.empty())
    return Reply::json(404, R"({"code":"NotFound","message":"no scripted answer"})");
  auto& queue = it->second.queue;
  Reply r = queue.front();
  if (queue.size() > 1)
    queue.erase(queue.begin());
  else
    it->second.front_served = true;
  return r;
}

void FakeServer::serve() {
  while (!stop_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    handle(fd);
    ::close(fd);
  }
}

void FakeServer::handle(int fd) {
  Conn conn;
  conn.fd = fd;
  if (tls_ != nullptr) {
    // A client that refuses the certificate ends the handshake; so be it.
    timeval five{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &five, sizeof five);
    conn.ssl = SSL_new(tls_->ctx);
    if (conn.ssl == nullptr || SSL_set_fd(conn.ssl, fd) != 1 || SSL_accept(conn.ssl) != 1) {
      ERR_clear_error();
      return;
    }
  }
  std::string data;
  char buf[65536];
  auto read_more = [&]() {
    if (!conn.readable(5000)) return false;
    const ssize_t n = conn.recv(buf, sizeof buf);
    if (n <= 0) return false;
    data.append(buf, static_cast<std::size_t>(n));
    return true;
  };
  std::size_t end;
  while ((end = data.find("\r\n\r\n")) == std::string::npos)
    if (!read_more()) return;

  Request req;
  std::string_view head_text(data.data(), end);
  auto line_end = head_text.find("\r\n");
  const std::string_view request_line = head_text.substr(0, line_end);
  const auto sp1 = request_line.find(' ');
  const auto sp2 = request_line.rfind(' ');
  req.method = std::string(request_line.substr(0, sp1));
  req.target = std::string(request_line.substr(sp1 + 1, sp2 - sp1 - 1));
  std::size_t pos = line_end == std::string_view::npos ? head_text.size() : line_end + 2;
  while (pos < head_text.size()) {
    auto next = head_text.find("\r\n", pos);
    if (next == std::string_view::npos) next = head_text.size();
    const auto line = head_text.substr(pos, next - pos);
    const auto colon = line.find(':');
    if (colon != std::string_view::npos) {
      auto value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      req.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }
    pos = next + 2;
  }
  std::size_t length = 0;
  if (auto cl = req.header("Content-Length")) length = std::stoul(*cl);
  if (auto expect = req.header("Expect"); expect && lower(*expect) == "100-continue")
    conn.write_all("HTTP/1.1 100 Continue\r\n\r\n");
  const std::size_t body_start = end + 4;
  while (data.size() < body_start + length)
    if (!read_more()) break;
  req.body = data.substr(body_start, length);

  const Reply reply = next_reply(req);
  for (const auto& step : reply.steps) {
    for (int waited = 0; waited < step.delay_ms && !stop_; waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, step.delay_ms - waited)));
    if (!conn.write_all(step.bytes)) return;
  }
  if (reply.hang) {
    // Stay silent until the client gives up or the server stops.
    while (!stop_)
      if (conn.readable(100) && conn.recv(buf, sizeof buf) <= 0) return;
    return;
  }
  conn.shutdown_write();
  // Let the client read everything before the socket is closed.
  while (conn.readable(2000) && conn.recv(buf, sizeof buf) > 0) {
  }
}

}  // namespace bb
