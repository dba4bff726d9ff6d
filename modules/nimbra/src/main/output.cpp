#include "output.hpp"

#include <cerrno>
#include <cstdio>

namespace {
int g_error = 0;

void note_failure() {
  if (g_error == 0) g_error = errno != 0 ? errno : EIO;
}
}  // namespace

void out(std::string_view text) {
  if (text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) note_failure();
}

void out_line(std::string_view text) {
  out(text);
  out("\n");
}

void flush_out() {
  errno = 0;
  if (std::fflush(stdout) != 0) note_failure();
}

int out_error() { return g_error; }

std::string compact_json(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void out_json(const nlohmann::ordered_json& value) { out_line(compact_json(value)); }

void out_json_pretty(const nlohmann::ordered_json& value) {
  out_line(value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}
