#include "credential.hpp"

std::expected<resolve::Credential, CommandError> pick_credential(Args) {
  return std::unexpected(runtime_error("key resolution is not built yet"));
}
