#include "credential.hpp"

std::expected<resolve::Credential, CommandError> pick_credential(Args args) {
  const auto host = flag_value(args, "--host");
  auto credentials = resolve::resolve_all();
  if (!credentials) return std::unexpected(runtime_error(credentials.error()));
  auto picked = resolve::pick(std::move(*credentials), host);
  if (!picked) return std::unexpected(runtime_error(picked.error()));
  return std::move(*picked);
}
