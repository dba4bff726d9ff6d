#include "orvik/text.hpp"

#include <utf8proc.h>

#include <cstdint>
#include <cstdio>

namespace text {
namespace {

struct Decoded {
  char32_t cp;      // U+FFFD for an ill-formed subpart
  std::size_t len;  // bytes consumed, at least 1
  bool ok;
};

// Decodes one character at `s[i]`. An ill-formed sequence consumes its
// maximal subpart, so a truncated three-byte sequence yields one U+FFFD.
Decoded decode(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return {b0, 1, true};
  std::size_t need = 0;
  char32_t cp = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {0xFFFD, 1, false};
  }
  std::size_t j = i + 1;
  for (std::size_t k = 0; k < need; ++k, ++j) {
    if (j >= s.size()) return {0xFFFD, j - i, false};
    const auto b = static_cast<unsigned char>(s[j]);
    const unsigned char l = k == 0 ? lo : 0x80;
    const unsigned char h = k == 0 ? hi : 0xBF;
    if (b < l || b > h) return {0xFFFD, j - i, false};
    cp = (cp << 6) | (b & 0x3F);
  }
  return {cp, need + 1, true};
}

void append_utf8(std::string& out, char32_t cp) {
  utf8proc_uint8_t buf[4];
  const auto n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(cp), buf);
  out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

bool is_space(char32_t cp) {
  if ((cp >= 0x09 && cp <= 0x0D) || cp == 0x85) return true;
  if (cp < 0x80) return cp == 0x20;
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return cat == UTF8PROC_CATEGORY_ZS || cat == UTF8PROC_CATEGORY_ZL || cat == UTF8PROC_CATEGORY_ZP;
}

bool needs_unicode_escape(char32_t cp) {
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(cp))) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ME:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool is_valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto d = decode(s, i);
    if (!d.ok) return false;
    i += d.len;
  }
  return true;
}

std::string utf8_lossy(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto d = decode(s, i);
    if (d.ok)
      out.append(s.substr(i, d.len));
    else
      append_utf8(out, 0xFFFD);
    i += d.len;
  }
  return out;
}

std::string_view trim(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size()) {
    const auto d = decode(s, begin);
    if (!d.ok || !is_space(d.cp)) break;
    begin += d.len;
  }
  std::size_t end = begin;
  // Walk forward remembering the end of the last non-space character.
  for (std::size_t i = begin; i < s.size();) {
    const auto d = decode(s, i);
    i += d.len;
    if (!d.ok || !is_space(d.cp)) end = i;
  }
  return s.substr(begin, end - begin);
}

std::size_t char_count(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++n) i += decode(s, i).len;
  return n;
}

std::string_view first_chars(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t k = 0; k < n && i < s.size(); ++k) i += decode(s, i).len;
  return s.substr(0, i);
}

std::string to_lower(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto d = decode(s, i);
    if (d.ok)
      append_utf8(out,
                  static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(d.cp))));
    else
      out.append(s.substr(i, d.len));
    i += d.len;
  }
  return out;
}

std::string quoted_literal(std::string_view s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    const auto d = decode(s, i);
    const auto piece = s.substr(i, d.len);
    i += d.len;
    if (!d.ok) {
      out += "\\u{fffd}";
      continue;
    }
    switch (d.cp) {
      case U'"':
        out += "\\\"";
        continue;
      case U'\\':
        out += "\\\\";
        continue;
      case U'\0':
        out += "\\0";
        continue;
      case U'\t':
        out += "\\t";
        continue;
      case U'\r':
        out += "\\r";
        continue;
      case U'\n':
        out += "\\n";
        continue;
      default:
        break;
    }
    if (needs_unicode_escape(d.cp)) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(d.cp));
      out += buf;
    } else
      out.append(piece);
  }
  out += '"';
  return out;
}

}  // namespace text
