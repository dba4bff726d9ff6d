// The built-in catalog of DashScope models, the voice list and the fixed
// image sizes. Static data: nothing is built at start-up.
#pragma once

#include <array>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace catalog {

enum class ModelKind { Chat, Image, Video, Speech };
enum class Endpoint {
  MultimodalGeneration,
  Text2Image,
  ImageGeneration,
  VideoSynthesis,
  ChatCompletions
};
enum class ImageInput { ImgUrl, Media, ReferenceUrls, Keyframes };

struct ModelRow {
  std::string_view id;
  ModelKind kind;
  Endpoint endpoint;
  bool async;
  std::string_view shape;
  std::string_view probe;
};

[[nodiscard]] constexpr std::string_view kind_name(ModelKind kind) {
  switch (kind) {
    case ModelKind::Chat:
      return "chat";
    case ModelKind::Image:
      return "image";
    case ModelKind::Video:
      return "video";
    case ModelKind::Speech:
      return "speech";
  }
  return "";
}

[[nodiscard]] constexpr std::string_view endpoint_path(Endpoint endpoint) {
  switch (endpoint) {
    case Endpoint::MultimodalGeneration:
      return "/services/aigc/multimodal-generation/generation";
    case Endpoint::Text2Image:
      return "/services/aigc/text2image/image-synthesis";
    case Endpoint::ImageGeneration:
      return "/services/aigc/image-generation/generation";
    case Endpoint::VideoSynthesis:
      return "/services/aigc/video-generation/video-synthesis";
    case Endpoint::ChatCompletions:
      return "/chat/completions";
  }
  return "";
}

// Defined in catalog.cpp (constant-initialised).
extern const std::array<ModelRow, 44> CATALOG;
extern const std::array<std::string_view, 15> VOICES;
extern const std::array<std::string_view, 5> FIXED_SIZES;

struct LiveProbe {
  std::string_view date;
  std::string_view note;
};
extern const LiveProbe LIVE_PROBE;

// The first row with this id and kind, or the usage message
// "unknown {kind} model {model} — the catalog knows: …".
[[nodiscard]] std::expected<const ModelRow*, std::string> find_row(std::string_view model,
                                                                   ModelKind kind);
[[nodiscard]] ImageInput image_input_of(std::string_view model);
[[nodiscard]] bool wants_input_image(std::string_view model);

}  // namespace catalog
