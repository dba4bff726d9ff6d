// orvik nimbra gallery [--json]: the gallery, newest first.
#include "commands.hpp"
#include "gallery_store.hpp"
#include "output.hpp"

CommandResult gallery(Args args) {
  const bool json = has_switch(args, "--json");
  const auto dir = gallery_dir();
  if (!dir) return std::unexpected(dir.error());
  const auto paths = list_gallery(*dir);
  if (!paths) return std::unexpected(paths.error());
  if (json) {
    out_json(nlohmann::ordered_json(*paths));
  } else {
    for (const std::string& path : *paths) out_line(path);
  }
  return {};
}
