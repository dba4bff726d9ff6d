// The one place that talks HTTPS to DashScope. Every call builds its own
// client (10 s connect timeout, the caller's overall deadline), makes one
// request, and returns the answer or a finished message text.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "nimbra/resolve.hpp"

namespace wire {

using Json = nlohmann::ordered_json;
using resolve::Host;

inline constexpr long CONNECT_TIMEOUT_S = 10;
inline constexpr std::size_t MAX_ERROR_BODY = 10 * 1024 * 1024;

// The client settings of one call: the 10-second connect timeout and the
// caller's overall deadline for the whole exchange (connect, send, and
// reading the answer, a whole stream included).
struct Agent {
  long connect_timeout_s = CONNECT_TIMEOUT_S;
  long timeout_s = 0;
};

// The settings every call uses, for this overall deadline.
[[nodiscard]] Agent http_agent(long timeout_s);

// One decoded error answer of the service.
struct WireError {
  std::uint16_t status;
  std::string code;  // may be empty
  std::string message;
  std::optional<std::string> request_id;
};

// GET base_url + "/api/v1" + path, parsed as JSON.
[[nodiscard]] std::expected<Json, std::string> get(const Host& host, std::string_view key,
                                                   std::string_view source, std::string_view path,
                                                   long timeout_s);
// The same with a complete URL.
[[nodiscard]] std::expected<Json, std::string> get_absolute(const Host& host, std::string_view key,
                                                            std::string_view source,
                                                            std::string_view url, long timeout_s);
// POST base_url + "/api/v1" + path with a compact JSON body; `async` adds
// X-DashScope-Async: enable.
[[nodiscard]] std::expected<Json, std::string> post(const Host& host, std::string_view key,
                                                    std::string_view source, std::string_view path,
                                                    const Json& body, bool async, long timeout_s);

// Receives a downloaded body piece by piece; returns false to stop the
// transfer (the sink then knows why, and the download reports an error).
using ByteSink = std::function<bool(std::string_view bytes)>;

// GET a result URL without credentials, handing the body to `sink` as it
// arrives. "result body was empty" when nothing arrived.
[[nodiscard]] std::expected<void, std::string> download(std::string_view url, long timeout_s,
                                                        const ByteSink& sink);

[[nodiscard]] std::string decode_error(const Host& host, std::string_view source,
                                       std::uint16_t status, std::string_view body);
[[nodiscard]] std::string render(const WireError& error, const Host& host, std::string_view source);
// Up to the first line feed (one trailing CR dropped), cut to 300 characters.
[[nodiscard]] std::string first_line(std::string_view text);

// --- Streamed chat -----------------------------------------------------

struct SseChunk {
  std::string content;
  std::optional<std::string> finish_reason;
  std::optional<Json> usage;
  std::optional<std::string> error;
  bool done = false;
};

struct StreamDone {
  std::optional<Json> usage;
  std::optional<std::string> finish_reason;
};

using TextSink = std::function<void(std::string_view text)>;

// One "data:" line (already trimmed) of the event stream, or nothing.
[[nodiscard]] std::optional<SseChunk> parse_sse_data(std::string_view line);

[[nodiscard]] std::expected<Json, std::string> chat_post(const Host& host, std::string_view key,
                                                         std::string_view source, const Json& body,
                                                         long timeout_s);
[[nodiscard]] std::expected<StreamDone, std::string> chat_stream(const Host& host,
                                                                 std::string_view key,
                                                                 std::string_view source,
                                                                 const Json& body, long timeout_s,
                                                                 const TextSink& sink);

}  // namespace wire
