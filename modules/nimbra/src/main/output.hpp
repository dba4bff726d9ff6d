// Standard output for the commands. Writes never throw or kill the process;
// a failed write is remembered so that entry can end with a runtime error.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

void out(std::string_view text);
// `text` followed by a line feed.
void out_line(std::string_view text);
void flush_out();
// The errno of the first failed write or flush, 0 when none failed.
[[nodiscard]] int out_error();

// One compact JSON document and a line feed.
void out_json(const nlohmann::ordered_json& value);
// Two-space indentation, one blank after each colon, and a line feed.
void out_json_pretty(const nlohmann::ordered_json& value);

// Compact JSON text; invalid UTF-8 in strings is replaced, never thrown.
[[nodiscard]] std::string compact_json(const nlohmann::ordered_json& value);
