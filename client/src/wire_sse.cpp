// One event-stream line into an SseChunk. The chunk's JSON is read with a
// SAX handler that keeps only the members a chunk needs: a long answer is
// thousands of lines, and building each line's whole document dominated
// the cost of streaming.
#include <vector>

#include "nimbra/wire.hpp"
#include "orvik/text.hpp"
#include "wire_transport.hpp"

namespace wire {
namespace {

// The members of a chunk, by their place in the document.
enum class Place {
  Other,
  Error,         // /error
  ErrorMessage,  // /error/message
  Choices,       // /choices
  FirstChoice,   // /choices/0
  Delta,         // /choices/0/delta
  Content,       // /choices/0/delta/content
  FinishReason,  // /choices/0/finish_reason
  Usage,         // /usage
};

class ChunkReader final : public nlohmann::json_sax<Json> {
 public:
  bool has_error = false;
  std::optional<std::string> error_message;
  std::string content;
  std::optional<std::string> finish_reason;
  std::optional<Json> usage;

  bool null() override { return scalar(Json(nullptr)); }
  bool boolean(bool v) override { return scalar(Json(v)); }
  bool number_integer(number_integer_t v) override { return scalar(Json(v)); }
  bool number_unsigned(number_unsigned_t v) override { return scalar(Json(v)); }
  bool number_float(number_float_t v, const string_t&) override { return scalar(Json(v)); }
  bool binary(binary_t&) override { return scalar(Json()); }
  bool string(string_t& v) override {
    if (!usage_stack_.empty()) return add_to_usage(Json(std::move(v)));
    switch (begin_value()) {
      case Place::ErrorMessage:
        error_message = std::move(v);
        break;
      case Place::Content:
        content = std::move(v);
        break;
      case Place::FinishReason:
        finish_reason = std::move(v);
        break;
      case Place::Usage:
        usage = Json(std::move(v));
        break;
      default:
        break;
    }
    return true;
  }
  bool start_object(std::size_t) override { return start_container(false); }
  bool start_array(std::size_t) override { return start_container(true); }
  bool key(string_t& k) override {
    if (!usage_stack_.empty()) {
      usage_key_ = std::move(k);
      return true;
    }
    frames_.back().key = std::move(k);
    return true;
  }
  bool end_object() override { return end_container(); }
  bool end_array() override { return end_container(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  struct Frame {
    Place place;
    bool is_array;
    std::size_t index = 0;  // the next element's position in an array
    std::string key;        // the current member's name in an object
  };

  // Where the value that starts now sits, given its container.
  [[nodiscard]] Place place_of_next() const {
    if (frames_.empty()) return Place::Other;
    const Frame& f = frames_.back();
    switch (f.place) {
      case Place::Other:
        if (frames_.size() != 1 || f.is_array) return Place::Other;
        if (f.key == "error") return Place::Error;
        if (f.key == "choices") return Place::Choices;
        if (f.key == "usage") return Place::Usage;
        return Place::Other;
      case Place::Error:
        return !f.is_array && f.key == "message" ? Place::ErrorMessage : Place::Other;
      case Place::Choices:
        return f.is_array && f.index == 0 ? Place::FirstChoice : Place::Other;
      case Place::FirstChoice:
        if (f.is_array) return Place::Other;
        if (f.key == "delta") return Place::Delta;
        if (f.key == "finish_reason") return Place::FinishReason;
        return Place::Other;
      case Place::Delta:
        return !f.is_array && f.key == "content" ? Place::Content : Place::Other;
      default:
        return Place::Other;
    }
  }

  // A later member of the same name replaces the earlier one, so what the
  // earlier one left is dropped when the next value starts at its place.
  Place begin_value() {
    const Place place = place_of_next();
    if (!frames_.empty() && frames_.back().is_array) ++frames_.back().index;
    switch (place) {
      case Place::Error:
        has_error = true;
        error_message.reset();
        break;
      case Place::ErrorMessage:
        error_message.reset();
        break;
      case Place::Choices:
        content.clear();
        finish_reason.reset();
        break;
      case Place::Delta:
      case Place::Content:
        content.clear();
        break;
      case Place::FinishReason:
        finish_reason.reset();
        break;
      case Place::Usage:
        usage.reset();
        break;
      default:
        break;
    }
    return place;
  }

  bool scalar(Json v) {
    if (!usage_stack_.empty()) return add_to_usage(std::move(v));
    if (begin_value() == Place::Usage) usage = std::move(v);
    return true;
  }

  // Only the usage value is built; other containers are just entered.
  bool start_container(bool is_array) {
    if (!usage_stack_.empty()) {
      Json* inner = insert_into_usage(is_array ? Json::array() : Json::object());
      usage_stack_.push_back(inner);
      return true;
    }
    const Place place = begin_value();
    if (place == Place::Usage) {
      usage = is_array ? Json::array() : Json::object();
      usage_stack_.push_back(&*usage);
      return true;
    }
    frames_.push_back(Frame{place, is_array, 0, {}});
    return true;
  }

  bool end_container() {
    if (!usage_stack_.empty())
      usage_stack_.pop_back();
    else if (!frames_.empty())
      frames_.pop_back();
    return true;
  }

  Json* insert_into_usage(Json v) {
    Json& top = *usage_stack_.back();
    if (top.is_array()) {
      top.push_back(std::move(v));
      return &top.back();
    }
    Json& slot = top[usage_key_];
    slot = std::move(v);
    return &slot;
  }
  bool add_to_usage(Json v) {
    insert_into_usage(std::move(v));
    return true;
  }

  std::vector<Frame> frames_;
  std::vector<Json*> usage_stack_;  // the usage value being built
  std::string usage_key_;
};

}  // namespace

std::optional<SseChunk> parse_sse_data(std::string_view line) {
  if (!line.starts_with("data:")) return std::nullopt;
  const std::string_view payload = transport::trim_line(line.substr(5));
  SseChunk chunk;
  if (payload == "[DONE]") {
    chunk.done = true;
    return chunk;
  }
  ChunkReader reader;
  if (!Json::sax_parse(payload, &reader)) return std::nullopt;
  if (reader.has_error) {
    chunk.error = reader.error_message.value_or("stream error");
    return chunk;
  }
  chunk.content = std::move(reader.content);
  chunk.finish_reason = std::move(reader.finish_reason);
  if (reader.usage && !reader.usage->is_null()) chunk.usage = std::move(reader.usage);
  return chunk;
}

}  // namespace wire
