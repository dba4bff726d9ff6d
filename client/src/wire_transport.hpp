// The wire's one HTTP transfer routine and the request runners built on it.
// Private to the client library; libcurl stays inside wire_http.cpp.
#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nimbra/wire.hpp"

namespace wire::transport {

struct HttpRequest {
  bool post = false;
  std::string url;
  std::vector<std::string> headers;  // "Name: value", sent in this order
  std::string body;                  // sent only for POST
  Agent agent;
};

// Receives the body as it arrives, with the final status of the answer;
// returns false to stop the transfer.
using BodyHandler = std::function<bool(long status, std::string_view bytes)>;

struct HttpOutcome {
  long status = 0;                   // final status; 0 when none arrived
  bool stopped = false;              // the handler returned false
  std::optional<std::string> error;  // the client's description of a failure
};

// Makes one request with its own client: http and https only, peer and host
// verification on (SSL_CERT_FILE or CURL_CA_BUNDLE name the CA bundle when
// set), transparent gzip, a few redirects, no User-Agent, and no headers but
// the given ones and those the exchange needs. A stop by the handler is not
// an error.
[[nodiscard]] HttpOutcome perform(const HttpRequest& request, const BodyHandler& on_body);

// "Authorization: Bearer {key}", or an error naming the source when the key
// holds a character a header cannot carry.
[[nodiscard]] std::expected<std::string, std::string> authorization(const Host& host,
                                                                    std::string_view key,
                                                                    std::string_view source);

// One authenticated exchange whose answer is a JSON value: the transport
// failure, error-answer and not-JSON rules shared by get, post and chat_post.
[[nodiscard]] std::expected<Json, std::string> json_call(const Host& host, std::string_view source,
                                                         const HttpRequest& request);

// text::trim, quick for the usual line with plain ASCII ends.
[[nodiscard]] std::string_view trim_line(std::string_view s);

// The error-answer body reader: at most MAX_ERROR_BODY bytes; an oversized
// body counts as unreadable.
class ErrorBody {
 public:
  // Appends; false when the body has grown past the limit.
  bool append(std::string_view bytes);
  // The text to decode: lossy UTF-8, or empty when the body was unreadable.
  [[nodiscard]] std::string text(bool read_failed) const;

 private:
  std::string bytes_;
  bool too_large_ = false;
};

// The message of an exchange that got no answer or an error answer (the
// transport and error-answer rules every authenticated call shares), or
// nothing when a status below 400 arrived.
[[nodiscard]] std::optional<std::string> failed_exchange(const Host& host, std::string_view source,
                                                         const HttpOutcome& outcome,
                                                         const ErrorBody& error_body);

}  // namespace wire::transport
