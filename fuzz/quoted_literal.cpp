// The quoted literal: always quoted, never a raw control character, and
// the text helpers agree on well-formed input.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "orvik/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view s(reinterpret_cast<const char*>(data), size);
  const std::string q = text::quoted_literal(s);
  if (q.size() < 2 || q.front() != '"' || q.back() != '"') std::abort();
  for (const unsigned char c : q)
    if (c < 0x20 || c == 0x7f) std::abort();
  if (!text::is_valid_utf8(q)) std::abort();
  const std::string lossy = text::utf8_lossy(s);
  if (!text::is_valid_utf8(lossy)) std::abort();
  if (text::is_valid_utf8(s) && lossy != s) std::abort();
  if (text::trim(s).size() > s.size()) std::abort();
  (void)text::to_lower(s);
  return 0;
}
