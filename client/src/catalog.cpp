// The catalog rows, voices, fixed sizes and probe date. Every table is
// constant-initialised: the listing and the lookups read it in place.
#include "nimbra/catalog.hpp"

#include "orvik/text.hpp"

namespace catalog {

constinit const std::array<ModelRow, 44> CATALOG{{
    {"qwen3.8-max", ModelKind::Chat, Endpoint::ChatCompletions, false,
     "1M ctx; thinking dial reasoning_effort low|medium|xhigh; --no-think switches it off",
     "LIVE 2026-08-28 intl payg: streaming chat ~75 tok/s; the default"},
    {"qwen3.8-flash", ModelKind::Chat, Endpoint::ChatCompletions, false,
     "1M ctx; the cheap fast row", "listed on intl + workspace /models 2026-08-28"},
    {"glm-5.1", ModelKind::Chat, Endpoint::ChatCompletions, false, "202K ctx; thinking high|max",
     "registry modelstudio-standard: intl payg serves it"},
    {"glm-5.2", ModelKind::Chat, Endpoint::ChatCompletions, false, "202K ctx; thinking high|max",
     "LIVE 2026-08-30 intl payg: answers 200. It was listed here as token-plan/asia-only, which "
     "was never true of the intl host"},
    {"ZHIPU/GLM-5.3", ModelKind::Chat, Endpoint::ChatCompletions, false,
     "202K ctx, 128K out; ALWAYS thinks (reasoning_effort low|high|max); needs the credits key",
     "LIVE 2026-08-20 intl credits key; vendor-prefixed spelling IS the model name"},
    {"kimi-k3", ModelKind::Chat, Endpoint::ChatCompletions, false,
     "Moonshot's flagship, served here rather than at Moonshot",
     "LIVE 2026-08-30 intl payg: answers 200"},
    {"deepseek-v4-pro", ModelKind::Chat, Endpoint::ChatCompletions, false,
     "DeepSeek's flagship; thinks by default", "LIVE 2026-08-30 intl payg: answers 200"},
    {"qwen3-coder-next", ModelKind::Chat, Endpoint::ChatCompletions, false,
     "the coding row — for agent work over a repo", "LIVE 2026-08-30 intl payg: answers 200"},
    {"z-image-turbo", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "the fast cheap draw", "LIVE 2026-08-30 intl: model accepted on multimodal-generation"},
    {"qwen-image-3.0-pro", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "n 1-6; pixels 512*512–2048*2048, ratio 1:8–8:1; thinking mode",
     "vendor spec 2026-08-27; flagship, slowest, best text rendering"},
    {"qwen-image-3.0", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "n 1-6; pixels 512*512–2048*2048, ratio 1:8–8:1; thinking mode", "vendor spec 2026-08-27"},
    {"qwen-image-2.0-pro", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "n 1-6; pixels 512*512–2048*2048",
     "vendor spec 2026-08-27; was the edit default before the qwen-image-edit-* rows existed"},
    {"qwen-image-2.0", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "n 1-6; pixels 512*512–2048*2048; accelerated 2.0",
     "LIVE 2026-08-27 intl: sync 200, 1328*1328 png in gallery, usage w/h/image_count"},
    {"qwen-image-max", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "n fixed 1; custom pixels 512²–2048² or the 5 fixed sizes", "vendor spec 2026-08-27"},
    {"qwen-image-plus", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "n fixed 1; the 5 fixed sizes (1664*928 default)",
     "vendor spec 2026-08-27; also has a legacy async row below"},
    {"qwen-image", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "n fixed 1; the 5 fixed sizes", "vendor spec 2026-08-27; also has a legacy async row below"},
    {"qwen-image-edit-max", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "multi-reference edit; needs --edit FILE; RPM 2 — the slowest gate in the catalog",
     "LIVE 2026-08-30 intl: model accepted on multimodal-generation"},
    {"qwen-image-edit-plus", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "multi-reference edit; needs --edit FILE",
     "LIVE 2026-08-30 intl: model accepted on multimodal-generation"},
    {"qwen-image-edit", ModelKind::Image, Endpoint::MultimodalGeneration, false,
     "single-reference edit; needs --edit FILE",
     "LIVE 2026-08-30 intl: model accepted on multimodal-generation"},
    {"wan2.6-t2i", ModelKind::Image, Endpoint::ImageGeneration, true,
     "text-to-image; multiple choices per call; the vendor's own t2i default",
     "LIVE 2026-08-30 intl: submitted, SUCCEEDED in ~10s, image in choices[].message.content[]"},
    {"wan2.7-image-pro", ModelKind::Image, Endpoint::ImageGeneration, true,
     "4K; thinking mode; sequential images, multi-reference and interactive edit",
     "LIVE 2026-08-30 intl: model accepted on image-generation"},
    {"wan2.7-image", ModelKind::Image, Endpoint::ImageGeneration, true, "2K; the cheaper 2.7 row",
     "LIVE 2026-08-30 intl: model accepted on image-generation"},
    {"wan2.6-image", ModelKind::Image, Endpoint::ImageGeneration, true,
     "EDIT/reference only — needs --edit FILE; errors on a bare prompt",
     "LIVE 2026-08-30 intl: model accepted; vendor skill says never use it for pure t2i"},
    {"qwen-image-plus", ModelKind::Image, Endpoint::Text2Image, true,
     "n fixed 1; sizes 1664*928|1472*1104|1328*1328|1104*1472|928*1664",
     "LIVE 2026-08-27 intl: submit PENDING → SUCCEEDED in ~45s, results[].url downloaded"},
    {"qwen-image", ModelKind::Image, Endpoint::Text2Image, true,
     "n fixed 1; the same 5 fixed sizes", "vendor spec 2026-08-27; submit/poll lane"},
    {"wan2.7-t2v", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "up to 15 s; resolution 720P|1080P + ratio; multi-shot cuts; audio input",
     "LIVE 2026-08-30 intl: submit accepted (a fake model id is rejected at submit, so this is "
     "real)"},
    {"wan2.7-i2v", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "image-to-video (first frame); needs --image", "LIVE 2026-08-30 intl: submit accepted"},
    {"wan2.6-t2v", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "2–15 s; 1280*720|1920*1080; multi-shot; auto-dubbing",
     "vendor spec 2026-08-27; newest wan t2v"},
    {"wan2.5-t2v-preview", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "5|10 s; 480P|720P|1080P; audio-sync input", "vendor spec 2026-08-27"},
    {"wan2.2-t2v-plus", ModelKind::Video, Endpoint::VideoSynthesis, true, "5 s; 832*480|1920*1080",
     "vendor spec 2026-08-27"},
    {"wan2.1-t2v-turbo", ModelKind::Video, Endpoint::VideoSynthesis, true, "5 s; 832*480|1280*720",
     "LIVE 2026-08-27 intl: submit 200, PENDING→RUNNING observed; the cheap row"},
    {"wan2.1-t2v-plus", ModelKind::Video, Endpoint::VideoSynthesis, true, "5 s; 1280*720",
     "vendor spec 2026-08-27"},
    {"happyhorse-1.1-t2v", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "resolution 480P|720P|1080P + ratio 16:9|9:16|1:1|4:3|3:4|4:5",
     "vendor spec 2026-08-27; newer family, different parameters"},
    {"wan2.6-i2v-flash", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "image-to-video (first frame); needs --image", "vendor spec 2026-08-27"},
    {"wan2.6-i2v", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "image-to-video (first frame); needs --image", "vendor spec 2026-08-27"},
    {"wan2.5-i2v-preview", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "image-to-video (first frame); needs --image", "vendor spec 2026-08-27"},
    {"wan2.2-i2v-flash", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "image-to-video (first frame); needs --image", "vendor spec 2026-08-27"},
    {"wan2.2-i2v-plus", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "image-to-video (first frame); needs --image", "vendor spec 2026-08-27"},
    {"wan2.1-i2v-turbo", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "image-to-video (first frame); needs --image", "vendor spec 2026-08-27"},
    {"wan2.1-i2v-plus", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "image-to-video (first frame); needs --image", "vendor spec 2026-08-27"},
    {"wan2.6-r2v-flash", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "reference-to-video: a subject image drives a NEW scene; needs --image",
     "LIVE 2026-08-30 intl: submit accepted"},
    {"wan2.2-kf2v-flash", ModelKind::Video, Endpoint::VideoSynthesis, true,
     "keyframe-to-video: first AND last frame; needs --image",
     "LIVE 2026-08-30 intl: submit accepted (rejected the empty body on the URL field, not the "
     "model)"},
    {"qwen3-tts-flash", ModelKind::Speech, Endpoint::MultimodalGeneration, false,
     "voices: Cherry Serena Ethan Chelsie Momo Vivian Moon Maia Kai + more",
     "LIVE 2026-08-27 intl: sync 200, output.audio.url wav downloaded, usage.characters"},
    {"qwen3-tts-instruct-flash", ModelKind::Speech, Endpoint::MultimodalGeneration, false,
     "as qwen3-tts-flash + instruction control (zh/en instructions)", "vendor spec 2026-08-27"},
}};

constinit const std::array<std::string_view, 15> VOICES{
    "Cherry", "Serena", "Ethan", "Chelsie",  "Momo", "Vivian",   "Moon", "Maia",
    "Kai",    "Nofish", "Bella", "Jennifer", "Ryan", "Katerina", "Aiden"};

constinit const std::array<std::string_view, 5> FIXED_SIZES{"1664*928", "1472*1104", "1328*1328",
                                                            "1104*1472", "928*1664"};

constinit const LiveProbe LIVE_PROBE{
    "2026-08-30",
    "the compatible-mode listing omits the DashScope-native video models; absence here is not "
    "proof a model is unserved"};

std::expected<const ModelRow*, std::string> find_row(std::string_view model, ModelKind kind) {
  std::string ids;
  for (const ModelRow& row : CATALOG) {
    if (row.kind != kind) continue;
    if (row.id == model) return &row;
    if (!ids.empty()) ids += ", ";
    ids += row.id;
  }
  const std::string_view name = kind_name(kind);
  std::string message = "unknown ";
  message += name;
  message += " model ";
  message += text::quoted_literal(model);
  message += " — the catalog knows: ";
  message += ids;
  message += " (see `orvik nimbra models --kind ";
  message += name;
  message += "`)";
  return std::unexpected(std::move(message));
}

ImageInput image_input_of(std::string_view model) {
  if (model.starts_with("wan2.7")) return ImageInput::Media;
  if (model.find("-r2v") != std::string_view::npos) return ImageInput::ReferenceUrls;
  if (model.find("-kf2v") != std::string_view::npos) return ImageInput::Keyframes;
  return ImageInput::ImgUrl;
}

bool wants_input_image(std::string_view model) {
  for (const std::string_view mark : {"-i2v", "-kf2v", "-r2v"}) {
    if (model.find(mark) != std::string_view::npos) return true;
  }
  return model.starts_with("qwen-image-edit") || model == "wan2.6-image";
}

}  // namespace catalog
