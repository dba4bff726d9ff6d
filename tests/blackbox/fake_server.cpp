#include "fake_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace bb {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::ranges::transform(out, out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

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
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    default: return "Status";
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
  r.steps.push_back({"HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n", 0});
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

FakeServer::FakeServer() {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("socket");
  int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_fd_, 16) != 0)
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
}

std::string FakeServer::base_url() const { return "http://127.0.0.1:" + std::to_string(port_); }

void FakeServer::on(const std::string& method, const std::string& target, Reply reply) {
  std::lock_guard lock(mu_);
  routes_[method + " " + target].push_back(std::move(reply));
}

std::vector<Request> FakeServer::requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

Reply FakeServer::next_reply(const Request& request) {
  std::lock_guard lock(mu_);
  requests_.push_back(request);
  auto it = routes_.find(request.method + " " + request.target);
  if (it == routes_.end() || it->second.empty())
    return Reply::json(404, R"({"code":"NotFound","message":"no scripted answer"})");
  Reply r = it->second.front();
  if (it->second.size() > 1) it->second.erase(it->second.begin());
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
  std::string data;
  char buf[65536];
  auto read_more = [&]() {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
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
    write_all(fd, "HTTP/1.1 100 Continue\r\n\r\n");
  const std::size_t body_start = end + 4;
  while (data.size() < body_start + length)
    if (!read_more()) break;
  req.body = data.substr(body_start, length);

  const Reply reply = next_reply(req);
  for (const auto& step : reply.steps) {
    for (int waited = 0; waited < step.delay_ms && !stop_; waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, step.delay_ms - waited)));
    if (!write_all(fd, step.bytes)) return;
  }
  if (reply.hang) {
    // Stay silent until the client gives up or the server stops.
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0) return;
    }
    return;
  }
  ::shutdown(fd, SHUT_WR);
  // Let the client read everything before the socket is closed.
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, 2000) > 0 && ::recv(fd, buf, sizeof buf, 0) > 0) {
  }
}

}  // namespace bb
