// The service's error answers: decoding, and the text the user sees.
#include "nimbra/wire.hpp"
#include "orvik/text.hpp"

namespace wire {
namespace {

constexpr std::size_t FIRST_LINE_CHARS = 300;

// The member's text when it is present and a JSON string.
std::optional<std::string> string_member(const Json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

bool wants_scope_note(const WireError& error) {
  return error.status == 401 || error.code == "AccessDenied" || error.code == "InvalidApiKey";
}

}  // namespace

std::string first_line(std::string_view text) {
  std::string_view line = text;
  if (const auto end = text.find('\n'); end != std::string_view::npos) {
    line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
  }
  return std::string(text::first_chars(line, FIRST_LINE_CHARS));
}

std::string decode_error(const Host& host, std::string_view source, std::uint16_t status,
                         std::string_view body) {
  WireError error{status, {}, first_line(body), std::nullopt};
  const Json parsed = Json::parse(body, nullptr, false);
  if (parsed.is_object()) {
    error.code = string_member(parsed, "code").value_or("");
    if (auto message = string_member(parsed, "message")) error.message = std::move(*message);
    error.request_id = string_member(parsed, "request_id");
  }
  return render(error, host, source);
}

std::string render(const WireError& error, const Host& host, std::string_view source) {
  std::string text = "HTTP " + std::to_string(error.status) + " from " + std::string(host.name) +
                     " (" + std::string(host.base_url) + "): ";
  if (!error.code.empty()) text += "[" + error.code + "] ";
  text += error.message;
  if (error.request_id) text += " (request_id " + *error.request_id + ")";
  if (wants_scope_note(error)) {
    const Host& other = resolve::other_host(host);
    text += "\nnote: DashScope keys are host-scoped. This host (" + std::string(host.name) +
            ") expects a " + std::string(host.key_scope) + "; the other host (" +
            std::string(other.name) + ", " + std::string(other.base_url) + ") expects a " +
            std::string(other.key_scope) + ". Your key resolved from " + std::string(source) +
            " — if it was minted for the other host, it will 401 here no matter how valid it "
            "is. Try --host " +
            std::string(other.name) + ", or bind the right key.";
  }
  return text;
}

}  // namespace wire
