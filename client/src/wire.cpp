// Authenticated calls of the native API and the compatible surface, and
// downloads of result URLs.
#include "nimbra/wire.hpp"

#include "orvik/text.hpp"
#include "wire_transport.hpp"

namespace wire {
namespace transport {

bool ErrorBody::append(std::string_view bytes) {
  if (too_large_) return false;
  if (bytes_.size() + bytes.size() > MAX_ERROR_BODY) {
    too_large_ = true;
    bytes_.clear();
    return false;
  }
  bytes_.append(bytes);
  return true;
}

std::string ErrorBody::text(bool read_failed) const {
  if (read_failed || too_large_) return {};
  return text::utf8_lossy(bytes_);
}

std::expected<std::string, std::string> authorization(const Host& host, std::string_view key,
                                                      std::string_view source) {
  // A line break in the key would split the header and let the rest pass
  // as headers of its own.
  for (const char c : key) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f)
      return std::unexpected("transport to " + std::string(host.name) + ": the key from " +
                             std::string(source) +
                             " contains a control character and cannot be sent");
  }
  return "Authorization: Bearer " + std::string(key);
}

std::optional<std::string> failed_exchange(const Host& host, std::string_view source,
                                           const HttpOutcome& outcome,
                                           const ErrorBody& error_body) {
  if (outcome.status == 0)
    return "transport to " + std::string(host.name) + ": " +
           outcome.error.value_or("no answer arrived");
  if (outcome.status >= 400)
    return decode_error(host, source, static_cast<std::uint16_t>(outcome.status),
                        error_body.text(outcome.error.has_value()));
  return std::nullopt;
}

std::expected<Json, std::string> json_call(const Host& host, std::string_view source,
                                           const HttpRequest& request) {
  std::string body;
  ErrorBody error_body;
  const auto outcome = perform(request, [&](long status, std::string_view bytes) {
    if (status >= 400) return error_body.append(bytes);
    body.append(bytes);
    return true;
  });
  if (auto failed = failed_exchange(host, source, outcome, error_body))
    return std::unexpected(std::move(*failed));
  const std::string name(host.name);
  if (outcome.error)
    return std::unexpected("answer from " + name + " was not JSON: " + *outcome.error);
  try {
    return Json::parse(body);
  } catch (const Json::exception& e) {
    // The reader quotes the bytes it stopped at, which need not be UTF-8.
    return std::unexpected("answer from " + name +
                           " was not JSON: Failed to read JSON: " + text::utf8_lossy(e.what()));
  }
}

}  // namespace transport

namespace {

std::expected<Json, std::string> authenticated(const Host& host, std::string_view key,
                                               std::string_view source, std::string url,
                                               const Json* body, bool async, long timeout_s) {
  auto auth = transport::authorization(host, key, source);
  if (!auth) return std::unexpected(auth.error());
  transport::HttpRequest request;
  request.url = std::move(url);
  request.agent = http_agent(timeout_s);
  request.headers.push_back(std::move(*auth));
  if (body != nullptr) {
    request.post = true;
    request.headers.emplace_back("Content-Type: application/json");
    if (async) request.headers.emplace_back("X-DashScope-Async: enable");
    request.body = body->dump(-1, ' ', false, Json::error_handler_t::replace);
  }
  return transport::json_call(host, source, request);
}

std::string native_url(const Host& host, std::string_view path) {
  return std::string(host.base_url) + "/api/v1" + std::string(path);
}

}  // namespace

Agent http_agent(long timeout_s) { return Agent{CONNECT_TIMEOUT_S, timeout_s}; }

std::expected<Json, std::string> get(const Host& host, std::string_view key,
                                     std::string_view source, std::string_view path,
                                     long timeout_s) {
  return authenticated(host, key, source, native_url(host, path), nullptr, false, timeout_s);
}

std::expected<Json, std::string> get_absolute(const Host& host, std::string_view key,
                                              std::string_view source, std::string_view url,
                                              long timeout_s) {
  return authenticated(host, key, source, std::string(url), nullptr, false, timeout_s);
}

std::expected<Json, std::string> post(const Host& host, std::string_view key,
                                      std::string_view source, std::string_view path,
                                      const Json& body, bool async, long timeout_s) {
  return authenticated(host, key, source, native_url(host, path), &body, async, timeout_s);
}

std::expected<void, std::string> download(std::string_view url, long timeout_s,
                                          const ByteSink& sink) {
  transport::HttpRequest request;
  request.url = std::string(url);
  request.agent = http_agent(timeout_s);
  bool received = false;
  bool sink_stopped = false;
  const auto outcome = transport::perform(request, [&](long status, std::string_view bytes) {
    if (status >= 400) return false;  // the body of an error answer is not read
    if (bytes.empty()) return true;
    received = true;
    if (!sink(bytes)) {
      sink_stopped = true;
      return false;
    }
    return true;
  });
  if (outcome.status == 0)
    return std::unexpected("transport fetching result URL: " +
                           outcome.error.value_or("no answer arrived"));
  if (outcome.status >= 400)
    return std::unexpected("HTTP " + std::to_string(outcome.status) + " fetching result URL");
  if (outcome.error) return std::unexpected("reading result body: " + *outcome.error);
  if (sink_stopped)
    return std::unexpected(std::string("reading result body: the receiver stopped"));
  if (!received) return std::unexpected(std::string("result body was empty"));
  return {};
}

}  // namespace wire
