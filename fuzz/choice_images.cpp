// Image URLs out of any JSON answer: never a crash, only strings.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "input_media.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto answer = nlohmann::ordered_json::parse(text, nullptr, false);
  if (answer.is_discarded()) return 0;
  (void)choice_image_urls(answer);
  (void)is_http_url(text);
  return 0;
}
