// The accounts-file reader: any text parses or fails with a description;
// whatever parses yields bindings for both hosts without a crash.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "nimbra/resolve.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto config = resolve::parse_accounts(text);
  if (!config) {
    if (config.error().empty()) std::abort();
    return 0;
  }
  for (const auto kind : {resolve::HostKind::Intl, resolve::HostKind::Asia}) {
    if (const auto binding = resolve::account_binding(*config, kind)) {
      if (binding->first == nullptr || binding->second == nullptr) std::abort();
    }
  }
  return 0;
}
