// The request body of the chat command.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

// {"model", "messages" (system first when given), "stream",
// "stream_options" (streamed only), "max_tokens", "reasoning_effort",
// "enable_thinking": false (no_think only)}, in this order; optional members
// are left out when not given.
[[nodiscard]] nlohmann::ordered_json chat_body(std::string_view model, std::string_view prompt,
                                               std::optional<std::string_view> system,
                                               std::optional<std::int32_t> max_tokens,
                                               std::optional<std::string_view> reasoning_effort,
                                               bool no_think, bool stream);
