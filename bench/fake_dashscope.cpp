// A fake DashScope for the benchmarks, on 127.0.0.1. Prints its port on the
// first line of standard output, then serves until it is killed:
//   POST /compatible-mode/v1/chat/completions  an event stream of N deltas;
//        each delta's text is the CLOCK_MONOTONIC time (ns) of its write and
//        a line feed, so a reader can tell how long it took to show up
//   GET  /blob/<bytes>.<ext>                   that many bytes, streamed
//   POST /api/v1/services/aigc/multimodal-generation/generation
//        a synchronous image answer pointing at /blob/1024.png
//   GET  /api/v1/tasks/<id>                    a SUCCEEDED video task whose
//        video_url is /blob/<id>, so `task 209715200.mp4` saves 200 MiB
// Options: --port P (default 0, any free port), --deltas N (default 20000),
// --interval-us U (pause between deltas, default 0).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

namespace {

struct Options {
  int port = 0;
  long deltas = 20000;
  long interval_us = 0;
};

Options g_options;
int g_port = 0;

long long monotonic_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// One chunk of a chunked body.
bool write_chunk(int fd, std::string_view data) {
  char size[32];
  std::snprintf(size, sizeof size, "%zx\r\n", data.size());
  std::string chunk = size;
  chunk.append(data);
  chunk += "\r\n";
  return write_all(fd, chunk);
}

void pause_us(long us) {
  if (us <= 0) return;
  timespec ts{us / 1000000, (us % 1000000) * 1000};
  nanosleep(&ts, nullptr);
}

void serve_stream(int fd) {
  if (!write_all(fd,
                 "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
                 "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n"))
    return;
  char line[160];
  for (long i = 0; i < g_options.deltas; ++i) {
    pause_us(g_options.interval_us);
    std::snprintf(line, sizeof line,
                  "data: {\"choices\":[{\"delta\":{\"content\":\"%lld\\n\"},\"finish_reason\":null,"
                  "\"index\":0}],\"object\":\"chat.completion.chunk\"}\n\n",
                  monotonic_ns());
    if (!write_chunk(fd, line)) return;
  }
  write_chunk(fd,
              "data: {\"choices\":[{\"delta\":{\"content\":\"\"},\"finish_reason\":\"stop\","
              "\"index\":0}]}\n\ndata: {\"choices\":[],\"usage\":{\"prompt_tokens\":3,"
              "\"completion_tokens\":20000}}\n\ndata: [DONE]\n\n");
  write_all(fd, "0\r\n\r\n");
}

void serve_blob(int fd, std::string_view target) {
  const long long bytes = std::atoll(std::string(target.substr(6)).c_str());
  std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
      std::to_string(bytes) + "\r\nConnection: close\r\n\r\n";
  if (!write_all(fd, head)) return;
  const std::string block(65536, '\x5a');
  for (long long left = bytes; left > 0;) {
    const auto n = static_cast<std::size_t>(std::min<long long>(left, 65536));
    if (!write_all(fd, std::string_view(block).substr(0, n))) return;
    left -= static_cast<long long>(n);
  }
}

void serve_json(int fd, int status, const std::string& body) {
  const std::string head =
      "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Not Found") +
      "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\nConnection: close\r\n\r\n";
  write_all(fd, head + body);
}

// Reads the head and the body (by Content-Length); returns the request line.
std::string read_request(int fd) {
  std::string data;
  char buf[65536];
  std::size_t end;
  while ((end = data.find("\r\n\r\n")) == std::string::npos) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return {};
    data.append(buf, static_cast<std::size_t>(n));
  }
  std::size_t length = 0;
  for (const char* name : {"\r\nContent-Length:", "\r\ncontent-length:"})
    if (const auto at = data.find(name); at != std::string::npos && at < end)
      length = std::strtoul(data.c_str() + at + std::strlen(name), nullptr, 10);
  while (data.size() < end + 4 + length) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  return data.substr(0, data.find("\r\n"));
}

void handle(int fd) {
  const std::string request_line = read_request(fd);
  const auto sp1 = request_line.find(' ');
  const auto sp2 = request_line.rfind(' ');
  if (sp1 != std::string::npos && sp2 > sp1) {
    const std::string method = request_line.substr(0, sp1);
    const std::string target = request_line.substr(sp1 + 1, sp2 - sp1 - 1);
    if (method == "POST" && target == "/compatible-mode/v1/chat/completions") {
      serve_stream(fd);
    } else if (method == "GET" && target.starts_with("/blob/")) {
      serve_blob(fd, target);
    } else if (method == "POST" &&
               target == "/api/v1/services/aigc/multimodal-generation/generation") {
      serve_json(
          fd, 200,
          "{\"output\":{\"choices\":[{\"message\":{\"content\":[{\"image\":\"http://127.0.0.1:" +
              std::to_string(g_port) + "/blob/1024.png\"}]}}]}}");
    } else if (method == "GET" && target.starts_with("/api/v1/tasks/")) {
      const std::string id = target.substr(14);
      serve_json(fd, 200,
                 "{\"output\":{\"task_id\":\"" + id +
                     "\",\"task_status\":\"SUCCEEDED\",\"video_url\":\"http://127.0.0.1:" +
                     std::to_string(g_port) + "/blob/" + id + "\"}}");
    } else {
      serve_json(fd, 404, "{\"code\":\"NotFound\",\"message\":\"no such route\"}");
    }
  }
  ::shutdown(fd, SHUT_WR);
  char buf[4096];
  while (::recv(fd, buf, sizeof buf, 0) > 0) {
  }
  ::close(fd);
}

bool parse_options(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view name = argv[i];
    const long value = std::strtol(argv[i + 1], nullptr, 10);
    if (name == "--port")
      g_options.port = static_cast<int>(value);
    else if (name == "--deltas")
      g_options.deltas = value;
    else if (name == "--interval-us")
      g_options.interval_us = value;
    else
      return false;
  }
  return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!parse_options(argc, argv)) {
    std::fprintf(stderr, "usage: fake-dashscope [--port P] [--deltas N] [--interval-us U]\n");
    return 2;
  }
  const int listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(g_options.port));
  if (::bind(listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd, 64) != 0) {
    std::perror("fake-dashscope: bind/listen");
    return 1;
  }
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd, reinterpret_cast<sockaddr*>(&addr), &len);
  g_port = ntohs(addr.sin_port);
  std::printf("%d\n", g_port);
  std::fflush(stdout);
  for (;;) {
    const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread(handle, fd).detach();
  }
}
