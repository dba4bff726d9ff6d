// Local pictures going into a request, and pictures coming out of a
// synchronous image answer.
#pragma once

#include <cstdint>
#include <expected>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "command_error.hpp"

// The largest local picture that is inlined (10 × 1024 × 1024 bytes).
inline constexpr std::uintmax_t INPUT_CAP = 10485760;

// The member a JSON Pointer names, walking objects by key and arrays by
// index; nullptr when any step is missing. Never throws.
[[nodiscard]] const nlohmann::ordered_json* json_at(const nlohmann::ordered_json& value,
                                                    std::string_view pointer);
// The string at the pointer, or nothing when it is absent or not a string.
[[nodiscard]] const std::string* json_string_at(const nlohmann::ordered_json& value,
                                                std::string_view pointer);

// A copy of the member at the pointer, or null when it is absent.
[[nodiscard]] nlohmann::ordered_json json_or_null(const nlohmann::ordered_json& value,
                                                  std::string_view pointer);

// {"model","input","parameters"} built without copying its members: an
// ordered object is a vector, and growing it would deep-copy the inlined
// pictures already inside.
[[nodiscard]] nlohmann::ordered_json request_body(std::string_view model,
                                                  nlohmann::ordered_json input,
                                                  nlohmann::ordered_json parameters);

// The MIME type for a lower-cased extension, or empty when unknown.
[[nodiscard]] std::string_view image_mime_type(std::string_view extension);

// "data:{mime};base64,{bytes}" for a local picture. The type comes from the
// extension alone. At most INPUT_CAP + 1 bytes are ever read. Errors, in the
// order they are checked: "cannot read {path}: {reason}", "{path} is over the
// 10 MB input cap", "{path} has no extension — …", "unsupported input type
// .{ext} — …".
[[nodiscard]] std::expected<std::string, CommandError> file_to_data_url(const std::string& path);

// True when the text begins with "http://" or "https://" (case-sensitive).
[[nodiscard]] bool is_http_url(std::string_view text);

// The "image" strings of every "/output/choices" item's "/message/content"
// list, in answer order; empty when there are none.
[[nodiscard]] std::vector<std::string> choice_image_urls(const nlohmann::ordered_json& answer);
