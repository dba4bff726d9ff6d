// The env-file parser: any bytes, never a crash; every name it accepts is a
// valid variable name.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "orvik/config/secrets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& [name, value] : config::secrets::parse_env_file(text)) {
    if (name.empty()) std::abort();
    for (const unsigned char c : name)
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
        std::abort();
    if (value.find('\n') != std::string::npos) std::abort();
  }
  return 0;
}
