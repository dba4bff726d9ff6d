// Error answers: any body with any status renders to text, and first_line
// never returns more than 300 characters or a line feed.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "nimbra/wire.hpp"
#include "orvik/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint16_t status = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
  const std::string_view body(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string line = wire::first_line(body);
  if (line.find('\n') != std::string::npos || text::char_count(line) > 300) std::abort();
  const auto& host = resolve::hosts()[status % 2];
  const std::string message = wire::decode_error(host, "env:DASHSCOPE_API_KEY", status, body);
  if (!message.starts_with("HTTP ")) std::abort();
  return 0;
}
