// `chat`: one prompt to a chat model on the OpenAI-compatible surface,
// streamed to standard output, collected as JSON, or the raw answer.
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "chat_body.hpp"
#include "commands.hpp"
#include "credential.hpp"
#include "nimbra/catalog.hpp"
#include "nimbra/resolve.hpp"
#include "nimbra/wire.hpp"
#include "orvik/text.hpp"
#include "output.hpp"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view DEFAULT_CHAT_MODEL = "qwen3.8-max";
// Models billed to the credits wallet, always on the intl host.
constexpr std::string_view MARKETPLACE_PREFIX = "ZHIPU/";
constexpr long CHAT_TIMEOUT_S = 300;

constexpr std::string_view USAGE_LINE =
    "usage: orvik nimbra chat \"<prompt>\" [--model M] [--host intl|asia] [--system S] "
    "[--max-tokens N] [--reasoning-effort L] [--no-think] [--raw|--json]";

constexpr std::array<std::string_view, 6> REASONING_EFFORTS = {"minimal", "low", "medium",
                                                               "high",    "max", "xhigh"};

std::expected<std::optional<std::int32_t>, CommandError> max_tokens_of(Args args) {
  const std::optional<std::string> value = flag_value(args, "--max-tokens");
  if (!value) return std::nullopt;
  const std::optional<std::int32_t> number = parse_int32(*value);
  if (!number || *number < 1) {
    return std::unexpected(
        usage("--max-tokens needs a positive integer, got " + text::quoted_literal(*value)));
  }
  return number;
}

// Full lower-casing as far as the effort words can tell: U+0130 (capital I
// with dot above) is the one character whose full lower case is two
// characters, "i" and U+0307, so that "MİNIMAL" is not taken for "minimal".
std::string full_lower(std::string_view value) {
  constexpr std::string_view DOTTED_CAPITAL_I = "\u0130";
  std::string lower;
  for (std::size_t at; (at = value.find(DOTTED_CAPITAL_I)) != std::string_view::npos;) {
    lower += text::to_lower(value.substr(0, at));
    lower += "i\u0307";
    value.remove_prefix(at + DOTTED_CAPITAL_I.size());
  }
  return lower + text::to_lower(value);
}

std::expected<std::optional<std::string_view>, CommandError> reasoning_effort_of(Args args) {
  const std::optional<std::string> value = flag_value(args, "--reasoning-effort");
  if (!value) return std::nullopt;
  const std::string lower = full_lower(*value);
  for (const std::string_view word : REASONING_EFFORTS) {
    if (word == lower) return word;
  }
  return std::unexpected(usage("unknown reasoning effort " + text::quoted_literal(lower) +
                               " — expected low|medium|high|max|xhigh (qwen3.8 dial: "
                               "low|medium|xhigh; GLM-5.3: low|high|max)"));
}

// Marketplace models ride the credits key on the intl host; the rest honour --host.
std::expected<resolve::Credential, CommandError> credential_for(std::string_view model, Args args) {
  if (!model.starts_with(MARKETPLACE_PREFIX)) return pick_credential(args);
  std::optional<resolve::KeyAndSource> credits = resolve::resolve_credits();
  if (!credits) {
    return std::unexpected(runtime_error(
        "marketplace models (ZHIPU/…) ride a separate billing wallet: set "
        "DASHSCOPE_API_KEY_CREDITS (env, or `secrets set DASHSCOPE_API_KEY_CREDITS`) — the plain "
        "DASHSCOPE_API_KEY cannot reach them"));
  }
  return resolve::Credential{std::move(credits->key), std::move(credits->source),
                             &resolve::host_of(resolve::HostKind::Intl)};
}

Json optional_json(const auto& value) { return value ? Json(*value) : Json(nullptr); }

// --raw: one non-streamed request, the whole answer pretty-printed.
CommandResult print_raw(const resolve::Credential& cred, const Json& body) {
  const auto answer = wire::chat_post(*cred.host, cred.key, cred.source, body, CHAT_TIMEOUT_S);
  if (!answer) return std::unexpected(runtime_error(answer.error()));
  out_json_pretty(*answer);
  return {};
}

// --json: the deltas collected, then one document with the provenance.
CommandResult print_collected(const resolve::Credential& cred, std::string_view model,
                              const Json& body) {
  std::string collected;
  const auto done = wire::chat_stream(*cred.host, cred.key, cred.source, body, CHAT_TIMEOUT_S,
                                      [&collected](std::string_view delta) { collected += delta; });
  if (!done) return std::unexpected(runtime_error(done.error()));
  if (text::trim(collected).empty())
    return std::unexpected(runtime_error("the model returned no text"));
  Json document = Json::object();
  document["text"] = collected;
  document["model"] = model;
  document["host"] = cred.host->name;
  document["key_source"] = cred.source;
  document["finish_reason"] = optional_json(done->finish_reason);
  document["usage"] = optional_json(done->usage);
  out_json(document);
  return {};
}

// The default: each delta written and flushed as it arrives, one line feed
// at the end. Text written before a failure stays written.
CommandResult print_streamed(const resolve::Credential& cred, const Json& body) {
  bool printed = false;
  const auto done = wire::chat_stream(*cred.host, cred.key, cred.source, body, CHAT_TIMEOUT_S,
                                      [&printed](std::string_view delta) {
                                        if (delta.empty()) return;
                                        printed = true;
                                        out(delta);
                                        flush_out();
                                      });
  if (!done) return std::unexpected(runtime_error(done.error()));
  if (!printed) return std::unexpected(runtime_error("the model returned no text"));
  out("\n");
  return {};
}

}  // namespace

Json chat_body(std::string_view model, std::string_view prompt,
               std::optional<std::string_view> system, std::optional<std::int32_t> max_tokens,
               std::optional<std::string_view> reasoning_effort, bool no_think, bool stream) {
  Json messages = Json::array();
  if (system) messages.push_back(Json{{"role", "system"}, {"content", *system}});
  messages.push_back(Json{{"role", "user"}, {"content", prompt}});
  Json body = Json::object();
  body["model"] = model;
  body["messages"] = std::move(messages);
  body["stream"] = stream;
  if (stream) body["stream_options"] = Json{{"include_usage", true}};
  if (max_tokens) body["max_tokens"] = *max_tokens;
  if (reasoning_effort) body["reasoning_effort"] = *reasoning_effort;
  if (no_think) body["enable_thinking"] = false;
  return body;
}

CommandResult chat(Args args) {
  const bool json = has_switch(args, "--json");
  const bool raw = has_switch(args, "--raw");
  const bool no_think = has_switch(args, "--no-think");
  const std::vector<std::string> operands = positionals(args);
  if (operands.empty()) return std::unexpected(usage(std::string(USAGE_LINE)));
  const std::string& prompt = operands.front();

  const std::string model = flag_value(args, "--model").value_or(std::string(DEFAULT_CHAT_MODEL));
  if (auto row = catalog::find_row(model, catalog::ModelKind::Chat); !row)
    return std::unexpected(usage(row.error()));
  const auto max_tokens = max_tokens_of(args);
  if (!max_tokens) return std::unexpected(max_tokens.error());
  const auto effort = reasoning_effort_of(args);
  if (!effort) return std::unexpected(effort.error());
  const auto credential = credential_for(model, args);
  if (!credential) return std::unexpected(credential.error());
  const std::optional<std::string> system = flag_value(args, "--system");

  const Json body = chat_body(model, prompt, system, *max_tokens, *effort, no_think, !raw);
  if (raw) return print_raw(*credential, body);
  if (json) return print_collected(*credential, model, body);
  return print_streamed(*credential, body);
}
