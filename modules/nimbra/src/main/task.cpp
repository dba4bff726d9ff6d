// orvik nimbra task <id> [--wait] [--host intl|asia] [--json]: inspect any
// submitted task, or wait for it, and save its result.
#include "commands.hpp"
#include "credential.hpp"
#include "nimbra/wire.hpp"
#include "tasks.hpp"

CommandResult task(Args args) {
  const bool json = has_switch(args, "--json");
  const bool wait = has_switch(args, "--wait");
  const auto operands = positionals(args);
  if (operands.empty())
    return std::unexpected(usage("usage: orvik nimbra task <id> [--wait] [--host intl|asia]"));
  const std::string& id = operands.front();

  const auto credential = pick_credential(args);
  if (!credential) return std::unexpected(credential.error());

  nlohmann::ordered_json answer;
  if (wait) {
    auto polled = poll_task(*credential, id);
    if (!polled) return std::unexpected(polled.error());
    answer = std::move(*polled);
  } else {
    auto got = wire::get(*credential->host, credential->key, credential->source, "/tasks/" + id,
                         TASK_GET_TIMEOUT_S);
    if (!got) return std::unexpected(runtime_error(got.error()));
    answer = std::move(*got);
  }
  return report_task_result(answer, json);
}
