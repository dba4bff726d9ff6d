// orvik nimbra video "<prompt>" …: submit a video task (text-, image- or
// reference-to-video, first and last frame), or wait for it with --wait.
#include "commands.hpp"
#include "credential.hpp"
#include "input_media.hpp"
#include "nimbra/catalog.hpp"
#include "nimbra/wire.hpp"
#include "tasks.hpp"

namespace {

using Json = nlohmann::ordered_json;
using catalog::ImageInput;

constexpr std::string_view DEFAULT_MODEL = "wan2.6-t2v";
constexpr std::string_view DEFAULT_I2V_MODEL = "wan2.6-i2v-flash";
constexpr long SUBMIT_TIMEOUT_S = 60;

Json frame(const char* type, std::string url) {
  Json object = Json::object();
  object["type"] = type;
  object["url"] = std::move(url);
  return object;
}

// A URL passes unchanged; a local file becomes a data URL.
std::expected<std::string, CommandError> picture_value(const std::string& picture) {
  if (is_http_url(picture)) return picture;
  return file_to_data_url(picture);
}

// "input": the prompt, then the picture in the model's input shape.
std::expected<Json, CommandError> video_input(Args args, const std::string& model,
                                              const std::string& prompt,
                                              const std::optional<std::string>& image) {
  Json input = {{"prompt", prompt}};
  if (!image) return input;
  auto first = picture_value(*image);
  if (!first) return std::unexpected(first.error());
  switch (catalog::image_input_of(model)) {
    case ImageInput::ImgUrl:
      input["img_url"] = std::move(*first);
      break;
    case ImageInput::Media: {
      Json media = Json::array();
      media.push_back(frame("first_frame", std::move(*first)));
      if (const auto last = flag_value(args, "--last-frame")) {
        auto closing = picture_value(*last);
        if (!closing) return std::unexpected(closing.error());
        media.push_back(frame("last_frame", std::move(*closing)));
      }
      input["media"] = std::move(media);
      break;
    }
    case ImageInput::ReferenceUrls:
      input["reference_urls"] = Json::array();
      input["reference_urls"].push_back(std::move(*first));
      break;
    case ImageInput::Keyframes:
      return std::unexpected(usage("model " + model +
                                   " takes a keyframe pair this module cannot yet spell — use "
                                   "wan2.7-i2v, which takes --image as the first frame and "
                                   "--last-frame as the other end"));
  }
  return input;
}

std::expected<Json, CommandError> video_parameters(Args args, const std::string& model) {
  Json parameters = {{"prompt_extend", !has_switch(args, "--no-prompt-extend")},
                     {"watermark", false}};
  if (model.starts_with("happyhorse")) {
    if (const auto resolution = flag_value(args, "--resolution"))
      parameters["resolution"] = *resolution;
    if (const auto ratio = flag_value(args, "--ratio")) parameters["ratio"] = *ratio;
  } else if (const auto size = flag_value(args, "--size")) {
    parameters["size"] = *size;
  }
  const auto duration = int32_flag(args, "--duration");
  if (!duration) return std::unexpected(duration.error());
  if (*duration) parameters["duration"] = **duration;
  const auto seed = seed_value(args);
  if (!seed) return std::unexpected(seed.error());
  if (*seed) parameters["seed"] = **seed;
  return parameters;
}

}  // namespace

CommandResult video(Args args) {
  const bool json = has_switch(args, "--json");
  const bool wait = has_switch(args, "--wait");
  const auto image = flag_value(args, "--image");
  const auto operands = positionals(args);
  if (operands.empty())
    return std::unexpected(
        usage("usage: orvik nimbra video \"<prompt>\" [--model M] [--image FILE|URL] "
              "[--last-frame FILE|URL] [--duration N] [--wait|--submit]"));
  const std::string model =
      flag_value(args, "--model").value_or(std::string(image ? DEFAULT_I2V_MODEL : DEFAULT_MODEL));
  const auto row = catalog::find_row(model, catalog::ModelKind::Video);
  if (!row) return std::unexpected(usage(row.error()));
  const bool wants_image = catalog::wants_input_image(model);
  if (!wants_image && image)
    return std::unexpected(usage(
        "model " + model + " is text-to-video and ignores --image — pick an i2v model (e.g. " +
        std::string(DEFAULT_I2V_MODEL) + ")"));
  if (wants_image && !image)
    return std::unexpected(usage("model " + model + " is image-to-video — pass --image FILE|URL"));
  const auto credential = pick_credential(args);
  if (!credential) return std::unexpected(credential.error());

  auto input = video_input(args, model, operands.front(), image);
  if (!input) return std::unexpected(input.error());
  auto parameters = video_parameters(args, model);
  if (!parameters) return std::unexpected(parameters.error());
  const Json body = request_body(model, std::move(*input), std::move(*parameters));
  const auto answer =
      wire::post(*credential->host, credential->key, credential->source,
                 catalog::endpoint_path((*row)->endpoint), body, true, SUBMIT_TIMEOUT_S);
  if (!answer) return std::unexpected(runtime_error(answer.error()));
  if (!wait) return report_submit(*answer, model, credential->host->name, json);

  const std::string* id = json_string_at(*answer, "/output/task_id");
  if (id == nullptr) return std::unexpected(runtime_error("no task_id in submit answer"));
  const auto final_answer = poll_task(*credential, *id);
  if (!final_answer) return std::unexpected(final_answer.error());
  return report_task_result(*final_answer, json);
}
