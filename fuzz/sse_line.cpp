// One event-stream line: never a crash; a done chunk carries nothing else.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "nimbra/wire.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  if (const auto chunk = wire::parse_sse_data(line)) {
    if (chunk->done && (!chunk->content.empty() || chunk->error || chunk->usage)) std::abort();
    if (chunk->error && !chunk->content.empty()) std::abort();
  }
  return 0;
}
