// Text helpers shared by the family: UTF-8 checks, Unicode trimming and
// lower-casing, character counts, and the quoted literal that messages use
// to show a value the user typed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

// True when `s` is well-formed UTF-8.
[[nodiscard]] bool is_valid_utf8(std::string_view s);

// `s` with every ill-formed sequence replaced by U+FFFD (one per maximal
// ill-formed subpart, the usual "lossy" decoding).
[[nodiscard]] std::string utf8_lossy(std::string_view s);

// `s` without leading and trailing Unicode white space. Ill-formed bytes are
// never white space, so they stay.
[[nodiscard]] std::string_view trim(std::string_view s);

// Number of Unicode scalar values in well-formed `s` (each ill-formed byte
// counts as one).
[[nodiscard]] std::size_t char_count(std::string_view s);

// The first `n` characters of `s` (whole characters, never a cut sequence).
[[nodiscard]] std::string_view first_chars(std::string_view s, std::size_t n);

// Simple Unicode lower-casing, character by character.
[[nodiscard]] std::string to_lower(std::string_view s);

// The value in double quotes, with \" \\ \0 \t \r \n escapes and \u{hex} for
// other non-printable characters and combining marks.
[[nodiscard]] std::string quoted_literal(std::string_view s);

}  // namespace text
