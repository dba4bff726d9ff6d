// Chat completions on the compatible surface: one JSON answer, or an event
// stream handed on delta by delta while it arrives.
#include "nimbra/wire.hpp"
#include "orvik/text.hpp"
#include "wire_transport.hpp"

namespace wire {
namespace transport {

// text::trim, with a shortcut for lines whose ends are plain ASCII (the
// Unicode-aware trim decodes the whole line).
std::string_view trim_line(std::string_view s) {
  const auto ascii_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (!s.empty() && ascii_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && ascii_space(s.back())) s.remove_suffix(1);
  if (!s.empty() && (static_cast<unsigned char>(s.front()) >= 0x80 ||
                     static_cast<unsigned char>(s.back()) >= 0x80))
    return text::trim(s);
  return s;
}

}  // namespace transport

namespace {

std::string chat_url(const Host& host) {
  return resolve::compatible_v1(host) + "/chat/completions";
}

std::expected<transport::HttpRequest, std::string> chat_request(const Host& host,
                                                                std::string_view key,
                                                                std::string_view source,
                                                                const Json& body, long timeout_s) {
  auto auth = transport::authorization(host, key, source);
  if (!auth) return std::unexpected(auth.error());
  transport::HttpRequest request;
  request.post = true;
  request.url = chat_url(host);
  request.agent = http_agent(timeout_s);
  request.headers = {std::move(*auth), "Content-Type: application/json"};
  request.body = body.dump(-1, ' ', false, Json::error_handler_t::replace);
  return request;
}

// Reads the event stream line by line as the bytes arrive and acts on each
// data line at once.
class StreamReader {
 public:
  StreamReader(const Host& host, std::string_view source, const TextSink& sink)
      : host_(host), source_(source), sink_(sink) {}

  // False once the stream has ended (marker, in-stream error, bad line).
  bool feed(std::string_view bytes) {
    while (!bytes.empty()) {
      const auto end = bytes.find('\n');
      if (end == std::string_view::npos) {
        pending_.append(bytes);
        return true;
      }
      pending_.append(bytes.substr(0, end + 1));
      bytes.remove_prefix(end + 1);
      const bool go_on = handle_line(pending_);
      pending_.clear();
      if (!go_on) return false;
    }
    return true;
  }

  // The stream's end: a last line without a line feed still counts.
  void finish() {
    if (!pending_.empty() && !ended()) handle_line(pending_);
    pending_.clear();
  }

  [[nodiscard]] bool ended() const { return done_ || failure_.has_value(); }
  [[nodiscard]] const std::optional<std::string>& failure() const { return failure_; }
  [[nodiscard]] StreamDone result() const { return StreamDone{usage_, finish_reason_}; }

 private:
  bool handle_line(std::string_view line) {
    if (!text::is_valid_utf8(line)) {
      failure_ =
          "reading stream from " + std::string(host_.name) + ": stream did not contain valid UTF-8";
      return false;
    }
    auto chunk = parse_sse_data(transport::trim_line(line));
    if (!chunk) return true;
    if (chunk->error) {
      failure_ = decode_error(host_, source_, 200, "stream error: " + *chunk->error);
      return false;
    }
    if (chunk->done) {
      done_ = true;
      return false;
    }
    if (!chunk->content.empty()) sink_(chunk->content);
    if (chunk->usage) usage_ = std::move(chunk->usage);
    if (chunk->finish_reason) finish_reason_ = std::move(chunk->finish_reason);
    return true;
  }

  const Host& host_;
  std::string_view source_;
  const TextSink& sink_;
  std::string pending_;
  std::optional<Json> usage_;
  std::optional<std::string> finish_reason_;
  std::optional<std::string> failure_;
  bool done_ = false;
};

}  // namespace

std::expected<Json, std::string> chat_post(const Host& host, std::string_view key,
                                           std::string_view source, const Json& body,
                                           long timeout_s) {
  auto request = chat_request(host, key, source, body, timeout_s);
  if (!request) return std::unexpected(request.error());
  return transport::json_call(host, source, *request);
}

std::expected<StreamDone, std::string> chat_stream(const Host& host, std::string_view key,
                                                   std::string_view source, const Json& body,
                                                   long timeout_s, const TextSink& sink) {
  auto request = chat_request(host, key, source, body, timeout_s);
  if (!request) return std::unexpected(request.error());
  request->headers.emplace_back("Accept: text/event-stream");
  StreamReader reader(host, source, sink);
  transport::ErrorBody error_body;
  const auto outcome = transport::perform(*request, [&](long status, std::string_view bytes) {
    if (status >= 400) return error_body.append(bytes);
    return reader.feed(bytes);
  });
  if (auto failed = transport::failed_exchange(host, source, outcome, error_body))
    return std::unexpected(std::move(*failed));
  const std::string name(host.name);
  if (reader.failure()) return std::unexpected(*reader.failure());
  if (reader.ended()) return reader.result();
  if (outcome.error) return std::unexpected("reading stream from " + name + ": " + *outcome.error);
  reader.finish();
  if (reader.failure()) return std::unexpected(*reader.failure());
  return reader.result();
}

}  // namespace wire
