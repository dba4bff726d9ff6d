// Placeholder until the wire client lands.
#include "nimbra/wire.hpp"

namespace wire {
namespace { std::string nyi() { return "the wire client is not built yet"; } }
std::expected<Json, std::string> get(const Host&, std::string_view, std::string_view, std::string_view, long) { return std::unexpected(nyi()); }
std::expected<Json, std::string> get_absolute(const Host&, std::string_view, std::string_view, std::string_view, long) { return std::unexpected(nyi()); }
std::expected<Json, std::string> post(const Host&, std::string_view, std::string_view, std::string_view, const Json&, bool, long) { return std::unexpected(nyi()); }
std::expected<void, std::string> download(std::string_view, long, const ByteSink&) { return std::unexpected(nyi()); }
std::string decode_error(const Host&, std::string_view, std::uint16_t, std::string_view) { return nyi(); }
std::string render(const WireError&, const Host&, std::string_view) { return nyi(); }
std::string first_line(std::string_view) { return nyi(); }
std::optional<SseChunk> parse_sse_data(std::string_view) { return std::nullopt; }
std::expected<Json, std::string> chat_post(const Host&, std::string_view, std::string_view, const Json&, long) { return std::unexpected(nyi()); }
std::expected<StreamDone, std::string> chat_stream(const Host&, std::string_view, std::string_view, const Json&, long, const TextSink&) { return std::unexpected(nyi()); }
}  // namespace wire
