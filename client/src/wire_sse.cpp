// One event-stream line into an SseChunk. A long answer is thousands of
// lines, and reading each line's JSON was most of the cost of streaming, so
// lines are read with simdjson's validating parser; only the usage value,
// which comes once at the end, is turned into a JSON value of our own.
#include <simdjson.h>

#include "nimbra/wire.hpp"
#include "wire_transport.hpp"

namespace wire {
namespace {

namespace dom = simdjson::dom;

// The last member named `key` of an object: a later member of the same name
// replaces an earlier one, as in every JSON reader that keeps one value.
std::optional<dom::element> last_member(dom::element value, std::string_view key) {
  dom::object object;
  if (value.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
  std::optional<dom::element> found;
  for (const auto field : object)
    if (field.key == key) found = field.value;
  return found;
}

std::optional<std::string> string_member(dom::element value, std::string_view key) {
  const auto member = last_member(value, key);
  std::string_view text;
  if (!member || member->get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
  return std::string(text);
}

}  // namespace

std::optional<SseChunk> parse_sse_data(std::string_view line) {
  if (!line.starts_with("data:")) return std::nullopt;
  const std::string_view payload = transport::trim_line(line.substr(5));
  SseChunk chunk;
  if (payload == "[DONE]") {
    chunk.done = true;
    return chunk;
  }
  // One parser for the whole stream: its buffers are reused line after line.
  static dom::parser parser;
  dom::element doc;
  if (parser.parse(payload.data(), payload.size()).get(doc) != simdjson::SUCCESS)
    return std::nullopt;
  if (const auto error = last_member(doc, "error")) {
    chunk.error = string_member(*error, "message").value_or("stream error");
    return chunk;
  }
  if (const auto choices = last_member(doc, "choices")) {
    dom::array list;
    if (choices->get_array().get(list) == simdjson::SUCCESS && list.size() > 0) {
      const dom::element first = list.at(0).value_unsafe();
      if (const auto delta = last_member(first, "delta"))
        chunk.content = string_member(*delta, "content").value_or("");
      chunk.finish_reason = string_member(first, "finish_reason");
    }
  }
  if (const auto usage = last_member(doc, "usage"); usage && !usage->is_null()) {
    auto value = Json::parse(simdjson::minify(*usage), nullptr, /*allow_exceptions=*/false);
    if (!value.is_discarded()) chunk.usage = std::move(value);
  }
  return chunk;
}

}  // namespace wire
