// orvik nimbra image "<prompt>" …: generate or edit pictures on the sync
// lane or on one of the two async lanes, as the model's catalog row says.
#include <algorithm>

#include "commands.hpp"
#include "credential.hpp"
#include "gallery_store.hpp"
#include "input_media.hpp"
#include "nimbra/catalog.hpp"
#include "nimbra/wire.hpp"
#include "orvik/text.hpp"
#include "output.hpp"
#include "tasks.hpp"

namespace {

using Json = nlohmann::ordered_json;
using catalog::Endpoint;
using catalog::ModelKind;
using catalog::ModelRow;

constexpr std::string_view DEFAULT_MODEL = "wan2.6-t2i";
constexpr std::string_view DEFAULT_EDIT_MODEL = "qwen-image-edit-max";
constexpr std::string_view DEFAULT_SIZE = "1664*928";
constexpr long ASYNC_TIMEOUT_S = 60;
constexpr long SYNC_TIMEOUT_S = 240;

std::string joined(auto&& items) {
  std::string out;
  for (std::string_view item : items) {
    if (!out.empty()) out += ", ";
    out += item;
  }
  return out;
}

// The first image row of the model on an async lane, or the usage error.
std::expected<const ModelRow*, CommandError> async_row(const std::string& model) {
  std::vector<std::string_view> ids;
  for (const ModelRow& row : catalog::CATALOG) {
    if (row.kind != ModelKind::Image || !row.async) continue;
    if (row.id == model) return &row;
    ids.push_back(row.id);
  }
  return std::unexpected(usage("model " + model + " has no async lane — --submit is only for: " +
                               joined(ids) + " (or drop --submit)"));
}

// "seed" and "negative_prompt", in that order, when given.
std::expected<void, CommandError> add_seed_and_negative(Args args, Json& parameters) {
  const auto seed = seed_value(args);
  if (!seed) return std::unexpected(seed.error());
  if (*seed) parameters["seed"] = **seed;
  if (const auto negative = flag_value(args, "--negative"))
    parameters["negative_prompt"] = *negative;
  return {};
}

// The Text2Image lane: {"model","input":{"prompt"},"parameters"}.
std::expected<Json, CommandError> prompt_body(Args args, const std::string& model,
                                              const std::string& prompt, bool prompt_extend) {
  const std::string size = flag_value(args, "--size").value_or(std::string(DEFAULT_SIZE));
  if (std::ranges::find(catalog::FIXED_SIZES, size) == catalog::FIXED_SIZES.end())
    return std::unexpected(usage("the async lane for " + model +
                                 " takes one of the fixed sizes: " + joined(catalog::FIXED_SIZES)));
  Json parameters = {
      {"size", size}, {"n", 1}, {"prompt_extend", prompt_extend}, {"watermark", false}};
  if (auto extra = add_seed_and_negative(args, parameters); !extra)
    return std::unexpected(extra.error());
  return request_body(model, Json{{"prompt", prompt}}, std::move(parameters));
}

// The messages body: the edit pictures as data URLs, then the prompt text.
std::expected<Json, CommandError> messages_body(Args args, const std::string& model,
                                                const std::string& prompt, bool prompt_extend,
                                                const std::vector<std::string>& edits) {
  Json content = Json::array();
  for (const std::string& path : edits) {
    auto url = file_to_data_url(path);
    if (!url) return std::unexpected(url.error());
    Json item = Json::object();
    item["image"] = std::move(*url);  // moved, never copied: it may be 14 MB
    content.push_back(std::move(item));
  }
  content.push_back(Json{{"text", prompt}});
  Json parameters = {{"prompt_extend", prompt_extend}, {"watermark", false}};
  if (const auto size = flag_value(args, "--size")) parameters["size"] = *size;
  if (const auto n_text = flag_value(args, "--n")) {
    const auto n = parse_int32(*n_text);
    if (!n)
      return std::unexpected(usage("--n needs an integer, got " + text::quoted_literal(*n_text)));
    if (*n < 1 || *n > 6)
      return std::unexpected(
          usage("--n is 1–6 for the 2.0/3.0 series and fixed at 1 for max/plus/image"));
    parameters["n"] = *n;
  }
  if (auto extra = add_seed_and_negative(args, parameters); !extra)
    return std::unexpected(extra.error());
  // Built member by member so that the inlined pictures are moved, not copied.
  Json message = Json::object();
  message["role"] = "user";
  message["content"] = std::move(content);
  Json input = Json::object();
  input["messages"] = Json::array();
  input["messages"].push_back(std::move(message));
  return request_body(model, std::move(input), std::move(parameters));
}

}  // namespace

CommandResult image(Args args) {
  const bool json = has_switch(args, "--json");
  const bool submit = has_switch(args, "--submit");
  const std::vector<std::string> edits = flag_values(args, "--edit");
  const auto operands = positionals(args);
  if (operands.empty())
    return std::unexpected(usage(
        "usage: orvik nimbra image \"<prompt>\" [--model M] [--edit FILE]… [--size WxH] [--n N] "
        "[--wait|--submit]"));
  const std::string& prompt = operands.front();
  const std::string model =
      flag_value(args, "--model")
          .value_or(std::string(edits.empty() ? DEFAULT_MODEL : DEFAULT_EDIT_MODEL));
  if (catalog::wants_input_image(model) && edits.empty())
    return std::unexpected(usage(
        "model " + model + " edits reference images — pass --edit FILE (for a bare prompt use " +
        std::string(DEFAULT_MODEL) + ")"));
  const ModelRow* row = nullptr;
  if (submit) {
    const auto found = async_row(model);
    if (!found) return std::unexpected(found.error());
    row = *found;
  } else {
    const auto found = catalog::find_row(model, ModelKind::Image);
    if (!found) return std::unexpected(usage(found.error()));
    row = *found;
  }
  const auto credential = pick_credential(args);
  if (!credential) return std::unexpected(credential.error());
  const resolve::Host& host = *credential->host;
  const bool prompt_extend = !has_switch(args, "--no-prompt-extend");

  const bool text2image = row->endpoint == Endpoint::Text2Image;
  auto body = text2image ? prompt_body(args, model, prompt, prompt_extend)
                         : messages_body(args, model, prompt, prompt_extend, edits);
  if (!body) return std::unexpected(body.error());
  const bool async = row->endpoint != Endpoint::MultimodalGeneration;
  const auto answer =
      wire::post(host, credential->key, credential->source, catalog::endpoint_path(row->endpoint),
                 *body, async, async ? ASYNC_TIMEOUT_S : SYNC_TIMEOUT_S);
  if (!answer) return std::unexpected(runtime_error(answer.error()));
  body->clear();  // the inlined pictures are no longer needed

  if (async) {
    if (text2image || submit) return report_submit(*answer, model, host.name, json);
    const std::string* id = json_string_at(*answer, "/output/task_id");
    if (id == nullptr) return std::unexpected(runtime_error("no task_id in submit answer"));
    const auto final_answer = poll_task(*credential, *id);
    if (!final_answer) return std::unexpected(final_answer.error());
    return report_task_result(*final_answer, json);
  }
  const auto urls = choice_image_urls(*answer);
  if (urls.empty())
    return std::unexpected(runtime_error("no image in answer: " + compact_json(*answer)));
  const auto saved = save_urls(urls, "image");
  if (!saved) return std::unexpected(saved.error());
  report_saved(*saved, *answer, host.name, json);
  return {};
}
