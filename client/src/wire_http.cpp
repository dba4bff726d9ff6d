// The one place that includes libcurl: the handle and header-list owners,
// the transfer routine, and the debug callback that feeds the logger.
#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "orvik/logging.hpp"
#include "wire_transport.hpp"

namespace wire::transport {
namespace {

constexpr std::string_view LOG_CURL = "nimbra::wire::curl";
constexpr std::string_view LOG_TLS = "nimbra::wire::tls";
constexpr std::string_view LOG_HTTP = "nimbra::wire::http";
constexpr long MAX_REDIRECTS = 5;
constexpr std::string_view AUTH_MASK = "Authorization: Bearer [redacted]";
// Credentials written into a proxy URL are the user's secret too.
constexpr std::string_view PROXY_AUTH_MASK = "Proxy-Authorization: [redacted]";

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// libcurl's own description of a failure: the error buffer when it says
// something, the code's generic text otherwise.
std::string curl_error_text(CURLcode code, const char* buffer) {
  std::string text = buffer;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) text = curl_easy_strerror(code);
  return text;
}

bool iequals_prefix(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string_view strip_line_end(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// Connection and handshake texts that come from the TLS layer.
bool is_tls_text(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  for (const std::string_view prefix :
       {"SSL", "TLS", "ALPN",
        "subject:", "start date:", "expire date:", "issuer:", "subjectAltName",
        "Server certificate", "CAfile:", "CApath:", "successfully set certificate"})
    if (text.starts_with(prefix)) return true;
  return false;
}

// Header lines at trace, one record per line; credentials are replaced
// before the text reaches the logger.
void log_headers(std::string_view block, std::string_view direction) {
  while (!block.empty()) {
    const auto end = block.find('\n');
    std::string_view line = block.substr(0, end);
    block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
    line = strip_line_end(line);
    if (line.empty()) continue;
    std::string record(direction);
    if (iequals_prefix(line, "authorization:"))
      record += AUTH_MASK;
    else if (iequals_prefix(line, "proxy-authorization:"))
      record += PROXY_AUTH_MASK;
    else
      record += line;
    logging::log(logging::Level::Trace, LOG_HTTP, record);
  }
}

int on_debug(CURL*, curl_infotype type, char* data, size_t size, void*) {
  const std::string_view bytes(data, size);
  switch (type) {
    case CURLINFO_TEXT: {
      const auto line = strip_line_end(bytes);
      logging::log(logging::Level::Debug, is_tls_text(line) ? LOG_TLS : LOG_CURL, line);
      break;
    }
    case CURLINFO_HEADER_OUT:
      log_headers(bytes, "> ");
      break;
    case CURLINFO_HEADER_IN:
      log_headers(bytes, "< ");
      break;
    case CURLINFO_DATA_OUT:
      logging::log(logging::Level::Trace, LOG_HTTP, "sent " + std::to_string(size) + " body bytes");
      break;
    case CURLINFO_DATA_IN:
      logging::log(logging::Level::Trace, LOG_HTTP,
                   "received " + std::to_string(size) + " body bytes");
      break;
    case CURLINFO_SSL_DATA_OUT:
      logging::log(logging::Level::Trace, LOG_TLS, "sent " + std::to_string(size) + " TLS bytes");
      break;
    case CURLINFO_SSL_DATA_IN:
      logging::log(logging::Level::Trace, LOG_TLS,
                   "received " + std::to_string(size) + " TLS bytes");
      break;
    default:
      break;
  }
  return 0;
}

// What one transfer knows while it runs.
struct Transfer {
  CURL* handle = nullptr;
  const BodyHandler* on_body = nullptr;
  long pending_status = 0;  // status line of the header block being read
  bool pending_location = false;
  long final_status = 0;  // the last complete answer head that is not followed
  bool stopped = false;
};

bool is_followed_redirect(long status, bool has_location) {
  return has_location &&
         (status == 301 || status == 302 || status == 303 || status == 307 || status == 308);
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const std::string_view line = strip_line_end(std::string_view(data, size * count));
  if (line.starts_with("HTTP/")) {
    const auto space = line.find(' ');
    t.pending_status = space == std::string_view::npos ? 0 : std::atol(line.data() + space + 1);
    t.pending_location = false;
  } else if (iequals_prefix(line, "location:")) {
    t.pending_location = true;
  } else if (line.empty() && t.pending_status >= 200 &&
             !is_followed_redirect(t.pending_status, t.pending_location)) {
    t.final_status = t.pending_status;
  }
  return size * count;
}

size_t on_write(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  long status = t.final_status;
  if (status == 0) curl_easy_getinfo(t.handle, CURLINFO_RESPONSE_CODE, &status);
  if (!(*t.on_body)(status, std::string_view(data, size * count))) {
    t.stopped = true;
    return CURL_WRITEFUNC_ERROR;
  }
  return size * count;
}

// The CA bundle the user names: SSL_CERT_FILE, else CURL_CA_BUNDLE.
std::optional<std::string> ca_bundle() {
  for (const char* name : {"SSL_CERT_FILE", "CURL_CA_BUNDLE"})
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0')
      return std::string(value);
  return std::nullopt;
}

class Setup {
 public:
  explicit Setup(CURL* handle) : handle_(handle) {}
  template <typename T>
  Setup& opt(CURLoption option, T value) {
    if (code_ == CURLE_OK) code_ = curl_easy_setopt(handle_, option, value);
    return *this;
  }
  [[nodiscard]] CURLcode code() const { return code_; }

 private:
  CURL* handle_;
  CURLcode code_ = CURLE_OK;
};

void global_init_once() {
  static const bool done = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return true;
  }();
  (void)done;
}

}  // namespace

HttpOutcome perform(const HttpRequest& request, const BodyHandler& on_body) {
  global_init_once();
  HttpOutcome outcome;
  EasyHandle handle(curl_easy_init());
  if (!handle) {
    outcome.error = "cannot create an HTTP client";
    return outcome;
  }
  // Custom headers come first; empty ones remove what libcurl would add on
  // its own (Accept: */*, and Expect: 100-continue on larger bodies).
  HeaderList headers;
  bool has_accept = false;
  for (const auto& h : request.headers) has_accept = has_accept || iequals_prefix(h, "accept:");
  std::vector<std::string> lines = request.headers;
  if (!has_accept) lines.emplace_back("Accept:");
  lines.emplace_back("Expect:");
  for (const auto& line : lines) {
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (grown == nullptr) {
      outcome.error = "cannot build the request headers";
      return outcome;
    }
    (void)headers.release();
    headers.reset(grown);
  }

  Transfer t;
  t.handle = handle.get();
  t.on_body = &on_body;
  char error_buffer[CURL_ERROR_SIZE] = {};
  Setup s(handle.get());
  s.opt(CURLOPT_ERRORBUFFER, error_buffer)
      .opt(CURLOPT_URL, request.url.c_str())
      .opt(CURLOPT_PROTOCOLS_STR, "http,https")
      .opt(CURLOPT_REDIR_PROTOCOLS_STR, "http,https")
      .opt(CURLOPT_FOLLOWLOCATION, 1L)
      .opt(CURLOPT_MAXREDIRS, MAX_REDIRECTS)
      .opt(CURLOPT_CONNECTTIMEOUT, request.agent.connect_timeout_s)
      .opt(CURLOPT_TIMEOUT, request.agent.timeout_s)
      .opt(CURLOPT_NOSIGNAL, 1L)
      .opt(CURLOPT_ACCEPT_ENCODING, "")
      .opt(CURLOPT_SSL_VERIFYPEER, 1L)
      .opt(CURLOPT_SSL_VERIFYHOST, 2L)
      .opt(CURLOPT_HTTPHEADER, headers.get())
      // A proxy's "200 Connection established" is not the answer's status.
      .opt(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L)
      .opt(CURLOPT_HEADERFUNCTION, on_header)
      .opt(CURLOPT_HEADERDATA, &t)
      .opt(CURLOPT_WRITEFUNCTION, on_write)
      .opt(CURLOPT_WRITEDATA, &t);
  if (const auto bundle = ca_bundle()) s.opt(CURLOPT_CAINFO, bundle->c_str());
  if (request.post)
    s.opt(CURLOPT_POST, 1L)
        .opt(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()))
        .opt(CURLOPT_POSTFIELDS, request.body.c_str());
  // Build no log text at all unless someone listens.
  if (logging::enabled(logging::Level::Debug, LOG_CURL))
    s.opt(CURLOPT_DEBUGFUNCTION, on_debug).opt(CURLOPT_VERBOSE, 1L);
  if (s.code() != CURLE_OK) {
    outcome.error =
        std::string("cannot configure the HTTP client: ") + curl_easy_strerror(s.code());
    return outcome;
  }

  const CURLcode code = curl_easy_perform(handle.get());
  outcome.status = t.final_status;
  outcome.stopped = t.stopped;
  if (code != CURLE_OK && !(t.stopped && code == CURLE_WRITE_ERROR))
    outcome.error = curl_error_text(code, error_buffer);
  return outcome;
}

}  // namespace wire::transport
