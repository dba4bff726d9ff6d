// `models`: the built-in catalog as a table or JSON, or (--live) what the
// host's compatible surface serves today against that catalog.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands.hpp"
#include "credential.hpp"
#include "nimbra/catalog.hpp"
#include "nimbra/wire.hpp"
#include "orvik/text.hpp"
#include "output.hpp"

namespace {

using catalog::ModelKind;
using catalog::ModelRow;
using Json = nlohmann::ordered_json;

constexpr long LIVE_TIMEOUT_S = 30;

struct KindName {
  std::string_view name;
  ModelKind kind;
};

constexpr KindName KIND_NAMES[] = {{"chat", ModelKind::Chat},
                                   {"image", ModelKind::Image},
                                   {"video", ModelKind::Video},
                                   {"speech", ModelKind::Speech},
                                   {"tts", ModelKind::Speech}};

// Nothing for no restriction, the kind, or the unknown-kind usage error.
std::expected<std::optional<ModelKind>, CommandError> kind_restriction(Args args) {
  const std::optional<std::string> value = flag_value(args, "--kind");
  if (!value) return std::nullopt;
  for (const KindName& entry : KIND_NAMES) {
    if (entry.name == *value) return entry.kind;
  }
  return std::unexpected(usage("unknown kind " + text::quoted_literal(*value) +
                               " — expected chat|image|video|speech"));
}

// `value` followed by blanks up to `width` characters; longer values whole.
void append_padded(std::string& line, std::string_view value, std::size_t width) {
  line += value;
  const std::size_t count = text::char_count(value);
  if (count < width) line.append(width - count, ' ');
}

std::string_view lane_name(const ModelRow& row) { return row.async ? "async" : "sync"; }

std::string row_line(const ModelRow& row) {
  std::string line;
  append_padded(line, row.id, 22);
  line += ' ';
  append_padded(line, catalog::kind_name(row.kind), 6);
  line += ' ';
  append_padded(line, lane_name(row), 6);
  line += ' ';
  line += row.shape;
  line += " — ";
  line += row.probe;
  return line;
}

Json row_json(const ModelRow& row) {
  Json object = Json::object();
  object["model"] = row.id;
  object["kind"] = catalog::kind_name(row.kind);
  object["lane"] = lane_name(row);
  object["endpoint"] = catalog::endpoint_path(row.endpoint);
  object["shape"] = row.shape;
  object["probe"] = row.probe;
  return object;
}

CommandResult list_catalog(Args args) {
  const auto restriction = kind_restriction(args);
  if (!restriction) return std::unexpected(restriction.error());
  std::vector<const ModelRow*> rows;
  for (const ModelRow& row : catalog::CATALOG) {
    if (!*restriction || row.kind == **restriction) rows.push_back(&row);
  }
  if (has_switch(args, "--json")) {
    Json models = Json::array();
    for (const ModelRow* row : rows) models.push_back(row_json(*row));
    Json document = Json::object();
    document["catalog_probed"] = catalog::LIVE_PROBE.date;
    document["models"] = std::move(models);
    out_json(document);
    return {};
  }
  std::string listing = "catalog (probed " + std::string(catalog::LIVE_PROBE.date) + ")\n";
  for (const ModelRow* row : rows) listing += row_line(*row) + "\n";
  listing += '\n';
  listing += std::to_string(rows.size());
  listing +=
      " rows. `--live` asks the platform what it serves TODAY (this table is curated and can "
      "fall behind).\n";
  out(listing);
  return {};
}

// The string "id" members of the answer's "data" items, sorted byte-wise.
std::vector<std::string> served_ids(const Json& answer) {
  std::vector<std::string> ids;
  const auto data = answer.is_object() ? answer.find("data") : answer.end();
  if (data == answer.end() || !data->is_array()) return ids;
  for (const Json& item : *data) {
    if (!item.is_object()) continue;
    const auto id = item.find("id");
    if (id != item.end() && id->is_string()) ids.push_back(id->get<std::string>());
  }
  std::sort(ids.begin(), ids.end());  // std::string compares as unsigned bytes
  return ids;
}

bool in_catalog(std::string_view id) {
  return std::any_of(catalog::CATALOG.begin(), catalog::CATALOG.end(),
                     [id](const ModelRow& row) { return row.id == id; });
}

CommandResult list_live(Args args) {
  const auto credential = pick_credential(args);
  if (!credential) return std::unexpected(credential.error());
  const resolve::Host& host = *credential->host;
  const auto answer = wire::get_absolute(host, credential->key, credential->source,
                                         resolve::compatible_v1(host) + "/models", LIVE_TIMEOUT_S);
  if (!answer) return std::unexpected(runtime_error(answer.error()));

  const std::vector<std::string> served = served_ids(*answer);
  std::vector<std::string> missing;
  for (const std::string& id : served) {
    if (!in_catalog(id)) missing.push_back(id);
  }
  if (has_switch(args, "--json")) {
    Json document = Json::object();
    document["host"] = host.name;
    document["catalog_probed"] = catalog::LIVE_PROBE.date;
    document["served"] = served;
    document["not_in_catalog"] = missing;
    document["note"] = catalog::LIVE_PROBE.note;
    out_json(document);
    return {};
  }
  const std::string count = std::to_string(served.size());
  std::string listing =
      "served by " + std::string(host.name) + " right now (" + count + " models)\n";
  for (const std::string& id : served) listing += (in_catalog(id) ? "  " : "+ ") + id + "\n";
  listing += "\n+ = served but not in this module's catalog (" + std::to_string(missing.size()) +
             " of " + count +
             ").\nNote: this listing is the compatible-mode surface. The DashScope-native video "
             "models do not appear here at all, so an absence is not proof a model is unserved — "
             "check those with `models --kind video`.\n";
  out(listing);
  return {};
}

}  // namespace

CommandResult models(Args args) {
  if (has_switch(args, "--live")) return list_live(args);
  return list_catalog(args);
}
