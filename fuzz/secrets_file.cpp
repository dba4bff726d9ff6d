// The secrets-file reader: any text, never a crash, never an empty path.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "orvik/config/secrets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto path = config::secrets::parse(text); path && path->empty()) std::abort();
  return 0;
}
