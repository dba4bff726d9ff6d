#include "nimbra/catalog.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using catalog::Endpoint;
using catalog::ImageInput;
using catalog::ModelKind;

// Every image id in catalog order, the two double-laned ones twice.
const std::string IMAGE_IDS =
    "z-image-turbo, qwen-image-3.0-pro, qwen-image-3.0, qwen-image-2.0-pro, qwen-image-2.0, "
    "qwen-image-max, qwen-image-plus, qwen-image, qwen-image-edit-max, qwen-image-edit-plus, "
    "qwen-image-edit, wan2.6-t2i, wan2.7-image-pro, wan2.7-image, wan2.6-image, qwen-image-plus, "
    "qwen-image";

const std::string CHAT_IDS =
    "qwen3.8-max, qwen3.8-flash, glm-5.1, glm-5.2, ZHIPU/GLM-5.3, kimi-k3, deepseek-v4-pro, "
    "qwen3-coder-next";

TEST(Catalog, FindRowMatchesIdAndKindFirstRowWins) {
  struct Case {
    const char* model;
    ModelKind kind;
    std::size_t row;  // index into CATALOG
  } cases[] = {
      {"qwen-image-plus", ModelKind::Image, 14},  // the sync row, never the Text2Image one
      {"qwen-image", ModelKind::Image, 15},
      {"ZHIPU/GLM-5.3", ModelKind::Chat, 4},
      {"qwen3.8-max", ModelKind::Chat, 0},
      {"wan2.2-kf2v-flash", ModelKind::Video, 41},
      {"qwen3-tts-instruct-flash", ModelKind::Speech, 43},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    const auto row = catalog::find_row(c.model, c.kind);
    ASSERT_TRUE(row.has_value()) << row.error();
    EXPECT_EQ(*row, &catalog::CATALOG[c.row]);
  }
  EXPECT_EQ(catalog::find_row("qwen-image-plus", ModelKind::Image).value()->endpoint,
            Endpoint::MultimodalGeneration);
}

TEST(Catalog, FindRowFailureNamesTheKindsIds) {
  struct Case {
    const char* name;
    std::string model;
    ModelKind kind;
    std::string message;
  } cases[] = {
      {"id of another kind", "qwen3.8-max", ModelKind::Image,
       "unknown image model \"qwen3.8-max\" — the catalog knows: " + IMAGE_IDS +
           " (see `orvik nimbra models --kind image`)"},
      {"case differs", "QWEN3.8-MAX", ModelKind::Chat,
       "unknown chat model \"QWEN3.8-MAX\" — the catalog knows: " + CHAT_IDS +
           " (see `orvik nimbra models --kind chat`)"},
      {"quote and control characters escaped", "a\"b\\c\nd", ModelKind::Speech,
       "unknown speech model \"a\\\"b\\\\c\\nd\" — the catalog knows: qwen3-tts-flash, "
       "qwen3-tts-instruct-flash (see `orvik nimbra models --kind speech`)"},
      {"no trimming", " qwen3.8-max", ModelKind::Chat,
       "unknown chat model \" qwen3.8-max\" — the catalog knows: " + CHAT_IDS +
           " (see `orvik nimbra models --kind chat`)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto row = catalog::find_row(c.model, c.kind);
    ASSERT_FALSE(row.has_value());
    EXPECT_EQ(row.error(), c.message);
  }
}

TEST(Catalog, ImageInputOf) {
  struct Case {
    const char* model;
    ImageInput want;
  } cases[] = {
      {"wan2.7-i2v", ImageInput::Media},  // the wan2.7 rule comes first
      {"wan2.7-r2v", ImageInput::Media},
      {"wan2.6-i2v", ImageInput::ImgUrl},
      {"wan2.2-kf2v-flash", ImageInput::Keyframes},
      {"wan2.6-r2v-flash", ImageInput::ReferenceUrls},
      {"x-r2v-kf2v", ImageInput::ReferenceUrls},
      {"wan2.", ImageInput::ImgUrl},
      {"WAN2.7-i2v", ImageInput::ImgUrl},
      {"", ImageInput::ImgUrl},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    EXPECT_EQ(catalog::image_input_of(c.model), c.want);
  }
}

TEST(Catalog, WantsInputImage) {
  struct Case {
    const char* model;
    bool want;
  } cases[] = {
      {"wan2.2-kf2v-flash", true}, {"wan2.6-r2v-flash", true}, {"wan2.7-i2v", true},
      {"x-i2v-y", true},           {"qwen-image-edit", true},  {"qwen-image-edit-max", true},
      {"qwen-image-editor", true}, {"wan2.6-image", true},     {"wan2.6-image-pro", false},
      {"wan2.7-image-pro", false}, {"wan2.6-t2v", false},      {"qwen-image-2.0", false},
      {"qwen-image-edi", false},   {"Wan2.6-image", false},    {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    EXPECT_EQ(catalog::wants_input_image(c.model), c.want);
  }
}

TEST(Catalog, StaticTables) {
  EXPECT_EQ(catalog::VOICES.front(), "Cherry");
  EXPECT_EQ(catalog::VOICES[9], "Nofish");
  EXPECT_EQ(catalog::VOICES.back(), "Aiden");
  EXPECT_EQ(catalog::FIXED_SIZES,
            (std::array<std::string_view, 5>{"1664*928", "1472*1104", "1328*1328", "1104*1472",
                                             "928*1664"}));
  EXPECT_EQ(catalog::LIVE_PROBE.date, "2026-08-30");
  EXPECT_EQ(catalog::LIVE_PROBE.note,
            "the compatible-mode listing omits the DashScope-native video models; absence here is "
            "not proof a model is unserved");
  // Chat rows are sync on the chat path, video rows async on video synthesis.
  for (const catalog::ModelRow& row : catalog::CATALOG) {
    SCOPED_TRACE(std::string(row.id));
    if (row.kind == ModelKind::Chat) {
      EXPECT_EQ(row.endpoint, Endpoint::ChatCompletions);
      EXPECT_FALSE(row.async);
    }
    if (row.kind == ModelKind::Video) {
      EXPECT_EQ(row.endpoint, Endpoint::VideoSynthesis);
      EXPECT_TRUE(row.async);
    }
  }
}

}  // namespace
