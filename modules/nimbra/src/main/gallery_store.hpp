// The gallery: ~/Pictures/generated, where every saved artifact lands.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "command_error.hpp"
#include "nimbra/wire.hpp"

// HOME joined with "Pictures/generated"; "HOME unset" when HOME is not set.
[[nodiscard]] std::expected<std::filesystem::path, CommandError> gallery_dir();

// The extension a saved artifact gets: the URL's own (before any "?",
// lower-cased) when it is a known media type, else "mp4" for video, "wav"
// for speech and "png" for anything else.
[[nodiscard]] std::string artifact_extension(std::string_view url, std::string_view kind);

// "nmb-{kind}-{millis}-{index}.{ext}".
[[nodiscard]] std::string artifact_name(std::string_view kind, std::uint64_t millis,
                                        std::size_t index, std::string_view ext);

// Fetches a URL, handing the body to the sink piece by piece.
using Downloader = std::function<std::expected<void, std::string>(
    std::string_view url, long timeout_s, const wire::ByteSink& sink)>;

// Downloads each URL in turn into `dir` (which must exist) and returns the
// saved paths. Each body goes to a hidden temporary file that is renamed
// into place only once the whole body is written; a failed URL leaves no
// file of its own behind, while files of earlier URLs stay.
[[nodiscard]] std::expected<std::vector<std::string>, CommandError> save_urls_into(
    const std::filesystem::path& dir, const std::vector<std::string>& urls, std::string_view kind,
    std::uint64_t millis, const Downloader& download);

// save_urls_into the gallery (created on first use), with the wall clock
// and the real downloader. "the platform returned no media" for no URLs.
[[nodiscard]] std::expected<std::vector<std::string>, CommandError> save_urls(
    const std::vector<std::string>& urls, std::string_view kind);

// The paths one per line, or {"paths","host","request_id","usage"} as JSON.
void report_saved(const std::vector<std::string>& paths, const nlohmann::ordered_json& answer,
                  std::string_view host_name, bool json);

// The regular files of a gallery directory, newest first (stable for equal
// times); an absent directory is an empty gallery.
[[nodiscard]] std::expected<std::vector<std::string>, CommandError> list_gallery(
    const std::filesystem::path& dir);
