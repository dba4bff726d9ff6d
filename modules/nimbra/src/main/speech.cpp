// orvik nimbra speech "<text>" …: synthesise speech on the synchronous lane
// and save the audio into the gallery.
#include "commands.hpp"
#include "credential.hpp"
#include "gallery_store.hpp"
#include "input_media.hpp"
#include "nimbra/catalog.hpp"
#include "nimbra/wire.hpp"
#include "output.hpp"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view DEFAULT_SPEECH_MODEL = "qwen3-tts-flash";
constexpr std::string_view DEFAULT_VOICE = "Cherry";
constexpr long SPEECH_TIMEOUT_S = 120;

std::string voice_list() {
  std::string out;
  for (std::string_view voice : catalog::VOICES) {
    if (!out.empty()) out += ", ";
    out += voice;
  }
  return out;
}

}  // namespace

CommandResult speech(Args args) {
  if (has_switch(args, "--submit"))
    return std::unexpected(usage(
        "speech is synchronous on DashScope — there is no async lane to submit to; drop --submit"));
  const auto voice = flag_value(args, "--voice");
  if (voice == "list" || voice == "?") {
    out_line("voices (common multilingual set): " + voice_list());
    out_line("full table: vendor-spec/api-reference/speech-synthesis/qwen-tts/voice-list.md");
    return {};
  }
  const bool json = has_switch(args, "--json");
  const auto operands = positionals(args);
  if (operands.empty())
    return std::unexpected(usage(
        "usage: orvik nimbra speech \"<text>\" [--model M] [--voice V] [--language L] — voices: " +
        voice_list() + " (or --voice list)"));
  const std::string model = flag_value(args, "--model").value_or(std::string(DEFAULT_SPEECH_MODEL));
  const auto row = catalog::find_row(model, catalog::ModelKind::Speech);
  if (!row) return std::unexpected(usage(row.error()));
  const auto credential = pick_credential(args);
  if (!credential) return std::unexpected(credential.error());

  Json input = {{"text", operands.front()}, {"voice", voice.value_or(std::string(DEFAULT_VOICE))}};
  if (const auto language = flag_value(args, "--language")) input["language_type"] = *language;
  if (const auto instructions = flag_value(args, "--instructions"))
    input["instructions"] = *instructions;
  const Json body = {{"model", model}, {"input", std::move(input)}};
  const auto answer =
      wire::post(*credential->host, credential->key, credential->source,
                 catalog::endpoint_path((*row)->endpoint), body, false, SPEECH_TIMEOUT_S);
  if (!answer) return std::unexpected(runtime_error(answer.error()));
  const std::string* url = json_string_at(*answer, "/output/audio/url");
  if (url == nullptr)
    return std::unexpected(runtime_error("no audio url in answer: " + compact_json(*answer)));
  const auto saved = save_urls({*url}, "speech");
  if (!saved) return std::unexpected(saved.error());
  report_saved(*saved, *answer, credential->host->name, json);
  return {};
}
